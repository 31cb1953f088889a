#!/usr/bin/env bash
# Builds the launcher and runs it once on the stand-in libraries with the sample plug-in:
# start, wait until it catches SIGTERM, send SIGTERM, show the exit status.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh --build-only
cmake --preset default >/dev/null
# The launcher, the sample plug-in, and the manual page and changelog that an install adds.
cmake --build --preset default --target qs_launcher vexor_scheduler_sample qs_launcher_man \
  qs_launcher_changelog

build=build/default
export KORVEL_GLOBAL_LOG_LEVEL=1          # stand-in log library: show info records
export LD_LIBRARY_PATH="$PWD/$build/plugins"  # where the sample plug-in is found
unset DLOG_STANDIN_FILE                     # stand-in records go to stderr

echo "== starting qs_launcher"
"$build/bin/qs_launcher" --deviceId=3 --pid=$$ --qsInitGroupName=demo_group --vfId=1 \
  --pidSign=demo --resIds=3,4 --devIds=3,4 --schedPolicy=255 &
launcher=$!

# Ready once SIGTERM shows as caught in /proc/PID/status.
for _ in $(seq 500); do
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$launcher/status" 2>/dev/null || echo 0)
  (((0x$mask >> 14) & 1)) && break
  sleep 0.01
done
echo "== sending SIGTERM to $launcher"
kill -TERM "$launcher"
status=0
wait "$launcher" || status=$?
echo "== qs_launcher exit status: $status"
exit "$status"
