#!/usr/bin/env bash
# Publishes the launcher's packages as signed repositories in OUT: an apt repository (apt/, the
# .deb in main and the .ddeb debug symbols in main/debug, which hosts fetch only when they ask for
# them), an rpm-md repository per rpm architecture (rpm/x86_64, rpm/aarch64), the public key
# (qs-launcher.asc), and the sources files that hosts install (qs-launcher.sources for apt,
# qs-launcher.repo for dnf and zypper). Progress goes to stderr.
# Usage: scripts/make_repository.sh OUT [PACKAGE...]
#   PACKAGE            .deb, .ddeb and .rpm files of qs-launcher (default: those in
#                      build/release/packages and build/release-arm64/packages of this tree)
#   QS_SIGNING_KEY     the fingerprint of the key that signs, whose secret key GNUPGHOME holds
#   GNUPGHOME          gpg's keyring (default ~/.gnupg)
#   QS_REPOSITORY_URL  the address hosts reach OUT at, for the sources files (default: file:// OUT)
# OUT keeps what it holds: every version stays published, so hosts can go back to an earlier one.
# A package already there is taken again only with the same contents. The key and every package
# are checked before anything is written; the new repository is made beside OUT from OUT's
# packages and the new ones, then renamed into place, so OUT is the old one or the new one.
# Tools: apt-ftparchive indexes the whole pool, as Debian 12's reprepro (5.3.1) keeps one version
# of a package and knows no .ddeb; rpmsign and createrepo_c are rpm's own; gpg signs the indices.
set -euo pipefail
export LC_ALL=C
# A repository is for everyone to read, whatever the publisher's umask.
umask 022
here=$(cd "$(dirname "$0")/.." && pwd)
name=qs-launcher
suite=stable
components=(main main/debug)
deb_architectures="amd64 arm64"
rpm_architectures="x86_64 aarch64"
digest=SHA512

die() {
  echo "$*" >&2
  exit 1
}

if (($# < 1)); then
  echo "usage: $0 OUT [PACKAGE...]" >&2
  exit 2
fi
out=$(realpath -m -- "$1")
shift
packages=("$@")
if ((${#packages[@]} == 0)); then
  shopt -s nullglob
  packages=("${here}"/build/release{,-arm64}/packages/*.{deb,ddeb,rpm})
  shopt -u nullglob
  ((${#packages[@]})) || die "no packages in ${here}/build/release{,-arm64}/packages"
fi
url=${QS_REPOSITORY_URL:-file://${out}}
url=${url%/}
fpr=${QS_SIGNING_KEY:-}

# The pool folder of an apt component: pool/main and pool/debug lie side by side, as
# apt-ftparchive indexes a folder with all that is below it.
pool_of() { echo "pool/${1#main/}"; }

# The rule a weak key breaks, if any, read from the key as it is published (export-minimal: no
# superseded or revoked signatures): RSA under 3072 bits or DSA, for the primary key or the
# signing subkey that gpg signs with (the newest one that is valid); either expiring within 90
# days, when hosts would soon refuse what it signs; a self-signature (of a user id that is not
# revoked, or of a subkey) made with SHA-1, which sqv and rpm-sequoia reject.
key_problem() {
  awk -F: -v soon=$(($(date +%s) + 90 * 86400)) '
    function weak(what, algo, bits, expiry) {
      if (algo == 17) return what " is DSA"
      if (algo <= 3 && bits < 3072) return what " is RSA of " bits " bits, under 3072"
      if (expiry != "" && expiry < soon)
        return what " expires on " strftime("%F", expiry) ", within 90 days"
    }
    function note(found) { if (problem == "" && found != "") problem = found }
    $1 == "pub" { primary = $5; note(weak("the primary key", $4, $3, $7)) }
    $1 == "uid" { revoked = $2 == "r" }
    $1 == "sub" {
      revoked = 0
      if ($12 ~ /s/ && $2 !~ /[erd]/ && $6 > newest) {
        newest = $6; signer = "signing subkey " $5; algo = $4; bits = $3; expiry = $7
      }
    }
    $1 == "sig" && $5 == primary && $16 == 2 && !revoked {
      note("a self-signature (class " $11 ") is made with SHA-1")
    }
    END { if (newest) note(weak(signer, algo, bits, expiry)); if (problem != "") print problem }'
}

check_key() {
  local listing problem
  [[ ${fpr} =~ ^[0-9A-Fa-f]{40}$ ]] ||
    die "QS_SIGNING_KEY '${fpr}': not the 40 hex digits of a key's fingerprint"
  gpg --batch --list-keys "${fpr}" >/dev/null 2>&1 ||
    die "QS_SIGNING_KEY ${fpr}: no such key in ${GNUPGHOME:-~/.gnupg}"
  gpg --batch --list-secret-keys "${fpr}" >/dev/null 2>&1 ||
    die "QS_SIGNING_KEY ${fpr}: its secret key is not in ${GNUPGHOME:-~/.gnupg}"
  listing=$(gpg --batch --export --export-options export-minimal "${fpr}" |
    gpg --batch --with-colons --fixed-list-mode --show-keys --with-sig-list 2>/dev/null)
  problem=$(key_problem <<<"${listing}")
  # The key ids of the key and its subkeys, which an rpm signed by this key names.
  key_ids=$(awk -F: '$1 == "pub" || $1 == "sub" {print tolower($5)}' <<<"${listing}")
  [[ -z ${problem} ]] || die "QS_SIGNING_KEY ${fpr}: refused, ${problem}"
}

# destination PACKAGE: where in OUT the package goes, from the name, version and architecture
# that it says it has; a package the repository does not hold is refused.
destination() {
  local file=$1 query architectures info package version arch
  [[ -f ${file} && -r ${file} ]] || die "${file}: no such file, or not readable"
  # shellcheck disable=SC2016 # dpkg-deb's own ${FIELD} placeholders
  case ${file} in
    *.deb | *.ddeb)
      query=(dpkg-deb --show --showformat='${Package} ${Version} ${Architecture}')
      architectures=${deb_architectures}
      ;;
    *.rpm)
      # A source rpm says the architecture of its build: call it src.
      query=(rpm -qp --nosignature
        --qf '%{NAME} %{VERSION}-%{RELEASE} %|SOURCERPM?{%{ARCH}}:{src}|')
      architectures=${rpm_architectures}
      ;;
    *) die "${file}: not a .deb, .ddeb or .rpm" ;;
  esac
  info=$("${query[@]}" "${file}" 2>/dev/null) || die "${file}: ${query[0]} cannot read it"
  read -r package version arch <<<"${info}"
  [[ ${version} =~ ^[0-9A-Za-z.+~:^_-]+$ ]] || die "${file}: version '${version}' is malformed"
  [[ " ${architectures} " == *" ${arch} "* ]] ||
    die "${file}: architecture ${arch} is none of ${architectures}"
  case ${query[0]}:${package} in
    dpkg-deb:"${name}") echo "apt/$(pool_of main)/${package}_${version#*:}_${arch}.deb" ;;
    dpkg-deb:"${name}-dbgsym")
      echo "apt/$(pool_of main/debug)/${package}_${version#*:}_${arch}.ddeb"
      ;;
    rpm:"${name}" | rpm:"${name}-debuginfo") echo "rpm/${arch}/${package}-${version}.${arch}.rpm" ;;
    *) die "${file}: package ${package} is none of ${name}, ${name}-dbgsym, ${name}-debuginfo" ;;
  esac
}

# Whether two files are the same package. An rpm is compared by the digests of its main header,
# which holds the payload's digest and which signing leaves as it is: a signed copy is the same
# as the unsigned one. (An rpm older than 4.16 has only the SHA-1 one.)
same_package() {
  local digests='%{SHA256HEADER} %{SHA1HEADER}' first second
  if [[ $1 == *.rpm ]]; then
    first=$(rpm -qp --nosignature --qf "${digests}" "$1") &&
      second=$(rpm -qp --nosignature --qf "${digests}" "$2") && [[ ${first} == "${second}" ]]
  else
    cmp -s "$1" "$2"
  fi
}

# apt-ftparchive with SHA-256 and SHA-512 alone: apt trusts neither MD5 nor SHA-1.
ftparchive() { apt-ftparchive -o APT::FTPArchive::MD5=false -o APT::FTPArchive::SHA1=false "$@"; }

sign() { gpg --batch --yes --local-user "${fpr}" --digest-algo "${digest}" "$@"; }

# The indices of every package in the pool, then the Release file that names their digests,
# signed inline (InRelease) and apart (Release.gpg).
make_apt() {
  local apt=${stage}/apt component arch index field fields=()
  local dists=${apt}/dists/${suite}
  for component in "${components[@]}"; do
    for arch in ${deb_architectures}; do
      index=${dists}/${component}/binary-${arch}
      mkdir -p "${index}" "${apt}/$(pool_of "${component}")"
      (cd "${apt}" && ftparchive --arch "${arch}" packages "$(pool_of "${component}")") \
        >"${index}/Packages"
      gzip -9nk "${index}/Packages"
    done
  done
  for field in Origin="${name}" Label="${name}" Suite="${suite}" Codename="${suite}" \
    Date="$(date -u -d "@${now}" '+%a, %d %b %Y %H:%M:%S UTC')" \
    Architectures="${deb_architectures}" Components="${components[*]}"; do
    fields+=(-o "APT::FTPArchive::Release::${field}")
  done
  ftparchive "${fields[@]}" release "${dists}" >"${apt}/Release"
  mv "${apt}/Release" "${dists}/Release"
  sign --clearsign --output "${dists}/InRelease" "${dists}/Release"
  sign --armor --detach-sign --output "${dists}/Release.gpg" "${dists}/Release"
}

# Signs the rpms new to the repository and those that another key signed (a key rolled over:
# hosts that know only the new key can still go back to an earlier release), then makes each
# architecture's metadata, signed apart, with the key beside it where zypper looks for it.
make_rpm() {
  local rpm=${stage}/rpm arch package signer
  for package in "${rpm}"/*/*.rpm; do
    [[ -f ${package} ]] || continue
    signer=$(rpm -qp --nosignature --qf '%{RSAHEADER:pgpsig}' "${package}" 2>/dev/null)
    signer=${signer##*Key ID }
    grep -qxF -- "${signer,,}" <<<"${key_ids}" || [[ " $* " == *" ${package} "* ]] ||
      set -- "$@" "${package}"
  done
  if (($#)); then
    rpmsign --addsign --define "_gpg_name ${fpr}" --define "__gpg $(command -v gpg)" \
      --define "_gpg_digest_algo ${digest,,}" "$@" >&2
  fi
  for arch in ${rpm_architectures}; do
    mkdir -p "${rpm}/${arch}"
    createrepo_c --quiet --no-database --revision "${now}" --set-timestamp-to-revision \
      "${rpm}/${arch}" >&2
    sign --armor --detach-sign --output "${rpm}/${arch}/repodata/repomd.xml.asc" \
      "${rpm}/${arch}/repodata/repomd.xml"
    cp "${stage}/${name}.asc" "${rpm}/${arch}/repodata/repomd.xml.key"
  done
}

make_sources() {
  cat >"${stage}/${name}.sources" <<EOF
# The launcher's packages. A host that wants their debug symbols adds main/debug to Components.
Types: deb
URIs: ${url}/apt
Suites: ${suite}
Components: main
Architectures: ${deb_architectures}
Signed-By: /etc/apt/keyrings/${name}.asc
EOF
  cat >"${stage}/${name}.repo" <<EOF
[${name}]
name=${name}
type=rpm-md
baseurl=${url}/rpm/\$basearch
enabled=1
gpgcheck=1
repo_gpgcheck=1
gpgkey=${url}/${name}.asc
EOF
}

[[ -d ${out%/*}/ ]] || die "${out}: the folder it goes in does not exist"
# The sources files name OUT in a file: address, where a blank would split the line.
[[ -n ${QS_REPOSITORY_URL:-} || ${out} != *[[:space:]]* ]] ||
  die "${out}: a folder whose path has a blank needs QS_REPOSITORY_URL"
# One run at a time for this OUT: a lock file beside it, open for writing, as NFS needs.
exec {lock_fd}>>"${out%/*}/.${out##*/}.lock"
flock "${lock_fd}"
# A run stopped between the two renames of the swap left the repository beside OUT: back it goes.
if [[ ! -e ${out} ]] && compgen -G "${out}.old.*" >/dev/null; then
  left=$(find "${out%/*}" -maxdepth 1 -name "${out##*/}.old.*" -printf '%T@ %p\n' | sort -n |
    tail -n 1 | cut -d' ' -f2-)
  echo "${out}: putting back ${left}, which a stopped run left" >&2
  mv -T "${left}" "${out}"
fi
if [[ -e ${out} && ! -f ${out}/${name}.asc && -n $(ls -A "${out}") ]]; then
  die "${out}: neither empty nor a repository of this script (no ${name}.asc)"
fi
# The swap replaces OUT whole: anything else in it would be lost.
if [[ -d ${out} ]]; then
  foreign=$(find "${out}" -mindepth 1 -maxdepth 1 -printf '%f\n' |
    grep -vxE "apt|rpm|${name}\.(asc|sources|repo)" | paste -sd' ' || true)
  [[ -z ${foreign} ]] ||
    die "${out}: holds what is not the repository's, which publishing would remove: ${foreign}"
fi
check_key

declare -A source_of # destination in OUT -> the package file that goes there
for file in "${packages[@]}"; do
  rel=$(destination "${file}")
  for other in "${out}/${rel}" "${source_of[${rel}]:-}"; do
    if [[ -e ${other} ]] && ! same_package "${file}" "${other}"; then
      die "${file}: refused, ${rel##*/} has other contents than ${other};" \
        "a change needs a new version"
    fi
  done
  source_of[${rel}]=${file}
done

now=$(date +%s)
stage=$(mktemp -d "${out}.new.XXXXXX")
old=
# A run that stops before the swap leaves OUT as it was; one stopped between the two renames
# puts the old repository back.
trap 'rm -rf "${stage}"; [[ -z ${old} || -e ${out} ]] || mv -T "${old}" "${out}"' EXIT
# OUT's own mode and group, which a web server may rely on.
if [[ -d ${out} ]]; then
  chmod --reference="${out}" "${stage}"
  chgrp --reference="${out}" "${stage}"
else
  chmod 0755 "${stage}"
fi
if [[ -d ${out}/apt ]]; then
  (cd "${out}" && find apt/pool rpm -type f \( -name '*.deb' -o -name '*.ddeb' -o -name '*.rpm' \) \
    -exec cp -a --parents -t "${stage}" {} +)
fi
new_rpms=()
for rel in $(printf '%s\n' "${!source_of[@]}" | sort); do
  [[ ! -e ${stage}/${rel} ]] || continue
  mkdir -p "$(dirname "${stage}/${rel}")"
  cp "${source_of[${rel}]}" "${stage}/${rel}"
  [[ ${rel} != *.rpm ]] || new_rpms+=("${stage}/${rel}")
  echo "adding ${rel}" >&2
done
gpg --batch --armor --export --export-options export-minimal "${fpr}" >"${stage}/${name}.asc"
make_apt
make_rpm "${new_rpms[@]}"
make_sources

# rename(2) replaces an empty folder at once: the old repository goes in place of one, then the
# new one in place of OUT, which is missing only between the two.
if [[ -e ${out} ]]; then
  old=$(mktemp -d "${out}.old.XXXXXX")
  mv -T "${out}" "${old}"
fi
mv -T "${stage}" "${out}"
rm -rf "${old}"
old=
echo "published $(find "${out}" -type f \( -name '*.deb' -o -name '*.ddeb' -o -name '*.rpm' \) |
  wc -l) packages in ${out}" >&2
