#!/usr/bin/env bash
# A byte-order mark at the start of standard input: taken off when the console's input character
# set (--cstdin) or the handle's has one, given back when the bytes only begin like one.
# Usage: stdin_mark.sh QZSH
set -u
qzsh=$1
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
cat > "$work/lines.prg" <<'PRG'
LPARAMETERS argc, argv
IF argc < 2
  h = FOPEN("qz://stdin")
ELSE
  h = FOPEN("qz://stdin", 0, argv[2])
ENDIF
x = FGETS(h)
? LEN(x), STRCONV(x, 15)
? FGETS(h)
PRG
failed=0
# shell option | program argument | input (printf) | expected output (printf)
while IFS='|' read -r option charset input expected; do
  options=()
  [ -n "$option" ] && options=(--cstdin "$option")
  printf "$input" | "$qzsh" "${options[@]}" "$work/lines.prg" $charset > "$work/out" 2> "$work/err"
  status=$?
  printf "$expected" > "$work/expected"
  if [ "$status" != 0 ] || ! cmp -s "$work/out" "$work/expected" || [ -s "$work/err" ]; then
    echo "--cstdin '$option' charset '$charset' input '$input': status $status"
    od -c "$work/out"
    cat "$work/err"
    failed=1
  fi
done <<'CASES'
utf-8-bom||\xEF\xBB\xBFab\ncd\n|2 6162\ncd\n
utf-8-bom||ab\ncd\n|2 6162\ncd\n
utf-8-bom||\xEF\xBBab\n|4 EFBB6162\n\n
utf-8-bom||\xEF|1 EF\n\n
utf-8-bom|||0 \n\n
||\xEF\xBB\xBFab\n|5 EFBBBF6162\n\n
utf-8||\xEF\xBB\xBFab\n|5 EFBBBF6162\n\n
|utf-8-bom|\xEF\xBB\xBFab\ncd\n|2 6162\ncd\n
CASES
exit $failed
