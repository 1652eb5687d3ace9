* A FOR loop whose variable is named like a field of the open table reads the variable.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_loopvar_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE t (i N(3), j C(2))
APPEND BLANK
REPLACE i WITH 42
REPLACE j WITH "f"
LOCAL i, nSum
nSum = 0
FOR i = 1 TO 3
  nSum = nSum + i
ENDFOR
? nSum, t.i, i
LOCAL j
FOR j = 10 TO 11
  ?? j, " "
ENDFOR
?
? t.j

CD &cHome
RUN rm -rf &cDir
