#!/usr/bin/env bash
# Runs an installed launcher once end to end on the stand-ins: starts it, waits until it catches
# SIGTERM (bit 14 of SigCgt), checks that each library named is mapped from exactly that file,
# sends SIGTERM and checks the clean stop: status 0, nothing on stdout or stderr, the plug-in
# loaded, the exit record written.
# Usage: run_once.sh LAUNCHER LD_LIBRARY_PATH LIBRARY...
set -euo pipefail
launcher_path=$1
library_path=$2
shift 2
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_run_once.XXXXXX")
launcher=
cleanup() {
  [[ -n $launcher ]] && kill -KILL "$launcher" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $launcher_path: $*" >&2
  [[ -f $work/dlog.txt ]] && cat "$work/dlog.txt" >&2
  exit 1
}

env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$library_path" KORVEL_GLOBAL_LOG_LEVEL=1 \
  DLOG_STANDIN_FILE="$work/dlog.txt" \
  "$launcher_path" --deviceId=3 --pid=$$ --qsInitGroupName=run_once >"$work/out" 2>&1 &
launcher=$!

ready=0
for _ in $(seq 1000); do
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$launcher/status" 2>/dev/null || echo 0)
  if (((0x$mask >> 14) & 1)); then
    ready=1
    break
  fi
  sleep 0.01
done
((ready)) || fail "never became ready"

maps=$(cat "/proc/$launcher/maps")
for library in "$@"; do
  grep -qF " $library" <<<"$maps" || fail "not loaded from $library"
done

kill -TERM "$launcher"
status=0
wait "$launcher" || status=$?
launcher=
((status == 0)) || fail "exit status $status"
[[ ! -s $work/out ]] || fail "wrote to stdout/stderr: $(cat "$work/out")"
grep -q "RegVexorSchedulerModuleCallBack success" "$work/dlog.txt" || fail "plug-in not loaded"
grep -q "QueueSchedule exit" "$work/dlog.txt" || fail "no exit record"
echo "$launcher_path ran and stopped with status 0"
