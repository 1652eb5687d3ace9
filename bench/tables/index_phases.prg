* The tag benchmark's phases on a fresh table in the current folder, each timed with SECONDS()
* and printed in ms (sizes in bytes):
*   index_name, index_amount  INDEX ON a C(20) and an N(10) field of N random records
*   cdx_bytes                 size of the structural file holding those two tags
*   seek_excl, seek_shared    M SEEKs of random names present in the table, exclusive and shared
*   skip_fwd, skip_back       GO TOP + SKIP to the end in name order, GO BOTTOM + SKIP -1 back
*   replace1, replace3        M REPLACEs of the name of random records, with 1 tag and with 3
*   append3                   M appends (APPEND BLANK, three REPLACEs) to a new table with 3 tags
* Arguments: N (default 100000) and M (default 100000, at most N). The data come from one seeded
* generator, so the SQLite script builds the same table.
LPARAMETERS argc, argv
LOCAL n, m, k, t, aNames, aSeek, aNew, aDir, nFound, nSteps
PRIVATE nSeed
n = IIF(argc >= 2, VAL(argv[2]), 100000)
m = MIN(IIF(argc >= 3, VAL(argv[3]), 100000), n)
nSeed = 42
CREATE TABLE bench (id N(10), name C(20), amount N(10))
DIMENSION aNames[n]
FOR k = 1 TO n
  aNames[k] = next_name()
  APPEND BLANK
  REPLACE id WITH k
  REPLACE name WITH aNames[k]
  REPLACE amount WITH next_number() % 1000000000
ENDFOR
DIMENSION aSeek[m]
FOR k = 1 TO m
  aSeek[k] = aNames[1 + next_number() % n]
ENDFOR
DIMENSION aNew[m]
FOR k = 1 TO m
  aNew[k] = next_name()
ENDFOR
aNames = .F.

t = SECONDS()
INDEX ON name TAG byname
? "index_name", ms(t)
t = SECONDS()
INDEX ON amount TAG byamount
? "index_amount", ms(t)
ADIR(aDir, "bench.cdx")
? "cdx_bytes", aDir[1, 2]

SET ORDER TO byname
t = SECONDS()
nFound = 0
FOR k = 1 TO m
  SEEK aSeek[k]
  nFound = nFound + IIF(FOUND(), 1, 0)
ENDFOR
? "seek_excl", ms(t), nFound
USE bench SHARED
SET ORDER TO byname
t = SECONDS()
nFound = 0
FOR k = 1 TO m
  SEEK aSeek[k]
  nFound = nFound + IIF(FOUND(), 1, 0)
ENDFOR
? "seek_shared", ms(t), nFound
USE bench EXCLUSIVE
SET ORDER TO byname
t = SECONDS()
nSteps = 0
GO TOP
DO WHILE !EOF()
  nSteps = nSteps + 1
  SKIP
ENDDO
? "skip_fwd", ms(t), nSteps
t = SECONDS()
nSteps = 0
GO BOTTOM
DO WHILE !BOF()
  nSteps = nSteps + 1
  SKIP -1
ENDDO
? "skip_back", ms(t), nSteps

* Key changes in physical order of random records: one tag, then three.
DELETE TAG ALL
INDEX ON name TAG byname
SET ORDER TO
t = SECONDS()
FOR k = 1 TO m
  GO 1 + next_number() % n
  REPLACE name WITH aNew[k]
ENDFOR
? "replace1", ms(t)
INDEX ON amount TAG byamount
INDEX ON id TAG byid
SET ORDER TO
t = SECONDS()
FOR k = 1 TO m
  GO 1 + next_number() % n
  REPLACE name WITH aSeek[k]
ENDFOR
? "replace3", ms(t)
USE

CREATE TABLE appended (id N(10), name C(20), amount N(10))
INDEX ON name TAG byname
INDEX ON amount TAG byamount
INDEX ON id TAG byid
t = SECONDS()
FOR k = 1 TO m
  APPEND BLANK
  REPLACE id WITH k
  REPLACE name WITH aNew[k]
  REPLACE amount WITH k * 7919 % 1000003
ENDFOR
? "append3", ms(t)
USE

FUNCTION ms(tStart)
  RETURN ROUND((SECONDS() - tStart) * 1000, 0)
ENDFUNC

* Park-Miller: the same sequence as the SQLite script's.
FUNCTION next_number()
  nSeed = nSeed * 16807 % 2147483647
  RETURN nSeed
ENDFUNC

FUNCTION next_name()
  RETURN PADL(TRANSFORM(next_number()), 10, "0") + PADL(TRANSFORM(next_number()), 10, "0")
ENDFUNC
