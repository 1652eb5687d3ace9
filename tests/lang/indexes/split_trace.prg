* The split trace: a callback installed with __debug_set_trace_callback runs on this stack after
* every node split. INDEX ON over 10^4 records splits nodes; a tag whose keys fit one leaf splits
* none, and neither does anything once the callback is removed.
PRIVATE cHome, cDir, nSplits
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_split_trace_" + SYS(3)
MKDIR &cDir
CD &cDir

LOCAL k
CREATE TABLE big (n I, c C(10))
FOR k = 1 TO 10000
  APPEND BLANK
  REPLACE n WITH k
  REPLACE c WITH PADL(LTRIM(STR(k * 7919 % 10007)), 10, "0")
ENDFOR
CREATE TABLE small (n I)
FOR k = 1 TO 5
  APPEND BLANK
  REPLACE n WITH k
ENDFOR

nSplits = 0
? __debug_set_trace_callback("counted", "1")
SELECT big
INDEX ON n TAG byn
? "10^4 ascending keys:", nSplits > 0, TAGNO(), RECCOUNT()
LOCAL nFirst
nFirst = nSplits
INDEX ON c TAG byc
? "10^4 keys in scattered order:", nSplits > nFirst
SELECT small
nSplits = 0
INDEX ON n TAG byn
? "a tag that fits one leaf:", nSplits

* An empty name removes the callback: the next tag's splits call nothing.
? __debug_set_trace_callback("", "")
SELECT big
nSplits = 0
INDEX ON -n TAG bydesc
? "after removal:", nSplits

USE IN big
USE IN small
CD &cHome
RUN rm -rf &cDir

PROCEDURE counted(nStep)
  nSplits = nSplits + nStep
ENDPROC
