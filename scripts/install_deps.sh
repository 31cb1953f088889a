#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
#   --build-only  building and running the launcher on the stand-ins (scripts/demo.sh)
#   --release     that and the release workflow of amd64: build, packages, tests and checks
#   --arm64       that and the release workflow of arm64
#   --publish     what scripts/make_repository.sh runs
#   (nothing)     everything scripts/test.sh runs
# What each package is for:
#   clang-19: the release toolchains (and the asan, tsan and fuzz presets); it compiles against the
#     Debian 11 sysroots that scripts/make_sysroot.sh makes with apt-get download, apart from
#     the system's apt state
#   dpkg-dev and file: cpack's DEB generator (dpkg-shlibdeps for Depends, file to find binaries);
#     the package step also runs dpkg-deb and dpkg-parsechangelog; rpm: cpack's RPM generator
#     (rpmbuild), rpm2cpio, and rpm --root for the install check; cpio unpacks an rpm
#   devscripts (hardening-check; its many recommendations are not needed), lintian, rpmlint,
#     mandoc (the manual page's lint), man-db (man -w), faketime (the second build's later clock)
#     and diffoscope-minimal (what differs between two builds): the package checks
#   mmdebstrap (the Debian 11, 12 and 13 systems that scripts/make_base.sh makes) and piuparts
#     (Debian's install and purge test in such a system): the checks of the .deb in whole systems
#   binutils-aarch64-linux-gnu (the arm64 linker, objcopy, objdump and readelf) and
#     qemu-user-static (qemu-aarch64-static, which every arm64 program is started through); the
#     Debian 12 runtime of arm64, libc6:arm64 and libstdc++6:arm64 from the arm64 architecture
#     added to dpkg, is what the installed arm64 package runs on and what dpkg-shlibdeps reads
#     for the arm64 package's Depends
#   libclang-rt-19-dev: the sanitizer runtimes and the libFuzzer archive of the asan, tsan and
#     fuzz presets; llvm-19 for its llvm-symbolizer, which the test presets name for the sanitizer
#     reports; clang-tidy-19 (run-clang-tidy-19) for the static analysis; valgrind for memcheck
#   apt-utils (apt-ftparchive), createrepo-c, gnupg and rpm (rpmsign): the signed apt and rpm-md
#     repositories that scripts/make_repository.sh makes; the package checks make them too, and
#     read them with the rpm family's own clients, dnf and zypper
set -euo pipefail
build=(cmake ninja-build g++ googletest dpkg-dev file)
publish=(apt-utils createrepo-c gnupg rpm)
release=(clang-19 rpm cpio devscripts lintian rpmlint mandoc man-db faketime diffoscope-minimal
  mmdebstrap piuparts "${publish[@]}" dnf zypper)
arm64=(binutils-aarch64-linux-gnu qemu-user-static libc6:arm64 libstdc++6:arm64)
tests=(valgrind libclang-rt-19-dev llvm-19 clang-tidy-19 python3)
case ${1:-} in
  --build-only) packages=("${build[@]}") ;;
  --release) packages=("${build[@]}" "${release[@]}") ;;
  --arm64) packages=("${build[@]}" "${release[@]}" "${arm64[@]}") ;;
  --publish) packages=("${publish[@]}") ;;
  "") packages=("${build[@]}" "${release[@]}" "${arm64[@]}" "${tests[@]}") ;;
  *)
    echo "usage: $0 [--build-only | --release | --arm64 | --publish]" >&2
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
