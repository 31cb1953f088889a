# Sourced by the scripts that fetch Debian packages apart from the system's apt state.
# debian_mirror: the Repo-URI of the main component of the system's own Debian suite, as the
# system's apt sources name it; empty when they name no Debian mirror.
debian_mirror() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' \
    'Identifier: Packages' 2>/dev/null |
    awk -v suite="${codename}" '$2 == suite && $3 == "main" {print $1; exit}'
}
