#!/bin/sh
# run-fuzz.sh FUZZER CORPUS WORK SECONDS [DICT]: a bounded libFuzzer run over the
# committed corpus. What it finds goes to WORK (new inputs, crash reproducers),
# never into the corpus, which libFuzzer would otherwise grow.
set -eu
fuzzer=$1 corpus=$2 work=$3 seconds=$4 dict=${5:-}
rm -rf "$work/new" "$work/crashes"
mkdir -p "$work/new" "$work/crashes"
set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$work/crashes/"
[ -n "$dict" ] && [ -f "$dict" ] && set -- "$@" -dict="$dict"
exec "$fuzzer" "$@" "$work/new" "$corpus"
