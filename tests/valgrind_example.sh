#!/usr/bin/env bash
# The example root under memcheck: every process whose log has a summary (exec
# of a command handler ends the checking) is clean. Usage: valgrind_example.sh DAWNSTEP EXAMPLE_ROOT PLUGIN_DIR
set -uo pipefail
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
mkdir -p "$work/logs" && cp -a "$2/." "$work/root/" && cp "$3"/*.so "$work/root/usr/libexec/dawnstep/plugins/"
DAWNSTEP_ROOT=$work/root valgrind --leak-check=full --errors-for-leak-kinds=definite \
  --show-leak-kinds=definite --log-file="$work/logs/%p.log" "$1" >"$work/out" 2>&1
declare -i status=$? checked=0 failed=0
for log in "$work"/logs/*.log; do  # workers end once the main process is gone
  pid=$(basename "$log" .log)
  for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null && sleep 0.1 || break; done
  kill -0 "$pid" 2>/dev/null && failed=1
  summary=$(grep "ERROR SUMMARY" "$log") || continue
  checked+=1
  [[ $summary == *" 0 errors from 0 contexts"* ]] || { failed=1; cat "$log"; }
done
echo "dawnstep exit status $status, $checked processes checked" && ((status == 0 && checked >= 2 && !failed))
