# Cases of qs_rpm_changelog (packaging/rpm_changelog.cmake): a Debian changelog and the rpm
# %changelog it must give, release 1. Fails with each case that gives another.
# Usage: cmake -DSOURCE_DIR=<project> -DWORK=<scratch folder> -P rpm_changelog_test.cmake
include(${SOURCE_DIR}/packaging/rpm_changelog.cmake)

# expect(NAME DEBIAN RPM): the Debian changelog DEBIAN gives the %changelog RPM.
function(expect name debian rpm)
  file(WRITE ${WORK}/rpm_changelog_${name} "${debian}")
  qs_rpm_changelog(${WORK}/rpm_changelog_${name} 1 got)
  if(NOT got STREQUAL rpm)
    message(SEND_ERROR "${name}: got\n${got}\nexpected\n${rpm}")
  endif()
endfunction()

# Newest first, an entry going on over two lines, a semicolon in the text.
expect(two_entries [=[
pkg (1.0.2) unstable; urgency=medium

  * An entry
    that goes on; with a semicolon.

 -- Name <mail@example.com>  Wed, 09 Dec 2026 14:00:00 +0000

pkg (1.0.1) unstable; urgency=medium

  * First.
  * Second.

 -- Name <mail@example.com>  Tue, 08 Dec 2026 12:00:00 +0000
]=] [=[
* Wed Dec 09 2026 Name <mail@example.com> - 1.0.2-1
- An entry
  that goes on; with a semicolon.

* Tue Dec 08 2026 Name <mail@example.com> - 1.0.1-1
- First.
- Second.]=])

# rpmbuild expands macros in %changelog: every % doubled, so that each stays as written.
expect(percent [=[
pkg (1.0.3) unstable; urgency=medium

  * 100% of the options, %{name}, %% and
    %(echo a shell command).

 -- Name <mail@example.com>  Wed, 09 Dec 2026 19:00:00 +0000
]=] [=[
* Wed Dec 09 2026 Name <mail@example.com> - 1.0.3-1
- 100%% of the options, %%{name}, %%%% and
  %%(echo a shell command).]=])
