#!/bin/sh
# Times `dawnstep --tags` on a root holding COUNT copies of one no-op native
# plugin library: the cost of loading native plugins.
# usage: load_cost.sh BINARY LIBRARY [COUNT] [RUNS]
set -eu
binary=$1 library=$2 count=${3:-2000} runs=${4:-5}
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
  start=$(date +%s.%N)
  DAWNSTEP_ROOT=$root "$binary" --tags >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
  i=$((i + 1))
done | sort -n | awk '{t[NR] = $1} END {print "median seconds:", t[int((NR + 1) / 2)]}'
