#!/usr/bin/env bash
# Makes the Debian 11 sysroot of one architecture from the pinned packages of
# cmake/debian11-sysroot.lock and prints its folder (the last line on stdout; progress goes to
# stderr). The release toolchain files run it at every configure; it rebuilds only when the
# architecture's lock entries or this script change.
# Usage: scripts/make_sysroot.sh amd64|arm64
#   QS_SYSROOT_DIR     where the sysroots go (default build/sysroots of this tree)
#   QS_SYSROOT_MIRROR  a Debian mirror that still holds these versions, such as an archive or
#                      snapshot mirror; by default the Debian mirror of the system's apt sources
#   QS_SYSROOT_LOCK    another lock file, for the script's own tests
# The system is never touched: apt runs on a configuration and a state of its own (sources list,
# lists and cache) in a scratch folder, none of the system's apt settings or hooks apply, nothing
# is installed, and every package's sha256 must be the locked one.
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")/.." && pwd)
lock=${QS_SYSROOT_LOCK:-${here}/cmake/debian11-sysroot.lock}
suite=bullseye
architectures="amd64 arm64"
arch=${1:-}
if [[ ! ${arch} =~ ^[a-z0-9]+$ || " ${architectures} " != *" ${arch} "* ]]; then
  echo "usage: $0 ${architectures// /|}" >&2
  exit 2
fi
base=${QS_SYSROOT_DIR:-${here}/build/sysroots}
sysroot=${base}/debian11-${arch}

# Every line of the lock is blank, a comment, or one package: name, version, architecture and
# sha256, once per architecture. Any other line stops the script, named: a line passed over
# would leave its package out of the sysroot unnoticed. Each architecture needs a package.
check_lock() {
  awk -v file="${lock}" -v known="${architectures}" '
    BEGIN { split(known, list, " "); for (i in list) packages[list[i]] = 0 }
    /^[ \t]*(#|$)/ { next }
    {
      if (NF != 4) {
        problem = NF " fields, not 4 (package version architecture sha256)"
      } else if (!($3 in packages)) {
        problem = "architecture " $3 " is none of " known
      } else if (length($4) != 64 || $4 ~ /[^0-9a-f]/) {
        problem = "sha256 is not 64 lowercase hex digits"
      } else if (($1, $3) in line) {
        problem = $1 " " $3 " again (line " line[$1, $3] ")"
      } else {
        line[$1, $3] = NR
        ++packages[$3]
        next
      }
      printf "%s:%d: %s: %s\n", file, NR, problem, $0
      bad = 1
    }
    END {
      for (a in packages) {
        if (packages[a] == 0) {
          printf "%s: no %s package\n", file, a
          bad = 1
        }
      }
      exit bad
    }' "${lock}" >&2
}
check_lock

# package version sha256, one line per locked package of the architecture.
entries=$(awk -v arch="${arch}" '!/^[ \t]*(#|$)/ && $3 == arch {print $1, $2, $4}' "${lock}")
stamp=$( (
  echo "${entries}"
  cat "$0"
) | sha256sum | cut -d' ' -f1)

mkdir -p "${base}"
exec {lock_fd}>"${sysroot}.lock"
flock "${lock_fd}"
if [[ -f ${sysroot}/.stamp && $(<"${sysroot}/.stamp") == "${stamp}" ]]; then
  echo "${sysroot}"
  exit 0
fi

# shellcheck source=lib/debian_mirror.sh
source "${here}/scripts/lib/debian_mirror.sh"
mirror=$(debian_mirror QS_SYSROOT_MIRROR)

work=$(mktemp -d "${base}/.debian11-${arch}.XXXXXX")
trap 'rm -rf "${work}"' EXIT
apt_state=${work}/apt
mkdir -p "${apt_state}/lists/partial" "${apt_state}/cache/archives/partial" \
  "${apt_state}/empty" "${work}/debs" "${work}/root"
: >"${apt_state}/status"
# Check-Valid-Until off: an archive or snapshot mirror serves Release files past their date; the
# packages are still checked against the lock file.
echo "deb [arch=${arch} signed-by=/usr/share/keyrings/debian-archive-keyring.gpg" \
  "check-valid-until=no] ${mirror} ${suite} main" >"${apt_state}/sources.list"

# The user apt's download methods run as. As root, apt hands them to its unprivileged user _apt,
# which must reach the partial folders and the folder that `apt-get download` writes into: those
# become _apt's, and the scratch folder (0700 from mktemp) opens for traversal. A folder above it
# closed to others (QS_SYSROOT_DIR under /root, say) keeps _apt out; apt would then warn and
# download as root, which this does at once, saying why.
sandbox_user=root
choose_sandbox_user() {
  local folders=("${apt_state}/lists/partial" "${apt_state}/cache/archives/partial" "${work}/debs")
  local folder
  # Not root: apt runs its methods as the caller. No _apt: there is no one else to run them as.
  if ((EUID != 0)) || ! id -u _apt >/dev/null 2>&1; then
    return
  fi
  chmod go+x "${work}" "${apt_state}" "${apt_state}/lists" "${apt_state}/cache" \
    "${apt_state}/cache/archives"
  chown _apt "${folders[@]}"
  for folder in "${folders[@]}"; do
    if ! setpriv --reuid=_apt --regid="$(id -g _apt)" --clear-groups test -w "${folder}"; then
      echo "apt downloads as root: _apt cannot write into ${folder}" >&2
      return
    fi
  done
  sandbox_user=_apt
}
choose_sandbox_user

# apt's configuration of its own. APT_CONFIG is the first file apt reads; it points apt.conf.d
# and apt.conf at nothing, so none of the system's settings apply, its hooks least of all
# (APT::Update::Post-Invoke-Success, DPkg::Post-Invoke ...: PackageKit and appstream scripts,
# run as root after an update). An -o option cannot do that: apt reads apt.conf.d before the
# command line.
cat >"${apt_state}/apt.conf" <<EOF
Dir::Etc::Parts "${apt_state}/empty";
Dir::Etc::Main "${apt_state}/empty/none";
Dir::Etc::SourceList "${apt_state}/sources.list";
Dir::Etc::SourceParts "${apt_state}/empty";
Dir::Etc::Preferences "${apt_state}/empty/none";
Dir::Etc::PreferencesParts "${apt_state}/empty";
Dir::State::Lists "${apt_state}/lists";
Dir::State::Status "${apt_state}/status";
Dir::Cache "${apt_state}/cache";
APT::Architecture "${arch}";
APT::Architectures { "${arch}"; };
Acquire::Languages { "none"; };
APT::Sandbox::User "${sandbox_user}";
Debug::NoLocking "true";
EOF
export APT_CONFIG=${apt_state}/apt.conf

echo "downloading the ${arch} packages of Debian 11 from ${mirror}" >&2
apt-get -qq update >&2
failed=0
while read -r package version sha256; do
  # apt names the file after the version with its epoch's colon escaped.
  file=${work}/debs/${package}_${version/:/%3a}_${arch}.deb
  (cd "${work}/debs" && apt-get -qq download "${package}:${arch}=${version}" >&2) ||
    true
  if [[ ! -f ${file} ]]; then
    echo "${package} ${version} ${arch}: not on ${mirror}" >&2
    failed=1
    continue
  fi
  got=$(sha256sum "${file}" | cut -d' ' -f1)
  if [[ ${got} != "${sha256}" ]]; then
    echo "${package} ${version} ${arch}: sha256 ${got}, expected ${sha256}" >&2
    failed=1
    continue
  fi
  dpkg-deb -x "${file}" "${work}/root"
done <<<"${entries}"
((failed == 0))

root=${work}/root
# One /usr: Debian 11 still splits /lib from /usr/lib. The emulator looks a library up under the
# sysroot first and falls back to the host's file, so every path the loader may try (from the
# host's ld.so.cache, which names /usr/lib, or from its own /lib) must exist in the sysroot.
for dir in lib lib64; do
  if [[ -d ${root}/${dir} && ! -L ${root}/${dir} ]]; then
    mkdir -p "${root}/usr/${dir}"
    cp -a "${root}/${dir}/." "${root}/usr/${dir}/"
    rm -rf "${root:?}/${dir}"
    ln -s "usr/${dir}" "${root}/${dir}"
  fi
done
# Absolute links point into the sysroot, not the host: make each relative to its folder.
while IFS= read -r -d '' link; do
  target=$(readlink "${link}")
  if [[ ${target} == /* ]]; then
    ln -sfn "$(realpath -m -s --relative-to="$(dirname "${link}")" "${root}${target}")" "${link}"
  fi
done < <(find "${root}" -type l -print0)

echo "${stamp}" >"${root}/.stamp"
rm -rf "${sysroot}"
mv "${root}" "${sysroot}"
echo "made ${sysroot} ($(du -sh "${sysroot}" | cut -f1))" >&2
echo "${sysroot}"
