#!/usr/bin/env bash
# How well `dawnstep-analyze simulate` predicts real boots: on the example
# root and on a generated root of N JSON plugins (default 200) with random
# requirements whose commands sleep random times. For each root it boots in
# parallel, predicts that boot from its own profile and a --max-workers 1
# boot from the same profile, then boots with --max-workers 1 to compare.
# The prediction takes the processors this script may use (nproc) for those
# the boots shared, so their number is printed first.
# Usage: bench/simulate_accuracy.sh [BUILD_DIR] [N] [SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
count=${2:-200}
seed=${3:-1}
bin=$build/dawnstep
analyzer=$build/analyze/dawnstep-analyze
work=$(mktemp -d /tmp/dawnstep-simulate-XXXXXX)
trap 'rm -rf "$work"' EXIT

# generate ROOT: the sleeping plugins and their command.
generate() {
  local root=$1
  mkdir -p "$root/usr/libexec/dawnstep/plugins" "$root/usr/lib/corvane/orvocli/bin" "$root/var/log"
  cat >"$root/usr/lib/corvane/orvocli/bench.json" <<'JSON'
{"namespace": "bench", "commands": [{"name": "sleep", "handler": "bin/sleep",
  "parameters": [{"name": "seconds", "required": true}]}]}
JSON
  printf '#!/bin/sh\nexec sleep "${1#--seconds=}"\n' >"$root/usr/lib/corvane/orvocli/bin/sleep"
  chmod +x "$root/usr/lib/corvane/orvocli/bin/sleep"
  python3 - "$root/usr/libexec/dawnstep/plugins" "$count" "$seed" <<'PY'
import json, random, sys
directory, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
for i in range(count):
    requires = sorted({f"t{rng.randrange(i)}" for _ in range(rng.randint(0, 3))}) if i else []
    plugin = {"metadata": {"provides": [f"t{i}"], "requires": requires, "version": 3,
                           "run_once": False},
              "operations": {"start": [f"bench sleep --seconds={rng.randint(5, 60) / 1000}"]}}
    with open(f"{directory}/p{i:03d}.json", "w") as f:
        json.dump(plugin, f)
PY
}

example() {
  local root=$1
  cp -a examples/root/. "$root/"
  cp "$build"/example-plugins/*.so "$root/usr/libexec/dawnstep/plugins/"
}

field() { python3 -c 'import json,sys; print(json.load(sys.stdin)[sys.argv[1]])' "$1"; }

ms() { python3 -c 'import sys; print("%.1f" % (int(sys.argv[1]) / 1000))' "$1"; }

error() { python3 -c 'import sys; p,r=map(int,sys.argv[1:]); print("%+.1f%%" % (100*(p-r)/r))' "$1" "$2"; }

measure() {
  local name=$1 make=$2 root=$work/$1
  mkdir -p "$root"
  "$make" "$root"
  export DAWNSTEP_ROOT=$root
  "$bin" >/dev/null 2>&1 || true
  local parallel serial
  parallel=$("$analyzer" simulate --json 2>/dev/null)
  serial=$("$analyzer" simulate --json --max-workers 1 2>/dev/null)
  local recorded predicted serial_predicted serial_recorded
  recorded=$(field recorded_us <<<"$parallel")
  predicted=$(field predicted_us <<<"$parallel")
  serial_predicted=$(field predicted_us <<<"$serial")
  "$bin" --max-workers 1 >/dev/null 2>&1 || true
  serial_recorded=$("$analyzer" time --json 2>/dev/null | field activation_us)
  # The one-worker boot predicted from its own profile, for comparison.
  local serial_self
  serial_self=$("$analyzer" simulate --json --max-workers 1 2>/dev/null | field predicted_us)
  printf '%s: parallel boot %s ms, predicted from its profile %s ms (%s)\n' \
    "$name" "$(ms "$recorded")" "$(ms "$predicted")" "$(error "$predicted" "$recorded")"
  printf '%s: --max-workers 1 boot %s ms, predicted from the parallel profile %s ms (%s), from its own %s ms (%s)\n' \
    "$name" "$(ms "$serial_recorded")" "$(ms "$serial_predicted")" \
    "$(error "$serial_predicted" "$serial_recorded")" "$(ms "$serial_self")" \
    "$(error "$serial_self" "$serial_recorded")"
}

echo "processors: $(nproc)"
measure example example
measure generated generate
