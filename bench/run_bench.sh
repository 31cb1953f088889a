#!/usr/bin/env bash
# Benchmarks the launcher against a baseline program linked the same way (see bench/) and prints
# one table of medians. Not a test: the figures depend on the machine and on what else runs on
# it, so the load average is shown before and after.
# Usage: bench/run_bench.sh [rounds [idle-ms]]   (defaults 30 and 2000: about 3.5 minutes)
# QS_BUILD_DIR picks the build tree (default build/default).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-30}
idle_ms=${2:-2000}
build=${QS_BUILD_DIR:-build/default}

scripts/install_deps.sh
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" --target qs_bench_launch qs_bench_parse >/dev/null

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
echo
echo "| measure | launcher (or larger input) | baseline (or smaller input) | ratio / difference | target | met |"
echo "|---|---|---|---|---|---|"
"$build/bin/qs_bench_launch" "$rounds" "$idle_ms"
"$build/bin/qs_bench_parse"
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
