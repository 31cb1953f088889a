#!/usr/bin/env bash
# Records the release of the tree's version in packaging/releases, once its packages are built:
# the sha256 of the eight packages in build/release/packages and build/release-arm64/packages,
# the commit they were built from (HEAD, with no change to a tracked file) and this machine's
# tools. A version is recorded once; its bytes never change afterwards (package.ReleasedBytes).
# Usage: scripts/record_release.sh   (after both package workflows; doc/packaging.md, Cutting a
#        release), then commit packaging/releases.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib/release_record.sh
source scripts/lib/release_record.sh
record=packaging/releases

fail() {
  echo "record_release: $*" >&2
  exit 1
}

version=$(sed -nE 's/^project\(qs_launcher VERSION ([0-9.]+) .*/\1/p' CMakeLists.txt)
[[ -n ${version} ]] || fail "no version in project() of CMakeLists.txt"
[[ -z $(recorded "${record}" "${version}" commit) ]] ||
  fail "${version} is recorded already: a release's bytes never change; move the version"
[[ -z $(git status --porcelain --untracked-files=no) ]] ||
  fail "tracked files are changed: the packages must be built from a commit"

# Each build folder with its architecture's Debian and rpm names.
packages=()
for row in "release amd64 x86_64" "release-arm64 arm64 aarch64"; do
  read -r preset deb_arch rpm_arch <<<"${row}"
  for name in "qs-launcher_${version}_${deb_arch}.deb" "qs-launcher-dbgsym_${version}_${deb_arch}.ddeb" \
    "qs-launcher-${version}-1.${rpm_arch}.rpm" "qs-launcher-debuginfo-${version}-1.${rpm_arch}.rpm"; do
    packages+=("build/${preset}/packages/${name}")
  done
done
for package in "${packages[@]}"; do
  [[ -f ${package} ]] || fail "no ${package}: run cmake --workflow --preset package and package-arm64"
  # A package older than the commit was built from another tree.
  [[ $(stat -c %Y "${package}") -ge $(git log -1 --format=%ct) ]] ||
    fail "${package} is older than HEAD: build it again"
done

# The whole record first, then one append: a run that fails half-way adds nothing.
lines=$(
  echo "${version} commit $(git rev-parse HEAD)"
  release_tools . | sed "s/^/${version} /"
  for package in "${packages[@]}"; do
    echo "${version} sha256 $(sha256sum <"${package}" | cut -d' ' -f1) ${package##*/}"
  done
)
echo "${lines}" >>"${record}"
grep "^${version} " "${record}"
