#!/usr/bin/env bash
# Runs the tag benchmark's phases RUNS times (default 3) for qzsh and SQLite, each in a fresh
# temporary folder, and prints the median of every phase (ms; the size rows in bytes).
# Usage: run_index_phases.sh QZSH [N] [M] [RUNS]
set -euo pipefail
qzsh=$(realpath "$1")
n=${2:-100000}
m=${3:-100000}
runs=${4:-3}
here=$(cd "$(dirname "$0")" && pwd)
export LANG=C.UTF-8 TZ=UTC
declare -A results
for kind in qz sqlite; do
  for _ in $(seq "$runs"); do
    work=$(mktemp -d)
    case $kind in
      qz) out=$(cd "$work" && "$qzsh" "$here/index_phases.prg" "$n" "$m") ;;
      sqlite) out=$(cd "$work" && /usr/bin/python3 "$here/index_phases_sqlite.py" "$n" "$m") ;;
    esac
    rm -rf "$work"
    while read -r phase value _; do
      [ -n "$phase" ] && results[$kind.$phase]+="$value "
    done <<< "$out"
  done
done
median() { tr ' ' '\n' | grep . | sort -g | sed -n "$(((runs + 1) / 2))p"; }
printf '%-13s %12s %12s   (median of %d runs, N=%d records, M=%d operations)\n' phase qz sqlite "$runs" "$n" "$m"
for phase in index_name index_amount seek_excl seek_shared skip_fwd skip_back replace1 replace3 append3; do
  printf '%-13s %12s %12s\n' "$phase" "$(median <<< "${results[qz.$phase]:-}")" \
    "$(median <<< "${results[sqlite.$phase]:-}")"
done
printf '%-13s %12s %12s\n' "index bytes" "$(median <<< "${results[qz.cdx_bytes]:-}")" \
  "$(median <<< "${results[sqlite.index_bytes]:-}")"
