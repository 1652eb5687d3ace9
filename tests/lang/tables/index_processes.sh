#!/usr/bin/env bash
# Two qzsh processes on one shared table: one creates a tag while the other appends 1,000
# records, before, during and after the tag's creation. The tag then holds every record once, in
# key order, as qzsh walks it and as Perl's XBase::Index reads the file.
# Usage: index_processes.sh QZSH SOURCE_DIR (SOURCE_DIR: tests/, which holds tables/interop/)
set -eu
qzsh=$1
reader=$2/tables/interop/read_cdx.pl
. "$(dirname "$0")/work_dir.sh"

cat > make.prg <<'PRG'
LOCAL i
CREATE TABLE shared (name C(10), k N(6))
FOR i = 1 TO 50
  APPEND BLANK
  REPLACE name WITH "P" + PADL(ALLTRIM(STR(MOD(i * 7919, 997))), 4, "0")
  REPLACE k WITH -i
ENDFOR
USE
PRG
"$qzsh" make.prg > make.out 2>&1 || { cat make.out; fail "the table could not be made"; }

# The appender tells when it has begun, then goes on appending; past half-way it waits for the
# tag, so that some of its appends surely come after the tag exists.
cat > append.prg <<'PRG'
LOCAL i, nWait
USE shared SHARED
FOR i = 1 TO 1000
  APPEND BLANK
  REPLACE name WITH "A" + PADL(ALLTRIM(STR(MOD(i * 7919, 1009))), 4, "0")
  REPLACE k WITH i
  IF i = 100
    STRTOFILE("x", "started")
  ENDIF
  IF i = 500
    nWait = 0
    DO WHILE !FILE("indexed") AND nWait < 12000
      SLEEP(5)
      nWait = nWait + 1
    ENDDO
  ENDIF
ENDFOR
USE
PRG
cat > index.prg <<'PRG'
USE shared SHARED
INDEX ON name TAG name
STRTOFILE("x", "indexed")
USE
PRG

"$qzsh" append.prg > append.out 2>&1 &
appender=$!
for _ in $(seq 6000); do [ -e started ] && break; sleep 0.01; done
[ -e started ] || { kill "$appender" 2>/dev/null; fail "the appender never started: $(cat append.out)"; }
"$qzsh" index.prg > index.out 2>&1 || { touch indexed; wait "$appender" || true; cat index.out; fail "INDEX ON failed"; }
wait "$appender" || fail "the appender failed: $(cat append.out)"

cat > check.prg <<'PRG'
LOCAL nKeys, nBad, cPrev, aSeen[1050]
USE shared
SCAN
  ? RTRIM(name), RECNO()
ENDSCAN
SET ORDER TO TAG name
STORE 0 TO nKeys, nBad
cPrev = ""
SCAN
  nKeys = nKeys + 1
  IF name < cPrev OR aSeen[RECNO()] == .T.
    nBad = nBad + 1
  ENDIF
  aSeen[RECNO()] = .T.
  cPrev = name
ENDSCAN
? RECCOUNT(), nKeys, nBad
USE
PRG
"$qzsh" check.prg > check.txt 2> check.err || { cat check.err; fail "the check could not run"; }
read -r count keys bad < <(tail -n 1 check.txt)
[ "$count" = 1050 ] || fail "the table holds $count records"
[ "$keys" = 1050 ] || fail "the tag walks $keys keys"
[ "$bad" = 0 ] || fail "$bad keys out of order or twice"

# The other reader: every record's (name, record) pair once, in key order.
head -n -1 check.txt | awk '{ print $1 " " $2 }' | LC_ALL=C sort > expected.txt
/usr/bin/perl "$reader" pairs shared.cdx NAME C > pairs.txt || fail "XBase::Index refused the tag"
LC_ALL=C sort -c -k1,1 pairs.txt 2> /dev/null || fail "XBase::Index reads the keys out of order"
LC_ALL=C sort pairs.txt | diff -u expected.txt - | head -20
LC_ALL=C sort pairs.txt | diff -q expected.txt - > /dev/null || fail "the tag does not hold every record"
echo "index processes: ok"
