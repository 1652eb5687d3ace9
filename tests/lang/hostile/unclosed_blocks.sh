#!/usr/bin/env bash
# Blocks left open at the nesting limit: up to the limit each one reports its missing end and the
# build fails; one block more is refused as too deep. Generated, since the programs are long.
# Usage: unclosed_blocks.sh QZSH
set -u
qzsh=$1
work=$(mktemp -d /tmp/qz-unclosed.XXXXXX) || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
failed=0
# opening line, blocks, expected exit status, message code, expected count of that message
while read -r count status code expected opening; do
  : > p.prg
  for ((i = 0; i < count; i++)); do echo "$opening" >> p.prg; done
  "$qzsh" p.prg > out 2> err < /dev/null
  got=$?
  found=$(grep -c "^(Compiler error) $code - " err)
  if [ "$got" != "$status" ] || [ "$found" != "$expected" ]; then
    echo "$count x '$opening': exit $got (expected $status), $found messages $code (expected $expected)"
    failed=1
  fi
  if [ -s out ]; then echo "$count x '$opening': unexpected output"; failed=1; fi
done <<'CASES'
999 187 1211 999 IF .T.
1000 187 1211 1000 IF .T.
1001 103 103 1 IF .T.
1000 96 96 1000 DO WHILE .F.
1001 103 103 1 DO WHILE .F.
1000 96 96 1000 FOR i = 1 TO 2
1000 96 96 1000 TRY
CASES
exit $failed
