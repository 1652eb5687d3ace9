* SCAN headers built at run time start where a compiled header would: at the first record unless
* REST or WHILE is given, on the work area selected when the SCAN began.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_scan_macro_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE a (n N(3))
LOCAL k
FOR k = 1 TO 5
  APPEND BLANK
  REPLACE n WITH k
ENDFOR

LOCAL cOut, c, aCases[5]
aCases[1] = "FOR n % 2 = 1"
aCases[2] = "FOR n > 0"
aCases[3] = "REST FOR n > 0"
aCases[4] = "WHILE n > 2"
aCases[5] = "FOR n > 1 WHILE n < 4"
FOR k = 1 TO ALEN(aCases)
  GO BOTTOM
  c = aCases[k]
  cOut = ""
  SCAN &c
    cOut = cOut + LTRIM(STR(n)) + " "
  ENDSCAN
  ? "from the last record,", c + ":", "[" + cOut + "]", EOF()
ENDFOR

* The header names only the clause text; the scan still moves the area selected when it began.
CREATE TABLE b (m N(3))
APPEND BLANK
REPLACE m WITH 7
SELECT a
GO 4
c = "FOR n < 3"
cOut = ""
SCAN &c
  cOut = cOut + LTRIM(STR(n)) + " "
  SELECT b
ENDSCAN
? "other area selected in the body:", cOut, SELECT(), RECNO("a"), EOF("a")

* A header that does not parse leaves the table where it stood.
SELECT a
GO 3
c = "FOR n <"
TRY
  SCAN &c
  ENDSCAN
CATCH TO e
  ? "bad header:", e.ErrorNo, RECNO()
ENDTRY

* Without a table either form fails.
SELECT 9
c = "FOR .T."
TRY
  SCAN &c
  ENDSCAN
CATCH TO e
  ? "no table:", e.ErrorNo
ENDTRY
TRY
  SCAN FOR .T.
  ENDSCAN
CATCH TO e
  ? "no table, compiled:", e.ErrorNo
ENDTRY

USE IN a
USE IN b
CD &cHome
RUN rm -rf &cDir
