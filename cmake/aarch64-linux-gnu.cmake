# The arm64 toolchain of every arm64 preset: clang 19 against Debian 11's runtime
# (debian11-clang.cmake); programs run under qemu-aarch64-static.
set(QS_PROCESSOR aarch64)
set(QS_TRIPLET aarch64-linux-gnu)
set(QS_DEBIAN_ARCH arm64)
set(QS_LOADER lib/ld-linux-aarch64.so.1)
include(${CMAKE_CURRENT_LIST_DIR}/debian11-clang.cmake)
