#!/usr/bin/env bash
# Drives the bash completion as bash does (COMP_WORDS, COMP_CWORD) over a
# table of command lines. Usage: completion_test.sh COMPLETION_FILE DAWNSTEP
set -uo pipefail
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && export DAWNSTEP_ROOT=$work/root PATH=$work/bin:$PATH
plugins=$DAWNSTEP_ROOT/usr/libexec/dawnstep/plugins
mkdir -p "$plugins" "${plugins}2" "$work/bin" "$work/files/sub"
touch "$plugins"/{net.json,.hidden.json,readme.txt} "${plugins}2"/{libstore.so,lib.so} "$work"/files/{a.json,b.so}
# The tags come from the analyzer; this one stands in for it.
printf '#!/bin/sh\n[ "$1" = tags ] && printf "%%s\\n" net network "two words"\n' >"$work/bin/dawnstep-analyze"
chmod +x "$work/bin/dawnstep-analyze" && source "$1" && cd "$work/files" || exit 1
options=$("$2" --help 2>&1 | grep -v $'^\t' | cut -f1 | cut -d' ' -f1 | tr , '\n' | LC_ALL=C sort | paste -sd' ')
declare -i failures=0
# EXPECTED (sorted)|WORDS, the last of which is being completed
while IFS='|' read -r expected words; do
  eval "COMP_WORDS=($words)"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
  "_${COMP_WORDS[0]/-/_}" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]-}"
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
  [[ $got == "$expected" ]] || { echo "FAIL: $words -> '$got', not '$expected'" >&2; failures+=1; }
done <<EOF_TABLE
$options|dawnstep ''
net.json,lib.so net.json,libstore.so|dawnstep --plugin net.json,
x,store|dawnstep --disable x,s
net network two\\ words|dawnstep --requires ''
--help blame compare critical-chain dot metrics plot simulate snapshot tags time trace verify why|dawnstep-analyze ''
end-autoconf net store|dawnstep-analyze critical-chain ''
a.json b.so sub|dawnstep-analyze verify ''
--fail-above --help --json --log --min-ms|dawnstep-analyze compare -
EOF_TABLE
((failures == 0)) || { echo "$failures completion checks failed" >&2; exit 1; }
