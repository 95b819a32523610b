#!/bin/sh
# Times `dawnstep --tags` on a root holding COUNT copies of one no-op native
# plugin library: the cost of loading native plugins. Several binaries are
# timed in turns on the same root, so that a busy machine weighs on each
# alike; each gets its median wall-clock and processor seconds (processor
# time includes the processes it waited for).
# usage: load_cost.sh LIBRARY COUNT RUNS BINARY...
set -eu
library=$1 count=$2 runs=$3
shift 3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dir=$root/usr/libexec/dawnstep/plugins
mkdir -p "$dir"
i=0
while [ "$i" -lt "$count" ]; do
  cp "$library" "$dir/noop$i.so"
  i=$((i + 1))
done
i=0
while [ "$i" -lt "$runs" ]; do
  n=0
  for binary in "$@"; do
    DAWNSTEP_ROOT=$root /usr/bin/time -f "$n %e %U %S" -a -o "$root/times" \
      "$binary" --tags >/dev/null 2>&1
    n=$((n + 1))
  done
  i=$((i + 1))
done
# The median of field $2 (2 wall clock, 3 processor) of binary number $1.
median() {
  awk -v n="$1" -v f="$2" '$1 == n {print (f == 2 ? $2 : $3 + $4)}' "$root/times" | sort -n |
    awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}
n=0
for binary in "$@"; do
  echo "$binary: median seconds, wall clock $(median "$n" 2), processor $(median "$n" 3)"
  n=$((n + 1))
done
