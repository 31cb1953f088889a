# Run by cpack on the staging tree before it builds the package. The packaged launcher has no
# RUNPATH: on a host the closed libraries come from the system's library configuration or from
# LD_LIBRARY_PATH, and the plug-in is looked for only where the system loader looks. The build
# tree and `cmake --install` keep $ORIGIN/../lib for a self-contained prefix.
file(GLOB_RECURSE launchers "${CPACK_TEMPORARY_DIRECTORY}/*/bin/qs_launcher")
if(NOT launchers)
  message(FATAL_ERROR "no qs_launcher under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(launcher IN LISTS launchers)
  file(RPATH_REMOVE FILE "${launcher}")
endforeach()
