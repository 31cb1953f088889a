#!/usr/bin/env bash
# Fails when a relative link of the project's documents points at nothing.
# Usage: check_links.sh ROOT [FILE...]
#   With no FILE: ROOT/README.md, ROOT/doc/*.md and ROOT/bench/README.md.
# A link is a markdown link [text](target) or [text](target#anchor), or a reference definition
# "[label]: target" at the start of a line; the target is taken
# relative to the folder of the file that holds it. Links to http(s) and mailto addresses and
# links to an anchor of the same file are not looked at, nor is anything inside a code span or
# a fenced code block, where brackets are shell or C++ rather than links.
set -euo pipefail
root=${1:?usage: $0 ROOT [FILE...]}
shift
if (($#)); then
  files=("$@")
else
  files=("${root}/README.md" "${root}"/doc/*.md "${root}/bench/README.md")
fi

broken=0
checked=0
for file in "${files[@]}"; do
  if [[ ! -f ${file} ]]; then
    echo "$(realpath -m --relative-to="${root}" "${file}"): no such document" >&2
    broken=$((broken + 1))
    continue
  fi
  dir=$(dirname "${file}")
  # line number and target of every link outside code, one per line.
  while read -r line target; do
    checked=$((checked + 1))
    case ${target} in
      http://* | https://* | mailto:* | '#'*) continue ;;
    esac
    path=${target%%#*}
    if [[ ! -e ${dir}/${path} ]]; then
      echo "$(realpath -m --relative-to="${root}" "${file}"):${line}: link to ${target}" \
        "points at nothing (no $(realpath -m --relative-to="${root}" "${dir}/${path}"))" >&2
      broken=$((broken + 1))
    fi
  done < <(awk '
    /^[[:space:]]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    {
      text = $0
      gsub(/`[^`]*`/, "", text)
      if (match(text, /^ ? ? ?\[[^]]+\]:[[:space:]]+[^[:space:]]+/)) {
        sub(/^ ? ? ?\[[^]]+\]:[[:space:]]+/, "", text)
        split(text, words, /[[:space:]]/)
        print NR, words[1]
        next
      }
      while (match(text, /\]\([^)[:space:]]+\)/)) {
        print NR, substr(text, RSTART + 2, RLENGTH - 3)
        text = substr(text, RSTART + RLENGTH)
      }
    }' "${file}")
done

if ((broken)); then
  echo "${broken} broken relative link(s) in ${#files[@]} document(s)" >&2
  exit 1
fi
echo "${checked} links in ${#files[@]} documents, every relative one points at a file or folder"
