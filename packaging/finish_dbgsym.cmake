# Run by cpack after it has written the packages. CPack's -dbgsym package lists its .debug file in
# DEBIAN/md5sums under the absolute staging path, and ships no documentation. This rebuilds it as
# Debian's own debug packages are: md5sums relative to the root, the .debug file mode 0644, and
# /usr/share/doc/<package>-dbgsym a link to the documentation of the package it belongs to.
foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "\\.ddeb$")
    continue()
  endif()
  set(root "${ddeb}.root")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb --raw-extract "${ddeb}" "${root}" COMMAND_ERROR_IS_FATAL ANY)

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
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${root}" "${ddeb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
