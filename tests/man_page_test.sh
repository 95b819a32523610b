#!/usr/bin/env bash
# The man pages list the options (names, order, kind of argument) and commands
# that the programs' --help shows. Usage: man_page_test.sh DAWNSTEP DAWNSTEP_ANALYZE SOURCE_DIR
set -euo pipefail
export DAWNSTEP_ROOT=/nonexistent  # --help must not touch the real run-once record
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
diff -u <(echo "$program") <(heads "$3/man/dawnstep.8" OPTIONS | kinds)
diff -u <("$2" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && /^  [a-z]/ { print $1 }') \
  <(heads "$3/man/dawnstep-analyze.8" COMMANDS | awk '{ print $1 }')
