#!/usr/bin/env bash
# Times the loops of system_calls.{prg,py,lua}: each loop RUNS times (default 5) per language, the
# median run minus the median of the empty loop, divided by COUNT, in ns per call. Output goes to
# a temporary file (the echo loop writes COUNT lines there). A run is measured in CPU time (user +
# system) of the process, which a busy machine disturbs far less than the wall clock.
# Usage: run_system_calls.sh QZSH [COUNT] [RUNS]
set -euo pipefail
qzsh=$1
count=${2:-1000000}
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
export LANG=C.UTF-8 TZ=UTC
median_seconds() {  # command...
  local times=()
  local TIMEFORMAT='%3U %3S'
  for _ in $(seq "$runs"); do
    local cpu
    cpu=$({ time "$@" > "$out"; } 2>&1)
    times+=("$(awk -v c="$cpu" 'BEGIN { split(c, f, " "); printf "%.6f", f[1] + f[2] }')")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}
printf '%-10s %10s %10s %10s\n' op qz python3 lua5.4
declare -A empty
for lang in qz py lua; do
  case $lang in
    qz) empty[$lang]=$(median_seconds "$qzsh" "$here/system_calls.prg" empty "$count") ;;
    py) empty[$lang]=$(median_seconds python3 "$here/system_calls.py" empty "$count") ;;
    lua) empty[$lang]=$(median_seconds lua5.4 "$here/system_calls.lua" empty "$count") ;;
  esac
done
for op in getenv set sys2007 echo; do
  row=()
  for lang in qz py lua; do
    case $lang in
      qz) t=$(median_seconds "$qzsh" "$here/system_calls.prg" "$op" "$count") ;;
      py) t=$(median_seconds python3 "$here/system_calls.py" "$op" "$count") ;;
      lua) t=$(median_seconds lua5.4 "$here/system_calls.lua" "$op" "$count") ;;
    esac
    row+=("$(awk -v t="$t" -v e="${empty[$lang]}" -v n="$count" 'BEGIN { printf "%.0f", (t - e) * 1e9 / n }')")
  done
  printf '%-10s %10s %10s %10s\n' "$op" "${row[@]}"
done
