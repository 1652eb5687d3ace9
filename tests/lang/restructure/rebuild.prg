* PACK, ZAP, ALTER TABLE ADD and DROP COLUMN and COPY TO on tables without tags: records, memos,
* auto-increment values, errors, and the files left in the directory.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_rebuild_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE people (id I AUTOINC, name C(10), note M, born D NULL)
LOCAL i, aa
FOR i = 1 TO 5
  APPEND BLANK
  REPLACE name WITH "n" + TRANSFORM(i)
  REPLACE note WITH REPLICATE("m" + TRANSFORM(i), i * 300)
ENDFOR
GO 3
REPLACE born WITH {^2001-02-03}
GO 2
DELETE
GO 4
DELETE
show("before")

* PACK keeps the live records in their order with their memos and auto-increment values, and
* stands on the first record.
PACK
show("pack")
APPEND BLANK
? "next autoinc", id
files()
* PACK again without deleted records changes nothing visible.
PACK
show("pack again")

* ADD COLUMN: every record keeps its fields; the new one is blank. DELETEd records go.
GO 2
DELETE
ALTER TABLE people ADD COLUMN extra N(6, 2)
show("add column")
REPLACE extra WITH 12.5
? "extra", extra
check("ALTER TABLE people ADD COLUMN name C(4)")
show("after duplicate")
files()

* DROP COLUMN matches the name in any case; the memo field survives the move.
ALTER TABLE people DROP COLUMN BORN
show("drop column")
check("ALTER TABLE people DROP COLUMN nosuch")
ALTER TABLE people DROP COLUMN id
ALTER TABLE people DROP COLUMN extra
ALTER TABLE people DROP COLUMN note
check("ALTER TABLE people DROP COLUMN name")
? "fields left", AFIELDS(aa), aa[1, 1]
files()
USE

* Exclusive use: shared -> 110, read-only -> 1718.
CREATE TABLE locked (k N(3))
APPEND BLANK
USE locked SHARED
check("PACK")
checkno("ZAP")
checkno("ALTER TABLE locked ADD COLUMN z L")
? "shared", RECCOUNT(), AFIELDS(aa)
USE locked NOUPDATE
checkno("PACK")
checkno("ALTER TABLE locked ADD COLUMN z L")
? "read-only", RECCOUNT(), AFIELDS(aa)
USE

* ZAP: no records, the same fields, BOF and EOF.
USE locked
ZAP
? "zap", RECCOUNT(), AFIELDS(aa), BOF(), EOF()
APPEND BLANK
REPLACE k WITH 7
? "after zap", RECCOUNT(), k
USE
files()

* COPY TO: only live records; onto the table itself or a table open elsewhere -> 3, source intact.
CREATE TABLE src (k N(3), t M)
FOR i = 1 TO 4
  APPEND BLANK
  REPLACE k WITH i
  REPLACE t WITH REPLICATE("t", i * 100)
ENDFOR
GO 1
DELETE
COPY TO dest
? "copy", EOF(), RECCOUNT()
check("COPY TO src")
PRIVATE cTarget
cTarget = cDir + "/./src.dbf"
TRY
  COPY TO (cTarget)
CATCH TO e
  ? "COPY TO its own full path ->", e.ErrorNo
ENDTRY
SELECT 0
USE dest
SELECT src
check("COPY TO dest")
SELECT dest
show("dest")
USE
SELECT src
show("src intact")
* A second COPY TO over a closed table replaces it; a table without memo leaves no memo behind.
COPY TO dest
USE dest IN 0
? "replaced", RECCOUNT("dest")
USE IN dest
CREATE TABLE plain (k N(2))
APPEND BLANK
COPY TO dest
USE dest
? "plain copy", RECCOUNT(), AFIELDS(aa), FILE("dest.fpt")
USE
SELECT src
cTarget = "sub/elsewhere"
TRY
  COPY TO (cTarget)
CATCH TO e
  ? "COPY TO a missing directory ->", e.ErrorNo
ENDTRY
? "copy into a missing directory leaves", FILE("sub/elsewhere.dbf")
USE
files()

* A cursor is rebuilt in memory.
CREATE CURSOR cur (a C(3), b M)
FOR i = 1 TO 3
  APPEND BLANK
  REPLACE a WITH "c" + TRANSFORM(i)
  REPLACE b WITH "memo" + TRANSFORM(i)
ENDFOR
GO 2
DELETE
PACK
show("cursor pack")
ALTER TABLE cur ADD COLUMN c L
? "cursor add", AFIELDS(aa), RECCOUNT(), a, b, c
ZAP
? "cursor zap", RECCOUNT(), BOF(), EOF()
USE
files()

CD &cHome
RUN rm -rf &cDir

PROCEDURE show(cWhat)
  LOCAL nRec, aF, nF, nField, cRow
  nRec = RECNO()
  ? cWhat, "reccount", RECCOUNT(), "recno", nRec
  nF = AFIELDS(aF)
  SCAN
    cRow = "  " + TRANSFORM(RECNO()) + ":"
    FOR nField = 1 TO nF
      cRow = cRow + " " + row_value(aF[nField, 1], aF[nField, 2])
    ENDFOR
    ? cRow
  ENDSCAN
  GO TOP
ENDPROC

FUNCTION row_value(cName, cType)
  LOCAL v
  v = EVALUATE(cName)
  IF cType == "M"
    RETURN cName + "=" + LEFT(v, 4) + "/" + TRANSFORM(LEN(v))
  ENDIF
  IF cType == "N"
    RETURN cName + "=" + LTRIM(STR(v, 10, 2))
  ENDIF
  RETURN cName + "=" + TRANSFORM(v)
ENDFUNC

PROCEDURE files()
  LOCAL a, n, k, cRow
  n = ADIR(a, "*.*")
  cRow = "files:"
  IF n > 0
    ASORT(a)
    FOR k = 1 TO n
      cRow = cRow + " " + LOWER(a[k, 1])
    ENDFOR
  ENDIF
  ? cRow
ENDPROC

PROCEDURE checkno(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo
  ENDTRY
ENDPROC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
