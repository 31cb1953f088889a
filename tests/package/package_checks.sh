#!/usr/bin/env bash
# The checks of the packages of one release build; tests/package/CMakeLists.txt runs each as the
# ctest test package.CHECK. Exit status 77: the check cannot run here (ctest: skipped).
# Usage: package_checks.sh CHECK CONF   (CONF: package_checks.conf of the build)
# CHECK is a name, or NAME.SUITE for the checks that install the amd64 .deb into a whole Debian
# system of their own, never into the build machine (Piuparts, Deployment; see below).
set -euo pipefail
# One stream, so that ctest shows every message where it was written.
exec 2>&1
check=$1
# The whole-system checks run in a mount namespace of their own: the file systems mounted into a
# system (/proc, and piuparts' own) go with the check, even when it is killed.
if [[ ${check} == *.* && $(id -u) -eq 0 && -z ${QS_OWN_MOUNTS:-} ]]; then
  if ! unshare --mount true 2>/dev/null; then
    echo "skipped: no mount namespace of its own can be made here"
    exit 77
  fi
  QS_OWN_MOUNTS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
# shellcheck source=/dev/null
source "$2"
packages=${build_dir}/packages
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_package.XXXXXX")
trap 'rm -rf "${work}"' EXIT

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

# The highest versions of the runtime that any shipped ELF file may need: glibc 2.17 (the first
# for arm64), the libstdc++ of GCC 6.1 and the libgcc_s of GCC 6 on both processors (Debian 9;
# GCC_7.0.0 came with GCC 7).
ceilings=(GLIBC_2.17 GLIBCXX_3.4.22 CXXABI_1.3.9 GCC_4.7.0)

# The folders of the system itself, which its base package owns and erasing ours leaves
# (check_RpmInstallAndErase).
system_folders=(/usr /usr/bin /usr/lib /usr/lib/debug /usr/lib/debug/.build-id /usr/share
  /usr/share/doc /usr/share/licenses /usr/share/man /usr/share/man/man8)

# extract PACKAGE... DIR: the files of the packages under DIR; a package that cannot be read
# ends the check, whoever calls this.
extract() {
  local dir=${*: -1} package
  mkdir -p "${dir}"
  for package in "${@:1:$#-1}"; do
    case ${package} in
      *.rpm) rpm2cpio "${package}" |
        (cd "${dir}" && cpio -idm --quiet --no-absolute-filenames) ;;
      *) dpkg-deb -x "${package}" "${dir}" ;;
    esac || fail "cannot extract ${package}"
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

# weak_hardening CONTROL_FLOW_FLAG: reads "NAME FLAG..." lines (a compile's flags) and prints
# "NAME: FLAG..." for each line where a hardening flag is missing or undone, naming the flag
# that wins (the last of its family, as the compiler takes them) or "no <flag>". Families, and
# what must win:
#   -fstack-protector*, -fno-stack-protector        -fstack-protector-strong or -all
#   [-Wp,]-D_FORTIFY_SOURCE[=N], [-Wp,]-U_FORTIFY_SOURCE   [-Wp,]-D_FORTIFY_SOURCE=2 or =3
#   -f[no-]stack-clash-protection                   -fstack-clash-protection
#   amd64: -fcf-protection[=...]                    -fcf-protection or =full
#   arm64: -mbranch-protection=...                  -mbranch-protection=standard
#   -O[level]                                       any but -O0: fortify needs the optimiser
# For example (amd64):
#   a -O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection
#     -fcf-protection                                                                      ->
#   a -O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-all -fstack-clash-protection
#     -fcf-protection=full                                                                 ->
#   a -O2 -D_FORTIFY_SOURCE=2 -U_FORTIFY_SOURCE -fstack-protector-strong -fstack-protector
#     -fcf-protection=branch -O0             -> a: -fstack-protector -U_FORTIFY_SOURCE
#                                               no -fstack-clash-protection -fcf-protection=branch
#                                               -O0
# (hardening_cases below holds these and more, and check_compile_flags runs them first.)
weak_hardening() {
  awk -v control_flow="$1" '
    function family(flags, wins, missing) {
      n++; flags_of[n] = "^(" flags ")$"; wins_of[n] = "^(" wins ")$"; missing_of[n] = missing
    }
    BEGIN {
      family("-f(no-)?stack-protector(-[a-z]+)?", "-fstack-protector-(strong|all)",
             "-fstack-protector-strong")
      family("(-Wp,)?-[DU]_FORTIFY_SOURCE(=.*)?", "(-Wp,)?-D_FORTIFY_SOURCE=[23]",
             "-D_FORTIFY_SOURCE=2")
      family("-f(no-)?stack-clash-protection", "-fstack-clash-protection",
             "-fstack-clash-protection")
      if (control_flow ~ /^-fcf-protection/)
        family("-fcf-protection(=.*)?", "-fcf-protection(=full)?", control_flow)
      else
        family("-mbranch-protection=.*", "-mbranch-protection=standard", control_flow)
      family("-O([0-9]|s|z|g|fast)?", "-O([1-9]|s|z|g|fast)?", "-O2")
    }
    {
      split("", last)
      for (i = 2; i <= NF; i++)
        for (f = 1; f <= n; f++)
          if ($i ~ flags_of[f]) last[f] = $i
      weak = ""
      for (f = 1; f <= n; f++)
        if (!(f in last)) weak = weak " no " missing_of[f]
        else if (last[f] !~ wins_of[f]) weak = weak " " last[f]
      if (weak != "") print $1 ":" weak
    }'
}

# CONTROL_FLOW_FLAG|FLAGS|what weak_hardening prints for "case FLAGS". base: the three flags that
# both processors need.
base="-O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection"
hardening_cases=(
  "-fcf-protection|${base} -fcf-protection|"
  "-fcf-protection|-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3 -fstack-protector-all
    -fstack-clash-protection -fcf-protection=full|"
  "-fcf-protection|${base} -fcf-protection -fno-stack-protector -fno-stack-clash-protection
    -U_FORTIFY_SOURCE -fcf-protection=none|case: -fno-stack-protector -U_FORTIFY_SOURCE
    -fno-stack-clash-protection -fcf-protection=none"
  "-fcf-protection|-O2 -D_FORTIFY_SOURCE=2 -U_FORTIFY_SOURCE -fstack-protector-strong
    -fstack-protector -fcf-protection=branch -O0|case: -fstack-protector -U_FORTIFY_SOURCE
    no -fstack-clash-protection -fcf-protection=branch -O0"
  "-fcf-protection|-Os -D_FORTIFY_SOURCE=3 -D_FORTIFY_SOURCE=1 -fstack-protector-strong
    -fstack-protector-explicit -fno-stack-clash-protection -fstack-clash-protection
    -fcf-protection=return|case: -fstack-protector-explicit -D_FORTIFY_SOURCE=1
    -fcf-protection=return"
  "-fcf-protection|-D_FORTIFY_SOURCE -fno-stack-protector -fstack-protector-strong
    -fcf-protection=none -fcf-protection|case: -D_FORTIFY_SOURCE no -fstack-clash-protection
    no -O2"
  "-fcf-protection|-Wp,-D_FORTIFY_SOURCE=2 -O2 -fstack-protector-strong -fstack-clash-protection
    -fcf-protection|"
  "-fcf-protection|${base} -fcf-protection -Wp,-U_FORTIFY_SOURCE -O0 -Og|case:
    -Wp,-U_FORTIFY_SOURCE"
  "-fcf-protection|-O2|case: no -fstack-protector-strong no -D_FORTIFY_SOURCE=2
    no -fstack-clash-protection no -fcf-protection"
  "-mbranch-protection=standard|${base} -mbranch-protection=standard|"
  "-mbranch-protection=standard|${base} -mbranch-protection=standard
    -mbranch-protection=none|case: -mbranch-protection=none"
  "-mbranch-protection=standard|${base} -mbranch-protection=pac-ret|case:
    -mbranch-protection=pac-ret"
)

# Every compile of the launcher's own sources keeps the hardening flags whose effect the binary
# cannot show: fortify, the stack protector, stack-clash protection, and the architecture's
# control-flow protection (which check_endbr64 and check_branch_protection also find in the
# binary). hardening-check finds no fortified call in the binary: glibc swaps a call for its
# checking variant only where the compiler knows the destination's size but cannot prove the
# call safe, and the launcher's read() and poll() are proven safe while its memcpy, memmove and
# memset write into memory whose size is only known at run time.
check_compile_flags() {
  local database=${build_dir}/compile_commands.json row flag flags expected got compiles count weak
  for row in "${hardening_cases[@]}"; do
    IFS='|' read -r flag flags expected <<<"$(tr -s '\n ' ' ' <<<"${row}")"
    expected=${expected% }
    got=$(weak_hardening "${flag}" <<<"case ${flags}")
    [[ ${got} == "${expected}" ]] ||
      fail "weak_hardening ${flag} on '${flags}': '${got}', expected '${expected}'"
  done
  # compile_commands.json as CMake writes it: "command" comes before "file" in each entry.
  compiles=$(awk -v src="${source_dir}/src/" '
    /^ *"command": / { command = $0; sub(/^ *"command": "/, "", command) }
    /^ *"file": / { file = $2; gsub(/[",]/, "", file)
                    if (index(file, src) == 1) print substr(file, length(src) - 3), command }' \
    "${database}") || fail "cannot read ${database}"
  count=$(grep -c . <<<"${compiles}" || true)
  ((count > 0)) || fail "no compile of src/ in ${database}"
  weak=$(weak_hardening "${control_flow_flag}" <<<"${compiles}")
  [[ -z ${weak} ]] || fail "compiled with a hardening flag missing or undone:"$'\n'"${weak}"
  echo "all ${count} compiles under src/ end with -D_FORTIFY_SOURCE=2, -fstack-protector-strong," \
    "-fstack-clash-protection and ${control_flow_flag} in force"
}

# our_functions TYPES: the names of the functions defined in the objects compiled from src/,
# whose nm type matches the regular expression TYPES (t, T: file-local or global text; W: weak).
# They are looked up in the built launcher, which the packaged one is stripped from (same build
# id).
our_functions() {
  find "${build_dir}/src" -name '*.o' -exec nm --defined-only {} + |
    awk -v types="$1" '$2 ~ types {print $3}' | sort -u
}

# disassembly: the built launcher's code, read by the build's objdump.
disassembly() {
  "${objdump}" -d --no-show-raw-insn "${built_launcher}" >"${work}/disassembly" ||
    fail "${objdump} cannot read ${built_launcher}"
}

# amd64: every function of ours that is not local to its file begins with endbr64, the landing
# pad of an indirect call or jump under IBT; a file-local one whose address is never taken may
# lack it.
check_endbr64() {
  local ours missing marked
  ours=$(our_functions '^[TW]$') || fail "cannot list the functions of ${build_dir}/src"
  disassembly
  missing=$(awk -v ours="${ours}" '
    BEGIN { split(ours, names, "\n"); for (i in names) mine[names[i]] = 1 }
    /^[0-9a-f]+ <.*>:$/ { name = substr($2, 2, length($2) - 3); entry = name in mine; next }
    entry && /^ +[0-9a-f]+:\t/ { if (/:\tendbr64/) marked++; else print name; entry = 0 }
    END { print marked + 0 > "/dev/stderr" }' "${work}/disassembly" 2>"${work}/marked")
  [[ -z ${missing} ]] || fail "functions of ours that do not begin with endbr64: ${missing}"
  marked=$(<"${work}/marked")
  ((marked > 0)) || fail "no function of ours begins with endbr64"
  echo "${marked} functions of ours that are not file-local begin with endbr64"
}

# arm64: every function of ours that saves its return address signs it on entry (paciasp);
# leaf functions save nothing and need not.
check_branch_protection() {
  local ours unsigned signed leaf
  ours=$(our_functions '^[tTwW]$') || fail "cannot list the functions of ${build_dir}/src"
  disassembly
  unsigned=$(awk -v ours="${ours}" '
    BEGIN { split(ours, names, "\n"); for (i in names) mine[names[i]] = 1 }
    function finish() {
      if (name in mine) { if (saves && !signs) print name; else if (saves) signed++; else leaf++ }
    }
    /^[0-9a-f]+ <.*>:$/ { finish(); name = substr($2, 2, length($2) - 3); saves = signs = 0 }
    /\tpaciasp/ { signs = 1 }
    /\t(stp|str)\t.*x30/ { saves = 1 }
    END { finish(); printf "signed %d leaf %d\n", signed, leaf > "/dev/stderr" }' \
    "${work}/disassembly" 2>"${work}/counts")
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
  case ${processor} in
    x86_64) check_endbr64 ;;
    aarch64) check_branch_protection ;;
  esac
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
  # The debuginfo rpm provides the build id, which dnf debuginfo-install looks for, and owns the
  # folder of its debug file, so that erasing it removes that folder.
  rpm -qp --provides "${debuginfo}" | tee "${work}/provides"
  grep -qxF "debuginfo(build-id) = ${id}" "${work}/provides" ||
    fail "the debuginfo rpm does not provide debuginfo(build-id) = ${id}"
  rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "${debuginfo}" >"${work}/owned"
  grep -qxF "drwxr-xr-x /${debug%/*}" "${work}/owned" ||
    fail "the debuginfo rpm does not own the folder /${debug%/*}"
  echo "same files and launcher (build id ${id}) in both families; stripped, debug file in both" \
    "debug packages, the debuginfo rpm provides its build id and owns its folder; DT_NEEDED has" \
    "both closed libraries; no RUNPATH"
}

# Every shipped ELF file needs at most the ceilings' versions of the C and C++ runtimes and of
# libgcc_s, and nothing private to glibc. A row per ELF file, with its highest need of each
# family; a FAIL line after it for each need out of bounds. Both launchers must have been read
# and show their GLIBC needs: a readelf that reads nothing must not pass.
check_VersionNeeds() {
  local file name needs family highest ceiling problems read=0 launchers=0 over=0
  extract "${deb}" "${ddeb}" "${work}/root/deb"
  extract "${rpm}" "${debuginfo}" "${work}/root/rpm"
  find "${work}/root" -type f -print0 | sort -z >"${work}/files"
  while IFS= read -r -d '' file; do
    [[ $(od -An -tx1 -N4 "${file}") == ' 7f 45 4c 46' ]] || continue
    name=${file#"${work}/root/"}
    needs=$(read_elf -V --wide "${file}" | awk '$2 == "Name:" {print $3}' | sort -uV) ||
      fail "${readelf} cannot read ${name}"
    ((read += 1))
    problems=()
    printf '%s:' "${name}"
    for ceiling in "${ceilings[@]}"; do
      family=${ceiling%_*}
      highest=$(grep "^${family}_[0-9]" <<<"${needs}" | tail -n 1 || true)
      printf ' %s' "${highest:-no ${family}}"
      if [[ -n ${highest} && $(printf '%s\n' "${highest}" "${ceiling}" | sort -V | tail -n 1) != "${ceiling}" ]]; then
        problems+=("${name} needs ${highest}, above the ceiling ${ceiling}")
      fi
    done
    echo
    ! grep -qx 'GLIBC_PRIVATE' <<<"${needs}" || problems+=("${name} needs GLIBC_PRIVATE")
    if [[ ${name} == @(deb|rpm)/usr/bin/qs_launcher ]]; then
      ((launchers += 1))
      grep -q '^GLIBC_[0-9]' <<<"${needs}" || problems+=("${name} shows no GLIBC need")
    fi
    if ((${#problems[@]} > 0)); then
      printf 'FAIL: %s\n' "${problems[@]}"
      over=1
    fi
  done <"${work}/files"
  echo "${read} ELF files read"
  ((launchers == 2)) || fail "read ${launchers} of the 2 launchers (the .deb's and the .rpm's)"
  ((over == 0)) ||
    fail "version needs out of bounds or unread (ceilings ${ceilings[*]}, no GLIBC_PRIVATE)"
}

# lintian and rpmlint: no error and no warning, but rpmlint's missing signature (the publisher
# signs); packaging/rpmlint.toml states the project's choices and filters what must stay. rpmlint
# must finish: exit status 0, or 64 (errors found) when its only errors are no-signature, and a
# summary that counts the same. mandoc: no message on the manual page.
check_Lint() {
  local status=0 unexpected summary errors warnings unsigned
  lintian --fail-on error,warning "${deb}" "${ddeb}"
  echo "lintian: no error, no warning"
  rpmlint -c "${source_dir}/packaging/rpmlint.toml" "${rpm}" "${debuginfo}" >"${work}/rpmlint" \
    2>&1 || status=$?
  cat "${work}/rpmlint"
  unexpected=$(grep -E ': [EW]: ' "${work}/rpmlint" | grep -vE ': E: no-signature$' || true)
  [[ -z ${unexpected} ]] || fail "rpmlint reports:"$'\n'"${unexpected}"
  summary=$(grep -E '^ *2 packages and 0 specfiles checked; ' "${work}/rpmlint") ||
    fail "rpmlint (exit status ${status}) did not finish checking the 2 rpms"
  [[ ${summary} =~ \ ([0-9]+)\ errors,\ ([0-9]+)\ warnings ]] ||
    fail "rpmlint's summary counts no errors and warnings: ${summary}"
  errors=${BASH_REMATCH[1]} warnings=${BASH_REMATCH[2]}
  unsigned=$(grep -cE ': E: no-signature$' "${work}/rpmlint" || true)
  ((warnings == 0 && errors == unsigned)) ||
    fail "rpmlint counts ${errors} errors and ${warnings} warnings;" \
      "${unsigned} errors are no-signature"
  [[ ${status} -eq 0 && ${errors} -eq 0 || ${status} -eq 64 && ${errors} -gt 0 ]] ||
    fail "rpmlint exited with status ${status} after ${errors} errors"
  echo "rpmlint: no warning; no error but ${unsigned}: no-signature"
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

# rpm_on ROOT ARG...: rpm on that root, its database where the system's own rpm keeps it (Debian's
# rpm keeps its own under $HOME), which zypper on that root reads too.
rpm_on() {
  rpm --root "$1" --dbpath /var/lib/rpm "${@:2}"
}

# nothing_left ROOT: ROOT was empty before rpm installed into it, so any file, link or folder left
# after the erase, but rpm's database and the system's folders, is the packages'.
nothing_left() {
  local left
  (cd "$1" && find . -mindepth 1 ! -path ./var ! -path ./var/lib ! -path ./var/lib/rpm \
    ! -path './var/lib/rpm/*') >"${work}/left" || fail "cannot list $1"
  left=$(sed 's#^\.##' "${work}/left" | grep -vxF -f <(printf '%s\n' "${system_folders[@]}") ||
    true)
  [[ -z ${left} ]] || fail "left in the root after the erase:"$'\n'"${left}"
}

# rpm -i of both rpms into an empty root, the launcher's without its dependencies (there are none
# there; another processor maybe), the debug package's with them: the launcher's package is what
# it needs. The installed launcher runs once on the host's runtime; rpm -e leaves only rpm's
# database and the folders rpm made for the packages' files, which a system owns itself.
check_RpmInstallAndErase() {
  [[ $(id -u) -eq 0 ]] || skip "rpm -i gives its files to root"
  local root=${work}/rpmroot
  mkdir -p "${root}"
  rpm_on "${root}" --initdb
  rpm_on "${root}" -i --nodeps --ignorearch "${rpm}"
  rpm_on "${root}" -i --ignorearch "${debuginfo}"
  rpm_on "${root}" -qa
  run_once host "${root}/usr/bin/qs_launcher"
  rpm_on "${root}" -e qs-launcher-debuginfo qs-launcher
  nothing_left "${root}"
  echo "installed into an empty root, ran, erased; only rpm's database and the system's" \
    "folders are left"
}

# other_file_system DIR: a folder to work in on another kind of file system than DIR's (a tmpfs
# where DIR is on disk, a disk where DIR is on a tmpfs), from the usual places for scratch files.
other_file_system() {
  local kind candidate
  kind=$(stat -f -c %T "$1")
  for candidate in "${TMPDIR:-/tmp}" /dev/shm /var/tmp "${build_dir}"; do
    if [[ -d ${candidate} && -w ${candidate} && $(stat -f -c %T "${candidate}") != "${kind}" ]]; then
      mktemp -d "${candidate}/qs_package.XXXXXX"
      return
    fi
  done
  fail "no folder on another kind of file system than ${1}'s (${kind}) for the second build:" \
    "none of ${TMPDIR:-/tmp}, /dev/shm, /var/tmp"
}

# A second build of the same source gives the same packages, byte for byte: a copy of the tree
# (uncommitted changes included) without .git and, as root, owned by another user, at a longer
# path on another kind of file system than the first build's (a tmpfs gives its folders no size,
# ext4 4 KiB each), with its own copy of the sysroot, every file of it dated 2000-01-01, long before the
# changelog's date that dates the packages (an installed file keeps its source's time), another
# umask, time zone, locale and a clock 400 days ahead. No package holds either build's folder or
# sysroot. The second build is the packages-only workflow (package, package-arm64), so that its
# packages are shown to be the release workflow's too.
check_Reproducible() {
  local copy package status=0 path count=0
  # Not local: the trap that removes it runs after the function.
  second=$(other_file_system "${build_dir}") || exit 1
  copy=${second}/at/a/longer/path
  trap 'rm -rf "${work}" "${second}"' EXIT
  echo "the first build on $(stat -f -c %T "${build_dir}"), the second on" \
    "$(stat -f -c %T "${second}") (${second})"
  mkdir -p "${copy}/build/sysroots"
  (cd "${source_dir}" && tar --exclude=./build --exclude=./.git -c .) | tar -x -C "${copy}"
  cp -a "${sysroot}" "${copy}/build/sysroots/"
  find "${copy}" -exec touch --no-dereference --date=2000-01-01T00:00:00Z {} +
  [[ $(id -u) -ne 0 ]] || chown -R nobody:nogroup "${copy}"
  (cd "${copy}" && umask 002 &&
    env -u SOURCE_DATE_EPOCH -u QS_SYSROOT_DIR TZ=UTC-14 LC_ALL=C.UTF-8 faketime -f +400d \
      cmake --workflow --preset "${preset/release/package}") \
    >"${work}/second.log" 2>&1 || {
    cat "${work}/second.log" >&2
    fail "the second build failed"
  }
  # Each generator's step says where SOURCE_DATE_EPOCH came from: the changelog, for both.
  [[ $(grep -c 'packages dated [0-9]* (SOURCE_DATE_EPOCH, from the changelog' \
    "${work}/second.log") -eq 2 ]] || {
    grep 'packages dated' "${work}/second.log" >&2
    fail "the second build's generators do not both date the packages from the changelog"
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
  echo "a second build without git, on another kind of file system, at another path, owner," \
    "file times, umask, time zone, locale and clock gave byte-identical packages; none holds a build folder or a sysroot"
}

# shellcheck source=../../scripts/lib/release_record.sh
source "${source_dir}/scripts/lib/release_record.sh"

# as_released VERSION PACKAGE...: each package is the one that the record holds for VERSION,
# a line each; fails when one is not.
as_released() {
  local package name expected got status=0
  for package in "${@:2}"; do
    name=${package##*/}
    expected=$(recorded "${source_dir}/packaging/releases" "$1" sha256 |
      awk -v name="${name}" '$2 == name {print $1}')
    got=$(sha256sum <"${package}" | cut -d' ' -f1)
    if [[ -z ${expected} ]]; then
      echo "${name}: release $1 records no such package" >&2
      status=1
    elif [[ ${got} != "${expected}" ]]; then
      echo "${name}: sha256 ${got}, but release $1 is ${expected}" >&2
      status=1
    else
      echo "${name}: ${got}, as released"
    fi
  done
  return "${status}"
}

# tools_differ VERSION: the tools of this machine whose versions are not those that VERSION was
# released with, as "recorded:" and "here:" lines; nothing when all are.
tools_differ() {
  (diff <(recorded "${source_dir}/packaging/releases" "$1" tool | sed 's/^/tool /') \
    <(release_tools "${source_dir}") || true) |
    sed -n 's/^< tool /  recorded: /p; s/^> tool /  here:     /p'
}

# A recorded release has one set of bytes: each package of this build is the one that
# packaging/releases holds for the tree's version. A version not yet recorded passes. On a
# difference, the tools recorded and this machine's tell a change of the tree (move the version)
# from a toolchain update (named).
check_ReleasedBytes() {
  local record=${source_dir}/packaging/releases tools
  if [[ -z $(recorded "${record}" "${version}" commit) ]]; then
    echo "${version} is not a recorded release (packaging/releases): no bytes to compare with"
    return
  fi
  ! as_released "${version}" "${deb}" "${ddeb}" "${rpm}" "${debuginfo}" || return 0
  tools=$(tools_differ "${version}")
  if [[ -z ${tools} ]]; then
    fail "the packages of ${version} differ from its release, built with the tools recorded:" \
      "this change alters what the packages hold, so it must move the version (a new release," \
      "doc/packaging.md)"
  fi
  fail "the packages of ${version} differ from its release, and these tools differ from the" \
    "recorded ones:"$'\n'"${tools}"$'\n'"If only the tools changed, the recorded bytes stand and the recorded tools give them;" \
    "otherwise the change must move the version"
}

# Every field that names the version agrees with project(): the .deb's and the .ddeb's, the
# .ddeb's exact dependency on its package, both rpms', the debuginfo rpm's exact Requires, the
# newest entry of the shipped changelog in both families and of the rpm's %changelog.
check_Versions() {
  local row what command got expected isa status=0
  # rpm's name of the architecture in a dependency on it, %{_isa}.
  case ${processor} in
    x86_64) isa=x86-64 ;;
    aarch64) isa=aarch-64 ;;
  esac
  extract "${deb}" "${work}/deb"
  extract "${rpm}" "${work}/rpm"
  # What|command|the text it must print: the command is what lies between the first | and the
  # last.
  local rows=(
    ".deb Version|dpkg-deb -f '${deb}' Version|${version}"
    ".ddeb Version|dpkg-deb -f '${ddeb}' Version|${version}"
    ".ddeb Depends|dpkg-deb -f '${ddeb}' Depends|qs-launcher (= ${version})"
    ".deb changelog, newest entry|zcat '${work}/deb/usr/share/doc/qs-launcher/changelog.gz' | dpkg-parsechangelog -l - -S Version|${version}"
    ".rpm changelog, newest entry|zcat '${work}/rpm/usr/share/doc/qs-launcher/changelog.gz' | dpkg-parsechangelog -l - -S Version|${version}"
    ".rpm Version|rpm -qp --qf '%{VERSION}' '${rpm}'|${version}"
    "debuginfo rpm Version|rpm -qp --qf '%{VERSION}' '${debuginfo}'|${version}"
    "debuginfo rpm Requires|rpm -qp --requires '${debuginfo}' | grep '^qs-launcher'|qs-launcher(${isa}) = ${version}-1"
    ".rpm %changelog, newest entry|rpm -qp --changelog '${rpm}' | head -n 1 | sed 's/.* - //'|${version}-1"
  )
  for row in "${rows[@]}"; do
    what=${row%%|*} expected=${row##*|} command=${row#*|}
    command=${command%|*}
    got=$(eval "${command}" 2>&1) || true
    if [[ ${got} == "${expected}" ]]; then
      echo "${what}: ${got}"
    else
      echo "${what}: '${got}', but project() gives '${expected}'" >&2
      status=1
    fi
  done
  ((status == 0)) || fail "fields that name the version disagree with project() (${version})"
}

# The repository checks' material, kept in the build folder from one check to the next (ctest
# fixtures): the previous release's packages, rebuilt from its recorded commit, and a repository
# of that release and the tree's version.
previous_dir=${build_dir}/previous-release
repository_dir=${build_dir}/repository
repository=${repository_dir}/out
# The keyring of the repository's key, and of another key, which no host trusts, for the faults
# (its fingerprint in ${repository_dir}/other-key).
keyring=${repository_dir}/gnupg

# The release before the tree's version: the newest recorded one that is not the tree's.
previous_version() {
  awk '$2 == "commit" {print $1}' "${source_dir}/packaging/releases" | grep -vxF "${version}" |
    sort -V | tail -n 1
}

# The previous release's packages of this architecture, built from its recorded commit with the
# packages-only workflow in an exported tree, with its own copy of the sysroot; each must be the
# recorded one. A commit that is not in this clone fails the check, saying so.
check_PreviousRelease() {
  local previous commit tree tools
  previous=$(previous_version)
  [[ -n ${previous} ]] || fail "packaging/releases records no release before ${version}"
  commit=$(recorded "${source_dir}/packaging/releases" "${previous}" commit)
  git -C "${source_dir}" cat-file -e "${commit}^{commit}" 2>/dev/null ||
    fail "commit ${commit} of release ${previous} is not in ${source_dir}: the previous" \
      "release cannot be built; fetch that commit (a clone with the whole history holds it)"
  rm -rf "${previous_dir}"
  tree=${previous_dir}/tree
  mkdir -p "${tree}/build/sysroots"
  git -C "${source_dir}" archive "${commit}" | tar -x -C "${tree}"
  cp -a "${sysroot}" "${tree}/build/sysroots/"
  echo "release ${previous}: building commit ${commit}"
  (cd "${tree}" && env -u SOURCE_DATE_EPOCH -u QS_SYSROOT_DIR \
    cmake --workflow --preset "${preset/release/package}") >"${previous_dir}/build.log" 2>&1 || {
    tail -n 40 "${previous_dir}/build.log" >&2
    fail "the packages-only workflow of commit ${commit} failed"
  }
  mv "${tree}/build/${preset}/packages" "${previous_dir}/packages"
  rm -rf "${tree}"
  as_released "${previous}" "${previous_dir}/packages"/* && return
  tools=$(tools_differ "${previous}")
  [[ -n ${tools} ]] ||
    fail "commit ${commit} does not give the packages of release ${previous}, with its tools"
  # Other tools give other bytes, and the release's own cannot be had here any more: its rebuild
  # stands in for it, so that a toolchain update does not stop the repository checks.
  echo "these tools differ from those of release ${previous}, so its rebuild stands in for it:"
  echo "${tools}"
}

# gpg in the repository checks' keyring, with no agent left behind.
test_gpg() {
  GNUPGHOME=${keyring} gpg --batch --quiet "$@"
}
stop_gpg_agent() {
  GNUPGHOME=${keyring} gpgconf --kill gpg-agent 2>/dev/null || true
}

# fingerprint KEYRING NAME: the fingerprint of the key NAME in KEYRING.
fingerprint() {
  GNUPGHOME=$1 gpg --batch --with-colons --list-keys "$2" 2>/dev/null |
    awk -F: '$1 == "fpr" {print $10; exit}'
}

# test_key NAME: makes a throwaway RSA-4096 signing key of a year in that keyring and prints its
# fingerprint.
test_key() {
  test_gpg --passphrase '' --pinentry-mode loopback \
    --quick-gen-key "$1 <qs-launcher-test@example.invalid>" rsa4096 sign 1y
  fingerprint "${keyring}" "$1"
}

# own_keyring: a copy of the keyring in the scratch folder, for a check that signs: the checks
# run two at a time, and each stops its own agent when it ends.
own_keyring() {
  cp -a "${keyring}" "${work}/gnupg"
  rm -f "${work}/gnupg"/S.*
  keyring=${work}/gnupg
}

# The repository as a publisher makes it: the previous release first, then the tree's version
# added to it, signed with a throwaway key.
check_RepositoryMade() {
  local key release published
  rm -rf "${repository_dir}"
  mkdir -p -m 0700 "${keyring}"
  trap 'stop_gpg_agent; rm -rf "${work}"' EXIT
  key=$(test_key "qs-launcher test") || fail "cannot make a throwaway key"
  # Another key, which hosts do not trust, for the checks' faults.
  test_key "qs-launcher other" >"${repository_dir}/other-key" || fail "cannot make a second key"
  for release in "${previous_dir}/packages"/* "${packages}"/*; do
    [[ -f ${release} ]] || fail "no packages of the previous release in ${previous_dir}"
  done
  GNUPGHOME=${keyring} QS_SIGNING_KEY=${key} \
    "${source_dir}/scripts/make_repository.sh" "${repository}" \
    "${previous_dir}/packages"/* || fail "make_repository.sh of the previous release"
  GNUPGHOME=${keyring} QS_SIGNING_KEY=${key} \
    "${source_dir}/scripts/make_repository.sh" "${repository}" "${packages}"/* ||
    fail "make_repository.sh of ${version}"
  echo "${key}" >"${repository_dir}/key"
  (cd "${repository}" && find . -type f -printf '%10s %P\n' | sort -k2)
  # The verification recipe for packages taken from the repository: a .deb is the file as built,
  # a signed rpm has the built one's main header, though not its bytes.
  for release in "${packages}"/*; do
    published=$(find "${repository}" -name "${release##*/}")
    case ${release} in
      *.rpm)
        ! cmp -s "${release}" "${published}" || fail "${published} is not signed"
        [[ $(rpm -qp --nosignature --qf '%{SHA256HEADER}' "${release}") == \
          $(rpm -qp --nosignature --qf '%{SHA256HEADER}' "${published}") ]] ||
          fail "${published}: its main header is not the built package's"
        ;;
      *) cmp "${release}" "${published}" || fail "${published} is not the package as built" ;;
    esac
  done
  echo "published .deb and .ddeb as built; each signed rpm has the built one's main header"
}

# What make_repository.sh refuses, before it writes anything: weak keys, a key it cannot use and
# packages the repository does not hold. Each row, a case and the refusal it must print, runs on a
# copy of the checks' repository, which must be as it was after. Keys of their own keyring.
# what|QS_SIGNING_KEY: a key made now ("ALGO EXPIRY [gpg options]"), a fingerprint, or empty|
#   packages (the build's, or made by bad_package)|the message, an extended regular expression
repository_refusals=(
  "an RSA key of 2048 bits|rsa2048 1y|deb|the primary key is RSA of 2048 bits, under 3072"
  "a DSA key|dsa3072 1y|deb|the primary key is DSA"
  "a key expiring within 90 days|rsa3072 89d|deb|the primary key expires on .*, within 90 days"
  "a SHA-1 self-signature|rsa3072 1y --cert-digest-algo SHA1|deb|self-signature .* made with SHA-1"
  "a key not in the keyring|0123456789ABCDEF0123456789ABCDEF01234567|deb|no such key in"
  "no key named||deb|not the 40 hex digits of a key's fingerprint"
  "a missing package|publisher|missing|missing.deb: no such file, or not readable"
  "a package of another name|publisher|other-name|package other is none of qs-launcher"
  "a package of another architecture|publisher|other-arch|architecture i386 is none of amd64 arm64"
  "the same version with other bytes|publisher|other-bytes|refused, .* has other contents than"
)

# bad_package KIND: a package file for a row of repository_refusals, in the scratch folder.
bad_package() {
  local tree=${work}/bad/$1 control
  case $1 in
    deb) echo "${deb}" ;;
    missing) echo "${work}/missing.deb" ;;
    *)
      rm -rf "${tree}"
      mkdir -p "${tree%/*}"
      dpkg-deb -R "${deb}" "${tree}"
      control=${tree}/DEBIAN/control
      case $1 in
        other-name) sed -i 's/^Package: .*/Package: other/' "${control}" ;;
        other-arch) sed -i 's/^Architecture: .*/Architecture: i386/' "${control}" ;;
        other-bytes) sed -i 's/^Section: .*/Section: utils/' "${control}" ;;
      esac
      dpkg-deb --root-owner-group -b "${tree}" "${work}/bad/$1.deb" >/dev/null
      echo "${work}/bad/$1.deb"
      ;;
  esac
}

# tree_state DIR: the names, sizes, modes, times and contents of what DIR holds.
tree_state() {
  (cd "$1" && find . -printf '%P %s %m %T@\n' | sort && find . -type f -exec sha256sum {} + | sort)
}

check_RepositoryRefusals() {
  local row what key packages expected weak_keys=${work}/keyring out=${work}/out before got
  mkdir -m 0700 "${weak_keys}"
  trap "GNUPGHOME='${weak_keys}' gpgconf --kill gpg-agent; stop_gpg_agent; rm -rf '${work}'" EXIT
  own_keyring
  cp -a "${repository}" "${out}"
  before=$(tree_state "${out}")
  GNUPGHOME=${keyring} gpg --batch --export-secret-keys "$(<"${repository_dir}/key")" |
    GNUPGHOME=${weak_keys} gpg --batch --quiet --import
  for row in "${repository_refusals[@]}"; do
    IFS='|' read -r what key packages expected <<<"${row}"
    case ${key} in
      publisher) key=$(<"${repository_dir}/key") ;;
      [a-z]*\ *)
        # shellcheck disable=SC2086 # the row's algorithm, expiry and options
        set -- ${key}
        GNUPGHOME=${weak_keys} gpg --batch --quiet --passphrase '' --pinentry-mode loopback \
          "${@:3}" --quick-gen-key "${what} <t@example.invalid>" "$1" sign "$2" ||
          fail "${what}: gpg cannot make the key"
        key=$(fingerprint "${weak_keys}" "${what}")
        ;;
    esac
    if got=$(GNUPGHOME=${weak_keys} QS_SIGNING_KEY=${key} "${source_dir}/scripts/make_repository.sh" \
      "${out}" "$(bad_package "${packages}")" 2>&1); then
      fail "${what}: make_repository.sh published it:"$'\n'"${got}"
    fi
    grep -qE -- "${expected}" <<<"${got}" ||
      fail "${what}: make_repository.sh refused, but not with '${expected}':"$'\n'"${got}"
    [[ $(tree_state "${out}") == "${before}" ]] ||
      fail "${what}: refused, but the repository changed"
    echo "${what}: ${got##*$'\n'}"
  done
}

# copy_repository NAME FAULT: a copy of the repository in ${work}/NAME whose sources files name the
# copy, with FAULT, a command run in the copy, done to it.
copy_repository() {
  cp -a "${repository}" "${work}/$1"
  sed -i "s#${repository}#${work}/$1#" "${work}/$1/qs-launcher".{repo,sources}
  (cd "${work}/$1" && eval "$2") || fail "cannot make the repository '$1'"
}

# read_cases "CLIENT..." ROW...: each client reads a copy of the repository made for each row,
# NAME|FAULT|the versions it must list (none: it refuses the repository). CLIENT_versions DIR
# prints the versions of qs-launcher that the client lists from the copy at DIR, and lets the
# client's own messages through to the output.
read_cases() {
  local row name fault expected client got status=0
  for row in "${@:2}"; do
    IFS='|' read -r name fault expected <<<"${row}"
    copy_repository "${name}" "${fault}"
    for client in $1; do
      echo "-- ${client}, repository ${name}${fault:+ (${fault})}"
      got=$("${client}_versions" "${work}/${name}" | sort -V | paste -sd' ')
      if [[ ${got} == "${expected}" ]]; then
        echo "-- ${client}, repository ${name}: lists '${got}'"
      else
        echo "FAIL: ${client}, repository ${name}: lists '${got}', expected '${expected}'"
        status=1
      fi
    done
  done
  ((status == 0)) || fail "a client read the repository wrongly"
}

# dnf and zypper as a host sets them up, from the published .repo file, each on a root of its own;
# the architecture is the build's, whatever the host's.
dnf_versions() {
  local root=${work}/dnf-${1##*/}
  # -y: dnf imports the key that the .repo file names (gpgkey=) to check repomd.xml with.
  dnf -y -q --installroot="${root}" --setopt=reposdir="$1" --setopt=cachedir="${root}/cache" \
    --setopt=skip_if_unavailable=False --forcearch="${processor}" --releasever=1 \
    repoquery --qf '%{version}-%{release}' qs-launcher || true
}
zypper_versions() {
  local root=${work}/zypper-${1##*/}
  local zypper=(zypper --non-interactive --root "${root}")
  mkdir -p "${root}"
  # zypper trusts the keys in the root's rpm database: the published key goes there, as a host
  # imports it, rather than the copy that the repository offers beside repomd.xml, which
  # --gpg-auto-import-keys would take from whoever serves it.
  rpm_on "${root}" --import "${repository}/qs-launcher.asc"
  # The baseurl is a path on the host: zypper does not prefix a file: URL with its root.
  "${zypper[@]}" --quiet addrepo --gpgcheck-strict "$1/qs-launcher.repo" >&2
  "${zypper[@]}" refresh >&2 || true
  { "${zypper[@]}" --quiet search -s qs-launcher || true; } | tee /dev/stderr |
    awk -F' *[|] *' '$2 == "qs-launcher" {print $4}'
}

# A host of an rpm-based system trusts the repository through the published key alone. rpm
# verifies every rpm of this build's architecture by it with a SHA-256 or stronger digest, and
# refuses one signed by another key or none; requiring signatures, it installs the previous
# release, upgrades to the tree's version, goes back, and erases it leaving nothing. dnf and zypper,
# set up from the published .repo file, list both versions, and refuse the repository when
# repomd.xml was altered after signing or its signature is missing.
# Not shown: what the rpm, dnf and zypper of RHEL, Fedora or SUSE, under their crypto policies,
# accept (these are Debian's), nor an install whose dependencies a system's C library satisfies.
check_RpmRepository() {
  [[ $(id -u) -eq 0 ]] || skip "rpm -i gives its files to root"
  local root=${work}/rpmroot signed=${repository}/rpm/${processor} metadata previous keyid
  local verified install package status step how release installed other
  previous=$(previous_version)
  keyid=$(<"${repository_dir}/key")
  keyid=${keyid: -8}
  other=$(<"${repository_dir}/other-key")
  trap 'stop_gpg_agent; rm -rf "${work}"' EXIT
  own_keyring
  cp "${rpm}" "${work}/other.rpm"
  GNUPGHOME=${keyring} rpmsign --addsign --define "_gpg_name ${other}" \
    --define "__gpg $(command -v gpg)" "${work}/other.rpm" </dev/null ||
    fail "rpmsign with another key"
  # A root that knows the published key and no other.
  mkdir -p "${root}"
  rpm_on "${root}" --import "${repository}/qs-launcher.asc"
  verified=(rpm_on "${root}" --define '_pkgverify_level signature')
  for package in "${signed}"/*.rpm "${rpm}" "${work}/other.rpm"; do
    status=0
    "${verified[@]}" -Kv "${package}" >"${work}/checksig" 2>&1 || status=$?
    cat "${work}/checksig"
    if [[ ${package} == "${signed}"/* ]]; then
      ((status == 0)) &&
        grep -qE "/SHA(256|384|512) Signature, key ID ${keyid,,}: OK" "${work}/checksig" ||
        fail "rpm does not verify ${package##*/} by the repository's key with SHA-256 or stronger"
    else
      ((status != 0)) || fail "rpm accepts ${package}, which the repository's key did not sign"
    fi
  done
  # --nodeps: the root has no system, so nothing provides the C library the launcher requires.
  install=("${verified[@]}" --nodeps)
  [[ ${processor} == $(uname -m) ]] || install+=(--ignorearch)
  for step in "-i|${previous}" "-U|${version}" "-U --oldpackage|${previous}"; do
    IFS='|' read -r how release <<<"${step}"
    # shellcheck disable=SC2086 # how: rpm's options
    "${install[@]}" ${how} "${signed}/qs-launcher-${release}-1.${processor}.rpm" ||
      fail "rpm ${how} of ${release}"
    installed=$(rpm_on "${root}" -q qs-launcher)
    echo "rpm ${how} of ${release}: ${installed} installed"
    [[ ${installed} == "qs-launcher-${release}-1.${processor}" ]] || fail "not ${release}"
  done
  ! "${install[@]}" -U "${rpm}" ||
    fail "rpm installed ${rpm##*/}, which is not signed, though it requires a signature"
  rpm_on "${root}" -e qs-launcher
  nothing_left "${root}"
  # zypper takes the architecture from libzypp's configuration: zypper's own (--config) has none.
  printf '[main]\narch = %s\n' "${processor}" >"${work}/zypp.conf"
  export ZYPP_CONF=${work}/zypp.conf
  metadata=rpm/${processor}/repodata/repomd.xml
  read_cases "dnf zypper" "made||${previous}-1 ${version}-1" \
    "altered|echo >>${metadata}|" "unsigned|rm ${metadata}.asc|"
  echo "rpm verified the ${processor} rpms by the published key and refused the unsigned and the" \
    "other key's; installed ${previous}, upgraded, went back, erased; dnf and zypper listed both" \
    "versions and refused an altered or unsigned repomd.xml"
}

# apt_in DIR TOOL ARG...: apt-get or apt-cache with all its state in DIR, for ${arch} alone,
# reading only the sources in DIR/sources. It fetches as root: its own user (_apt) cannot reach
# the scratch folder, which is root's alone.
apt_in() {
  "$2" -o Dir="$1" -o Dir::State::status="$1/status" -o APT::Architecture="${arch}" \
    -o APT::Architectures="${arch}" -o Dir::Etc::sourcelist=/dev/null \
    -o Dir::Etc::sourceparts="$1/sources" -o APT::Sandbox::User=root "${@:3}"
}

# The versions of qs-launcher for ${arch} that apt lists from the copy at DIR, with its sources
# file trusting the published key.
apt_versions() {
  local dir=${work}/apt-${1##*/}
  mkdir -p "${dir}/sources" "${dir}/etc/apt/preferences.d" "${dir}/var/lib/apt/lists/partial"
  touch "${dir}/status"
  sed "s#^Signed-By: .*#Signed-By: ${repository}/qs-launcher.asc#" "$1/qs-launcher.sources" \
    >"${dir}/sources/qs-launcher.sources"
  apt_in "${dir}" apt-get update >&2 || true
  apt_in "${dir}" apt-cache madison qs-launcher |
    awk -F' *[|] *' -v arch="${arch}" '$3 ~ " " arch " Packages$" {print $2}'
}

# The apt repository of this build's architecture, as its metadata and signatures, read by apt
# with its own state in the scratch folder: no system of that architecture is needed. apt lists
# both versions, downloads the repository's own files, and fetches no debug index from the
# published sources (Components: main). It lists nothing from an index altered after signing or
# from an InRelease signed by another key; apt-get update may exit 0 even then, so what counts is
# what apt lists.
check_AptMetadata() {
  local arch previous dists=apt/dists/stable index lists release name other
  arch=$(dpkg-deb -f "${deb}" Architecture)
  previous=$(previous_version)
  index=${dists}/main/binary-${arch}/Packages
  other=$(<"${repository_dir}/other-key")
  trap 'stop_gpg_agent; rm -rf "${work}"' EXIT
  own_keyring
  read_cases apt "made||${previous} ${version}" \
    "altered|alter_index ${index}|" "resigned|resign ${keyring} ${other} ${dists}|"
  lists=$(find "${work}/apt-made/var/lib/apt/lists" -name '*_dists_*')
  echo "${lists}"
  ! grep -F _main_debug_ <<<"${lists}" ||
    fail "apt fetched a debug index from the sources file as published"
  mkdir "${work}/download"
  (cd "${work}/download" && apt_in "${work}/apt-made" apt-get download \
    "qs-launcher=${previous}" "qs-launcher=${version}") ||
    fail "apt-get download of ${previous} and ${version}"
  for release in "${previous}" "${version}"; do
    name=qs-launcher_${release}_${arch}.deb
    sha256sum "${work}/download/${name}"
    [[ $(sha256sum <"${work}/download/${name}") == \
      "$(sha256sum <"${repository}/apt/pool/main/${name}")" ]] ||
      fail "apt-get download gave ${name} other than the repository's"
  done
  echo "apt listed ${previous} and ${version} for ${arch}, downloaded the repository's files," \
    "fetched no debug index, and listed nothing from an altered index or another key's InRelease"
}

# The whole-system checks, NAME.SUITE: the amd64 .deb in a Debian system of SUITE (bullseye,
# bookworm, trixie), made once by scripts/make_base.sh and kept.
#   Piuparts    piuparts installs the .deb and its -dbgsym package into a fresh system, purges
#               them and looks for anything left behind
#   Deployment  apt-get installs the .deb, the stand-ins go into /opt/vendor/lib and the sample
#               plug-in into /opt/vendor/plugins, and both deployment examples of the manual page
#               run as the page writes them: the launcher must show that the plug-in registered,
#               take SIGTERM and exit 0; apt-get purge must then leave the system as it was

# shellcheck source=../../scripts/lib/debian_mirror.sh
source "${source_dir}/scripts/lib/debian_mirror.sh"

# whole_system SUITE: base, the caller's, is the path of the base of SUITE, made first if need
# be; as root only.
whole_system() {
  [[ $(id -u) -eq 0 ]] || skip "a whole system is made and entered as root"
  base=$("${source_dir}/scripts/make_base.sh" "$1") || fail "no $1 system to check in"
}

# piuparts' own verdict; on a failure its FAIL and ERROR lines, then the end of its log.
check_Piuparts() {
  local suite=$1 base mirror
  whole_system "${suite}"
  mirror=$(debian_mirror QS_BASE_MIRROR) || fail "no mirror for piuparts"
  # piuparts takes package files by their .deb name only.
  cp "${deb}" "${work}/"
  cp "${ddeb}" "${work}/$(basename "${ddeb}" .ddeb).deb"
  # Debian 13's debconf keeps a scratch folder of its own, which this piuparts (Debian 12's)
  # does not yet know as debconf's and would take for something the packages left behind.
  if ! (cd "${work}" && piuparts --distribution="${suite}" --mirror="${mirror}" \
    --basetgz="${base}" --no-upgrade-test --ignore=/var/cache/debconf/tmp.ci/ \
    ./*.deb) >"${work}/piuparts.log" 2>&1; then
    grep -E ' (FAIL|ERROR): ' "${work}/piuparts.log" >&2 || true
    tail -n 40 "${work}/piuparts.log" >&2
    fail "piuparts on ${suite}"
  fi
  grep -E ' PASS: ' "${work}/piuparts.log"
}

root=${work}/root
# The scratch folder with the root in it, /proc inside the root taken down first.
leave_root() {
  # A launcher that a failed check left running, with what its shell started.
  [[ -z ${shell:-} ]] || ! running "${shell}" || end_all "${shell}"
  ! mountpoint -q "${root}/proc" || umount -l "${root}/proc"
  rm -rf --one-file-system "${work}"
}

in_root() {
  chroot "${root}" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# The files and folders of the system, apart from the state that installing and running changes
# by design (dpkg's and apt's records, logs, caches) and what the deployment itself adds.
snapshot() {
  (cd "${root}" && find . -path ./proc -prune -o -path ./tmp -prune -o -path ./var/lib/dpkg \
    -prune -o -path ./var/lib/apt -prune -o -path ./var/cache -prune -o -path ./var/log -prune \
    -o -path ./opt/vendor -prune -o -path ./etc/ld.so.cache -prune \
    -o -path ./etc/ld.so.conf.d/qs-vendor.conf -prune -o -print | sort)
}

# example_block N: the Nth example of the manual page that the package checks run (the blocks
# after the comment that says so), as a shell reads it.
example_block() {
  awk -v want="$1" '
    /^\.\\" The package checks run this block/ { marked = 1 }
    marked && /^\.Bd -literal/ { inside = 1; count++; next }
    inside && /^\.Ed/ { inside = 0; if (count == want) exit; next }
    inside && count == want { print }' "${source_dir}/doc/qs_launcher.8" |
    sed -e 's/\\-/-/g' -e 's/\\e/\\/g' -e 's/\\&//g'
}

# running PID: the process is there and has not ended (a child that has ended stays a zombie
# until it is waited for, and kill -0 still finds it).
running() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) && [[ ${state} != Z ]]
}

# end_all PID: the process's children, then the process itself.
end_all() {
  pkill -KILL -P "$1" || true
  kill -KILL "$1" 2>/dev/null || true
}

# start_example N: starts that example in the system; the last command of each is the launcher,
# which runs until it is stopped. Ready is what the page says: SIGTERM caught (SigCgt). Sets
# shell and launcher (empty when it was not ready within 20 s) for stop_example.
start_example() {
  local n=$1 script mask deadline=$((SECONDS + 20))
  script=$(example_block "${n}")
  [[ -n ${script} ]] || fail "no example ${n} in the manual page"
  printf 'example %d:\n%s\n' "${n}" "${script}"
  # chroot, env and the shell replace each other: $! is the shell.
  chroot "${root}" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -ec "${script}" \
    >"${work}/out.${n}" 2>"${work}/records.${n}" &
  shell=$!
  launcher=
  # The shell runs the launcher as its child, or becomes it.
  while ((SECONDS < deadline)) && running "${shell}"; do
    if [[ $(cat "/proc/${shell}/comm" 2>/dev/null) == qs_launcher ]]; then
      launcher=${shell}
    else
      launcher=$(pgrep -P "${shell}" -x qs_launcher || true)
    fi
    mask=$(awk '/^SigCgt:/ {print $2}' "/proc/${launcher:-0}/status" 2>/dev/null || true)
    (((0x${mask:-0} >> 14) & 1)) && return
    launcher=
    sleep 0.01
  done
}

# stop_example N: SIGTERM to the launcher of start_example N, which must exit 0 within 10 s,
# with the plug-in's record and the exit record.
stop_example() {
  local n=$1 status=0 deadline
  if [[ -n ${launcher} ]]; then
    kill -TERM "${launcher}"
    deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)) && running "${shell}"; do
      sleep 0.01
    done
  fi
  # Not ready, or not stopped in time: the shell and what it started end here.
  ! running "${shell}" || end_all "${shell}"
  wait "${shell}" || status=$?
  cat "${work}/out.${n}" "${work}/records.${n}"
  [[ -n ${launcher} ]] || fail "example ${n}: the launcher was not ready in 20 s (status ${status})"
  ((status != 137)) || fail "example ${n}: no exit within 10 s of SIGTERM"
  ((status == 0)) || fail "example ${n}: exit status ${status}"
  grep -q 'RegVexorSchedulerModuleCallBack success' "${work}/records.${n}" ||
    fail "example ${n}: no record that the plug-in registered"
  grep -q 'QueueSchedule exit' "${work}/records.${n}" || fail "example ${n}: no exit record"
}

run_example() {
  start_example "$1"
  stop_example "$1"
}

# enter_system SUITE: a root of its own made from the base of SUITE, with /proc, taken down on
# exit; base, the caller's, is the base's path.
enter_system() {
  whole_system "$1"
  trap leave_root EXIT
  mkdir -p "${root}"
  tar -xzf "${base}" -C "${root}"
  mount -t proc proc "${root}/proc"
}

# The stand-ins and the sample plug-in where the manual page's examples look for them.
add_vendor_files() {
  mkdir -p "${root}/opt/vendor/lib" "${root}/opt/vendor/plugins"
  cp "${library_dir}/libdlog.so" "${library_dir}/libqueue_scheduler.so" "${root}/opt/vendor/lib/"
  cp "${plugin_dir}/libvexor_scheduler.so" "${root}/opt/vendor/plugins/"
}

# apt_get ARG...: the system's own apt-get, its output kept in apt.log and shown when it fails.
apt_get() {
  in_root apt-get -y -q "$@" >"${work}/apt.log" 2>&1 || {
    cat "${work}/apt.log" >&2
    fail "apt-get $*"
  }
}

# The installed version of the launcher's package, or nothing.
installed_version() {
  in_root dpkg-query -W -f='${Version}' qs-launcher 2>/dev/null || true
}

check_Deployment() {
  local suite=$1 base
  enter_system "${suite}"
  snapshot >"${work}/before"
  cp "${deb}" "${root}/tmp/"
  apt_get install "./tmp/$(basename "${deb}")"
  add_vendor_files
  run_example 1
  run_example 2
  apt_get purge qs-launcher
  snapshot >"${work}/after"
  diff "${work}/before" "${work}/after" >&2 || fail "apt-get purge left the system changed"
  echo "${suite}: installed with apt-get, both examples of the manual page ran, purged;" \
    "nothing left behind"
}

# same_files DEB: every file of the package DEB is in the system, byte for byte, and dpkg lists
# exactly the package's paths as installed.
same_files() {
  local tree=${work}/files.${1##*/}
  rm -rf "${tree}"
  extract "$1" "${tree}"
  (cd "${tree}" && find . -type f -print0) | while IFS= read -r -d '' file; do
    cmp "${tree}/${file}" "${root}/${file}" || fail "${file#.} is not that of ${1##*/}"
  done
  diff <(dpkg-deb -c "$1" | awk '{print $6}' | sed 's#^\./#/#; s#/$##; /^$/d' | sort) \
    <(in_root dpkg-query -L qs-launcher | grep -vx '/\.' | sort) >&2 ||
    fail "dpkg's file list of qs-launcher is not that of ${1##*/}"
}

# resign KEYRING KEY [DISTS]: the Release of DISTS (the system's copy of the repository) signed
# again by KEY of KEYRING, inline and apart.
resign() {
  local dists=${3:-${root}${repository}/apt/dists/stable}
  GNUPGHOME=$1 gpg --batch --quiet --yes --local-user "$2" --digest-algo SHA512 \
    --clearsign --output "${dists}/InRelease" "${dists}/Release"
  GNUPGHOME=$1 gpg --batch --quiet --yes --local-user "$2" --digest-algo SHA512 \
    --armor --detach-sign --output "${dists}/Release.gpg" "${dists}/Release"
}

# The faults a host must refuse: a name and what breaks the system's copy of the repository.
fault_other_key() { resign "${keyring}" "$(<"${repository_dir}/other-key")"; }
# alter_index INDEX: a Packages file changed after signing, and its compressed copy with it, which
# apt would otherwise fetch instead.
alter_index() {
  printf '\n' >>"$1"
  gzip -9nf -k "$1"
}
fault_packages_altered() {
  alter_index "${root}${repository}/apt/dists/stable/main/binary-amd64/Packages"
}
fault_deb_replaced() {
  cp "${previous_dir}/packages/qs-launcher_${previous}_amd64.deb" \
    "${root}${repository}/apt/pool/main/qs-launcher_${version}_amd64.deb"
}
# A key that had expired when it signed: made two years back, valid for three, it signs the
# Release now; then a self-signature dated a year back sets its expiry to the next day, and the
# host trusts that key in place of the publisher's. (A signature made before a key expired stays
# good for Debian 13's sqv, so only one made after its expiry tells every release's apt.) In a
# keyring of its own, with no agent left that keeps a false clock.
fault_key_expired() {
  local expired=${work}/expired key
  mkdir -m 0700 "${expired}"
  expired_gpg() { GNUPGHOME=${expired} faketime -f "$1" gpg --batch --quiet --passphrase '' \
    --pinentry-mode loopback "${@:2}"; }
  expired_gpg -730d --quick-gen-key "qs-launcher expired <t@example.invalid>" rsa4096 sign 3y
  key=$(fingerprint "${expired}" "qs-launcher expired")
  GNUPGHOME=${expired} gpgconf --kill gpg-agent
  resign "${expired}" "${key}"
  expired_gpg -365d --quick-set-expire "${key}" 1d
  GNUPGHOME=${expired} gpg --batch --armor --export "${key}" \
    >"${root}/etc/apt/keyrings/qs-launcher.asc"
  GNUPGHOME=${expired} gpgconf --kill gpg-agent
}
fault_unsigned() { rm "${root}${repository}/apt/dists/stable/"{InRelease,Release.gpg}; }
fault_none() { :; }
# Each fault and what apt must say of it (gpgv on Debian 11 and 12, sqv on 13), after a row
# without one, which must install.
repository_faults=(
  "none|"
  "other_key|NO_PUBKEY|Missing key"
  "packages_altered|Packages.* Hash Sum mismatch"
  "deb_replaced|qs-launcher_.*\\.deb +Hash Sum mismatch"
  "key_expired|EXPKEYSIG|not live.*Expired"
  "unsigned|stable Release' is not signed"
)

# The system's copy of the repository and its key, as the publisher made them, and no lists of
# an earlier read.
restore_repository() {
  rm -rf "${root}${repository}" "${root}/var/lib/apt/lists/"*
  mkdir -p "${root}${repository%/*}"
  cp -a "${repository}" "${root}${repository}"
  install -D -m 0644 "${repository}/qs-launcher.asc" "${root}/etc/apt/keyrings/qs-launcher.asc"
}

# The repository as a host meets it, in a whole system of SUITE (amd64): added as the
# documentation says, from its sources file and key; the tree's version installed and the
# manual page's example run; a rollback to the previous release, byte for byte; an upgrade under
# a running launcher, which goes on and stops cleanly; each fault refused, the installed version
# still running; a purge that leaves nothing behind. The repository lies in the system at the
# path its sources file names.
check_Repository() {
  local suite=$1 base previous row fault expected messages pid
  previous=$(previous_version)
  enter_system "${suite}"
  trap 'stop_gpg_agent; leave_root' EXIT
  own_keyring
  # Its only source: the base's own names a Debian mirror, which apt would audit and fetch from,
  # and the runtimes the launcher depends on are in the base.
  rm -f "${root}/etc/apt/sources.list" "${root}/etc/apt/sources.list.d/"*
  restore_repository
  install -m 0644 "${repository}/qs-launcher.sources" "${root}/etc/apt/sources.list.d/"
  add_vendor_files
  snapshot >"${work}/before"
  apt_get update
  if [[ ${suite} == trixie ]]; then
    # sqv with Debian 13's policy: no warning and no audit line about the key or signature.
    in_root apt --audit update >"${work}/audit.log" 2>&1 || true
    ! grep -E '^(W|E|N|Audit|Warning):' "${work}/audit.log" >&2 ||
      fail "apt --audit update warns about the repository"
    echo "apt --audit update: no warning, no audit line"
  fi
  apt_get install qs-launcher
  [[ $(installed_version) == "${version}" ]] || fail "apt-get install gave $(installed_version)"
  run_example 1
  apt_get install --allow-downgrades "qs-launcher=${previous}"
  same_files "${previous_dir}/packages/qs-launcher_${previous}_amd64.deb"
  echo "rolled back to ${previous}: its files, byte for byte"

  # A package upgrade does not touch a running launcher: it goes on with the old program, whose
  # file dpkg has replaced, and stops as ever.
  start_example 1
  pid=${launcher}
  [[ -n ${pid} ]] || stop_example 1
  apt_get upgrade
  running "${pid}" || fail "the running launcher ended during the upgrade"
  [[ $(readlink "/proc/${pid}/exe") == *' (deleted)' ]] ||
    fail "the running launcher's program is not the replaced one: $(readlink "/proc/${pid}/exe")"
  echo "upgraded to ${version} under launcher ${pid}, which runs on: $(readlink "/proc/${pid}/exe")"
  stop_example 1
  same_files "${deb}"
  run_example 1
  echo "the launcher started after the upgrade is ${version}'s; dpkg lists only its files"

  apt_get install --allow-downgrades "qs-launcher=${previous}"
  for row in "${repository_faults[@]}"; do
    fault=${row%%|*} expected=${row#*|}
    restore_repository
    "fault_${fault}"
    # apt-get update may exit 0 and keep the lists it had, which are gone here: what counts is
    # what it would install.
    in_root apt-get -q update >"${work}/update.log" 2>&1 || true
    if in_root apt-get -y -q install "qs-launcher=${version}" >"${work}/install.log" 2>&1; then
      [[ -z ${expected} ]] || {
        cat "${work}/update.log" "${work}/install.log" >&2
        fail "${fault}: apt-get installed ${version}"
      }
      echo "${fault}: apt-get installed ${version}, as it must"
      apt_get install --allow-downgrades "qs-launcher=${previous}"
      continue
    fi
    messages=$(grep -hE '^(W|E): ' "${work}/update.log" "${work}/install.log" || true)
    [[ -n ${expected} ]] || {
      cat "${work}/update.log" "${work}/install.log" >&2
      fail "with no fault, apt-get did not install ${version}"
    }
    grep -qE -- "${expected}" <<<"${messages}" || {
      echo "${messages}" >&2
      fail "${fault}: refused, but without '${expected}'"
    }
    echo "${fault//_/ }: refused"
    sed 's/^/  /' <<<"${messages}"
    [[ $(installed_version) == "${previous}" ]] ||
      fail "${fault}: the installed version is $(installed_version)"
    run_example 1 >/dev/null
  done
  restore_repository
  echo "each fault refused; ${previous} still installed and running"

  apt_get purge qs-launcher
  snapshot >"${work}/after"
  diff "${work}/before" "${work}/after" >&2 || fail "apt-get purge left the system changed"
  echo "${suite}: purged; nothing left behind"
}

# Hardening, or Piuparts bookworm for Piuparts.bookworm.
IFS=. read -r name suite <<<"${check}"
"check_${name}" ${suite:+"${suite}"}
