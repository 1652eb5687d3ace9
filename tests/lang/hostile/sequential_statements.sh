#!/usr/bin/env bash
# A long program of statements one after the other, each of which keeps hidden values while it
# runs (loops, TRY, STORE, macro headers, RETURN through FINALLY): they share their places in the
# frame, so the program runs however many there are. 70,000 FOR loops in the main program and in a
# function, the other kinds in turn, 70,000 TRY blocks with a RETURN in a function and 70,000
# RETURNs in one TRY. Generated, since the programs are long.
# Usage: sequential_statements.sh QZSH
set -u
qzsh=$1
work=$(mktemp -d /tmp/qz-sequential.XXXXXX) || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
failed=0
for_loop='FOR x = 1 TO 2\n  n = n + 1\nENDFOR'
mixed="$for_loop"'
FOR x = 4 TO 1 STEP -2\n  n = n + 1\nENDFOR
FOR EACH x IN o\n  n = n + x\nENDFOR
x = n + 1\nDO WHILE &c AND n < x\n  n = n + 1\nENDDO
IF &c\n  n = n + 1\nENDIF
STORE 1 TO x\nn = n + x
TRY\n  THROW 1\nCATCH TO e\n  n = n + e.UserValue\nENDTRY'
try_return='TRY\n  IF n < 0\n    RETURN -1\n  ENDIF\n  n = n + 1\nFINALLY\n  n = n + 1\nENDTRY'
# name, where (main, function, or try: a function whose statements are inside one TRY with a
# FINALLY), copies, expected n, statements (\n between lines); n counts, c holds "n < 1000000000"
# and o a collection of 1 and 2.
while IFS='|' read -r name where count expected statements; do
  {
    if [ "$where" != main ]; then echo "? f()"; echo "FUNCTION f"; fi
    echo 'LOCAL n, x, e, c, o'
    echo 'n = 0'
    echo 'c = "n < 1000000000"'
    echo 'o = CREATEOBJECT("Collection")'
    echo 'o.Add(1)'
    echo 'o.Add(2)'
    if [ "$where" = try ]; then echo 'TRY'; fi
    for ((i = 0; i < count; i++)); do printf '%b\n' "$statements"; done
    if [ "$where" = try ]; then printf 'FINALLY\n  n = n + 1\nENDTRY\n'; fi
    if [ "$where" = main ]; then echo '? n'; else echo 'RETURN n'; fi
  } > p.prg
  "$qzsh" p.prg > out 2> err < /dev/null
  status=$?
  got=$(tr -d ' \n' < out)
  if [ "$status" != 0 ] || [ "$got" != "$expected" ] || [ -s err ]; then
    echo "$name in $where: exit $status, output '$got' (expected $expected)"
    head -c 300 err
    failed=1
  fi
done <<CASES
for|main|70000|140000|$for_loop
for|function|70000|140000|$for_loop
mixed|main|10000|$((10000 * 11))|${mixed//$'\n'/\\n}
try return|function|70000|140000|$try_return
returns in one try|try|70000|70001|IF n < 0\n  RETURN -1\nENDIF\nn = n + 1
CASES
exit $failed
