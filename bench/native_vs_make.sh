#!/bin/sh
# Whole runs of the program over N no-op native plugins (2,000 by default),
# next to `make -j2` running the same dependency graph of `true` jobs:
#   independent  N plugins that need nothing, --max-workers 2
#   chain        plugin i requires the tag of plugin i-1, --max-workers 2
# Only the runs are timed; the plugins and makefiles are made beforehand.
#
# usage: bench/native_vs_make.sh [program] [count]
#   program  defaults to build/release/dawnstep of this tree
# Needs a C compiler, make and GNU grep; uses hyperfine when installed.
# RUNS (default 5) sets the number of timed runs of each command.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/release/dawnstep}
count=${2:-2000}
runs=${RUNS:-5}
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
case $count in '' | *[!0-9]*) echo "count must be a number: $count" >&2; exit 1 ;; esac
[ "$count" -ge 1 ] && [ "$count" -le 999999 ] || { echo "count must be 1 to 999999" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/dawnstep-vs-make-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
placeholder_width=24  # the length of the placeholders in noop_plugin.c

# The byte offset of a placeholder in a template; exactly one must exist.
offset_of() {
  found=$(grep -obUa "$2" "$1" | cut -d: -f1)
  [ "$(echo "$found" | wc -w)" -eq 1 ] || { echo "$1: $2 found ${found:-nowhere}" >&2; exit 1; }
  echo "$found"
}

# Writes a tag over a placeholder, padded with NULs to its full width so
# that the string ends where the tag does.
patch_tag() {
  { printf '%s' "$3"; head -c $((placeholder_width - ${#3})) /dev/zero; } |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

tag() { printf 'tag%06d' "$1"; }

# make_root NAME CHAIN: N plugin copies under $work/NAME, tags patched in.
make_root() {
  root=$work/$1
  dir=$root/usr/libexec/dawnstep/plugins
  mkdir -p "$dir" "$root/run" "$root/var/log"
  template=$work/$1.so
  defines=
  [ "$2" = chain ] && defines=-DCHAIN
  cc -O2 -shared -fPIC $defines -I"$here/../include" -o "$template" "$here/noop_plugin.c"
  provides_at=$(offset_of "$template" PROVIDES_TAG_PLACEHOLDER)
  [ "$2" = chain ] && requires_at=$(offset_of "$template" REQUIRES_TAG_PLACEHOLDER)
  i=0
  while [ "$i" -lt "$count" ]; do
    plugin=$dir/$(printf 'noop%06d.so' "$i")
    cp "$template" "$plugin"
    patch_tag "$plugin" "$provides_at" "$(tag "$i")"
    # The first of the chain requires a tag that nobody provides.
    [ "$2" = chain ] && patch_tag "$plugin" "$requires_at" "$(tag $((i == 0 ? count : i - 1)))"
    i=$((i + 1))
  done
}

# make_graph NAME CHAIN: the same graph as a makefile of `true` jobs.
make_graph() {
  {
    printf '.PHONY: all'
    i=0
    while [ "$i" -lt "$count" ]; do printf ' %s' "$(tag "$i")"; i=$((i + 1)); done
    printf '\nall:'
    i=0
    while [ "$i" -lt "$count" ]; do printf ' %s' "$(tag "$i")"; i=$((i + 1)); done
    printf '\n'
    i=0
    while [ "$i" -lt "$count" ]; do
      if [ "$2" = chain ] && [ "$i" -gt 0 ]; then
        printf '%s: %s\n\t@true\n' "$(tag "$i")" "$(tag $((i - 1)))"
      else
        printf '%s:\n\t@true\n' "$(tag "$i")"
      fi
      i=$((i + 1))
    done
  } >"$work/$1.mk"
}

echo "making $count plugins twice and two makefiles in $work" >&2
for graph in independent chain; do
  make_root "$graph" "$graph"
  make_graph "$graph" "$graph"
done

# A run that activated fewer plugins than it was given is no measurement.
check_run() {
  DAWNSTEP_ROOT=$work/$1 "$program" --max-workers 2 >/dev/null
  activated=$(grep -c 'activated\.' "$work/$1/run/hkn/system.log")
  [ "$activated" -eq $((count + 1)) ] ||
    { echo "$1: $activated of $((count + 1)) plugins activated" >&2; exit 1; }
}

clean_nodes() { echo "rm -rf '$work/$1/run/hkn' '$work/$1/var/log'/*"; }

results=$work/results
: >"$results"
for graph in independent chain; do
  check_run "$graph"
  run_program="env DAWNSTEP_ROOT='$work/$graph' '$program' --max-workers 2"
  run_make="make -s -j2 -f '$work/$graph.mk'"
  if command -v hyperfine >/dev/null; then
    hyperfine --style basic --warmup 1 --runs "$runs" \
      --export-json "$work/$graph.json" \
      --prepare "$(clean_nodes "$graph")" --command-name "dawnstep $graph" "$run_program" \
      --prepare true --command-name "make $graph" "$run_make" >&2
    # Mean seconds of each command, from the JSON report.
    means=$(grep '"mean"' "$work/$graph.json" | tr -d ' ,' | cut -d: -f2 | paste -sd ' ')
  else
    # Without hyperfine: the mean of plain runs, preparation not timed.
    means=
    for command in "$run_program" "$run_make"; do
      total=0
      i=0
      while [ "$i" -lt "$runs" ]; do
        sh -c "$(clean_nodes "$graph")"
        start=$(date +%s%N)
        sh -c "exec $command" >/dev/null
        end=$(date +%s%N)
        total=$((total + end - start))
        i=$((i + 1))
      done
      means="$means $(echo "$total $runs" | awk '{printf "%.9f", $1 / $2 / 1e9}')"
    done
  fi
  echo "$graph $means" >>"$results"
done

echo
printf '%-12s %12s %12s %8s\n' graph dawnstep make ratio
awk -v n="$count" '{printf "%-12s %10.1fms %10.1fms %7.2fx  (%.1f us per plugin)\n",
                    $1, $2 * 1000, $3 * 1000, $2 / $3, $2 * 1e6 / n}' "$results"
