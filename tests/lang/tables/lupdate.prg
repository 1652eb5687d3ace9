* LUPDATE(): the last-update date of a table's header; a table changed in this run is today's.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_lupdate_" + SYS(3)
MKDIR &cDir
CD &cDir

value("LUPDATE()")

* A new table and a table changed now are today's.
CREATE TABLE fresh (a C(4))
? "fresh", LUPDATE() = DATE(), VARTYPE(LUPDATE())
USE
CREATE TABLE old (a C(4))
APPEND BLANK
USE
stamp("old.dbf", "\023\007\004")  && 2019-07-04
CREATE TABLE ninety (a C(4))
USE
stamp("ninety.dbf", "\143\014\037")  && 99-12-31

* Opened and only read, a table keeps the date its header names; the two-digit year 99 lies in the
* past century.
USE old IN 3
USE ninety IN 4
SELECT 3
? "old", LUPDATE(), LUPDATE("OLD"), LUPDATE(3), LUPDATE("ninety"), LUPDATE(4)
GO TOP
? "read", LUPDATE() = DATE(2019, 7, 4)
* A record write makes it today's, also before the table is closed ...
REPLACE a WITH "x"
? "written", LUPDATE() = DATE(), LUPDATE("ninety") = DATE(1999, 12, 31)
USE
* ... and the header keeps it.
USE old
? "reopened", LUPDATE() = DATE()
APPEND BLANK IN 4
? "appended", LUPDATE(4) = DATE()

* The argument names an area or an alias like the other work-area functions.
value("LUPDATE('nosuch')")
value("LUPDATE(9)")
value("LUPDATE(0)")
value("LUPDATE(32768)")
SELECT 9
value("LUPDATE()")
USE IN 3
USE IN 4

CD &cHome
RUN rm -rf &cDir

* Writes the date bytes of a table's header (the year within its century, the month and the day),
* given as printf's octal escapes.
PROCEDURE stamp(cFile, cBytes)
  LOCAL cCommand
  cCommand = [sh -c "printf '] + cBytes + [' | dd of=] + cFile + [ bs=1 seek=1 conv=notrunc status=none"]
  RUN &cCommand
ENDPROC

PROCEDURE value(cExpr)
  TRY
    ? cExpr, "=", EVALUATE(cExpr)
  CATCH TO e
    ? cExpr, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
