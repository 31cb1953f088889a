#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# With --build-only, just what building and running the launcher and its amd64 package needs
# (scripts/demo.sh); with --arm64, just that and what the arm64 package needs.
#   clang-19 with libclang-rt-19-dev: the sanitizer runtimes and the libFuzzer archive
#     (libclang_rt.fuzzer-x86_64.a) of the asan, tsan and fuzz presets; llvm-19 for its
#     llvm-symbolizer, which the test presets name for the sanitizer reports
#   clang-tidy-19: clang-tidy and run-clang-tidy-19 for the static analysis
#   dpkg-dev and file: cpack's DEB generator (dpkg-shlibdeps for Depends, file to find binaries);
#     the package step also runs dpkg-deb and dpkg-parsechangelog
#   devscripts (hardening-check; its many recommendations are not needed), lintian, mandoc (the
#     manual page's lint), man-db (man -w), faketime (the second build's later clock) and
#     diffoscope-minimal (what differs between two builds): the release stages
#   g++-aarch64-linux-gnu and qemu-user-static (qemu-aarch64-static, which every arm64 program is
#     started through): the arm64 build and its tests; libc6:arm64 and libstdc++6:arm64, from the
#     arm64 architecture added to dpkg, are what the emulated programs load and what
#     dpkg-shlibdeps reads for the arm64 package's Depends
set -euo pipefail
build=(cmake ninja-build g++ googletest dpkg-dev file)
arm64=(g++-aarch64-linux-gnu qemu-user-static libc6:arm64 libstdc++6:arm64)
tests=(valgrind clang-19 libclang-rt-19-dev llvm-19 clang-tidy-19 devscripts lintian mandoc
  man-db faketime diffoscope-minimal)
case ${1:-} in
  --build-only) packages=("${build[@]}") ;;
  --arm64) packages=("${build[@]}" "${arm64[@]}") ;;
  "") packages=("${build[@]}" "${arm64[@]}" "${tests[@]}") ;;
  *)
    echo "usage: $0 [--build-only | --arm64]" >&2
    exit 2
    ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64
  then
    "${sudo_cmd[@]}" dpkg --add-architecture arm64
  fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
