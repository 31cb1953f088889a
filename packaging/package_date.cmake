# Run by cpack before each generator builds its packages: SOURCE_DATE_EPOCH, the date of every
# file and of the packages themselves, is the caller's, else the date of the changelog's newest
# entry, as Debian does. Every source tree has the changelog (a clone, an exported tree without
# git, a checkout that git refuses to read because another user owns it), so all of them give the
# same bytes. Set in cpack's environment, where rpmbuild and finish_packages.cmake find it, and
# where the next generator of the same cpack run finds it too: QS_CHANGELOG_EPOCH remembers that
# the value is the changelog's, not the caller's.
if(DEFINED ENV{QS_CHANGELOG_EPOCH} AND
   "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "$ENV{QS_CHANGELOG_EPOCH}")
  set(origin "the changelog, read for an earlier generator")
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(origin "the environment")
else()
  execute_process(COMMAND dpkg-parsechangelog -l "${CPACK_QS_CHANGELOG}" -S Timestamp
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  set(ENV{QS_CHANGELOG_EPOCH} "${epoch}")
  set(origin "the changelog")
endif()
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  message(FATAL_ERROR
          "SOURCE_DATE_EPOCH from ${origin} is not a number of seconds: '$ENV{SOURCE_DATE_EPOCH}'")
endif()
message(STATUS "packages dated $ENV{SOURCE_DATE_EPOCH} (SOURCE_DATE_EPOCH, from ${origin})")
