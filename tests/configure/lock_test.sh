#!/usr/bin/env bash
# scripts/make_sysroot.sh refuses a malformed lock file before it touches anything, naming each
# bad line. Each row changes a copy of the lock and names the message the script must print; the
# lock as it is must pass. No network: the script stops at the lock, and past it its mirror is a
# folder that does not exist.
# Usage: lock_test.sh SCRIPT LOCK
set -euo pipefail
script=$1
lock=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_lock.XXXXXX")
trap 'rm -rf "${work}"' EXIT

# The rows change the lock's first amd64 line, @LINE@; @LOCK@ is the changed copy.
line=$(grep -n -m1 '^[^#].* amd64 ' "${lock}" | cut -d: -f1)
package=$(awk -v line="${line}" 'NR == line {print $1}' "${lock}")
# name | sed program | the message, "" when the lock must pass
rows=(
  "sha256 missing|@LINE@s/ *[0-9a-f]*\$//|@LOCK@:@LINE@: 3 fields, not 4"
  "five fields|@LINE@s/\$/ extra/|@LOCK@:@LINE@: 5 fields, not 4"
  "mistyped architecture|@LINE@s/ amd64 / amd46 /|@LOCK@:@LINE@: architecture amd46 is none of"
  "sha256 of 63 digits|@LINE@s/[0-9a-f]\$//|@LOCK@:@LINE@: sha256 is not 64 lowercase hex digits"
  "upper-case sha256|@LINE@s/[0-9a-f]\\{6\\}\$/ABCDEF/|@LOCK@:@LINE@: sha256 is not 64 lowercase"
  "package twice|@LINE@p|@LOCK@:$((line + 1)): ${package} amd64 again (line @LINE@)"
  "no arm64 package|/ arm64 /d|@LOCK@: no arm64 package"
  "blank and indented comment lines|@LINE@i\\\\n   # a comment\\n|"
  "the lock as it is||"
)

failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r name program expected <<<"${row}"
  copy=${work}/lock
  sed "${program//@LINE@/${line}}" "${lock}" >"${copy}"
  expected=${expected//@LINE@/${line}}
  expected=${expected//@LOCK@/${copy}}
  rm -rf "${work}/sysroots"
  status=0
  QS_SYSROOT_LOCK=${copy} QS_SYSROOT_DIR=${work}/sysroots QS_SYSROOT_MIRROR=file://${work}/none \
    "${script}" amd64 >"${work}/out" 2>&1 || status=$?
  if [[ -n ${expected} ]]; then
    # Stopped at the lock: nothing made, nothing downloaded.
    ((status != 0)) && grep -qF -- "${expected}" "${work}/out" && [[ ! -e ${work}/sysroots ]] ||
      problem="status ${status}; expected \"${expected}\", and nothing made"
  else
    ! grep -qF -- "${copy}" "${work}/out" && grep -q "^downloading the amd64" "${work}/out" ||
      problem="refused, or did not go on to the download"
  fi
  if [[ -n ${problem:-} ]]; then
    echo "FAIL: ${name}: ${problem}:" >&2
    cat "${work}/out" >&2
    failed=1
    problem=
  else
    echo "${name}: ok"
  fi
done
exit "${failed}"
