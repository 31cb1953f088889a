#!/usr/bin/env bash
# A plain install holds the launcher, its manual page and docs; the standins component adds the
# stand-in libraries and the sample plug-in. The installed launcher finds the libraries through
# its RUNPATH ($ORIGIN/../lib), the plug-in through LD_LIBRARY_PATH, starts, stops on SIGTERM and
# exits 0.
# Usage: [QS_RUNNER=WORD;WORD...] install_test.sh CMAKE BUILD_DIR PROBE (QS_RUNNER: see run_once.sh)
set -euo pipefail
cmake=$1
build=$2
probe=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_install.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$work/plain" >/dev/null
installed=$(cd "$work/plain" && find . -type f -o -type l | sort | tr '\n' ' ')
expected="./bin/qs_launcher ./share/doc/qs-launcher/changelog.gz ./share/doc/qs-launcher/copyright \
./share/man/man8/qs_launcher.8.gz "
[[ $installed == "$expected" ]] || fail "plain install is not the launcher and its docs: $installed"

prefix=$work/full
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
"$cmake" --install "$build" --prefix "$prefix" --component standins >/dev/null
for file in bin/qs_launcher lib/libdlog.so lib/libqueue_scheduler.so plugins/libvexor_scheduler.so; do
  [[ -f $prefix/$file ]] || fail "missing $file"
done

# A launcher that cannot start (the plain install has no libraries) is reported at once, and the
# run leaves nothing behind.
mkdir "$work/tmp"
if TMPDIR=$work/tmp "$(dirname "$0")/run_once.sh" "$work/plain/bin/qs_launcher" "$work/none" \
  "$probe" 2>"$work/refused"; then
  fail "run_once.sh passed a launcher that cannot start"
fi
grep -q "never became ready" "$work/refused" || fail "no readiness failure: $(cat "$work/refused")"
[[ -z $(ls -A "$work/tmp") ]] || fail "run_once.sh left $(ls -A "$work/tmp")"

"$(dirname "$0")/run_once.sh" "$prefix/bin/qs_launcher" "$prefix/plugins" "$probe" \
  "$prefix/lib/libdlog.so" "$prefix/lib/libqueue_scheduler.so" "$prefix/plugins/libvexor_scheduler.so"
