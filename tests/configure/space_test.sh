#!/usr/bin/env bash
# A source or a build folder with a space in its path stops the configure at once, with the
# reason, before project() looks for a compiler or runs a release toolchain's sysroot download.
# The source folder with a space is a link to this tree.
# Usage: space_test.sh CMAKE SOURCE
set -euo pipefail
cmake=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/qs_space.XXXXXX")
trap 'rm -rf "${work}"' EXIT
ln -s "${source}" "${work}/source with space"

# source folder | build folder | the folder the message names
rows=(
  "${work}/source with space|${work}/build1|${work}/source with space"
  "${source}|${work}/build with space|${work}/build with space"
)
failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r from to named <<<"${row}"
  status=0
  "${cmake}" -S "${from}" -B "${to}" >"${work}/out" 2>&1 || status=$?
  # CMake wraps the message: compare with every run of white space made one blank.
  message=$(tr -s ' \n' '  ' <"${work}/out")
  if ((status == 0)) || [[ ${message} != *"\"${named}\" holds a space, and the build cannot work there: rpmbuild refuses such a path, and LD_PRELOAD"* ]] ||
    compgen -G "${to}/CMakeFiles/*/CMakeSystem.cmake" >/dev/null; then
    echo "FAIL: ${named}: status ${status}, no refusal before project():" >&2
    cat "${work}/out" >&2
    failed=1
  else
    echo "${named}: refused"
  fi
done
exit "${failed}"
