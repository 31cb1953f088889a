# Sourced by the package checks after the build's package_checks.conf: a scratch folder removed
# on exit, fail and skip, and the paths of the four packages in build/<preset>/packages.
packages=${build_dir}/packages
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_package.XXXXXX")
trap 'rm -rf "${work}"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Exit status 77: ctest counts the check as skipped.
skip() {
  echo "skipped: $*"
  exit 77
}

# The one package in the packages folder whose name matches PATTERN.
package() {
  local matches
  matches=$(find "${packages}" -maxdepth 1 -name "$1")
  [[ -n ${matches} && $(wc -l <<<"${matches}") -eq 1 ]] ||
    fail "expected one $1 in ${packages} (cpack --preset ${preset} makes them): ${matches}"
  echo "${matches}"
}
deb=$(package 'qs-launcher_*.deb') || exit 1
ddeb=$(package 'qs-launcher-dbgsym_*.ddeb') || exit 1
rpm=$(package 'qs-launcher-[0-9]*.rpm') || exit 1
debuginfo=$(package 'qs-launcher-debuginfo-*.rpm') || exit 1
