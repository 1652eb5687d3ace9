#!/usr/bin/env bash
# Runs the table benchmark's phases RUNS times (default 5) for qzsh, SQLite (one transaction) and
# python3-dbf, each in a fresh temporary folder, and prints the median ms of every phase.
# Usage: run_table_phases.sh QZSH [COUNT] [RUNS]
set -euo pipefail
qzsh=$(realpath "$1")
count=${2:-50000}
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
export LANG=C.UTF-8 TZ=UTC
declare -A results
for kind in qz sqlite dbf; do
  for _ in $(seq "$runs"); do
    work=$(mktemp -d)
    case $kind in
      qz) out=$(cd "$work" && "$qzsh" "$here/table_phases.prg" "$count") ;;
      sqlite) out=$(cd "$work" && /usr/bin/python3 "$here/table_phases_sqlite.py" "$count") ;;
      dbf) out=$(cd "$work" && /usr/bin/python3 "$here/table_phases_dbf.py" "$count") ;;
    esac
    rm -rf "$work"
    while read -r phase ms _; do
      results[$kind.$phase]+="$ms "
    done <<< "$out"
  done
done
median() { tr ' ' '\n' | grep . | sort -g | sed -n "$(((runs + 1) / 2))p"; }
printf '%-8s %10s %10s %10s   (ms, median of %d runs, %d records)\n' phase qz sqlite python3-dbf "$runs" "$count"
for phase in append replace sum; do
  printf '%-8s %10s %10s %10s\n' "$phase" \
    "$(median <<< "${results[qz.$phase]}")" "$(median <<< "${results[sqlite.$phase]}")" \
    "$(median <<< "${results[dbf.$phase]}")"
done
