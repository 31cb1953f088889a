# shellcheck shell=bash
# Sourced by what writes and reads packaging/releases, the record of every release: the sha256 of
# its eight packages, the commit they were built from and the tools that built them. One fact a
# line, "VERSION FIELD VALUE...":
#   1.0.4 commit <full commit id>
#   1.0.4 tool <Debian package> <its version>     (and "tool sysroot-lock <sha256>")
#   1.0.4 sha256 <sha256> <package file name>

# The Debian packages whose versions decide the packages' bytes: the compiler, the linkers and
# ELF tools (binutils' ld links; lld is not used), CPack, dpkg-deb and dpkg-shlibdeps, rpmbuild,
# and the compressors of the manual page, the .deb (xz) and the rpm's payload (gzip).
release_tool_packages=(clang-19 binutils-x86-64-linux-gnu binutils-aarch64-linux-gnu cmake
  dpkg-dev dpkg rpm gzip liblzma5 zlib1g)

# release_tools SOURCE_DIR: the "tool NAME VERSION" lines of this machine, the sysroot lock of
# the tree SOURCE_DIR last.
release_tools() {
  local package version
  for package in "${release_tool_packages[@]}"; do
    # One version, though a library may be installed for two architectures.
    version=$(dpkg-query -W -f='${Version}\n' "${package}" 2>/dev/null | sort -u | paste -sd,) ||
      version=none
    echo "tool ${package} ${version:-none}"
  done
  echo "tool sysroot-lock $(sha256sum <"$1/cmake/debian11-sysroot.lock" | cut -d' ' -f1)"
}

# recorded RECORD VERSION FIELD: the values of FIELD of VERSION in the record RECORD, a line each.
recorded() {
  awk -v version="$2" -v field="$3" '$1 == version && $2 == field {
    $1 = $2 = ""; sub(/^  /, ""); print }' "$1"
}
