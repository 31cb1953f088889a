# The release toolchain, shared by the files named after their GNU triplet: clang 19 compiles for
# QS_TRIPLET against a sysroot of Debian 11's C and C++ runtime (glibc 2.31, GCC 10's libstdc++;
# scripts/make_sysroot.sh makes it from pinned packages), and the binutils of that triplet link,
# strip and read it. What is built there runs on every system whose runtime is at least that old.
#
# Tests run on one of two runtimes (cache variable QS_TEST_RUNTIME):
#   host      the build machine's own (Debian 12): natively on amd64, under the user-mode emulator
#             on arm64, whose loader and libraries then come from the host's arm64 multiarch
#   debian11  the sysroot's: its loader runs every program with the sysroot's libraries
# QS_HOST_RUNTIME_RUNNER and QS_DEBIAN11_RUNNER are the command lines that put a program on each
# runtime (empty: run it directly), QS_HOST_RUNTIME_LIBRARY_DIR and QS_DEBIAN11_LIBRARY_DIR the
# folders of their C libraries; the chosen runner is ctest's CMAKE_CROSSCOMPILING_EMULATOR, and
# QS_RUNTIME_LIBRARY_DIR its folder.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${QS_TRIPLET})

# The folder of the sysroots: $QS_SYSROOT_DIR at the first configure, else build/sysroots of this
# tree. The cache keeps it, so that a later configure (the build's own re-run, say, in a shell
# without the variable) uses the same sysroot; -DQS_SYSROOT_DIR=... changes it. A relative path is
# taken from the source folder, the folder that `cmake --preset` runs in.
if(NOT "$ENV{QS_SYSROOT_DIR}" STREQUAL "")
  get_filename_component(sysroot_dir "$ENV{QS_SYSROOT_DIR}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
else()
  get_filename_component(sysroot_dir ${CMAKE_CURRENT_LIST_DIR}/../build/sysroots ABSOLUTE)
endif()
set(QS_SYSROOT_DIR ${sysroot_dir} CACHE PATH
    "Folder of the Debian 11 sysroots (first configure: $QS_SYSROOT_DIR, else build/sysroots)")
if(NOT sysroot_dir STREQUAL QS_SYSROOT_DIR AND NOT "$ENV{QS_SYSROOT_DIR}" STREQUAL "")
  message(WARNING "QS_SYSROOT_DIR in the environment (${sysroot_dir}) is not this build's "
                  "(${QS_SYSROOT_DIR}), which it keeps; -DQS_SYSROOT_DIR=... changes it")
endif()
# The compiler checks' projects read this file too, with a cache of their own: hand them the folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QS_SYSROOT_DIR)
execute_process(COMMAND ${CMAKE_COMMAND} -E env QS_SYSROOT_DIR=${QS_SYSROOT_DIR}
                        ${CMAKE_CURRENT_LIST_DIR}/../scripts/make_sysroot.sh ${QS_DEBIAN_ARCH}
                OUTPUT_VARIABLE QS_SYSROOT OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(CMAKE_SYSROOT ${QS_SYSROOT})

set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET ${QS_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${QS_TRIPLET})
# GCC 10's headers and libraries under /usr, not through the sysroot's /lib link to usr/lib.
set(CMAKE_C_COMPILER_EXTERNAL_TOOLCHAIN ${QS_SYSROOT}/usr)
set(CMAKE_CXX_COMPILER_EXTERNAL_TOOLCHAIN ${QS_SYSROOT}/usr)
# The triplet's binutils: clang's driver picks its linker by the same name.
foreach(tool ar ranlib nm objcopy objdump readelf strip)
  string(TOUPPER ${tool} variable)
  set(CMAKE_${variable} /usr/bin/${QS_TRIPLET}-${tool})
endforeach()

# Headers and libraries from the sysroot only; programs (gzip, dpkg ...) from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(QS_TEST_RUNTIME debian11 CACHE STRING "Runtime the tests run on: host or debian11")
set_property(CACHE QS_TEST_RUNTIME PROPERTY STRINGS host debian11)
include(${CMAKE_CURRENT_LIST_DIR}/c_library_dir.cmake)
qs_c_library_dir(QS_HOST_RUNTIME_LIBRARY_DIR ${QS_TRIPLET} ${CMAKE_C_COMPILER}
                 --target=${CMAKE_C_COMPILER_TARGET})
set(QS_DEBIAN11_LIBRARY_DIR ${QS_SYSROOT}/usr/lib/${QS_TRIPLET})
if(QS_PROCESSOR STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(QS_HOST_RUNTIME_RUNNER "")
  # The loader takes --library-path in place of LD_LIBRARY_PATH, which the tests set for the
  # plug-in; the runner, a static program that nothing is preloaded into, passes both. The
  # project builds it there (tests/runtime_runner).
  set(QS_DEBIAN11_RUNNER ${CMAKE_BINARY_DIR}/bin/qs_runtime_runner ${QS_SYSROOT}/${QS_LOADER}
                         ${QS_DEBIAN11_LIBRARY_DIR})
else()
  # Absolute path: the end-to-end tests spawn it themselves. With -L the emulator opens every
  # absolute path under the sysroot first, the program's loader and libraries included.
  set(QS_HOST_RUNTIME_RUNNER /usr/bin/qemu-${QS_PROCESSOR}-static)
  set(QS_DEBIAN11_RUNNER ${QS_HOST_RUNTIME_RUNNER} -L ${QS_SYSROOT})
endif()
if(QS_TEST_RUNTIME STREQUAL "debian11")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QS_DEBIAN11_RUNNER})
  set(QS_RUNTIME_LIBRARY_DIR ${QS_DEBIAN11_LIBRARY_DIR})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QS_HOST_RUNTIME_RUNNER})
  set(QS_RUNTIME_LIBRARY_DIR ${QS_HOST_RUNTIME_LIBRARY_DIR})
endif()
