#!/usr/bin/env bash
# Index files written by qzsh read back by Perl's XBase::Index and DBD::XBase: the tag directory
# in its order, each tag's (key, record) pairs in key order against qzsh's own ordered walk, for a
# character, a numeric and a date tag over 50,000 records; and a table walked in a tag's order by
# DBD::XBase after keys were changed and records deleted.
# Usage: index_interop.sh QZSH SOURCE_DIR (SOURCE_DIR: tests/, which holds tables/interop/)
set -eu
qzsh=$1
reader=$2/tables/interop/read_cdx.pl
. "$(dirname "$0")/work_dir.sh"
records=${QZ_INDEX_RECORDS:-50000}

# Random keys in record order with many repeats: names over a few letters, amounts in a narrow
# range, dates within a few years.
cat > make.prg <<'PRG'
LPARAMETERS argc, argv
LOCAL n, i, j, cName, nRecords
nRecords = VAL(argv[2])
n = 7
CREATE TABLE big CODEPAGE = 1252 (name C(12), amount N(10, 2), born D)
FOR i = 1 TO nRecords
  APPEND BLANK
  n = MOD(n * 16807, 2147483647)
  cName = ""
  FOR j = 1 TO MOD(n, 7)
    cName = cName + SUBSTR("ABCDEF", MOD(INT(n / (6 ^ j)), 6) + 1, 1)
  ENDFOR
  REPLACE name WITH cName
  n = MOD(n * 16807, 2147483647)
  REPLACE amount WITH MOD(n, 40000) / 100 - 150
  n = MOD(n * 16807, 2147483647)
  REPLACE born WITH {^1998-03-01} + MOD(n, 2500)
ENDFOR
INDEX ON name TAG name
INDEX ON amount TAG amount
INDEX ON born TAG born
USE
PRG
"$qzsh" make.prg "$records" > make.out 2>&1 || { cat make.out; fail "qzsh could not write the table"; }

# qzsh's own walk of each tag, in the form the reader prints.
cat > walk.prg <<'PRG'
USE big
SET ORDER TO TAG name
SCAN
  ? RTRIM(name), RECNO()
ENDSCAN
SET ORDER TO TAG amount
SCAN
  ? ALLTRIM(STR(amount, 20, 4)), RECNO()
ENDSCAN
SET ORDER TO TAG born
SCAN
  ? DTOS(born), RECNO()
ENDSCAN
USE
PRG
"$qzsh" walk.prg > walk.txt 2> walk.err || { cat walk.err; fail "qzsh could not walk its tags"; }
# "value record" lines; qzsh separates the two with one blank.
[ "$(wc -l < walk.txt)" -eq $((3 * records)) ] || fail "qzsh walked $(wc -l < walk.txt) keys"

printf 'AMOUNT\nBORN\nNAME\n' > tags.expected
/usr/bin/perl "$reader" tags big.cdx > tags.txt || fail "XBase::Index refused the tag directory"
diff -u tags.expected tags.txt || fail "XBase::Index lists other tags"

{
  /usr/bin/perl "$reader" pairs big.cdx NAME C
  /usr/bin/perl "$reader" pairs big.cdx AMOUNT N
  /usr/bin/perl "$reader" pairs big.cdx BORN D
} > pairs.txt || fail "XBase::Index refused a tag"
# qzsh prints numbers right-aligned in their column: compare word by word.
awk '{ if (NF == 1) print " " $1; else print $1 " " $2 }' pairs.txt > pairs.norm
awk '{ if (NF == 1) print " " $1; else print $1 " " $2 }' walk.txt > walk.norm
diff -q walk.norm pairs.norm > /dev/null || { diff -u walk.norm pairs.norm | head -40; fail "XBase::Index reads other pairs"; }

# Keys changed and records deleted: DBD::XBase walks the table in the tag's order and finds every
# live record with its current value.
cat > change.prg <<'PRG'
LOCAL i
CREATE TABLE small CODEPAGE = 1252 (name C(10), amount N(8, 1), born D)
FOR i = 1 TO 600
  APPEND BLANK
  REPLACE name WITH PADL(ALLTRIM(STR(MOD(i * 37, 101))), 4, "0") + "K"
  REPLACE amount WITH MOD(i * 53, 211) - 100
  REPLACE born WITH {^2020-01-01} + MOD(i * 17, 97)
ENDFOR
INDEX ON name TAG name
INDEX ON amount TAG amount
INDEX ON born TAG born
FOR i = 1 TO 600 STEP 7
  GO i
  REPLACE name WITH "Z" + name
  REPLACE amount WITH -amount
  REPLACE born WITH born + 400
ENDFOR
FOR i = 3 TO 600 STEP 11
  GO i
  DELETE
ENDFOR
USE
USE small
SET DELETED ON
SET ORDER TO TAG name
SCAN
  ? RECNO(), RTRIM(name)
ENDSCAN
SET ORDER TO TAG amount
SCAN
  ? RECNO(), ALLTRIM(STR(amount, 20, 1))
ENDSCAN
SET ORDER TO TAG born
SCAN
  ? RECNO(), DTOS(born)
ENDSCAN
USE
PRG
"$qzsh" change.prg > change.txt 2> change.err || { cat change.err; fail "qzsh could not change the table"; }
{
  /usr/bin/perl "$reader" table small.dbf small.cdx NAME C NAME
  /usr/bin/perl "$reader" table small.dbf small.cdx AMOUNT N AMOUNT
  /usr/bin/perl "$reader" table small.dbf small.cdx BORN D BORN
} > xbase_walk.txt || fail "DBD::XBase could not walk the table by its tags"
# Numbers in one form on both sides (DBD::XBase drops a zero fraction).
normalize() { awk '{ v = $2; if (v ~ /^-?[0-9.]+$/) v = sprintf("%.1f", v); print $1 " " v }' "$1"; }
normalize change.txt > change.norm
normalize xbase_walk.txt > xbase.norm
[ "$(wc -l < change.norm)" -gt 1000 ] || fail "qzsh walked only $(wc -l < change.norm) records"
diff -u change.norm xbase.norm | head -40
diff -q change.norm xbase.norm > /dev/null || fail "DBD::XBase walks the tags otherwise"
echo "index interop: ok"
