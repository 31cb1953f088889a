#!/usr/bin/env bash
# The checks of the packages of one release build; tests/package/CMakeLists.txt runs each as the
# ctest test package.CHECK. Exit status 77: the check cannot run here (ctest: skipped).
# Usage: package_checks.sh CHECK CONF   (CONF: package_checks.conf of the build)
set -euo pipefail
check=$1
# shellcheck source=/dev/null
source "$2"
packages=${build_dir}/packages
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_package.XXXXXX")
trap 'rm -rf "${work}"' EXIT

# The highest versions of the runtime that any shipped ELF file may need.
ceilings=(GLIBC_2.17 GLIBCXX_3.4.22 CXXABI_1.3.9)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

skip() {
  echo "skipped: $*"
  exit 77
}

# The one package in the packages folder whose name matches PATTERN.
package() {
  local matches
  matches=$(find "${packages}" -maxdepth 1 -name "$1")
  [[ -n ${matches} && $(wc -l <<<"${matches}") -eq 1 ]] ||
    fail "expected one $1 in ${packages} (cpack --preset ${preset} makes them): ${matches}"
  echo "${matches}"
}
deb=$(package 'qs-launcher_*.deb') || exit 1
ddeb=$(package 'qs-launcher-dbgsym_*.ddeb') || exit 1
rpm=$(package 'qs-launcher-[0-9]*.rpm') || exit 1
debuginfo=$(package 'qs-launcher-debuginfo-*.rpm') || exit 1

# extract PACKAGE... DIR: the files of the packages under DIR.
extract() {
  local dir=${*: -1} package
  mkdir -p "${dir}"
  for package in "${@:1:$#-1}"; do
    case ${package} in
      *.rpm) rpm2cpio "${package}" | (cd "${dir}" && cpio -idm --quiet) ;;
      *) dpkg-deb -x "${package}" "${dir}" ;;
    esac
  done
}

# run_once RUNTIME LAUNCHER: the launcher once end to end on the stand-ins, on that runtime (host
# or debian11) through its runner, its C library mapped from that runtime's file.
run_once() {
  local runner=$1_runner libraries=$1_library_dir
  QS_RUNNER=${!runner} "${source_dir}/tests/install/run_once.sh" "$2" \
    "${library_dir}:${plugin_dir}" "${probe}" "${library_dir}/libdlog.so" \
    "${library_dir}/libqueue_scheduler.so" "${plugin_dir}/libvexor_scheduler.so" \
    "${!libraries}/libc.so.6"
}

# readelf, quiet about a debug file's empty program interpreter.
read_elf() {
  "${readelf}" "$@" 2>/dev/null
}

build_id() {
  read_elf -n "$1" | awk '/Build ID:/ {print $3}'
}

# Every compile of the launcher's own sources carries the hardening flags whose effect the binary
# cannot show: fortify, the stack protector, stack-clash protection and the architecture's
# control-flow protection. hardening-check finds no fortified call in the binary: glibc swaps a
# call for its checking variant only where the compiler knows the destination's size but cannot
# prove the call safe, and the launcher's read() and poll() are proven safe while its memcpy,
# memmove and memset write into memory whose size is only known at run time.
check_compile_flags() {
  local database=${build_dir}/compile_commands.json count missing
  count=$(grep -cF "\"file\": \"${source_dir}/src/" "${database}" || true)
  ((count > 0)) || fail "no compile of src/ in ${database}"
  missing=$(awk -v src="\"file\": \"${source_dir}/src/" -v flag="${control_flow_flag}" '
    /"command":/ { command = $0 }
    index($0, src) && !(command ~ /-D_FORTIFY_SOURCE=[23]/ && index(command, flag) &&
                        index(command, "-fstack-protector-strong") &&
                        index(command, "-fstack-clash-protection")) { print }' "${database}")
  [[ -z ${missing} ]] || fail "compiled without a hardening flag: ${missing}"
  echo "all ${count} compiles under src/ have -D_FORTIFY_SOURCE, -fstack-protector-strong," \
    "-fstack-clash-protection and ${control_flow_flag}"
}

# arm64: every function of ours that saves its return address signs it on entry (paciasp);
# leaf functions save nothing and need not. Ours: defined in the objects compiled from src/,
# looked up in the built launcher, which the packaged one is stripped from (same build id).
check_branch_protection() {
  local ours unsigned
  ours=$(find "${build_dir}/src" -name '*.o' -exec nm --defined-only {} + |
    awk '$2 ~ /^[tTwW]$/ {print $3}' | sort -u)
  unsigned=$("${objdump}" -d --no-show-raw-insn "${built_launcher}" | awk -v ours="${ours}" '
    BEGIN { split(ours, names, "\n"); for (i in names) mine[names[i]] = 1 }
    function finish() {
      if (name in mine) { if (saves && !signs) print name; else if (saves) signed++; else leaf++ }
    }
    /^[0-9a-f]+ <.*>:$/ { finish(); name = substr($2, 2, length($2) - 3); saves = signs = 0 }
    /\tpaciasp/ { signs = 1 }
    /\t(stp|str)\t.*x30/ { saves = 1 }
    END { finish(); printf "signed %d leaf %d\n", signed, leaf > "/dev/stderr" }' 2>"${work}/counts")
  [[ -z ${unsigned} ]] || fail "functions that save their return address unsigned: ${unsigned}"
  read -r _ signed _ leaf <"${work}/counts"
  ((signed > 0)) || fail "no function of ours signs its return address"
  echo "${signed} functions of ours sign their return address (paciasp); ${leaf} leaf" \
    "functions save none"
}

check_Hardening() {
  extract "${deb}" "${work}/root"
  # PIE, stack protector, RELRO and BIND_NOW are required; fortify and control-flow protection
  # are only shown (see check_compile_flags; the crt objects of the sysroot carry no CET or BTI
  # property, so the linked binary carries none either).
  hardening-check --nofortify --nocfprotection "${work}/root/usr/bin/qs_launcher"
  check_compile_flags
  if [[ ${processor} == aarch64 ]]; then
    check_branch_protection
  fi
}

# Both families ship the same files (rpm keeps the copyright file with the licences), the same
# launcher, stripped and without RUNPATH, the one built here, and the same debug file.
check_Contents() {
  local id debug name
  extract "${deb}" "${ddeb}" "${work}/deb"
  extract "${rpm}" "${debuginfo}" "${work}/rpm"
  diff <(cd "${work}/deb" && find . ! -type d | sed 's#/doc/qs-launcher/copyright#/licenses/qs-launcher/copyright#; /-dbgsym$/d' | sort) \
    <(cd "${work}/rpm" && find . ! -type d | sort) >&2 || fail "the .deb and the .rpm hold other files"
  cmp "${work}/deb/usr/bin/qs_launcher" "${work}/rpm/usr/bin/qs_launcher" ||
    fail "the .rpm's launcher is not the .deb's"
  cmp "${work}/deb/usr/bin/qs_launcher" "${build_dir}/package/qs_launcher" ||
    fail "the packaged launcher is not the build's"
  id=$(build_id "${work}/deb/usr/bin/qs_launcher")
  [[ -n ${id} && ${id} == "$(build_id "${built_launcher}")" ]] ||
    fail "the packaged launcher's build id '${id}' is not the built launcher's"
  ! grep -qF '.symtab' <<<"$(read_elf -S "${work}/deb/usr/bin/qs_launcher")" ||
    fail "the packaged launcher is not stripped"
  debug=usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
  cmp "${work}/deb/${debug}" "${work}/rpm/${debug}" || fail "no debug file ${debug} in both"
  grep -qF '.debug_info' <<<"$(read_elf -S "${work}/deb/${debug}")" ||
    fail "${debug} holds no debug information"
  # Both closed libraries in DT_NEEDED (every log function is a weak reference), no RUNPATH.
  for name in libdlog.so libqueue_scheduler.so; do
    grep -qF "Shared library: [${name}]" <<<"$(read_elf -d "${work}/deb/usr/bin/qs_launcher")" ||
      fail "${name} not in DT_NEEDED"
  done
  ! grep -qE 'RUNPATH|RPATH' <<<"$(read_elf -d "${work}/deb/usr/bin/qs_launcher")" ||
    fail "the packaged launcher has a RUNPATH"
  # Dependencies: the C and C++ runtimes, never the closed libraries, which no package provides.
  echo "Depends: $(dpkg-deb -f "${deb}" Depends)"
  rpm -qp --requires "${rpm}" | tee "${work}/requires"
  ! grep -qE 'libdlog|libqueue_scheduler' "${work}/requires" || fail "requires a closed library"
  grep -q '^libc\.so\.6' "${work}/requires" && grep -q '^libstdc++\.so\.6' "${work}/requires" ||
    fail "does not require the C and C++ runtimes"
  echo "same files and launcher (build id ${id}) in both families; stripped, debug file in both" \
    "debug packages; DT_NEEDED has both closed libraries; no RUNPATH"
}

# Every shipped ELF file needs at most the ceilings' versions of the C and C++ runtimes.
check_VersionNeeds() {
  local file needs family highest ceiling over=0
  extract "${deb}" "${ddeb}" "${work}/root/deb"
  extract "${rpm}" "${debuginfo}" "${work}/root/rpm"
  while IFS= read -r -d '' file; do
    read_elf -h "${file}" >/dev/null || continue
    needs=$(read_elf -V --wide "${file}" | awk '$2 == "Name:" {print $3}' | sort -uV)
    printf '%s:' "${file#"${work}/root/"}"
    for ceiling in "${ceilings[@]}"; do
      family=${ceiling%_*}
      highest=$(grep "^${family}_[0-9]" <<<"${needs}" | tail -n 1 || true)
      printf ' %s' "${highest:-no ${family}}"
      if [[ -n ${highest} && $(printf '%s\n' "${highest}" "${ceiling}" | sort -V | tail -n 1) != "${ceiling}" ]]; then
        printf '\nFAIL: %s needs %s, above the ceiling %s' "${file#"${work}/root/"}" "${highest}" \
          "${ceiling}" >&2
        over=1
      fi
    done
    echo
  done < <(find "${work}/root" -type f -print0 | sort -z)
  ((over == 0)) || fail "version needs above the ceilings ${ceilings[*]}"
}

# lintian and rpmlint: no error and no warning of lintian's; no error of rpmlint's but the
# missing signature (the publisher signs); mandoc: no message on the manual page.
check_Lint() {
  lintian --fail-on error,warning "${deb}" "${ddeb}"
  echo "lintian: no error, no warning"
  rpmlint -c "${source_dir}/packaging/rpmlint.toml" "${rpm}" "${debuginfo}" 2>&1 |
    tee "${work}/rpmlint" || true
  ! grep -E ': E: ' "${work}/rpmlint" | grep -v ': E: no-signature$' >&2 ||
    fail "rpmlint reports an error"
  mandoc -T lint -W warning "${source_dir}/doc/qs_launcher.8"
  echo "mandoc: no message"
}

# run_packaged RUNTIME: the launcher of the .deb and of the .rpm, each once on that runtime.
run_packaged() {
  extract "${deb}" "${work}/deb"
  extract "${rpm}" "${work}/rpm"
  run_once "$1" "${work}/deb/usr/bin/qs_launcher"
  run_once "$1" "${work}/rpm/usr/bin/qs_launcher"
}
check_RunsOnHostRuntime() { run_packaged host; }
check_RunsOnDebian11() { run_packaged debian11; }

# No file of the packages is left: not in the system, not under ROOT.
check_nothing_left() {
  local root=$1 file left=0
  shift
  while IFS= read -r file; do
    if [[ -e ${root}${file} || -L ${root}${file} ]]; then
      echo "left behind: ${root}${file}" >&2
      left=1
    fi
  done < <(extract "$@" "${work}/listed" && cd "${work}/listed" && find . ! -type d | sed 's#^\.##')
  ((left == 0)) || fail "files left behind after the removal"
}

# dpkg -i of both packages, the installed launcher run once on the host's runtime, dpkg --purge.
check_DebInstallAndPurge() {
  [[ $(id -u) -eq 0 ]] || skip "dpkg -i needs root"
  ! dpkg-query -W qs-launcher >/dev/null 2>&1 || skip "qs-launcher was installed before"
  local status=0
  dpkg -i "${deb}" "${ddeb}" || status=1
  man -w qs_launcher || status=1
  run_once host /usr/bin/qs_launcher || status=1
  dpkg --purge qs-launcher-dbgsym qs-launcher || status=1
  ((status == 0)) || fail "the package did not install, run or purge"
  [[ ! -e /usr/share/doc/qs-launcher ]] || fail "left behind: /usr/share/doc/qs-launcher"
  check_nothing_left "" "${deb}" "${ddeb}"
  echo "installed, ran, purged; nothing left behind"
}

# rpm -i of both rpms into an empty root, the launcher's without its dependencies (there are none
# there; another processor maybe), the debug package's with them: the launcher's package is what
# it needs. The installed launcher runs once on the host's runtime; rpm -e leaves only rpm's
# database.
check_RpmInstallAndErase() {
  [[ $(id -u) -eq 0 ]] || skip "rpm -i gives its files to root"
  local root=${work}/rpmroot rpm_root left
  rpm_root=(rpm --root "${root}" --dbpath /var/lib/rpm)
  mkdir -p "${root}"
  "${rpm_root[@]}" --initdb
  "${rpm_root[@]}" -i --nodeps --ignorearch "${rpm}"
  "${rpm_root[@]}" -i --ignorearch "${debuginfo}"
  "${rpm_root[@]}" -qa
  run_once host "${root}/usr/bin/qs_launcher"
  "${rpm_root[@]}" -e qs-launcher-debuginfo qs-launcher
  check_nothing_left "${root}" "${rpm}" "${debuginfo}"
  left=$(cd "${root}" && find . ! -type d ! -path './var/lib/rpm/*')
  [[ -z ${left} ]] || fail "left in the root: ${left}"
  echo "installed into an empty root, ran, erased; only rpm's database is left"
}

# A second build of the same source gives the same packages, byte for byte: a copy of the tree
# (uncommitted changes included) without .git and, as root, owned by another user, at a longer
# path, with its own copy of the sysroot, every file of it dated 2000-01-01, long before the
# changelog's date that dates the packages (an installed file keeps its source's time), another
# umask, time zone, locale and a clock 400 days ahead. No package holds either build's folder or
# sysroot.
check_Reproducible() {
  local copy=${work}/at/a/longer/path package status=0 path count=0
  mkdir -p "${copy}/build/sysroots"
  (cd "${source_dir}" && tar --exclude=./build --exclude=./.git -c .) | tar -x -C "${copy}"
  cp -a "${sysroot}" "${copy}/build/sysroots/"
  find "${copy}" -exec touch --no-dereference --date=2000-01-01T00:00:00Z {} +
  [[ $(id -u) -ne 0 ]] || chown -R nobody:nogroup "${copy}"
  (cd "${copy}" && umask 002 &&
    env -u SOURCE_DATE_EPOCH -u QS_SYSROOT_DIR TZ=UTC-14 LC_ALL=C.UTF-8 faketime -f +400d \
      bash -c "cmake --preset ${preset} && cmake --build --preset ${preset} --target \
        qs_launcher_packaged qs_launcher_man qs_launcher_changelog && cpack --preset ${preset}") \
    >"${work}/second.log" 2>&1 || {
    cat "${work}/second.log" >&2
    fail "the second build failed"
  }
  diff <(ls "${packages}") <(ls "${copy}/build/${preset}/packages") >&2 ||
    fail "the two builds wrote different sets of packages"
  for package in "${packages}"/*; do
    if cmp -s "${package}" "${copy}/build/${preset}/packages/${package##*/}"; then
      sha256sum "${package}"
    else
      echo "${package##*/}: the second build differs" >&2
      diffoscope --text - --max-text-report-size 200000 "${package}" \
        "${copy}/build/${preset}/packages/${package##*/}" >&2 || true
      status=1
    fi
  done
  for package in "${packages}"/* "${copy}/build/${preset}/packages"/*; do
    extract "${package}" "${work}/shipped/$((count += 1))"
  done
  for path in "${source_dir}" "${build_dir}" "${sysroot}" "${copy}"; do
    if grep -rlaF "${path}" "${work}/shipped" >&2; then
      echo "these packaged files hold the folder ${path}" >&2
      status=1
    fi
  done
  ((status == 0)) || fail "the packages are not reproducible"
  echo "a second build without git, at another path, owner, file times, umask, time zone," \
    "locale and clock gave byte-identical packages; none holds a build folder or a sysroot"
}

"check_${check}"
