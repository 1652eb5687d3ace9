* SET ORDER TO with an IN clause sets the order of another work area, by name, by TAG or by
* number, and leaves the current area as it is.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_order_in_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE a (n N(3))
APPEND BLANK
REPLACE n WITH 2
APPEND BLANK
REPLACE n WITH 1
INDEX ON n TAG byn
SET ORDER TO
SELECT 0
CREATE TABLE b (k N(3))
SET ORDER TO byn IN a DESCENDING
? ORDER("a"), ORDER(), ALIAS()
SELECT a
? DESCENDING()
GO TOP
? n
SELECT b
SET ORDER TO IN a
? ORDER("a")
SET ORDER TO 1 IN a
? ORDER("a")
SET ORDER TO TAG byn IN 1
? ORDER(1)
TRY
  SET ORDER TO byn IN b
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY

USE
SELECT a
USE
CD &cHome
RUN rm -rf &cDir
