#!/usr/bin/env bash
# A plain install holds the launcher alone; the standins component adds the stand-in libraries
# and the sample plug-in. The installed launcher finds the libraries through its RUNPATH
# ($ORIGIN/../lib), the plug-in through LD_LIBRARY_PATH, starts, stops on SIGTERM and exits 0.
# Usage: install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_install.XXXXXX")
launcher=
cleanup() {
  [[ -n $launcher ]] && kill -KILL "$launcher" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [[ -f $work/dlog.txt ]] && cat "$work/dlog.txt" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$work/plain" >/dev/null
installed=$(cd "$work/plain" && find . -type f -o -type l | sort)
[[ $installed == "./bin/qs_launcher" ]] || fail "plain install holds more than the launcher: $installed"

prefix=$work/full
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
"$cmake" --install "$build" --prefix "$prefix" --component standins >/dev/null
for file in bin/qs_launcher lib/libdlog.so lib/libqueue_scheduler.so plugins/libvexor_scheduler.so; do
  [[ -f $prefix/$file ]] || fail "missing $file"
done

env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$prefix/plugins" KORVEL_GLOBAL_LOG_LEVEL=1 \
  DLOG_STANDIN_FILE="$work/dlog.txt" \
  "$prefix/bin/qs_launcher" --deviceId=3 --pid=$$ --qsInitGroupName=install_test \
  >"$work/out" 2>&1 &
launcher=$!

# Ready once SIGTERM shows as caught in /proc/PID/status.
ready=0
for _ in $(seq 1000); do
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$launcher/status" 2>/dev/null || echo 0)
  if (((0x$mask >> 14) & 1)); then
    ready=1
    break
  fi
  sleep 0.01
done
((ready)) || fail "the installed launcher never became ready"

maps=$(cat "/proc/$launcher/maps")
for library in "$prefix/lib/libdlog.so" "$prefix/lib/libqueue_scheduler.so" \
               "$prefix/plugins/libvexor_scheduler.so"; do
  grep -qF "$library" <<<"$maps" || fail "not loaded from the install: $library"
done

kill -TERM "$launcher"
status=0
wait "$launcher" || status=$?
launcher=
((status == 0)) || fail "exit status $status"
[[ ! -s $work/out ]] || fail "wrote to stdout/stderr: $(cat "$work/out")"
grep -q "RegVexorSchedulerModuleCallBack success" "$work/dlog.txt" || fail "plug-in not loaded"
grep -q "QueueSchedule exit" "$work/dlog.txt" || fail "no exit record"
echo "installed launcher ran and stopped with status 0"
