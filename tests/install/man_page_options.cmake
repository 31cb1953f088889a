# Fails when an option of the launcher's option table has no entry in the OPTIONS list of its
# manual page (a line ".It Cm \-\-deviceId= ..."), so the page cannot drift from the code. The
# table is keyed by the prefixes of option_prefixes.h.
# Usage: cmake -DPREFIXES=<option_prefixes.h> -DPAGE=<qs_launcher.8> -P man_page_options.cmake
file(READ "${PREFIXES}" header)
string(REGEX MATCHALL "inline constexpr char k[A-Za-z]+Prefix\\[\\] = \"[^\"]+\"" declarations
       "${header}")
list(LENGTH declarations count)
if(count LESS 16)
  message(FATAL_ERROR "found ${count} option prefixes in ${PREFIXES}, expected 16")
endif()

file(READ "${PAGE}" page)
string(REPLACE "\\-" "-" page "${page}")
set(missing "")
foreach(declaration IN LISTS declarations)
  string(REGEX REPLACE ".*\"([^\"]+)\"$" "\\1" prefix "${declaration}")
  string(FIND "${page}" "\n.It Cm ${prefix}" at)
  if(at EQUAL -1)
    list(APPEND missing "${prefix}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "options missing from ${PAGE}: ${missing}")
endif()
message(STATUS "all ${count} options are in the manual page")
