#!/usr/bin/env bash
# Runs an installed launcher once end to end on the stand-ins: starts it with the readiness probe
# preloaded, waits for the probe's byte (the SIGTERM handler is installed; SigCgt must show it
# too), checks that the launcher did not inherit the readiness FIFO and that each library named
# is mapped from exactly that file, links resolved (the C library too, when named), sends SIGTERM
# and checks the clean stop: status 0, nothing on stdout or stderr, the plug-in loaded, the exit
# record written.
# Usage: [QS_RUNNER=WORD;WORD...] run_once.sh LAUNCHER LD_LIBRARY_PATH PROBE LIBRARY...
# QS_RUNNER, a CMake list, is the command line the launcher runs through: the emulator of another
# processor (no binfmt_misc registration is assumed) or the loader of another C runtime.
set -euo pipefail
launcher_path=$1
library_path=$2
probe=$3
shift 3
runner=()
[[ -z ${QS_RUNNER:-} ]] || IFS=';' read -r -a runner <<<"${QS_RUNNER}"
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_run_once.XXXXXX")
launcher=
cleanup() {
  [[ -z $launcher ]] || kill -KILL "$launcher" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $launcher_path: $*" >&2
  [[ -f $work/dlog.txt ]] && cat "$work/dlog.txt" >&2
  [[ -s $work/out ]] && cat "$work/out" >&2
  exit 1
}

# Opened for reading and writing: the open does not wait for a writer, and the probe's
# non-blocking open finds a reader. The launcher does not inherit it.
mkfifo "$work/ready"
exec {ready_fd}<>"$work/ready"

env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$library_path" KORVEL_GLOBAL_LOG_LEVEL=1 \
  DLOG_STANDIN_FILE="$work/dlog.txt" LD_PRELOAD="$probe" QS_READY_FIFO="$work/ready" \
  "${runner[@]}" "$launcher_path" --deviceId=3 --pid=$$ --qsInitGroupName=run_once \
  >"$work/out" 2>&1 {ready_fd}>&- &
launcher=$!

# Up to about 10 s; between looks, whether the launcher has ended (bash reaps it at once, keeping
# its status for the wait below). "read -t 0" only asks whether the byte is there: a read with a
# real time-out may take the byte and still report the time-out when the time runs out during it,
# as bash 5.2 does on a busy machine, and the byte would be lost.
ready=0
for _ in $(seq 100); do
  if read -r -t 0 -u "$ready_fd"; then
    read -r -N 1 -u "$ready_fd" _
    ready=1
    break
  fi
  kill -0 "$launcher" 2>/dev/null || break
  sleep 0.1
done
((ready)) || fail "never became ready"
# Under the emulator of another processor this holds at once: the emulator catches SIGTERM itself.
mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$launcher/status")
(((0x$mask >> 14) & 1)) || fail "the probe saw the handler, but SigCgt lacks SIGTERM"

fds=$(ls -l "/proc/$launcher/fd")
! grep -qF "$work/ready" <<<"$fds" || fail "inherited the readiness FIFO: $fds"

# The maps name each file with its links resolved: a library reached through a link (a sysroot's
# folder, libc.so.6 itself) is looked for as the file it leads to.
maps=$(cat "/proc/$launcher/maps")
for library in "$@"; do
  file=$(realpath -e "$library") || fail "no such library: $library"
  grep -qF " $file" <<<"$maps" || fail "not loaded from $library ($file)"
done

kill -TERM "$launcher"
status=0
wait "$launcher" || status=$?
launcher=
((status == 0)) || fail "exit status $status"
[[ ! -s $work/out ]] || fail "wrote to stdout/stderr (shown after the records)"
grep -q "RegVexorSchedulerModuleCallBack success" "$work/dlog.txt" || fail "plug-in not loaded"
grep -q "QueueSchedule exit" "$work/dlog.txt" || fail "no exit record"
echo "$launcher_path ran and stopped with status 0"
