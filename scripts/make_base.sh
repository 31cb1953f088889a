#!/usr/bin/env bash
# Makes a whole Debian system of one release, as a tarball, for the package checks that install
# the .deb into a system of its own instead of the build machine (piuparts, and the manual page's
# deployment example), and prints its path (the last line on stdout; progress goes to stderr).
# A base is made once and kept: a later run, from any clone on this machine, finds it and makes
# none. It is made again when this script changes.
# Usage: scripts/make_base.sh bullseye|bookworm|trixie   (as root: mmdebstrap --mode=root)
#   QS_BASE_DIR     where the bases are kept (default /var/cache/qs-launcher/bases)
#   QS_BASE_MIRROR  the Debian mirror to make them from (default: the Debian mirror of the
#                   system's apt sources); once a release has left it, an archive mirror
# The base is mmdebstrap's apt variant (the Essential packages and apt) for amd64, with nothing
# of the build machine's apt state: no package list, no cache.
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib/debian_mirror.sh
source "${here}/lib/debian_mirror.sh"
suite=${1:-}
case ${suite} in
  bullseye | bookworm | trixie) ;;
  *)
    echo "usage: $0 bullseye|bookworm|trixie" >&2
    exit 2
    ;;
esac
base_dir=${QS_BASE_DIR:-/var/cache/qs-launcher/bases}
base=${base_dir}/${suite}-amd64.tar.gz
stamp=$(sha256sum "$0" | cut -d' ' -f1)

mkdir -p "${base_dir}"
# One maker of a base at a time; a second caller waits and then finds it made.
exec {lock_fd}>"${base}.lock"
flock "${lock_fd}"
if [[ -f ${base} && -f ${base}.stamp && $(<"${base}.stamp") == "${stamp}" ]]; then
  echo "${base}"
  exit 0
fi

mirror=$(debian_mirror QS_BASE_MIRROR)
echo "making the ${suite} base from ${mirror}" >&2
partial=$(mktemp "${base}.XXXXXX")
trap 'rm -f "${partial}"' EXIT
start=${SECONDS}
# In a mount namespace of its own, so that what mmdebstrap mounts in the new system goes with it
# even when it is killed; neither it nor gzip holds the lock, which is this script's alone.
unshare --mount --propagation private mmdebstrap --quiet --variant=apt --mode=root \
  --architectures=amd64 --format=tar "${suite}" - "${mirror}" {lock_fd}>&- |
  gzip -6n >"${partial}" {lock_fd}>&-
chmod 0644 "${partial}"
mv "${partial}" "${base}"
echo "${stamp}" >"${base}.stamp"
echo "made ${base} ($(du -h "${base}" | cut -f1), $((SECONDS - start)) s)" >&2
echo "${base}"
