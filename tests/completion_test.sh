#!/usr/bin/env bash
# Loads the bash completion and checks what it offers for a few command
# lines, driving it as bash does (COMP_WORDS, COMP_CWORD).
# Usage: completion_test.sh COMPLETION_FILE DAWNSTEP
set -uo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export DAWNSTEP_ROOT=$work/root
plugins=$DAWNSTEP_ROOT/usr/libexec/dawnstep/plugins
mkdir -p "$plugins" "${plugins}2" "$work/bin" "$work/files/sub"
touch "$plugins/net.json" "$plugins/.hidden.json" "$plugins/readme.txt" \
      "${plugins}2/libstore.so" "${plugins}2/lib.so" "$work/files/a.json" "$work/files/b.so"
ln -s "$plugins/net.json" "$plugins/link.json"
# The tags come from the analyzer; this one stands in for it.
printf '#!/bin/sh\n[ "$1" = tags ] && printf "%%s\\n" net network "two words"\n' \
    >"$work/bin/dawnstep-analyze"
chmod +x "$work/bin/dawnstep-analyze"
PATH=$work/bin:$PATH

# shellcheck source=/dev/null
source "$1" || exit 1

failures=0
# expect "EXPECTED COMPREPLY (sorted, one blank between)" WORD...
# The last word is the one being completed.
expect() {
    local expected=$1 function=_dawnstep
    shift
    [[ $1 == dawnstep-analyze ]] && function=_dawnstep_analyze
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]-}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: $* -> '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
}

# Exactly the names of the program's 13 options, as its usage text shows them.
all_options=$("$2" --help 2>&1 >/dev/null | grep -v $'^\t' | cut -f1 | cut -d' ' -f1 |
              tr , '\n' | LC_ALL=C sort | paste -sd' ')
[[ $(wc -w <<<"$all_options") -eq 14 ]] || { echo "FAIL: usage names: $all_options" >&2; exit 1; }
expect "$all_options" dawnstep ""
expect "--plugin" dawnstep --pl
expect "--disable --disable-preemptive-plugins" dawnstep --dis
expect "--dry" dawnstep --plugin net.json --dr
expect "lib.so libstore.so net.json" dawnstep --plugin ""
expect "net.json,lib.so net.json,libstore.so net.json,net.json" dawnstep --plugin net.json,
expect "lib.so libstore.so" dawnstep --plugin=l
expect "libstore.so" dawnstep --plugin = libs
expect "lib.so libstore.so net.json" dawnstep --plugin =
expect "end-autoconf" dawnstep --disable e
expect "net network" dawnstep --disable n
expect "store" dawnstep --disable s
expect "x,store" dawnstep --disable x,s
expect "net network two\\ words" dawnstep --requires ""
expect "network" dawnstep --provides netw
expect "--quiet" dawnstep --requires --q
expect "net,network" dawnstep --interactive net,netw
expect "" dawnstep --max-workers ""
expect "" dawnstep --randomize ""
expect "--tags --time-ops" dawnstep --randomize --t

expect "critical-chain" dawnstep-analyze cr
expect "--help blame critical-chain dot plot tags verify" dawnstep-analyze ""
expect "end-autoconf net store" dawnstep-analyze critical-chain ""
expect "--help --log" dawnstep-analyze blame --
expect "-- --help" dawnstep-analyze verify -
cd "$work/files"
expect "a.json b.so sub" dawnstep-analyze verify ""
expect "sub" dawnstep-analyze plot --log s
expect "" dawnstep-analyze dot ""

if ((failures > 0)); then
    echo "$failures completion checks failed" >&2
    exit 1
fi
echo "all completion checks passed"
