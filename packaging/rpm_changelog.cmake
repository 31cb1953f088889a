# qs_rpm_changelog(DEBIAN_CHANGELOG RELEASE OUT): OUT is the rpm %changelog of the Debian changelog,
# newest entry first, as rpm writes it:
#   qs-launcher (1.0.2) unstable; urgency=medium      * Wed Dec 09 2026 Name <mail> - 1.0.2-1
#     * An entry                                  ->  - An entry
#       that goes on                                    that goes on
#    -- Name <mail>  Wed, 09 Dec 2026 14:00:00 +0000
# rpmbuild expands macros in %changelog, so every % of the text is doubled. Tested by
# tests/package/rpm_changelog_test.cmake.
function(qs_rpm_changelog debian_changelog release out)
  file(READ ${debian_changelog} text)
  string(REPLACE "%" "%%" text "${text}")
  # Lines as list items: semicolons in the text stand aside meanwhile.
  string(ASCII 29 semicolon)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(changelog "")
  set(items "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[^ ]+ \\(([^)]+)\\)")
      set(version ${CMAKE_MATCH_1})
    elseif(line MATCHES "^  \\* (.*)$")
      string(APPEND items "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)$")
      string(APPEND items "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.+)  ([A-Z][a-z][a-z]), ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
      string(APPEND changelog "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3} "
                              "${CMAKE_MATCH_5} ${CMAKE_MATCH_1} - ${version}-${release}\n"
                              "${items}\n")
      set(items "")
    endif()
  endforeach()
  string(REPLACE "${semicolon}" ";" changelog "${changelog}")
  string(STRIP "${changelog}" changelog)
  set(${out} "${changelog}" PARENT_SCOPE)
endfunction()
