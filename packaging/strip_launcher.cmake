# Makes the launcher that both package families ship, once, at build time, so that the .deb and
# the .rpm hold the same bytes and no packager strips again (rpmbuild's strip cannot even read a
# launcher of another processor):
# - no RUNPATH: on a host the closed libraries come from the system's library configuration or
#   from LD_LIBRARY_PATH, and the plug-in is looked for only where the system loader looks (the
#   build tree and `cmake --install` keep $ORIGIN/../lib for a self-contained prefix);
# - its debug information in DEBUG_DIR/.build-id/xx/yyyy.debug, named by the launcher's build id,
#   where debuggers look for it; the stripped launcher links to it by name and checksum.
# Usage: cmake -DLAUNCHER=<built launcher> -DOUTPUT=<stripped launcher> -DDEBUG_DIR=<folder>
#              -DOBJCOPY=<objcopy> -DREADELF=<readelf> -P strip_launcher.cmake
execute_process(COMMAND ${READELF} -n ${LAUNCHER} OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
  message(FATAL_ERROR "${LAUNCHER} has no build id")
endif()
set(debug_file ${DEBUG_DIR}/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug)

file(REMOVE_RECURSE ${DEBUG_DIR})
get_filename_component(debug_folder ${debug_file} DIRECTORY)
file(MAKE_DIRECTORY ${debug_folder})
set(work ${OUTPUT}.new)
file(COPY_FILE ${LAUNCHER} ${work})
file(RPATH_REMOVE FILE ${work})
execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${work} ${debug_file} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --strip-unneeded --add-gnu-debuglink=${debug_file} ${work}
                COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD ${debug_file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(RENAME ${work} ${OUTPUT})
