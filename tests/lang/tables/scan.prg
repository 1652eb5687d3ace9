* SCAN over real tables: FOR, WHILE, REST, EXIT and LOOP, and a SCAN nested in another SCAN on
* a second work area.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_scan_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE a (n N(3))
LOCAL k
FOR k = 1 TO 5
  APPEND BLANK
  REPLACE n WITH k
ENDFOR
CREATE TABLE b (m N(3))
FOR k = 1 TO 3
  APPEND BLANK
  REPLACE m WITH k * 100
ENDFOR
SELECT a

LOCAL cOut
cOut = ""
SCAN
  cOut = cOut + LTRIM(STR(n)) + " "
ENDSCAN
? "all:", cOut, EOF(), SELECT()
cOut = ""
SCAN FOR n % 2 = 1
  cOut = cOut + LTRIM(STR(n)) + " "
ENDSCAN
? "for:", cOut
cOut = ""
SCAN WHILE n < 4
  cOut = cOut + LTRIM(STR(n)) + " "
ENDSCAN
? "while from EOF:", "[" + cOut + "]"
GO TOP
SCAN WHILE n < 4
  cOut = cOut + LTRIM(STR(n)) + " "
ENDSCAN
? "while:", cOut, RECNO()
GO 3
cOut = ""
SCAN REST
  cOut = cOut + LTRIM(STR(n)) + " "
ENDSCAN
? "rest:", cOut
cOut = ""
SCAN
  IF n = 2
    LOOP
  ENDIF
  IF n = 4
    EXIT
  ENDIF
  cOut = cOut + LTRIM(STR(n)) + " "
ENDSCAN
? "loop/exit:", cOut, RECNO()

* The inner SCAN selects its own area each round; the outer one gets its area back.
cOut = ""
SCAN FOR n <= 2
  SELECT b
  SCAN
    cOut = cOut + LTRIM(STR(a.n)) + "/" + LTRIM(STR(m)) + " "
  ENDSCAN
ENDSCAN
? "nested:", cOut
? "selected after:", ALIAS()

CD &cHome
RUN rm -rf &cDir
