#!/usr/bin/env bash
# Runs bench_web (median of 5 repetitions) and the python3 json / urllib peer on the same texts.
#   bench/web/run_web_bench.sh build/release/bench/bench_web [runs]
set -euo pipefail
bench=${1:?usage: run_web_bench.sh <bench_web> [runs]}
runs=${2:-5}
"$bench" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true 2>/dev/null |
  awk '/_median/ { for (i = 1; i <= NF; ++i) if ($i ~ /\/s$/) { printf "qz %-22s %s\n", $1, $i } }'
/usr/bin/python3 "$(dirname "$0")/json_python.py" "$runs"
