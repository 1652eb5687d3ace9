* A FOR loop whose variable is named like a field of the open table counts the memory variable:
* the loop runs its three rounds, m.i reads the variable, while a plain i reads the field.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_loopvar_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE t (i N(3), j C(2))
APPEND BLANK
REPLACE i WITH 42
REPLACE j WITH "f"
LOCAL i, nSum, nRounds
STORE 0 TO nSum, nRounds
FOR i = 1 TO 3
  nSum = nSum + m.i
  nRounds = nRounds + 1
  ?? i, m.i, " "
ENDFOR
?
? nRounds, nSum, m.i, i, t.i
LOCAL j
FOR j = 10 TO 11
  ?? m.j, j, " "
ENDFOR
?

CD &cHome
RUN rm -rf &cDir
