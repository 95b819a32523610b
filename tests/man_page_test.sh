#!/usr/bin/env bash
# The man pages list the options (names, order, kind of argument) and the
# commands that `--help` of the programs shows.
# Usage: man_page_test.sh DAWNSTEP DAWNSTEP_ANALYZE SOURCE_DIR
set -euo pipefail
DAWNSTEP_ROOT=$(mktemp -d)  # --help must not touch the real run-once record
export DAWNSTEP_ROOT
trap 'rm -rf "$DAWNSTEP_ROOT"' EXIT
heads() {  # the line after each .TP in section $2 of page $1, as plain text
  awk -v s=".SH $2" '$0 == s { in_s = 1; next } /^\.SH/ { in_s = 0 } in_s && last == ".TP" { print } { last = $0 }' "$1" |
    sed -E 's/^\.[A-Z]+ //; s/\\f[BIRP]//g; s/\\-/-/g; s/"//g; s/ *, +/,/; s/ +/ /g; s/ $//'
}
kinds() {  # "NAMES none|optional|mandatory" per option, the names sorted
  while read -r names argument; do
    case $argument in '') kind=none ;; \[*) kind=optional ;; *) kind=mandatory ;; esac
    echo "$(tr , '\n' <<<"$names" | LC_ALL=C sort | paste -sd,) $kind"
  done
}
program=$("$1" --help 2>&1 >/dev/null | grep -v $'^\t' | cut -f1 | kinds)
[[ $(wc -l <<<"$program") -eq 13 ]] || { echo "FAIL: dawnstep --help lists no 13 options" >&2; exit 1; }
diff -u <(echo "$program") <(heads "$3/man/dawnstep.8" OPTIONS | kinds)
diff -u <("$2" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && /^  [a-z]/ { print $1 }') \
  <(heads "$3/man/dawnstep-analyze.8" COMMANDS | awk '{ print $1 }')
