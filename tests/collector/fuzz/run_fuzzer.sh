#!/usr/bin/env bash
# run_fuzzer.sh FUZZER CORPUS_DIR SEEDS_DIR [libFuzzer options...]: one fuzzer over its seeds, new
# inputs kept in CORPUS_DIR; a finding (crash, leak, sanitizer report, broken property) fails with
# the input saved beside the corpus. Prints the number of inputs run.
set -eu
fuzzer=$1 corpus=$2 seeds=$3
shift 3
mkdir -p "$corpus" "$corpus.findings"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$fuzzer" -rss_limit_mb=2048 -max_len=65600 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$corpus.findings/" "$@" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
grep -E "^Done|stat::number_of_executed_units|ERROR|SUMMARY|property broken|Test unit written" "$log" || true
if [ $status -ne 0 ]; then
  tail -40 "$log"
  exit 1
fi
