* PACK, ZAP, REINDEX, ALTER TABLE and COPY TO on a table with tags: the rebuilt tags keep their
* names, keys and FOR expressions and find every live record; a column a tag reads cannot go.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_rebuild_tags_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE stock (id I AUTOINC, name C(8), price N(6, 2), note M)
LOCAL i, aNames, aPrices, aa
aNames = ARRAY("pear", "apple", "fig", "kiwi", "plum", "date")
aPrices = ARRAY(12, 80, 45, 30, 99, 7)
FOR i = 1 TO ALEN(aNames)
  APPEND BLANK
  REPLACE name WITH aNames[i]
  REPLACE price WITH aPrices[i]
  REPLACE note WITH "note of " + aNames[i]
ENDFOR
INDEX ON UPPER(name) TAG byname
INDEX ON price TAG cheap FOR price < 50
INDEX ON id TAG pk CANDIDATE
GO 2
DELETE
GO 4
DELETE

PACK
show("pack")
files()
* The rebuilt tags are kept current afterwards.
APPEND BLANK
REPLACE name WITH "lime"
REPLACE price WITH 3
show("append after pack")

ALTER TABLE stock ADD COLUMN qty I
show("add column")
check("ALTER TABLE stock DROP COLUMN name")
check("ALTER TABLE stock DROP COLUMN price")
? "after refusals", AFIELDS(aa), RECCOUNT()
ALTER TABLE stock DROP COLUMN note
show("drop column")
files()

* REINDEX keeps the order and the record.
SET ORDER TO cheap
GO 3
REINDEX
? "reindex keeps", ORDER(), RECNO()
show("reindex")

* COPY TO WITH CDX carries the tags; without it no index file is written.
COPY TO withtags WITH CDX
COPY TO notags
? "copy", FILE("withtags.cdx"), FILE("notags.cdx")
USE withtags IN 0
SELECT withtags
show("copy with tags")
USE
SELECT stock

ZAP
show("zap")
APPEND BLANK
REPLACE name WITH "new"
REPLACE price WITH 1
show("append after zap")
USE
files()

* REINDEX of a table without tags makes nothing.
CREATE TABLE bare (k N(2))
REINDEX
? "bare", TAGNO(), FILE("bare.cdx")
USE

CD &cHome
RUN rm -rf &cDir

PROCEDURE show(cWhat)
  LOCAL aT, nT, nTag
  ? cWhat, "reccount", RECCOUNT(), "recno", RECNO(), "order [" + ORDER() + "]"
  nT = ATAGINFO(aT)
  FOR nTag = 1 TO nT
    SET ORDER TO (aT[nTag, 1])
    ? " ", aT[nTag, 1], aT[nTag, 2], aT[nTag, 3], "[" + aT[nTag, 4] + "]", walk()
  ENDFOR
  SET ORDER TO
ENDPROC

FUNCTION walk()
  LOCAL cOut
  cOut = ""
  SCAN
    cOut = cOut + ALLTRIM(name) + " "
  ENDSCAN
  RETURN ALLTRIM(cOut)
ENDFUNC

PROCEDURE files()
  LOCAL a, n, nFile, cRow
  n = ADIR(a, "*.*")
  cRow = "files:"
  IF n > 0
    ASORT(a)
    FOR nFile = 1 TO n
      cRow = cRow + " " + LOWER(a[nFile, 1])
    ENDFOR
  ENDIF
  ? cRow
ENDPROC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
