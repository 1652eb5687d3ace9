* Appending blank records to a table with tags and filling them in at once puts each blank key in
* front of the tags' keys and takes it out again. That must not cost the index file a block per
* record: 3000 records in three tags take a few hundred blocks, not thousands.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_append_growth_" + SYS(3)
MKDIR &cDir
CD &cDir

LOCAL k, aDir
CREATE TABLE grow (id N(10), name C(20), amount N(10))
INDEX ON name TAG byname
INDEX ON amount TAG byamount
INDEX ON id TAG byid
FOR k = 1 TO 3000
  APPEND BLANK
  REPLACE id WITH k
  REPLACE name WITH PADL(TRANSFORM(k * 7919 % 10007), 20, "0")
  REPLACE amount WITH k * 104729 % 1000003
ENDFOR
USE
ADIR(aDir, "grow.cdx")
? "index file under 600 blocks:", aDir[1, 2] < 600 * 512

* Every tag still holds every record, in order.
USE grow
SET ORDER TO byname
LOCAL cLast, nSeen, lOrdered
cLast = ""
nSeen = 0
lOrdered = .T.
SCAN
  lOrdered = lOrdered AND name >= cLast
  cLast = name
  nSeen = nSeen + 1
ENDSCAN
? "byname:", nSeen, lOrdered
SET ORDER TO byid
GO TOP
LOCAL nFirst
nFirst = id
GO BOTTOM
? "byid first and last:", nFirst, id
SEEK 1500
? "seek 1500:", FOUND(), RECNO()
USE

CD &cHome
RUN rm -rf &cDir
