#!/usr/bin/env bash
# Checks that the man pages describe the options and commands the programs
# really have: the option entries of dawnstep(8) against `dawnstep --help`
# (names, order, and whether the argument is absent, optional or
# mandatory), and the command entries of dawnstep-analyze(8) against
# `dawnstep-analyze --help`.
# Usage: man_page_test.sh DAWNSTEP DAWNSTEP_ANALYZE SOURCE_DIR
set -euo pipefail
dawnstep=$1 analyzer=$2 source=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DAWNSTEP_ROOT=$work/root  # --help must not touch the real run-once record
mkdir -p "$DAWNSTEP_ROOT"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The tag lines (the line after each .TP) of section $2 of man page $1, as
# plain text: no macro, no font escapes, no quotes, \- as -.
entry_heads() {
    awk -v section=".SH $2" '
        $0 == section { inside = 1; next }
        /^\.SH/ { inside = 0 }
        inside && previous == ".TP" { print }
        { previous = $0 }' "$1" |
        sed -E 's/^\.[A-Z]+ //; s/\\f[BIRP]//g; s/\\-/-/g; s/"//g; s/ *, +/,/; s/ +/ /g; s/ $//'
}

# "NAMES ARGUMENT-KIND" per option: the names sorted and joined by commas;
# the kind is none, optional ([...]) or mandatory.
describe() {
    local names argument kind
    while read -r names argument; do
        names=$(tr , '\n' <<<"$names" | LC_ALL=C sort | paste -sd,)
        case $argument in
            '') kind=none ;;
            \[*) kind=optional ;;
            *) kind=mandatory ;;
        esac
        echo "$names $kind"
    done
}

"$dawnstep" --help 2>"$work/usage" >"$work/usage.out" || fail "dawnstep --help failed"
[[ -s $work/usage.out ]] && fail "dawnstep --help wrote to standard output"
grep -v $'^\t' "$work/usage" | cut -f1 | describe >"$work/program-options"
entry_heads "$source/man/dawnstep.8" OPTIONS | describe >"$work/man-options"
[[ $(wc -l <"$work/program-options") -eq 13 ]] || fail "dawnstep --help does not list 13 options"
if ! diff -u "$work/program-options" "$work/man-options" >"$work/options.diff"; then
    fail "options of dawnstep(8) differ from dawnstep --help:"
    cat "$work/options.diff" >&2
fi

"$analyzer" --help >"$work/analyzer-usage"
sed -n '/^Commands:/,/^$/p' "$work/analyzer-usage" | awk 'NR > 1 && /^  [a-z]/ { print $1 }' \
    >"$work/program-commands"
entry_heads "$source/man/dawnstep-analyze.8" COMMANDS | awk '{ print $1 }' >"$work/man-commands"
[[ -s $work/program-commands ]] || fail "no commands in dawnstep-analyze --help"
if ! diff -u "$work/program-commands" "$work/man-commands" >"$work/commands.diff"; then
    fail "commands of dawnstep-analyze(8) differ from dawnstep-analyze --help:"
    cat "$work/commands.diff" >&2
fi

if ((failures > 0)); then
    exit 1
fi
echo "man pages match the programs"
