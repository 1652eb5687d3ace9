#!/usr/bin/env bash
# Times the loops of object_calls.{prg,py,lua}, each RUNS times (default 5) per language, and
# prints medians. call, read and write: ns per operation over COUNT (default 1000000) operations,
# less the empty loop, in CPU time (user + system). add and item: ns per operation with COUNT/10
# string keys (add less the empty loop of as many turns, item is additem less add). workers1, workers2, workers4: wall-clock milliseconds for
# that many threads each making COUNT method calls on an object of its own (Lua runs them one after
# the other, Python under its global lock).
# Usage: run_object_calls.sh QZSH [COUNT] [RUNS]
set -euo pipefail
qzsh=$1
count=${2:-1000000}
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # not a version-manager shim, whose start-up time varies
[ -x "$python" ] || python=python3
export LANG=C.UTF-8 TZ=UTC
run() {  # lang op n
  case $1 in
    qz) "$qzsh" "$here/object_calls.prg" "$2" "$3" ;;
    py) "$python" "$here/object_calls.py" "$2" "$3" ;;
    lua) lua5.4 "$here/object_calls.lua" "$2" "$3" ;;
  esac > /dev/null
}
median() {  # kind(cpu|wall) lang op n
  local times=() t
  for _ in $(seq "$runs"); do
    if [ "$1" = cpu ]; then
      t=$({ TIMEFORMAT='%3U %3S'; time run "$2" "$3" "$4"; } 2>&1)
      times+=("$(awk -v c="$t" 'BEGIN { split(c, f, " "); printf "%.6f", f[1] + f[2] }')")
    else
      t=$({ TIMEFORMAT='%3R'; time run "$2" "$3" "$4"; } 2>&1)
      times+=("$t")
    fi
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}
keys=$((count / 10))
printf '%-10s %10s %10s %10s\n' op qz python3 lua5.4
declare -A empty empty_keys add
for lang in qz py lua; do
  empty[$lang]=$(median cpu "$lang" empty "$count")
  empty_keys[$lang]=$(median cpu "$lang" empty "$keys")
  add[$lang]=$(median cpu "$lang" add "$keys")
done
for op in call read write; do
  row=()
  for lang in qz py lua; do
    t=$(median cpu "$lang" "$op" "$count")
    row+=("$(awk -v t="$t" -v e="${empty[$lang]}" -v n="$count" 'BEGIN { printf "%.0f", (t - e) * 1e9 / n }')")
  done
  printf '%-10s %10s %10s %10s\n' "$op ns" "${row[@]}"
done
row=()
for lang in qz py lua; do
  row+=("$(awk -v t="${add[$lang]}" -v e="${empty_keys[$lang]}" -v n="$keys" 'BEGIN { printf "%.0f", (t - e) * 1e9 / n }')")
done
printf '%-10s %10s %10s %10s\n' "add ns" "${row[@]}"
row=()
for lang in qz py lua; do
  t=$(median cpu "$lang" additem "$keys")
  row+=("$(awk -v t="$t" -v a="${add[$lang]}" -v n="$keys" 'BEGIN { printf "%.0f", (t - a) * 1e9 / n }')")
done
printf '%-10s %10s %10s %10s\n' "item ns" "${row[@]}"
for k in 1 2 4; do
  row=()
  for lang in qz py lua; do
    t=$(median wall "$lang" "workers$k" "$count")
    row+=("$(awk -v t="$t" 'BEGIN { printf "%.0f", t * 1000 }')")
  done
  printf '%-10s %10s %10s %10s\n' "workers$k ms" "${row[@]}"
done
