#!/usr/bin/env bash
# Tables written by qzsh read back by other DBF readers (Python's dbfread and dbf, Perl's XBase),
# and tables python3-dbf and XBase write opened, read and appended to by qzsh, then read back by
# the library that wrote them.
# Usage: interop.sh QZSH SOURCE_DIR (SOURCE_DIR: tests/, which holds tables/interop/)
set -eu
qzsh=$1
readers=$2/tables/interop
. "$(dirname "$0")/work_dir.sh"

# ---- Qz to them ----------------------------------------------------------------------------
cat > make.prg <<'PRG'
CREATE TABLE qz CODEPAGE = 1252 (name C(10), amount N(10, 2), qty I, price Y, born D, stamp T, ;
  ratio B, active L, notes M)
APPEND BLANK
REPLACE name WITH "Zoë"
REPLACE amount WITH 1234.5
REPLACE qty WITH 2147483647
REPLACE price WITH $12.25
REPLACE born WITH {^2024-02-29}
REPLACE stamp WITH {^2024-01-02 03:04:05}
REPLACE ratio WITH 2.25
REPLACE active WITH .T.
REPLACE notes WITH "memo line"
APPEND BLANK
REPLACE name WITH "x"
REPLACE amount WITH -3
REPLACE qty WITH 0
REPLACE price WITH -0.5
REPLACE born WITH {^1999-12-31}
REPLACE stamp WITH {^1999-12-31 23:59:59}
REPLACE ratio WITH -10000000000
REPLACE active WITH .F.
REPLACE notes WITH REPLICATE("long memo ", 30)
USE
PRG
"$qzsh" make.prg > make.out 2>&1 || { cat make.out; fail "qzsh could not write the table"; }
long_memo=$(printf 'long memo %.0s' $(seq 30) | sed 's/ *$//')
{
  printf 'record 1\nNAME=Zoë\nAMOUNT=1234.5000\nQTY=2147483647\nPRICE=12.2500\nBORN=2024-02-29\n'
  printf 'STAMP=2024-01-02 03:04:05\nRATIO=2.2500\nACTIVE=T\nNOTES=memo line\n'
  printf 'record 2\nNAME=x\nAMOUNT=-3.0000\nQTY=0\nPRICE=-0.5000\nBORN=1999-12-31\n'
  printf 'STAMP=1999-12-31 23:59:59\nRATIO=-10000000000.0000\nACTIVE=F\nNOTES=%s\n' "$long_memo"
} > expected.txt
/usr/bin/python3 "$readers/read_dbfread.py" qz.dbf > dbfread.txt || fail "dbfread refused the table"
diff -u expected.txt dbfread.txt || fail "dbfread reads other values"
/usr/bin/python3 "$readers/read_dbf.py" qz.dbf > dbf.txt || fail "dbf refused the table"
diff -u expected.txt dbf.txt || fail "dbf reads other values"
/usr/bin/perl "$readers/read_xbase.pl" qz.dbf > xbase.txt || fail "XBase refused the table"
diff -u expected.txt xbase.txt || fail "XBase reads other values"
# The header's date of last update is today's.
header_date=$(/usr/bin/python3 -c 'import sys, dbfread; print(dbfread.DBF(sys.argv[1]).date)' qz.dbf)
[ "$header_date" = "$(date -u +%Y-%m-%d)" ] || fail "header date $header_date"
# A record changed in place dates the table too: an older header date gives way to today's.
printf '\023\007\004' | dd of=qz.dbf bs=1 seek=1 conv=notrunc status=none
header_date=$(/usr/bin/python3 -c 'import sys, dbfread; print(dbfread.DBF(sys.argv[1]).date)' qz.dbf)
[ "$header_date" = "2019-07-04" ] || fail "stamped header date $header_date"
cat > change.prg <<'PRG'
USE qz
GO 2
REPLACE qty WITH 1
USE
PRG
"$qzsh" change.prg > change.out 2>&1 || { cat change.out; fail "qzsh could not change the table"; }
header_date=$(/usr/bin/python3 -c 'import sys, dbfread; print(dbfread.DBF(sys.argv[1]).date)' qz.dbf)
[ "$header_date" = "$(date -u +%Y-%m-%d)" ] || fail "header date after a change $header_date"

# CREATE TABLE's column list as dbfread sees it: names as written, types, lengths, decimals, the
# field flags (2 nullable, 4 binary) and the hidden null-flags field that a NULL column brings.
cat > columns.prg <<'PRG'
CREATE TABLE cols CODEPAGE = 1252 (code C(8) NOT NULL, price N(9, 3), qty I, born D NULL, flag L, notes M NULL)
USE
PRG
"$qzsh" columns.prg > columns.out 2>&1 || { cat columns.out; fail "qzsh could not create the columns table"; }
/usr/bin/python3 -c '
import sys, dbfread
for f in dbfread.DBF(sys.argv[1]).fields:
    print(f.name, f.type, f.length, f.decimal_count, f.reserved1 & 0xFF)
' cols.dbf > columns.txt || fail "dbfread refused the columns table"
printf '%s\n' "code C 8 0 0" "price N 9 3 0" "qty I 4 0 4" "born D 8 0 2" "flag L 1 0 0" "notes M 4 0 2" \
  "_NullFlags 0 1 0 5" > expected_columns.txt
diff -u expected_columns.txt columns.txt || fail "dbfread sees other columns"

# ---- them to Qz ----------------------------------------------------------------------------
# Each table gets one record appended by qzsh; the library that wrote it must read that back.
cat > append.prg <<'PRG'
LPARAMETERS argc, argv
USE (argv[2])
SCAN
  ? RECNO(), ALLTRIM(name), qty, ALLTRIM(notes)
ENDSCAN
APPEND BLANK
REPLACE name WITH "added"
REPLACE qty WITH 5
REPLACE notes WITH "from qz"
? "count", RECCOUNT()
USE
PRG

/usr/bin/python3 - pyd.dbf > /dev/null <<'PY' || fail "dbf could not write its table"
import sys, dbf
t = dbf.Table(sys.argv[1], "NAME C(10); QTY N(5,0); NOTES M", dbf_type="vfp", codepage="cp1252")
t.open(dbf.READ_WRITE)
t.append(("from dbf", 3, "its memo"))
t.close()
PY
printf '1 from dbf 3 its memo\ncount 2\n' > expected_dbf.txt
"$qzsh" append.prg pyd > qz_dbf.txt 2>&1 || { cat qz_dbf.txt; fail "qzsh could not append to the dbf table"; }
diff -u expected_dbf.txt qz_dbf.txt || fail "qzsh reads the dbf table differently"
/usr/bin/python3 - pyd.dbf > dbf_back.txt <<'PY' || fail "dbf could not read the appended table"
import sys, dbf
t = dbf.Table(sys.argv[1], codepage="cp1252")
t.open(dbf.READ_ONLY)
for r in t:
    print(r["name"].rstrip(), int(r["qty"]), r["notes"].rstrip())
t.close()
PY
printf 'from dbf 3 its memo\nadded 5 from qz\n' > expected_dbf_back.txt
diff -u expected_dbf_back.txt dbf_back.txt || fail "dbf reads the appended record differently"

# The XBase module writes version 0xF5 with an FPT memo of 10-character block numbers, bytes 12
# to 15 of each descriptor holding the field's end rather than its start, and an end-of-file byte.
/usr/bin/perl - px.dbf <<'PL' || fail "XBase could not write its table"
use XBase;
my $t = XBase->create(name => $ARGV[0], version => 0xF5, codepage => 3,
  field_names => ["NAME", "QTY", "NOTES"], field_types => ["C", "N", "M"],
  field_lengths => [10, 5, 10], field_decimals => [0, 0, 0]) or die XBase->errstr;
$t->set_record(0, "from perl", 3, "its memo") or die $t->errstr;
$t->close;
PL
[ "$(od -An -tx1 -j44 -N1 px.dbf | tr -d " ")" = 0b ] || fail "XBase no longer writes the field's end in the descriptor"
[ "$(tail -c1 px.dbf | od -An -tx1 | tr -d ' ')" = 1a ] || fail "XBase wrote no end-of-file byte"
printf '1 from perl 3 its memo\ncount 2\n' > expected_px.txt
"$qzsh" append.prg px > qz_px.txt 2>&1 || { cat qz_px.txt; fail "qzsh could not append to the XBase table"; }
diff -u expected_px.txt qz_px.txt || fail "qzsh reads the XBase table differently"
/usr/bin/perl - px.dbf > px_back.txt <<'PL' || fail "XBase could not read the appended table"
use XBase;
my $t = XBase->new($ARGV[0]) or die XBase->errstr;
for my $n (0 .. $t->last_record) {
    my ($deleted, $name, $qty, $notes) = $t->get_record($n, "NAME", "QTY", "NOTES");
    s/\s+$// for $name, $notes;
    print "$name ", $qty + 0, " $notes\n";
}
PL
printf 'from perl 3 its memo\nadded 5 from qz\n' > expected_px_back.txt
diff -u expected_px_back.txt px_back.txt || fail "XBase reads the appended record differently"

echo "interop ok"
