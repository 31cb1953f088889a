#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# With --build-only, just what building and running the launcher needs (scripts/demo.sh).
#   clang-19 with libclang-rt-19-dev: the sanitizer runtimes and the libFuzzer archive
#     (libclang_rt.fuzzer-x86_64.a) of the asan, tsan and fuzz presets; llvm-19 for its
#     llvm-symbolizer, which the test presets name for the sanitizer reports
#   clang-tidy-19: clang-tidy and run-clang-tidy-19 for the static analysis
#   dpkg-dev and file: cpack's DEB generator (dpkg-shlibdeps for Depends, file to find binaries);
#     the package step also runs dpkg-deb and, without git, dpkg-parsechangelog
#   devscripts (hardening-check; its many recommendations are not needed), lintian, mandoc (the
#     manual page's lint), man-db (man -w), faketime (the second build's later clock) and
#     diffoscope-minimal (what differs between two builds): the release stage
set -euo pipefail
packages=(cmake ninja-build g++ googletest dpkg-dev file)
if [[ ${1:-} != --build-only ]]; then
  packages+=(valgrind clang-19 libclang-rt-19-dev llvm-19 clang-tidy-19 devscripts lintian mandoc
    man-db faketime diffoscope-minimal)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
