* Commands that make a file, into a directory that does not exist and through a path whose
* directory part is a regular file: each reports 1102 naming the file it could not make, and
* leaves nothing behind. A name that is taken or in use keeps its own error.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_create_paths_" + SYS(3)
MKDIR &cDir
CD &cDir

STRTOFILE("a regular file", "plain")
CREATE TABLE src (num N(3), note M)
APPEND BLANK
REPLACE num WITH 1
REPLACE note WITH "memo"

LOCAL aCases[6], i
aCases[1] = 'CREATE TABLE ("nodir/t") (a C(3))'
aCases[2] = 'CREATE TABLE ("plain/t") (a C(3), m M)'
aCases[3] = 'COPY TO ("nodir/t")'
aCases[4] = 'COPY TO ("plain/sub/t")'
aCases[5] = 'STRTOFILE("x", "nodir/f.txt")'
aCases[6] = 'STRTOFILE("x", "plain/f.txt")'
FOR i = 1 TO ALEN(aCases)
  SELECT src
  check(aCases[i])
ENDFOR
files()
? FILETOSTR("plain")

* Taken or in use: the table itself, a table open in another area, an existing table.
SELECT 0
CREATE TABLE other (num N(3))
SELECT src
check('COPY TO src')
check('COPY TO other')
check('CREATE TABLE other (num N(3))')
USE
USE IN other
files()

CD &cHome
RUN rm -rf &cDir

PROCEDURE files()
  LOCAL a, n, k, cRow
  n = ADIR(a, "*")
  cRow = "files:"
  IF n > 0
    ASORT(a)
    FOR k = 1 TO n
      cRow = cRow + " " + LOWER(a[k, 1])
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
