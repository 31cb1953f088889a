#!/usr/bin/env bash
# Everything CI checks, in order. The first failing stage ends the run, which still prints the
# wall time of each stage and the totals of the tests that ran, failed ones included:
#   1. ci       gcc 12, warnings as errors, every test on this machine's runtime (Debian 12)
#   2. release  the release workflow: clang 19 against Debian 11's runtime, the .deb and .rpm
#               pairs, then every test and every check of the packages (ctest label "package")
#               on Debian 11's runtime, and the .deb in whole Debian 11, 12 and 13 systems
#   3. arm64    the same for 64-bit Arm, every program under qemu-aarch64-static
#   4. asan     clang 19, AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   5. tsan     clang 19, ThreadSanitizer, every test, each run once: no retry. (The runtimes of
#               gcc 12 and clang 14 can lose a signal that arrives while a thread's first
#               intercepted blocking call is still allocating the runtime's per-thread signal
#               context; clang 19's runtime guards that store, so it is the one used.)
#   6. tidy     clang-tidy 19 on src/ and external/, zero findings
#   7. fuzz     each libFuzzer target for QS_FUZZ_SECONDS (default 60), no finding
# Sanitizer reports of every process, the launcher started by the end-to-end tests included, are
# written to build/<preset>/sanitizer-reports; a stage passes only when that folder stays empty.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

# The Debian systems that the release stage's whole-system checks install the .deb into: made
# (once per machine, see scripts/make_base.sh) in the background while the ci stage compiles, as
# making them is mostly downloading. The checks wait for a base still being made.
if [[ $(id -u) -eq 0 ]]; then
  mkdir -p build
  # Each in a process group of its own, which an early end of the run stops whole.
  for suite in bullseye bookworm trixie; do
    setsid scripts/make_base.sh "${suite}" >"build/base-${suite}.log" 2>&1 &
  done
fi

fuzz_seconds=${QS_FUZZ_SECONDS:-60}
timings=()
passed=0
skipped=0
failed=0

current=
started=0

# On every way out: the stage that failed, if one did, the wall times and the totals.
summary() {
  local status=$?
  # A base still being made when the run ends early.
  local job
  for job in $(jobs -pr); do
    kill -- "-${job}" 2>/dev/null || true
  done
  if [[ -n ${current} ]]; then
    timings+=("$(printf '%-8s %4d s  FAILED' "${current}" $((SECONDS - started)))")
  fi
  echo "==== wall time per stage"
  printf '%s\n' "${timings[@]}"
  echo "tests: ${passed} passed, ${failed} failed, ${skipped} skipped"
  exit "${status}"
}
trap summary EXIT

# stage NAME COMMAND...: runs the command and notes its wall time. (Not in an "||" list, where
# bash would ignore set -e inside it.)
stage() {
  current=$1
  started=$SECONDS
  shift
  echo "==== ${current}"
  "$@"
  timings+=("$(printf '%-8s %4d s' "${current}" $((SECONDS - started)))")
  current=
}

# counted PRESET COMMAND...: runs a command that runs ctest on the build of PRESET (ctest itself,
# or a workflow that ends with its test step) and adds the counts of the JUnit file that the test
# presets have ctest write (build/PRESET/junit.xml) to the totals. Its tests are all that ran;
# failures and skipped ones are among them. ctest's own count of skipped ones holds the tests it
# did not run because a fixture failed: those count as failed, only a test that skipped itself
# (SKIP_RETURN_CODE, or gtest's skip message) as skipped.
counted() {
  local junit=build/$1/junit.xml status=0 total=0 failures=0 skips=0 not_run=0
  shift
  rm -f "${junit}"
  "$@" || status=$?
  if [[ -f ${junit} ]]; then
    read -r total failures not_run skips < <(awk '
      /^[[:space:]]*(tests|failures|skipped)="[0-9]+"/ && !counted[$1]++ {
        split($1, field, "\""); count[field[1]] = field[2] }
      /<skipped message="SKIP_(RETURN_CODE=|REGULAR_EXPRESSION_MATCHED)/ { self++ }
      END { print count["tests="] + 0, count["failures="] + 0, count["skipped="] + 0, self + 0 }' \
      "${junit}")
    failures=$((failures + not_run - skips))
  elif ((status != 0)); then
    failures=1 # failed before any test ran
  fi
  passed=$((passed + total - failures - skips))
  skipped=$((skipped + skips))
  failed=$((failed + failures))
  return "${status}"
}

configure_and_build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j2
}

# Empty report folder; the runtimes append .<pid> to each log_path.
fresh_reports() {
  local dir="$PWD/build/$1/sanitizer-reports"
  rm -rf "${dir}"
  mkdir -p "${dir}"
  echo "${dir}"
}

check_reports() {
  local dir=$1
  if compgen -G "${dir}/*" >/dev/null; then
    echo "sanitizer reports in ${dir}:" >&2
    cat "${dir}"/* >&2
    return 1
  fi
}

# Every test has a label, so that ctest -L runs each kind alone (doc/testing.md): ctest's list of
# the tests, as JSON, shows none without one.
check_labels() {
  local unlabelled
  unlabelled=$(ctest --test-dir "build/$1" --show-only=json-v1 | python3 -c '
import json, sys
for test in json.load(sys.stdin)["tests"]:
    if not any(p["name"] == "LABELS" for p in test.get("properties", [])):
        print(test["name"])') || return 1
  [[ -z ${unlabelled} ]] || {
    printf 'tests without a label in build/%s:\n%s\n' "$1" "${unlabelled}" >&2
    return 1
  }
}

run_ci() {
  configure_and_build ci
  check_labels ci
  counted ci ctest --preset ci -j2
}

# What a test that installed into or removed from this machine's own package databases would
# change: the packages that dpkg and rpm list as installed; dpkg's log, which grows with every
# action, so that an install and a purge show too; and the bytes of the rpm database, so that an
# rpm -i and -e show. Read-only commands leave an existing rpm database as it is, but the first
# one (rpm -qp, rpmlint) creates an empty one: run_release drops the bytes of a database that was
# not there before.
package_databases() {
  local rpmdb
  rpmdb=$(rpm --eval '%_dbpath' 2>/dev/null)/rpmdb.sqlite
  [[ ! -f ${rpmdb} ]] || sha256sum "${rpmdb}"
  dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n'
  echo "/var/log/dpkg.log: $(wc -c </var/log/dpkg.log 2>/dev/null || echo none) bytes"
  rpm -qa --qf 'rpm: %{NVRA}\n' 2>/dev/null | sort
}

# A release workflow from a clean build folder: configure, build, package, then every test and
# package check. Its ctest runs two at a time, as the other stages do. Every test has a label, and
# none changed this machine's package databases.
run_release() {
  local before after
  rm -rf "build/$1"
  before=$(package_databases)
  CTEST_PARALLEL_LEVEL=2 counted "$1" cmake --workflow --preset "$1"
  check_labels "$1"
  after=$(package_databases)
  # A database that a read-only rpm command created is empty: its bytes do not count.
  grep -q 'rpmdb\.sqlite$' <<<"${before}" || after=$(grep -v 'rpmdb\.sqlite$' <<<"${after}")
  diff <(echo "${before}") <(echo "${after}") >&2 || {
    echo "the $1 workflow changed this machine's package databases" >&2
    return 1
  }
}

run_asan() {
  configure_and_build asan
  local reports
  reports=$(fresh_reports asan)
  ASAN_OPTIONS="log_path=${reports}/asan" UBSAN_OPTIONS="log_path=${reports}/ubsan" \
    counted asan ctest --preset asan -j2
  check_reports "${reports}"
}

run_tsan() {
  configure_and_build tsan
  local reports
  reports=$(fresh_reports tsan)
  TSAN_OPTIONS="log_path=${reports}/tsan" counted tsan ctest --preset tsan -j2
  check_reports "${reports}"
}

# The compile commands of the ci build; headers under src/ and external/ are checked through the
# sources that include them.
run_tidy() {
  local sources="$PWD/(src|external)/" count
  count=$(grep -cE "\"file\": \"${sources}" build/ci/compile_commands.json || true)
  echo "clang-tidy on ${count} files"
  ((count > 0))
  run-clang-tidy-19 -p build/ci -j2 -quiet "^${sources}"
}

# fuzz_target NAME CORPUS: runs build/fuzz/bin/qs_NAME_fuzzer on a working copy of the seed
# corpus, in the background; its log is build/fuzz/NAME.log.
fuzz_target() {
  local name=$1 seeds=$2 work=build/fuzz/work/$1
  rm -rf "${work}"
  mkdir -p "${work}/corpus" "${work}/artifacts"
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/fuzz/bin/qs_${name}_fuzzer" -max_total_time="${fuzz_seconds}" -timeout=10 \
    -dict=fuzz/args.dict -artifact_prefix="${work}/artifacts/" -print_final_stats=1 \
    "${work}/corpus" "${seeds}" >"build/fuzz/${name}.log" 2>&1
}

fuzz_summary() {
  local name=$1 log=build/fuzz/$1.log
  local runs rate corpus
  runs=$(awk '/^stat::number_of_executed_units:/ {print $2}' "${log}")
  rate=$(awk '/^stat::average_exec_per_sec:/ {print $2}' "${log}")
  corpus=$(find "build/fuzz/work/${name}/corpus" -type f | wc -l)
  echo "fuzz ${name}: ${runs:-?} runs, ${rate:-?} exec/s, ${corpus} new corpus units"
}

# Both targets at once, one per core.
run_fuzz() {
  configure_and_build fuzz
  local status=0 pids=() pid name
  for name in args env_log_level; do
    fuzz_target "${name}" "fuzz/corpus/${name}" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "${pid}" || status=1
  done
  for name in args env_log_level; do
    fuzz_summary "${name}"
  done
  if ((status != 0)); then
    for name in args env_log_level; do
      tail -n 60 "build/fuzz/${name}.log" >&2
    done
  fi
  return "${status}"
}

stage ci run_ci
stage release run_release release
stage arm64 run_release release-arm64
stage asan run_asan
stage tsan run_tsan
stage tidy run_tidy
stage fuzz run_fuzz
