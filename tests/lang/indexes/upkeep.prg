* Four tags kept current by a seeded run of appends, changes, deletions and recalls: a plain, a
* descending, a FOR and a candidate tag. After every step each tag's walk in its order equals the
* order this program works out from the records itself; so it does after the table is reopened.
* A change that would break the candidate tag is refused and leaves the record and every tag as
* they were.
PRIVATE cHome, cDir, nSeed, nBad, nNextId
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_tag_upkeep_" + SYS(3)
MKDIR &cDir
CD &cDir

nSeed = 20261211
nBad = 0
CREATE TABLE items (id N(6), name C(4), price N(6,2))
FOR nNextId = 1 TO 30
  add_item(nNextId)
ENDFOR
* Two tags made over records already there, two over an empty start that grows with them.
INDEX ON name TAG byname
INDEX ON price TAG byprice DESCENDING
INDEX ON name TAG cheap FOR price < 50
INDEX ON id TAG pk CANDIDATE
? "tags", TAGNO(), ORDER(), RECCOUNT()
verify("after creation")

LOCAL nStep, nAct, nRec, nViolations
nViolations = 0
nNextId = 31
FOR nStep = 1 TO 150
  SET ORDER TO
  nAct = rnd(10)
  DO CASE
    CASE nAct <= 4
      add_item(nNextId)
      nNextId = nNextId + 1
    CASE nAct <= 6
      GO rnd(RECCOUNT())
      REPLACE name WITH rnd_name()
    CASE nAct <= 8
      GO rnd(RECCOUNT())
      REPLACE price WITH rnd(9999) / 100
    CASE nAct = 9
      GO rnd(RECCOUNT())
      IF DELETED()
        RECALL
      ELSE
        DELETE
      ENDIF
    OTHERWISE
      nViolations = nViolations + violate()
  ENDCASE
  verify("step " + TRANSFORM(nStep))
ENDFOR
? "steps done, refused changes", nViolations

USE
USE items
? "reopened", TAGNO(), "[" + ORDER() + "]", RECCOUNT()
verify("reopened")
* Once more after a change made in the reopened table.
GO 3
REPLACE name WITH "AAAA"
REPLACE price WITH 1
verify("changed after reopening")
? "mismatches", nBad

USE
CD &cHome
RUN rm -rf &cDir

PROCEDURE add_item(nId)
  APPEND BLANK
  REPLACE id WITH nId
  REPLACE name WITH rnd_name()
  REPLACE price WITH rnd(9999) / 100
ENDPROC

* Park-Miller: the same numbers on every run.
FUNCTION rnd(n)
  nSeed = MOD(nSeed * 16807, 2147483647)
  RETURN 1 + MOD(nSeed, n)
ENDFUNC

* Short names from three letters, so that keys repeat.
FUNCTION rnd_name()
  RETURN CHR(64 + rnd(3)) + CHR(64 + rnd(3))
ENDFUNC

* Gives a record the id another record holds. The candidate tag refuses it: 1884, and the record
* keeps its id. Returns 1 when refused as it should be.
FUNCTION violate()
  LOCAL nOther, nWas, nRec, lRefused
  IF RECCOUNT() < 2
    RETURN 0
  ENDIF
  nRec = rnd(RECCOUNT())
  nOther = IIF(nRec = 1, 2, nRec - 1)
  GO nOther
  nOther = id
  GO nRec
  nWas = id
  lRefused = .F.
  TRY
    REPLACE id WITH nOther
  CATCH TO e
    lRefused = e.ErrorNo = 1884 AND e.Message == "Uniqueness of index PK is violated."
    IF !lRefused
      ? "unexpected error", e.ErrorNo, e.Message
    ENDIF
  ENDTRY
  GO nRec
  IF id <> nWas
    ? "record", nRec, "id changed from", nWas, "to", id
    nBad = nBad + 1
  ENDIF
  IF !lRefused
    ? "duplicate id accepted in record", nRec
    nBad = nBad + 1
  ENDIF
  RETURN IIF(lRefused, 1, 0)
ENDFUNC

PROCEDURE verify(cWhen)
  check_tag(cWhen, "byname", "name", "", .F.)
  check_tag(cWhen, "byprice", "STR(price, 6, 2)", "", .T.)
  check_tag(cWhen, "cheap", "name", "price < 50", .F.)
  check_tag(cWhen, "pk", "STR(id, 6)", "", .F.)
ENDPROC

* The walk of the tag against the records sorted by (key, record number); a descending tag walks
* that list backwards.
PROCEDURE check_tag(cWhen, cTag, cKey, cFor, lDescending)
  LOCAL aWant, n, i, cWant, cGot
  SET ORDER TO
  DIMENSION aWant[RECCOUNT() + 1]
  n = 0
  SCAN
    IF EMPTY(cFor) OR EVALUATE(cFor)
      n = n + 1
      aWant[n] = EVALUATE(cKey) + STR(RECNO(), 6)
    ENDIF
  ENDSCAN
  DIMENSION aWant[n + 1]
  aWant[n + 1] = CHR(255)
  ASORT(@aWant)
  cWant = ""
  FOR i = 1 TO n
    cWant = cWant + aWant[IIF(lDescending, n + 1 - i, i)] + ","
  ENDFOR
  SET ORDER TO (cTag)
  cGot = ""
  SCAN
    cGot = cGot + EVALUATE(cKey) + STR(RECNO(), 6) + ","
  ENDSCAN
  IF !(cGot == cWant)
    nBad = nBad + 1
    ? cWhen, cTag, "walks differently"
    ? " want", cWant
    ? " got ", cGot
  ENDIF
ENDPROC
