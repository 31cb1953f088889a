# shellcheck shell=bash
# Sourced by the scripts that fetch Debian packages apart from the system's apt state.
# debian_mirror OVERRIDE: the mirror that the variable named OVERRIDE holds, else the Repo-URI of
# the main component of the system's own Debian suite, as the system's apt sources name it. Fails,
# saying which variable to set, when neither names a mirror.
debian_mirror() {
  local override=$1 codename mirror
  mirror=${!override:-}
  if [[ -z ${mirror} ]]; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    # shellcheck disable=SC2016 # apt's own $(FIELD) placeholders
    mirror=$(apt-get indextargets --no-release-info \
      --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' 2>/dev/null |
      awk -v suite="${codename}" '$2 == suite && $3 == "main" {print $1; exit}')
  fi
  if [[ -z ${mirror} ]]; then
    echo "no Debian mirror in the system's apt sources; set ${override}" >&2
    return 1
  fi
  echo "${mirror}"
}
