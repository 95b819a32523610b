#!/bin/sh
# The runner's own cost per plugin, for several builds side by side: each
# figure is taken for every binary in turns on the same roots, so a busy
# machine weighs on each alike, and later binaries are shown as a ratio to
# the first.
#   makespan  32 JSON plugins whose one command sleeps 0.5 s, no worker
#             limit: wall seconds of the run, and that over 0.5 s
#   json cpu  64 JSON plugins with one command of a tiny compiled handler:
#             processor ms of the run (every process) minus that of running
#             the 64 handler commands directly, per plugin
#   native    2,000 no-op native plugins (or NATIVE_COUNT), --max-workers 2:
#             wall seconds of --tags and of the run, and activation ms per
#             plugin
#   memory    10,000 JSON plugins, --max-workers 2: peak resident KiB of the
#             main process and of one worker (taken once)
#   floors    the same makespan and native figures for bare C stand-ins
#             that do only what the design asks of any runner (no worker
#             limit on the 32 handlers; for the natives, the hand-over alone
#             and with the system calls of each activation's records, in
#             the runner's record files), so that a goal can be weighed
#             against what this machine allows
# Medians of RUNS runs (default 5). Processor time comes from `perf stat`
# task-clock where perf works, else from the run's rusage.
#
# usage: bench/boot_overhead.sh BINARY...
set -eu
[ $# -ge 1 ] || { echo "usage: $0 BINARY..." >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
runs=${RUNS:-5}
memory_count=${MEMORY_COUNT:-10000}
native_count=${NATIVE_COUNT:-2000}
work=$(mktemp -d "${TMPDIR:-/tmp}/dawnstep-overhead-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work"

handler=$work/handler
settle=$work/settle
cc -O2 -o "$handler" "$here/handler.c"
cc -O2 -o "$settle" "$here/settle.c"
cc -O2 -shared -fPIC -I"$here/../include" -o "$work/noop.so" "$here/noop_plugin.c"
cc -O2 -I"$here/../include" -o "$work/activation_floor" "$here/activation_floor.c"
cc -O2 -o "$work/makespan_floor" "$here/makespan_floor.c"

# make_root NAME: an empty root whose command framework knows the handler
# (a handler path is resolved under the root, so each root has a copy).
make_root() {
  root=$work/$1
  mkdir -p "$root/usr/libexec/dawnstep/plugins" "$root/usr/lib/corvane/orvocli/bin" \
    "$root/run" "$root/var/log"
  cp "$handler" "$root/usr/lib/corvane/orvocli/bin/handler"
  cat >"$root/usr/lib/corvane/orvocli/bench.json" <<JSON
{"namespace": "bench", "commands": [
  {"name": "nothing", "handler": "bin/handler"},
  {"name": "pause", "handler": "bin/handler", "parameters": [{"name": "ms", "type": "integer"}]},
  {"name": "memory", "handler": "bin/handler", "parameters": [{"name": "hwm"}]}]}
JSON
}

# json_plugins NAME COUNT COMMAND: COUNT independent plugins running COMMAND.
json_plugins() {
  make_root "$1"
  awk -v n="$2" -v command="$3" -v dir="$work/$1/usr/libexec/dawnstep/plugins" 'BEGIN {
    for (i = 0; i < n; i++) {
      file = sprintf("%s/p%05d.json", dir, i)
      printf "{\"metadata\": {\"provides\": [\"t%d\"], \"requires\": [], \"version\": 3, " \
             "\"run_once\": false}, \"operations\": {\"start\": [\"%s\"]}}\n", i, command > file
      close(file)
    }
  }'
}

json_plugins sleep 32 "bench pause --ms=500"
json_plugins tiny 64 "bench nothing"
json_plugins memory "$memory_count" "bench nothing"
cat >"$work/memory/usr/libexec/dawnstep/plugins/p00000.json" <<JSON
{"metadata": {"provides": ["t0"], "requires": [], "version": 3, "run_once": false},
 "operations": {"start": ["bench memory --hwm=$work/hwm"]}}
JSON
make_root native
i=0
while [ "$i" -lt "$native_count" ]; do
  cp "$work/noop.so" "$work/native/usr/libexec/dawnstep/plugins/noop$i.so"
  i=$((i + 1))
done

if perf stat -x, -e task-clock -o "$work/probe" true 2>/dev/null; then use_perf=1; else use_perf=0; fi

# timed FILE KEY COMMAND...: appends "KEY wall cpu_ms" to FILE. The wall
# clock ends with COMMAND; processor time counts every process it started,
# including workers that end after it.
timed() {
  file=$1 key=$2
  shift 2
  if [ "$use_perf" = 1 ]; then
    perf stat -x, -e task-clock -o "$work/perf" -- "$settle" "$work/wall" "$@" >/dev/null 2>&1 || true
    cpu=$(awk -F, '$3 ~ /task-clock/ {print $1}' "$work/perf")
  else
    /usr/bin/time -f "%U %S" -o "$work/rusage" "$settle" "$work/wall" "$@" >/dev/null 2>&1 || true
    cpu=$(awk '{print ($1 + $2) * 1000}' "$work/rusage")
  fi
  echo "$key $(cat "$work/wall") $cpu" >>"$file"
}

# run_on ROOT ARGS...: one run of the binary in $binary, nodes emptied first.
run_on() {
  root=$work/$1
  shift
  rm -rf "$root/run/hkn" "$root/var/log"/*
  timed "$work/times" "$key" env DAWNSTEP_ROOT="$root" "$binary" "$@"
}

: >"$work/times"
i=0
while [ "$i" -lt "$runs" ]; do
  n=0
  for binary in "$@"; do
    key="$n-sleep" run_on sleep
    key="$n-tiny" run_on tiny
    key="$n-tags" run_on native --tags
    key="$n-native" run_on native --max-workers 2
    n=$((n + 1))
  done
  timed "$work/times" direct \
    sh -c 'i=0; while [ $i -lt 64 ]; do "$0"; i=$((i + 1)); done' "$handler"
  timed "$work/times" floor-sh \
    sh -c 'i=0; while [ $i -lt 32 ]; do "$0" --ms=500 & i=$((i + 1)); done; wait' "$handler"
  timed "$work/times" floor-fork "$work/makespan_floor" 32 "$handler" --ms=500
  plugins=$work/native/usr/libexec/dawnstep/plugins
  timed "$work/times" floor-load "$work/activation_floor" "$plugins" load
  timed "$work/times" floor-run "$work/activation_floor" "$plugins" run 2
  timed "$work/times" floor-records "$work/activation_floor" "$plugins" records 2 "$work/native"
  i=$((i + 1))
done

# median KEY FIELD: the median of field FIELD (2 wall, 3 cpu ms) of KEY's rows.
median() {
  awk -v key="$1" -v f="$2" '$1 == key {print $f}' "$work/times" | sort -g |
    awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

: >"$work/figures"
n=0
direct=$(median direct 3)
for binary in "$@"; do
  sleep=$(median "$n-sleep" 2)
  tiny=$(median "$n-tiny" 3)
  tags=$(median "$n-tags" 2)
  native=$(median "$n-native" 2)
  rm -f "$work/hwm"
  key="$n-memory" binary=$binary run_on memory --max-workers 2
  hwm=$(cat "$work/hwm" 2>/dev/null || echo "- -")
  echo "$n $sleep $tiny $tags $native $hwm" >>"$work/figures"
  n=$((n + 1))
done

awk -v direct="$direct" -v runs="$runs" -v count="$memory_count" -v natives="$native_count" -v list="$*" '
  BEGIN { split(list, binaries, " ") }
  { s[NR] = $2; c[NR] = ($3 - direct) / 64; t[NR] = $4; r[NR] = $5
    a[NR] = ($5 - $4) / natives * 1000; m[NR] = $6; w[NR] = $7 }
  function ratio(x, base) { return NR > 1 && base > 0 ? sprintf("  (%.2fx)", x / base) : "" }
  END {
    printf "medians of %d runs; the 64 handlers run directly: %.1f ms cpu\n", runs, direct
    for (i = 1; i <= NR; i++) {
      printf "%s\n", binaries[i]
      printf "  makespan, 32 x 0.5 s    %.3f s = %.2f x 0.5 s%s\n", s[i], s[i] / 0.5, ratio(s[i], s[1])
      printf "  runner cpu per json     %.2f ms%s\n", c[i], ratio(c[i], c[1])
      printf "  %5d native, --tags    %.3f s%s\n", natives, t[i], ratio(t[i], t[1])
      printf "  %5d native, run       %.3f s%s\n", natives, r[i], ratio(r[i], r[1])
      printf "  native activation       %.3f ms per plugin%s\n", a[i], ratio(a[i], a[1])
      printf "  peak rss, %d json    main %s KiB, worker %s KiB\n", count, m[i], w[i]
    }
  }' "$work/figures"

awk -v sh="$(median floor-sh 2)" -v fork="$(median floor-fork 2)" -v load="$(median floor-load 2)" \
  -v run="$(median floor-run 2)" -v records="$(median floor-records 2)" -v natives="$native_count" 'BEGIN {
    printf "floors: bare C stand-ins on the same roots\n"
    printf "  makespan, 32 x 0.5 s    %.2f x 0.5 s started by sh, %.2f x 0.5 s by forked workers\n",
           sh / 0.5, fork / 0.5
    printf "  %5d native, load      %.3f s, and run with the records%s system calls %.3f s\n",
           natives, load, "\047", records
    printf "  native activation       %.3f ms per plugin handed over, %.3f ms with the records\n",
           (run - load) / natives * 1000, (records - load) / natives * 1000
  }'
