#!/usr/bin/env bash
# The checks that install the amd64 .deb into whole Debian systems of their own, never into the
# build machine: tests/package/CMakeLists.txt runs each as the ctest test package.CHECK.SUITE.
#   Piuparts    piuparts installs the .deb and its -dbgsym package into a fresh SUITE system,
#               purges them and looks for anything left behind
#   Deployment  in a SUITE system, apt-get installs the .deb, the stand-ins go into
#               /opt/vendor/lib and the sample plug-in into /opt/vendor/plugins, and both
#               deployment examples of the manual page run as the page writes them: the launcher
#               must show that the plug-in registered, take SIGTERM and exit 0; apt-get purge
#               must then leave the system as it was
# The systems come from scripts/make_base.sh (made once, then kept). Exit status 77: the check
# cannot run here (not root, or no mount namespace can be made; ctest: skipped).
# Usage: system_checks.sh CHECK SUITE CONF   (CONF: package_checks.conf of the build)
set -euo pipefail
# In a mount namespace of its own: the file systems mounted into a system (/proc, and piuparts'
# own) go with the check, even when it is killed.
if [[ $(id -u) -eq 0 && -z ${QS_OWN_MOUNTS:-} ]]; then
  if ! unshare --mount true 2>/dev/null; then
    echo "skipped: no mount namespace of its own can be made here"
    exit 77
  fi
  QS_OWN_MOUNTS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
check=$1
suite=$2
# shellcheck source=/dev/null
source "$3"
# shellcheck source=package_common.sh
source "$(dirname "$0")/package_common.sh"
[[ $(id -u) -eq 0 ]] || skip "a whole system is made and entered as root"

base=$("${source_dir}/scripts/make_base.sh" "${suite}") || fail "no ${suite} system to check in"
mirror=${QS_BASE_MIRROR:-$(source "${source_dir}/scripts/lib/debian_mirror.sh" && debian_mirror)}

# piuparts' own verdict; on a failure its FAIL and ERROR lines, then the end of its log.
check_Piuparts() {
  [[ -n ${mirror} ]] || fail "no Debian mirror in the system's apt sources; set QS_BASE_MIRROR"
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
# /proc inside the root, taken down before the root goes.
unmount_proc() {
  ! mountpoint -q "${root}/proc" || umount -l "${root}/proc"
}
trap 'unmount_proc; rm -rf --one-file-system "${work}"' EXIT

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

# run_example N: runs that example in the system; the last command of each is the launcher,
# which runs until it is stopped. Ready is what the page says: SIGTERM caught (SigCgt); then it
# gets SIGTERM and must exit 0 within 10 s, with the plug-in's record and the exit record.
run_example() {
  local n=$1 script shell launcher='' status=0 mask deadline=$((SECONDS + 20))
  script=$(example_block "${n}")
  [[ -n ${script} ]] || fail "no example ${n} in the manual page"
  printf 'example %d:\n%s\n' "${n}" "${script}"
  # chroot, env and the shell replace each other: $! is the shell.
  chroot "${root}" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -ec "${script}" \
    >"${work}/out.${n}" 2>"${work}/records.${n}" &
  shell=$!
  # The shell runs the launcher as its child, or becomes it.
  while ((SECONDS < deadline)) && running "${shell}"; do
    if [[ $(cat "/proc/${shell}/comm" 2>/dev/null) == qs_launcher ]]; then
      launcher=${shell}
    else
      launcher=$(pgrep -P "${shell}" -x qs_launcher || true)
    fi
    mask=$(awk '/^SigCgt:/ {print $2}' "/proc/${launcher:-0}/status" 2>/dev/null || true)
    (((0x${mask:-0} >> 14) & 1)) && break
    launcher=
    sleep 0.01
  done
  if [[ -z ${launcher} ]]; then
    end_all "${shell}"
    wait "${shell}" || status=$?
    cat "${work}/out.${n}" "${work}/records.${n}"
    fail "example ${n}: the launcher was not ready in 20 s (status ${status})"
  fi
  kill -TERM "${launcher}"
  deadline=$((SECONDS + 10))
  while ((SECONDS < deadline)) && running "${shell}"; do
    sleep 0.01
  done
  running "${shell}" && end_all "${shell}"
  wait "${shell}" || status=$?
  cat "${work}/out.${n}" "${work}/records.${n}"
  ((status != 137)) || fail "example ${n}: no exit within 10 s of SIGTERM"
  ((status == 0)) || fail "example ${n}: exit status ${status}"
  grep -q 'RegVexorSchedulerModuleCallBack success' "${work}/records.${n}" ||
    fail "example ${n}: no record that the plug-in registered"
  grep -q 'QueueSchedule exit' "${work}/records.${n}" || fail "example ${n}: no exit record"
}

check_Deployment() {
  mkdir -p "${root}"
  tar -xzf "${base}" -C "${root}"
  mount -t proc proc "${root}/proc"
  snapshot >"${work}/before"
  cp "${deb}" "${root}/tmp/"
  in_root apt-get install -y -q "./tmp/$(basename "${deb}")" >"${work}/apt.log" 2>&1 || {
    cat "${work}/apt.log" >&2
    fail "apt-get install of the .deb"
  }
  mkdir -p "${root}/opt/vendor/lib" "${root}/opt/vendor/plugins"
  cp "${library_dir}/libdlog.so" "${library_dir}/libqueue_scheduler.so" "${root}/opt/vendor/lib/"
  cp "${plugin_dir}/libvexor_scheduler.so" "${root}/opt/vendor/plugins/"
  run_example 1
  run_example 2
  in_root apt-get purge -y -q qs-launcher >"${work}/apt.log" 2>&1 || {
    cat "${work}/apt.log" >&2
    fail "apt-get purge"
  }
  snapshot >"${work}/after"
  diff "${work}/before" "${work}/after" >&2 || fail "apt-get purge left the system changed"
  echo "${suite}: installed with apt-get, both examples of the manual page ran, purged;" \
    "nothing left behind"
}

"check_${check}"
