# Debian 12's cross toolchain for 64-bit Arm (g++-aarch64-linux-gnu). Programs built with it run
# here under the user-mode emulator, which ctest puts in front of every test command; the arm64
# libc and libstdc++ (libc6:arm64, libstdc++6:arm64) are what the emulated loader finds at run
# time and what dpkg-shlibdeps reads. Absolute path: the end-to-end tests spawn it themselves.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64-static)
