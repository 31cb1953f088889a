# The amd64 release toolchain: clang 19 against Debian 11's runtime (debian11-clang.cmake).
set(QS_PROCESSOR x86_64)
set(QS_TRIPLET x86_64-linux-gnu)
set(QS_DEBIAN_ARCH amd64)
set(QS_LOADER lib64/ld-linux-x86-64.so.2)
include(${CMAKE_CURRENT_LIST_DIR}/debian11-clang.cmake)
