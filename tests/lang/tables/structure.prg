* CREATE TABLE / CREATE CURSOR, DISPLAY STRUCTURE, AFIELDS(), ALTER TABLE, DROP TABLE,
* RENAME TABLE and DELETE FILE.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_structure_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE every (cw W, cc C(12), cb C(6) NOCPTRANS, ci I, cy Y, cd D NULL, ct T, cf B(3), cl L NOT NULL, ;
  cm M, cmb M NOCPTRANS, cn N(10, 2), cff F(8, 1), cq Q(5), cv V(20), cvb V(4) NOCPTRANS, ;
  ca I AUTOINC NEXTVALUE 100 STEP 5)
* The header names the file and today's date: both are replaced by markers before printing.
LOCAL cText, cToday
cToday = LTRIM(STR(YEAR(DATE()))) + "-" + PADL(LTRIM(STR(MONTH(DATE()))), 2, "0") + "-" + ;
  PADL(LTRIM(STR(DAY(DATE()))), 2, "0")
OB_START()
DISPLAY STRUCTURE
cText = OB_GET_CONTENT()
OB_END_CLEAN()
?? STRTRAN(STRTRAN(cText, DBF(), "<file>"), cToday, "<today>")
LOCAL a, n, k, j, cRow
n = AFIELDS(a)
? "afields", n, ALEN(a, 1), ALEN(a, 2)
FOR k = 1 TO n
  cRow = ""
  FOR j = 1 TO 18
    cRow = cRow + TRANSFORM(a[k, j]) + "|"
  ENDFOR
  ? cRow
ENDFOR
? AFIELDS(a, "every"), AFIELDS(a, 1)
USE
check("DISPLAY STRUCTURE")
check("n = AFIELDS(a)")
check("n = AFIELDS(a, 5)")

* The name of a column is at most 87 bytes: a longer one is refused with 1712, which TRY catches.
check("CREATE TABLE longname (" + REPLICATE("x", 88) + " C(2))")
? "after long name", FILE("longname.dbf")

* ALTER TABLE on a table that is not open opens it in the lowest free area, which stays current.
CREATE TABLE base (a C(3))
USE
SELECT 5
checkno("ALTER TABLE base ADD COLUMN b N(4)")
? "alter", SELECT(), ALIAS(), USED("base")
checkno("ALTER TABLE base DROP COLUMN a")
check("ALTER TABLE base ADD COLUMN " + REPLICATE("y", 88) + " N(4)")
USE IN base

* RENAME TABLE and DROP TABLE act on all files of a table.
CREATE TABLE memo1 (t M)
APPEND BLANK
REPLACE t WITH "text"
USE
CREATE TABLE taken (t M)
USE
check("RENAME TABLE memo1 TO taken")
? "rename onto existing", FILE("memo1.dbf"), FILE("memo1.fpt"), FILE("taken.dbf")
check("RENAME TABLE memo1 TO moved")
? "renamed", FILE("memo1.dbf"), FILE("memo1.fpt"), FILE("moved.dbf"), FILE("moved.fpt")
USE moved SHARED
check("DROP TABLE moved")
? "drop while open", FILE("moved.dbf"), FILE("moved.fpt")
USE
check("DROP TABLE moved")
? "dropped", FILE("moved.dbf"), FILE("moved.fpt")
check("DROP TABLE moved")
check("DROP TABLE notes.txt")
STRTOFILE("x", "gone.txt")
check("DELETE FILE gone.txt")
check("DELETE FILE gone.txt")

* CREATE CURSOR makes a table that lives in memory.
CREATE CURSOR tmp (k I, v C(4))
APPEND BLANK
REPLACE k WITH 1
REPLACE v WITH "one"
? "cursor", ALIAS(), RECCOUNT(), k, v, FILE("tmp.dbf")
USE

CD &cHome
RUN rm -rf &cDir

* The number only, for messages that name a temporary file.
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
