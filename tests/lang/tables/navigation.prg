* GO, SKIP, EOF/BOF, DELETE/RECALL under SET DELETED, LOCATE/CONTINUE and SET FILTER.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_navigation_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE nums (n N(5), tag C(3))
LOCAL k
FOR k = 1 TO 6
  APPEND BLANK
  REPLACE n WITH k * 10
  REPLACE tag WITH IIF(k % 2 = 0, "odd", "eve")
ENDFOR
GO TOP
? "top", RECNO(), n, BOF(), EOF()
SKIP
? "skip", RECNO(), n
SKIP 3
? "skip 3", RECNO(), n
SKIP -2
? "skip -2", RECNO(), n
GO BOTTOM
? "bottom", RECNO(), n
SKIP
? "past end", RECNO(), EOF(), BOF()
check("SKIP")
GO 2
? "go 2", RECNO(), n
GO RECORD 5
? "go record 5", RECNO(), n
GO TOP
SKIP -1
? "before top", RECNO(), BOF(), EOF()
check("SKIP -1")
check("SKIP 0")
check("SKIP 3000000000")
check("SKIP -3000000000")

* DELETE and RECALL write at once; SET DELETED hides deleted records from every move.
GO 1
DELETE
GO 3
DELETE
? "deleted", DELETED(), DELETED("nums")
GO 1
? DELETED()
SET DELETED ON
GO TOP
? "top with deleted hidden", RECNO()
SKIP
? "next", RECNO()
GO 1
? "go ignores deleted", RECNO(), DELETED()
RECALL
? "recalled", DELETED()
SET DELETED OFF

* LOCATE, CONTINUE, FOUND().
LOCATE FOR n > 25
? "locate", RECNO(), FOUND()
CONTINUE
? "continue", RECNO(), FOUND()
LOCATE FOR n > 1000
? "no match", FOUND(), EOF()
check("CONTINUE")
GO 2
LOCATE FOR n >= 20 REST
? "rest", RECNO(), FOUND()
GO 2
LOCATE FOR n = 60 WHILE n < 40
? "while stops", RECNO(), FOUND()
GO 1
LOCATE FOR n = 30 WHILE n < 40
? "while finds", RECNO(), FOUND()
check("LOCATE FOR 1")

* SET FILTER: the condition hides records; the table is bound while it runs, so RECNO("other")
* inside it reads the filtered table.
CREATE TABLE other (x N(3))
APPEND BLANK
APPEND BLANK
GO 2
SELECT nums
SET FILTER TO tag = "odd"
GO TOP
? "filtered top", RECNO(), n
SKIP
? "filtered next", RECNO(), n
PRIVATE aSeen
aSeen = ""
SET FILTER TO seen(RECNO("other"))
GO TOP
? "bound table in filter", aSeen, SELECT(), ALIAS()
SET FILTER TO
GO BOTTOM
? "no filter", RECNO()
SET FILTER TO x IN other
check("GO TOP IN other")
? "area after failed filter", SELECT(), ALIAS()
SELECT other
SET FILTER TO
SELECT nums
check("SET FILTER TO n > 1 IN nosuch")
USE IN other
check("SET FILTER TO n > 1 IN other")

CD &cHome
RUN rm -rf &cDir

FUNCTION seen(nRec)
  aSeen = aSeen + TRANSFORM(nRec) + " "
  RETURN .T.
ENDFUNC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
