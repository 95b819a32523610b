#!/usr/bin/env bash
# Runs the example root once under memcheck, the main process and every
# worker it forks. A process whose log has no summary replaced itself by a
# command handler (exec ends the checking); every other must be clean.
# Usage: valgrind_example.sh DAWNSTEP EXAMPLE_ROOT EXAMPLE_PLUGIN_DIR
set -uo pipefail
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/logs" && cp -a "$2/." "$work/root/" && cp "$3"/*.so "$work/root/usr/libexec/dawnstep/plugins/"
DAWNSTEP_ROOT=$work/root valgrind --leak-check=full --errors-for-leak-kinds=definite \
  --show-leak-kinds=definite --log-file="$work/logs/%p.log" "$1" >"$work/out" 2>&1
status=$?
# Workers end once the main process is gone.
for _ in $(seq 600); do
  running=0
  for log in "$work"/logs/*.log; do kill -0 "$(basename "$log" .log)" 2>/dev/null && running=1; done
  [ $running = 0 ] && break
  sleep 0.1
done
failed=$running checked=0
for log in "$work"/logs/*.log; do
  summary=$(grep "ERROR SUMMARY" "$log") || continue
  checked=$((checked + 1))
  [[ $summary == *" 0 errors from 0 contexts"* ]] || { failed=1; cat "$log"; }
done
echo "dawnstep exit status $status, $checked processes checked"
[ "$status" = 0 ] && [ "$checked" -ge 2 ] && [ "$failed" = 0 ]
