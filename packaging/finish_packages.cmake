# Run by cpack after it has written the packages; rebuilds each with dpkg-deb so that two builds of
# the same source give the same bytes, whatever the folder, clock, umask or locale:
# - every member dated SOURCE_DATE_EPOCH: the caller's, else the date of the changelog's newest
#   entry, as Debian does. Every source tree has the changelog (a clone, an exported tree without
#   git, a checkout that git refuses to read because another user owns it), so all of them give
#   the same bytes;
# - fixed modes: directories 0755, files 0755 when executable, else 0644 (CPack takes the
#   directories' and its own ar members' modes from the umask);
# - owner and group root, names sorted (dpkg-deb).
# CPack's -dbgsym package also lists its .debug file in DEBIAN/md5sums under the absolute staging
# path and ships no documentation: it is rebuilt as Debian's own debug packages are, md5sums
# relative to the root and /usr/share/doc/<package>-dbgsym a link to the documentation of the
# package it belongs to.

function(qs_source_date_epoch out)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(origin "the environment")
  else()
    execute_process(COMMAND dpkg-parsechangelog -l "${CPACK_QS_CHANGELOG}" -S Timestamp
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    set(origin "the changelog")
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH from ${origin} is not a number of seconds: '${epoch}'")
  endif()
  message(STATUS "packages dated ${epoch} (SOURCE_DATE_EPOCH, from ${origin})")
  set(${out} "${epoch}" PARENT_SCOPE)
endfunction()

# md5sums relative to the root, .debug files 0644 (CPack leaves them executable), the
# documentation link.
function(qs_finish_dbgsym root)
  set(md5sums "")
  file(GLOB_RECURSE debug_files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/usr/*")
  list(SORT debug_files)
  foreach(file IN LISTS debug_files)
    file(CHMOD "${root}/${file}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 "${root}/${file}" sum)
    string(APPEND md5sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${md5sums}")
  file(MAKE_DIRECTORY "${root}/usr/share/doc")
  file(CREATE_LINK "${CPACK_PACKAGE_NAME}" "${root}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym"
       SYMBOLIC)
endfunction()

qs_source_date_epoch(epoch)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(root "${package}.root")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  if(package MATCHES "\\.ddeb$")
    qs_finish_dbgsym("${root}")
  endif()
  # X: execute only where some execute bit is set already, and on directories.
  execute_process(COMMAND chmod -R u=rwX,go=rX "${root}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND find "${root}" -exec touch --no-dereference --date=@${epoch} {} +
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch}
                          dpkg-deb --root-owner-group -Zxz --build "${root}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
