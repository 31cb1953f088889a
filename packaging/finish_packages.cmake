# Run by cpack after each generator has written its packages. The rpm pair is done already
# (qs-launcher.spec.in). The .deb is rebuilt with dpkg-deb so that two builds of the same source
# give the same bytes, whatever the folder, clock, umask or locale, and its -dbgsym .ddeb is made
# from the launcher's debug file, as Debian's own debug packages are:
# - every member dated SOURCE_DATE_EPOCH (package_date.cmake);
# - fixed modes: directories 0755, files 0755 when executable, else 0644 (CPack takes the
#   directories' and its own ar members' modes from the umask);
# - owner and group root, names sorted (dpkg-deb);
# - Installed-Size counted from the files, in the way deb-substvars(5) describes: CPack adds up
#   what the build's file system says each folder takes, 4 KiB on ext4 and none on a tmpfs, so
#   the same tree gave another size, and other bytes, on another file system.

# qs_installed_size(ROOT OUT): OUT is the Installed-Size of the package tree ROOT, in KiB: each
# file and link its size rounded up to a KiB, each folder one KiB; ROOT itself and its DEBIAN
# folder do not count.
function(qs_installed_size root out)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${root}" "${root}/*")
  set(size 0)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^DEBIAN(/|$)")
      continue()
    endif()
    if(IS_SYMLINK "${root}/${entry}")
      file(READ_SYMLINK "${root}/${entry}" target)
      string(LENGTH "${target}" bytes)
    elseif(IS_DIRECTORY "${root}/${entry}")
      set(bytes 1024)
    else()
      file(SIZE "${root}/${entry}" bytes)
    endif()
    math(EXPR size "${size} + (${bytes} + 1023) / 1024")
  endforeach()
  set(${out} ${size} PARENT_SCOPE)
endfunction()

# qs_build_deb(ROOT PACKAGE): PACKAGE from the tree ROOT (with its DEBIAN folder), normalised.
function(qs_build_deb root package)
  # X: execute only where some execute bit is set already, and on directories.
  execute_process(COMMAND chmod -R u=rwX,go=rX "${root}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND find "${root}" -exec touch --no-dereference
                          --date=@$ENV{SOURCE_DATE_EPOCH} {} +
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${root}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endfunction()

# The value of FIELD in the control file of the package DEB.
function(qs_deb_field deb field out)
  execute_process(COMMAND dpkg-deb -f "${deb}" ${field} OUTPUT_VARIABLE value
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# The -dbgsym package of DEB, whose file name goes to OUT: the debug file under its build id,
# md5sums relative to the root, and /usr/share/doc/<package>-dbgsym a link to the documentation
# of the package it belongs to.
function(qs_make_dbgsym deb out)
  foreach(field Package Version Architecture Maintainer)
    qs_deb_field("${deb}" ${field} ${field})
  endforeach()
  set(root "${deb}.dbgsym.root")
  file(REMOVE_RECURSE "${root}")
  file(COPY "${CPACK_QS_DEBUG_DIR}/.build-id" DESTINATION "${root}/usr/lib/debug")
  file(GLOB_RECURSE debug_files RELATIVE "${root}" "${root}/usr/lib/debug/*.debug")
  list(LENGTH debug_files count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one debug file in ${CPACK_QS_DEBUG_DIR}, found ${count}")
  endif()
  string(REGEX REPLACE ".*/([0-9a-f]+)/([0-9a-f]+)\\.debug$" "\\1\\2" build_id "${debug_files}")
  file(MD5 "${root}/${debug_files}" sum)
  file(MAKE_DIRECTORY "${root}/usr/share/doc" "${root}/DEBIAN")
  file(CREATE_LINK "${Package}" "${root}/usr/share/doc/${Package}-dbgsym" SYMBOLIC)
  qs_installed_size("${root}" installed_size)
  file(WRITE "${root}/DEBIAN/md5sums" "${sum}  ${debug_files}\n")
  file(WRITE "${root}/DEBIAN/control" "Package: ${Package}-dbgsym
Version: ${Version}
Architecture: ${Architecture}
Maintainer: ${Maintainer}
Installed-Size: ${installed_size}
Depends: ${Package} (= ${Version})
Section: debug
Priority: optional
Description: debug symbols for ${Package}
Auto-Built-Package: debug-symbols
Package-Type: ddeb
Build-Ids: ${build_id}
")
  # Straight into the output folder: cpack copies there only the packages it made itself.
  file(MAKE_DIRECTORY "${CPACK_OUTPUT_FILE_PREFIX}")
  set(name "${Package}-dbgsym_${Version}_${Architecture}.ddeb")
  qs_build_deb("${root}" "${CPACK_OUTPUT_FILE_PREFIX}/${name}")
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

set(made "$ENV{QS_PACKAGES_MADE}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  list(APPEND made "${name}")
  if(package MATCHES "\\.deb$")
    set(root "${package}.root")
    file(REMOVE_RECURSE "${root}")
    execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${root}"
                    COMMAND_ERROR_IS_FATAL ANY)
    qs_installed_size("${root}" installed_size)
    file(READ "${root}/DEBIAN/control" control)
    string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${installed_size}\n"
                         control "${control}")
    file(WRITE "${root}/DEBIAN/control" "${control}")
    qs_build_deb("${root}" "${package}")
    qs_make_dbgsym("${package}" ddeb)
    list(APPEND made "${ddeb}")
  endif()
endforeach()

# The packages folder holds what this cpack run made and nothing else: a package left by an
# earlier build (of another version, after project() moved, or named otherwise) would make two of
# a kind where the checks and the publisher expect one, or pass for this build's. Each generator
# adds its packages' names to the run's list, which its later generators find in the environment;
# cpack copies its own packages into the folder after this script.
set(ENV{QS_PACKAGES_MADE} "${made}")
file(GLOB entries RELATIVE "${CPACK_OUTPUT_FILE_PREFIX}" "${CPACK_OUTPUT_FILE_PREFIX}/*")
foreach(name IN LISTS entries)
  if(NOT name IN_LIST made)
    file(REMOVE_RECURSE "${CPACK_OUTPUT_FILE_PREFIX}/${name}")
  endif()
endforeach()
