#!/usr/bin/env bash
# Everything CI checks, in order; the first failing stage stops the run:
#   1. ci       gcc, warnings as errors, every test
#   2. release  the hardened release workflow and its Debian package: hardening-check, lintian,
#               the manual page's lint, an install and purge (as root), one run of the packaged
#               launcher from an extracted root on the stand-ins, and a second build elsewhere
#               that must give byte-identical packages
#   3. arm64    the gcc cross build for 64-bit Arm, every test under qemu-aarch64-static, then
#               the arm64 release workflow with every check of the release stage (the launcher
#               run through the emulator, the install through multiarch)
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

fuzz_seconds=${QS_FUZZ_SECONDS:-60}
timings=()

# stage NAME COMMAND...: runs the command and notes its wall time.
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "==== ${name}"
  "$@"
  timings+=("$(printf '%-8s %4d s' "${name}" $((SECONDS - start)))")
}

# run_ctest ARGS...: ctest, with its counts added to the totals printed at the end; last_passed,
# last_skipped and last_failed are this run's. ctest counts a skipped test among the passed ones
# and lists it as "(Skipped)" among those that did not run.
passed=0
skipped=0
failed=0
run_ctest() {
  local log status=0 total failures
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "${log}" || status=$?
  read -r failures total < <(sed -nE 's/.* tests passed, ([0-9]+) tests failed out of ([0-9]+)$/\1 \2/p' "${log}") || true
  last_skipped=$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "${log}" || true)
  rm -f "${log}"
  last_failed=${failures:-0}
  last_passed=$((${total:-0} - last_failed - last_skipped))
  passed=$((passed + last_passed))
  skipped=$((skipped + last_skipped))
  failed=$((failed + last_failed))
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

run_ci() {
  configure_and_build ci
  run_ctest --preset ci -j2
}

# Every compile of the launcher's own sources carries the two flags whose effect hardening-check
# cannot see in the binary: -D_FORTIFY_SOURCE and the architecture's control-flow protection
# (FLAG: -fcf-protection, -mbranch-protection=standard). glibc swaps a call for its checking
# variant only where the compiler knows the destination's size but cannot prove the call safe:
# the launcher's read() and poll() are proven safe, and its memcpy, memmove and memset write into
# string and vector memory whose size is only known at run time, so the binary imports unchecked
# functions only and hardening-check reports "only unprotected functions found". Our objects carry
# the control-flow property, but the linked binary does not, because Debian 12's crt objects lack
# it (see CMakeLists.txt).
check_hardening_flags() {
  local database=$1 flag=$2 count missing
  count=$(grep -cF "\"file\": \"$PWD/src/" "${database}" || true)
  if ((count == 0)); then
    echo "no compile of src/ in ${database}" >&2
    return 1
  fi
  missing=$(awk -v src="\"file\": \"$PWD/src/" -v flag="${flag}" '
    /"command":/ { command = $0 }
    index($0, src) && !(command ~ /-D_FORTIFY_SOURCE=[23]/ && index(command, flag)) {
      print
    }' "${database}")
  if [[ -n ${missing} ]]; then
    echo "compiled without -D_FORTIFY_SOURCE or ${flag}: ${missing}" >&2
    return 1
  fi
  echo "all ${count} compiles under src/ have -D_FORTIFY_SOURCE and ${flag}"
}

# Both closed libraries in DT_NEEDED (every log function is a weak reference), no RUNPATH.
check_dynamic_section() {
  local dynamic library
  dynamic=$(readelf -d "$1")
  for library in libdlog.so libqueue_scheduler.so; do
    grep -qF "Shared library: [${library}]" <<<"${dynamic}" || {
      echo "$1: ${library} not in DT_NEEDED" >&2
      return 1
    }
  done
  if grep -qE 'RUNPATH|RPATH' <<<"${dynamic}"; then
    echo "$1 has a RUNPATH or RPATH" >&2
    return 1
  fi
  echo "$1: DT_NEEDED has both closed libraries; no RUNPATH"
}

# check_debug_file BINARY DDEB: the binary is stripped, and the -dbgsym package holds its debug
# file under its build id.
check_debug_file() {
  local binary=$1 ddeb=$2 id debug
  if grep -qF '.symtab' <<<"$(readelf -S "${binary}")"; then
    echo "${binary} is not stripped" >&2
    return 1
  fi
  id=$(readelf -n "${binary}" | awk '/Build ID:/ {print $3}')
  debug=./usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  if [[ -z ${id} ]] || ! grep -qF " ${debug}" <<<"$(dpkg-deb -c "${ddeb}")"; then
    echo "${ddeb} lacks the debug file of ${binary} (build id '${id}')" >&2
    return 1
  fi
  echo "${binary}: stripped; its debug file ${debug} is in ${ddeb##*/}"
}

# arm64: every function of ours that saves its return address (all but leaf functions) signs it
# on entry (paciasp), and our functions have BTI landing pads, but the binary has no GNU property
# note that would have the loader enforce BTI, because Debian 12's aarch64 crt objects lack it.
# Pointer authentication is required; the note is only shown.
check_branch_protection() {
  local binary=$1 code signed pads notes features
  code=$(aarch64-linux-gnu-objdump -d "${binary}" 2>/dev/null)
  signed=$(grep -cE $'\tpaciasp$' <<<"${code}" || true)
  pads=$(grep -cE $'\tbti\t' <<<"${code}" || true)
  notes=$(readelf -n "${binary}")
  echo "${notes}"
  features=$(grep -c 'AArch64 feature' <<<"${notes}" || true)
  if ((signed == 0)); then
    echo "${binary}: no function signs its return address" >&2
    return 1
  fi
  echo "${binary}: ${signed} return-address signings (paciasp), ${pads} BTI" \
    "landing pads, ${features} AArch64 feature notes (BTI not enforced without one)"
}

# dpkg -i, a run of the installed launcher (no arguments: refused with 255; through EMULATOR when
# given), dpkg --purge, which always runs: every file of both packages is gone again. Only as
# root, and never over a qs-launcher that was installed before.
check_install_and_purge() {
  local deb=$1 ddeb=$2 lib=$3 emulator=${4:-} files file status=0 failed=0
  if [[ $(id -u) -ne 0 ]] || dpkg-query -W qs-launcher >/dev/null 2>&1; then
    echo "install and purge skipped (not root, or qs-launcher installed before)"
    return 0
  fi
  dpkg -i "${deb}" "${ddeb}" || failed=1
  man -w qs_launcher || failed=1
  LD_LIBRARY_PATH=${lib} DLOG_STANDIN_FILE=/dev/null ${emulator:+"${emulator}"} \
    /usr/bin/qs_launcher || status=$?
  if ((status != 255)); then
    echo "installed launcher without arguments: status ${status}, expected 255" >&2
    failed=1
  fi
  dpkg --purge qs-launcher-dbgsym qs-launcher || failed=1
  files=$(for package in "${deb}" "${ddeb}"; do
    dpkg-deb --fsys-tarfile "${package}" | tar -t | grep -v '/$' | sed 's#^\.##'
  done)
  for file in ${files} /usr/share/doc/qs-launcher; do
    if [[ -e ${file} || -L ${file} ]]; then
      echo "left behind after purge: ${file}" >&2
      failed=1
    fi
  done
  ((failed == 0)) && echo "installed, ran, purged; nothing left behind"
}

# release_build DIR PRESET UMASK TZ LC_ALL [WRAPPER...]: the release workflow PRESET in DIR from
# scratch, with that umask, time zone and locale and without SOURCE_DATE_EPOCH.
release_build() {
  local dir=$1 preset=$2 mask=$3 zone=$4 locale=$5
  shift 5
  rm -rf "${dir}/build/${preset}"
  (cd "${dir}" && umask "${mask}" &&
    env -u SOURCE_DATE_EPOCH TZ="${zone}" LC_ALL="${locale}" "$@" \
      cmake --workflow --preset "${preset}")
}

# compare_with_second_build PRESET COPY: builds the work tree again in COPY and compares.
compare_with_second_build() {
  local preset=$1 copy=$2 packages=build/$1/packages package status=0 path root=$2.root
  mkdir -p "${copy}" "${root}"
  tar --exclude=./build --exclude=./.git -c . | tar -x -C "${copy}"
  if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "${copy}"
  fi
  release_build "${copy}" "${preset}" 002 UTC-14 C.UTF-8 faketime -f +400d >"${copy}.log" 2>&1 || {
    cat "${copy}.log" >&2
    return 1
  }
  if ! diff <(ls "${packages}") <(ls "${copy}/${packages}") >&2; then
    echo "the two builds wrote different sets of packages" >&2
    return 1
  fi
  for package in "${packages}"/*; do
    if cmp -s "${package}" "${copy}/${package}"; then
      sha256sum "${package}"
    else
      echo "${package}: the second build differs" >&2
      diffoscope --text - --max-text-report-size 200000 "${package}" "${copy}/${package}" >&2 || true
      status=1
    fi
    dpkg-deb -x "${package}" "${root}"
  done
  for path in "$PWD" "${copy}"; do
    if grep -rlaF "${path}" "${root}" >&2; then
      echo "these packaged files hold the build folder ${path}" >&2
      status=1
    fi
  done
  return "${status}"
}

# Two builds of the same source must give byte-identical packages. The second runs in a copy of
# the work tree (uncommitted changes included) without .git and, as root, owned by another user,
# at a longer path, with another umask, time zone and locale, on a clock 400 days ahead. Neither
# may carry the absolute path of its folder. The copy is removed on every way out.
check_reproducible() {
  local preset=$1 base
  base=$(mktemp -d "${TMPDIR:-/tmp}/qs_rebuild.XXXXXX")
  (
    trap 'rm -rf "${base}"' EXIT
    compare_with_second_build "${preset}" "${base}/at/a/longer/path"
  )
  echo "a second build without git, at another path, owner, umask, time zone, locale and clock" \
    "gave byte-identical packages; neither build's folder is in them"
}

# check_packages PRESET ARCH FLAG [EMULATOR]: every check of the packages of the release workflow
# PRESET, extracted under build/PRESET/root as a user gets them. EMULATOR runs a launcher of
# another architecture than the machine's.
check_packages() {
  local preset=$1 arch=$2 flag=$3 emulator=${4:-}
  local build=build/${preset} deb ddeb
  local root=${build}/root lib=$PWD/${build}/lib plugins=$PWD/${build}/plugins
  deb=$(echo "${build}"/packages/qs-launcher_*_"${arch}".deb)
  ddeb=$(echo "${build}"/packages/qs-launcher-dbgsym_*_"${arch}".ddeb)
  dpkg-deb -x "${deb}" "${root}"
  dpkg-deb -c "${deb}"
  # Fortify and control-flow protection are not required of the binary (see
  # check_hardening_flags); hardening-check still shows what it finds.
  hardening-check --nofortify --nocfprotection "${root}/usr/bin/qs_launcher"
  check_hardening_flags "${build}/compile_commands.json" "${flag}"
  check_debug_file "${root}/usr/bin/qs_launcher" "${ddeb}"
  check_dynamic_section "${root}/usr/bin/qs_launcher"
  lintian --fail-on error,warning "${deb}" "${ddeb}"
  echo "lintian: no error, no warning"
  mandoc -T lint -W warning doc/qs_launcher.8
  echo "mandoc: no message"
  QS_EMULATOR=${emulator} tests/install/run_once.sh "${root}/usr/bin/qs_launcher" \
    "${lib}:${plugins}" "$PWD/${build}/probe/libqs_ready_probe.so" \
    "${lib}/libdlog.so" "${lib}/libqueue_scheduler.so" "${plugins}/libvexor_scheduler.so"
  check_install_and_purge "${deb}" "${ddeb}" "${lib}" "${emulator}"
  check_reproducible "${preset}"
}

run_release() {
  release_build . release 022 UTC C
  check_packages release amd64 -fcf-protection
}

# The arm64 tests under the emulator (ctest runs each through it), then the arm64 packages with
# every check of the release stage, the installed launcher run through the emulator.
# The emulator is the one the toolchain file names, started explicitly wherever an arm64 program
# runs: no binfmt_misc registration is assumed.
run_arm64() {
  local emulator
  emulator=$(sed -nE 's/^set\(CMAKE_CROSSCOMPILING_EMULATOR (.+)\)$/\1/p' \
    cmake/aarch64-linux-gnu.cmake)
  if [[ ! -x ${emulator} ]]; then
    echo "cmake/aarch64-linux-gnu.cmake names no runnable emulator: '${emulator}'" >&2
    return 1
  fi
  configure_and_build arm64
  run_ctest --preset arm64 -j2
  echo "arm64 under ${emulator}: ${last_passed} passed, ${last_skipped} skipped," \
    "${last_failed} failed"
  release_build . release-arm64 022 UTC C
  check_branch_protection build/release-arm64/bin/qs_launcher
  check_packages release-arm64 arm64 -mbranch-protection=standard "${emulator}"
}

run_asan() {
  configure_and_build asan
  local reports
  reports=$(fresh_reports asan)
  ASAN_OPTIONS="log_path=${reports}/asan" UBSAN_OPTIONS="log_path=${reports}/ubsan" \
    run_ctest --preset asan -j2
  check_reports "${reports}"
}

run_tsan() {
  configure_and_build tsan
  local reports
  reports=$(fresh_reports tsan)
  TSAN_OPTIONS="log_path=${reports}/tsan" run_ctest --preset tsan -j2
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
stage release run_release
stage arm64 run_arm64
stage asan run_asan
stage tsan run_tsan
stage tidy run_tidy
stage fuzz run_fuzz

echo "==== wall time per stage"
printf '%s\n' "${timings[@]}"
echo "tests: ${passed} passed, ${failed} failed, ${skipped} skipped"
