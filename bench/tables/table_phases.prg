* The table benchmark's three phases on a fresh table in the current folder, each timed with
* SECONDS() and printed in ms: append (APPEND BLANK and one REPLACE of six fields per record),
* replace (a C field on every record), sum (a SKIP loop adding the N(12,2) field).
* Arguments: the record count (default 50000).
LPARAMETERS argc, argv
LOCAL n, k, t, nSum
n = IIF(argc >= 2, VAL(argv[2]), 50000)
CREATE TABLE bench (id N(10), name C(30), city C(20), amount N(12, 2), day D, flag L)
t = SECONDS()
FOR k = 1 TO n
  APPEND BLANK
  REPLACE id WITH k
  REPLACE name WITH "customer name"
  REPLACE city WITH "some city"
  REPLACE amount WITH k / 4
  REPLACE day WITH {^2024-05-06}
  REPLACE flag WITH k % 2 = 0
ENDFOR
? "append", ROUND((SECONDS() - t) * 1000, 0)
t = SECONDS()
GO TOP
DO WHILE !EOF()
  REPLACE name WITH "changed name"
  SKIP
ENDDO
? "replace", ROUND((SECONDS() - t) * 1000, 0)
t = SECONDS()
nSum = 0
GO TOP
DO WHILE !EOF()
  nSum = nSum + amount
  SKIP
ENDDO
? "sum", ROUND((SECONDS() - t) * 1000, 0), nSum
USE
