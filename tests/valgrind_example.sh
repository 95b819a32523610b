#!/usr/bin/env bash
# Runs the example root once under memcheck: the main process and every
# worker it forks (valgrind follows a fork by itself). Command handlers are
# shell scripts started by exec and are not checked. Passes when no process
# reports an error or a definitely lost block.
# Usage: valgrind_example.sh DAWNSTEP EXAMPLE_ROOT EXAMPLE_PLUGIN_DIR
set -uo pipefail

binary=$1 example=$2 plugins=$3
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root" "$work/logs"
cp -a "$example/." "$work/root/"
cp "$plugins"/*.so "$work/root/usr/libexec/dawnstep/plugins/"

DAWNSTEP_ROOT=$work/root valgrind --tool=memcheck --leak-check=full \
    --errors-for-leak-kinds=definite --show-leak-kinds=definite \
    --log-file="$work/logs/%p.log" "$binary" >"$work/out" 2>&1
status=$?
echo "dawnstep exit status $status"

# Workers end once the main process is gone; wait for them to finish.
for _ in $(seq 600); do
  running=0
  for log in "$work"/logs/*.log; do
    kill -0 "$(basename "$log" .log)" 2>/dev/null && running=1
  done
  [ $running = 0 ] && break
  sleep 0.1
done

# A process whose log has no summary replaced itself by a handler program
# (exec ends the checking); every other one must be clean.
failed=$running checked=0
for log in "$work"/logs/*.log; do
  summary=$(grep "ERROR SUMMARY" "$log") || continue
  checked=$((checked + 1))
  echo "process $(basename "$log" .log): $summary"
  if [[ $summary != *" 0 errors from 0 contexts"* ]]; then
    failed=1
    cat "$log"
  fi
done
echo "$checked processes checked"
[ "$status" = 0 ] && [ "$checked" -ge 2 ] && [ "$failed" = 0 ]
