#!/usr/bin/env bash
# Benchmarks the launcher against a baseline program linked the same way (see bench/) and prints
# one table of medians. Not a test: the figures depend on the machine and on what else runs on
# it, so the load average is shown before and after.
# Usage: bench/run_bench.sh [--against DIR] [rounds [idle-ms]]
#   (defaults 30 and 2000: about 3.5 minutes)
# QS_BUILD_DIR picks the build tree (default build/default). --against DIR measures its launcher
# against the launcher of the build tree DIR instead, in turn, and shows what it adds.
set -euo pipefail
cd "$(dirname "$0")/.."
against=()
if [[ ${1:-} == --against ]]; then
  against=(--against "$(realpath "$2")")
  shift 2
fi
rounds=${1:-30}
idle_ms=${2:-2000}
build=${QS_BUILD_DIR:-build/default}

scripts/install_deps.sh
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" --target qs_bench_launch qs_bench_parse >/dev/null

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
echo
if ((${#against[@]})); then
  echo "| measure | $build | ${against[1]} | difference | target | met |"
  echo "|---|---|---|---|---|---|"
  "$build/bin/qs_bench_launch" "${against[@]}" "$rounds" "$idle_ms"
else
  echo "| measure | launcher (or larger input) | baseline (or smaller input) | ratio / difference | target | met |"
  echo "|---|---|---|---|---|---|"
  "$build/bin/qs_bench_launch" "$rounds" "$idle_ms"
  "$build/bin/qs_bench_parse"
fi
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
