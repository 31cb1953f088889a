#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# With --build-only, just what building and running the launcher needs (scripts/demo.sh).
#   clang-14 with libclang-rt-14-dev: the sanitizer runtimes and the libFuzzer archive
#     (libclang_rt.fuzzer-x86_64.a) of the asan and fuzz presets
#   g++ brings gcc's sanitizer runtimes (libasan8, libubsan1, libtsan2) for the tsan preset
#   clang-tidy-14: clang-tidy and run-clang-tidy-14 for the static analysis
#   dpkg-dev and file: cpack's DEB generator (dpkg-shlibdeps for Depends, file to find binaries)
#   devscripts (hardening-check; its many recommendations are not needed), lintian, mandoc (the
#     manual page's lint) and man-db (man -w): the release stage
set -euo pipefail
packages=(cmake ninja-build g++ googletest dpkg-dev file)
if [[ ${1:-} != --build-only ]]; then
  packages+=(valgrind clang-14 libclang-rt-14-dev clang-tidy-14 devscripts lintian mandoc man-db)
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
