# qs_c_library_dir(VAR MULTIARCH COMPILER [ARG...]): in VAR the folder of the C library that the
# compiler command line links against, as the compiler finds libc.so.6, links resolved: a host
# without a multiarch folder keeps it elsewhere (/usr/lib64), and a merged /usr reaches
# /lib/MULTIARCH through a link. /usr/lib/MULTIARCH when the compiler does not find it.
function(qs_c_library_dir var multiarch)
  execute_process(COMMAND ${ARGN} -print-file-name=libc.so.6 OUTPUT_VARIABLE libc
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  if(status EQUAL 0 AND IS_ABSOLUTE "${libc}" AND EXISTS "${libc}")
    file(REAL_PATH ${libc} libc)
    get_filename_component(dir ${libc} DIRECTORY)
  else()
    set(dir /usr/lib/${multiarch})
  endif()
  set(${var} ${dir} PARENT_SCOPE)
endfunction()
