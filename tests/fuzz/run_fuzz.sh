#!/usr/bin/env bash
# Runs one fuzz target for a bounded time and says what it reached. The exit status is the
# fuzzer's: non-zero on a crash, a sanitizer report, a broken invariant, a time-out or a leak,
# and then the log's end and the reproducer's path are printed.
#
#   run_fuzz.sh [--fresh] PROGRAM SEEDS CORPUS SECONDS
#
# --fresh: CORPUS starts as a copy of the SEEDS folder, as in the tests; without it CORPUS keeps
# what earlier runs found and SEEDS is read beside it. Nothing is written to SEEDS. The log and any
# reproducer land beside CORPUS (CORPUS.log, CORPUS.crashes/).
set -euo pipefail
fresh=0
if [ "${1:-}" = --fresh ]; then fresh=1; shift; fi
[ $# -eq 4 ] || { echo "usage: $0 [--fresh] PROGRAM SEEDS CORPUS SECONDS" >&2; exit 2; }
program=$1 seeds=$2 corpus=$3 seconds=$4
name=$(basename "$program")
log=$corpus.log crashes=$corpus.crashes

if [ $fresh = 1 ]; then
  rm -rf "$corpus" "$crashes"
  mkdir -p "$corpus" "$crashes"
  cp "$seeds"/* "$corpus"/
  dirs=("$corpus")
else
  mkdir -p "$corpus" "$crashes"
  dirs=("$corpus" "$seeds")
fi

# Longer runs also learn from the values that comparisons see, which finds exact lengths and ids.
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/")
[ $fresh = 1 ] || options+=(-use_value_profile=1)
status=0 start=$SECONDS
"$program" "${options[@]}" "${dirs[@]}" >"$log" 2>&1 || status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
echo "$name: ${runs:-?} runs in $((SECONDS - start)) s, ${coverage:-cov: ?}, corpus of $(find "$corpus" -type f | wc -l) inputs"
if [ $status -ne 0 ]; then
  tail -n 60 "$log"
  for input in "$crashes"/*; do
    [ -e "$input" ] && echo "$name: FAILED; reproduce with: $program $input"
  done
  echo "$name: FAILED (exit status $status; log: $log)"
fi
exit $status
