* INDEX ON over a fresh table: N records of a random C(20) key and an N(10) key (with repeats),
* appended first, then one tag on each field, each timed with SECONDS() and printed in ms with the
* size of the index file. Arguments: the record count (default 100000).
LPARAMETERS argc, argv
LOCAL n, k, r, t, cKey, j
n = IIF(argc >= 2, VAL(argv[2]), 100000)
CREATE TABLE idxbench (name C(20), amount N(10))
r = 7
FOR k = 1 TO n
  APPEND BLANK
  cKey = ""
  FOR j = 1 TO 4
    r = MOD(r * 16807, 2147483647)
    cKey = cKey + PADL(ALLTRIM(STR(MOD(r, 100000))), 5, "0")
  ENDFOR
  REPLACE name WITH CHRTRAN(cKey, "0123456789", "ABCDEFGHIJ")
  r = MOD(r * 16807, 2147483647)
  REPLACE amount WITH MOD(r, n / 2)
ENDFOR
t = SECONDS()
INDEX ON name TAG name
? "index_char", ROUND((SECONDS() - t) * 1000, 0)
t = SECONDS()
INDEX ON amount TAG amount
? "index_num", ROUND((SECONDS() - t) * 1000, 0)
USE
? "cdx_kb", ROUND(LEN(FILETOSTR("idxbench.cdx")) / 1024, 0)
