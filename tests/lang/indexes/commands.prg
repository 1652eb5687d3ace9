* INDEX ON, SET ORDER TO, SEEK with each of its options, DELETE TAG [ALL], the order functions,
* and the errors of these commands.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_tag_commands_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE words (word C(4), n N(3), note M)
LOCAL k, aWords
aWords = ARRAY("b", "abd", "ca", "ab", "abc", "ab")
FOR k = 1 TO ALEN(aWords)
  APPEND BLANK
  REPLACE word WITH aWords[k]
  REPLACE n WITH k * 10
ENDFOR

* Tags are numbered in the order they were made, not by name; a new ordinary tag becomes the
* order, and stays known after the table is reopened (where physical order comes back).
INDEX ON word TAG zz
? "zz", TAGNO(), ORDER(), walk()
INDEX ON n TAG aa DESCENDING
? "aa", TAGNO(), ORDER(), DESCENDING(), walk()
USE
USE words
? "reopened", TAGNO(), "[" + ORDER() + "]", DESCENDING(), walk()
SET ORDER TO zz
? "zz", TAGNO()
SET ORDER TO aa
? "aa", TAGNO(), DESCENDING()
* Names are found without regard to case; ASCENDING and DESCENDING turn the walk.
SET ORDER TO TAG Zz DESCENDING
? "Zz descending", ORDER(), TAGNO(), DESCENDING(), walk()
SET ORDER TO aA ASCENDING
? "aA ascending", ORDER(), DESCENDING(), walk()
SET ORDER TO
? "no order", TAGNO(), "[" + ORDER() + "]", DESCENDING(), walk()
DIMENSION aTags[1]
? "ataginfo", ATAGINFO(aTags)
FOR k = 1 TO ALEN(aTags, 1)
  ? " ", aTags[k, 1], aTags[k, 2], aTags[k, 3], "[" + aTags[k, 4] + "]", aTags[k, 5], aTags[k, 6]
ENDFOR

* SEEK: without EXACT or PREFIX the key follows SET EXACT; NEAR from the clause or SET NEAR;
* SAME, AFTER and the direction.
SET ORDER TO zz
seek_show([SEEK "ab"])
seek_show([SEEK "ab" EXACT])
seek_show([SEEK "abc" PREFIX])
seek_show([SEEK "abz"])
seek_show([SEEK "abz" NEAR ON])
seek_show([SEEK "abz" NEAR OFF])
SET NEAR ON
seek_show([SEEK "abz"])
seek_show([SEEK "abz" NEAR OFF])
SET NEAR OFF
SET EXACT ON
seek_show([SEEK "ab"])
seek_show([SEEK "a"])
seek_show([SEEK "a" PREFIX])
SET EXACT OFF
seek_show([SEEK "ab" SAME])
seek_show([SEEK "ab" AFTER])
seek_show([SEEK "ab" SAME AFTER])
seek_show([SEEK "abz" SAME AFTER])
seek_show([SEEK "zz" AFTER])
seek_show([SEEK "ab" DESCENDING])
seek_show([SEEK "ab" ASCENDING])
seek_show([SEEK "ab" RECORD 6])
seek_show([SEEK "ab" RECORD 2])
SET ORDER TO zz DESCENDING
seek_show([SEEK "ab"])
seek_show([SEEK "ab" ASCENDING])
* SEEK in another area leaves the current one as it is.
GO 1
SELECT 0
SEEK "ca" IN words
? "seek in words", FOUND("words"), RECNO("words"), "from area", SELECT(), "[" + ALIAS() + "]"
SELECT words

* A record key shows as the raw bytes of the tag.
SET ORDER TO zz
SEEK "ca"
? "key", "[" + __get_key() + "]", LEN(__get_key())
* The leaf under the cursor: its six keys, this one the last in order, the compact geometry.
? "leaf", __get_leaf_num_keys(), __get_leaf_key_num(), __get_compact_max_prefix(), __get_compact_max_suffix()
SET ORDER TO
check([? __get_key()])
check([? __get_leaf_num_keys()])
SET ORDER TO zz

* GO keeps the order: SKIP goes on from that record's place in it.
GO 2
SKIP
? "go 2, skip", RECNO(), word
SKIP -2
? "skip -2", RECNO(), word

* DELETE TAG of the selected tag returns to physical order; the others stay.
DELETE TAG zZ
? "deleted zz", TAGNO(), "[" + ORDER() + "]", walk(), ATAGINFO(aTags), aTags[1, 1]
INDEX ON word TAG zz
USE
USE words
? "after reopening", ATAGINFO(aTags), aTags[1, 1], aTags[2, 1]
DELETE TAG ALL
? "all deleted", ATAGINFO(aTags), FILE("words.cdx"), walk()
USE
USE words
? "none after reopening", ATAGINFO(aTags)

* A binary tag is listed but never becomes the order.
INDEX ON n > 30 TAG big BINARY
? "binary", ATAGINFO(aTags), aTags[1, 1], aTags[1, 2], "[" + ORDER() + "]"
check([SET ORDER TO big])
check([INDEX ON n TAG bn BINARY])
check([INDEX ON n > 30 TAG bf BINARY FOR n > 1])
DELETE TAG big

* Errors.
check([SEEK "ab"])
INDEX ON word TAG byword
check([SEEK "ab" PREFIX EXACT])
check([SEEK "ab" ASCENDING DESCENDING])
check([SET ORDER TO nosuch])
check([SET ORDER TO TAG byword ASCENDING DESCENDING])
check([INDEX ON word TAG x ASCENDING DESCENDING])
check([INDEX ON word TAG BYWORD])
check([INDEX ON word TAG a-b])
check([INDEX ON word TAG averyveryverylongname])
check([INDEX ON note TAG bynote])
check([INDEX ON word TAG f FOR n])
check([INDEX ON word TAG c COLLATE "FRENCH"])
check([INDEX ON word TAG dup CANDIDATE])
check([INDEX ON IIF(n = 30, .NULL., word) TAG nul])
check([INDEX ON word + SPACE(240) TAG k])
check([DELETE TAG nosuch])
? "tags after the errors", ATAGINFO(aTags), ORDER()
* A SEEK from inside the table's own filter would re-enter the table.
SET FILTER TO seek_inside()
check([GO TOP])
SET FILTER TO
USE words SHARED
check([DELETE TAG byword])
check([DELETE TAG ALL])
check([SET ORDER TO byword])
USE
check([INDEX ON word TAG x])
check([SET ORDER TO x])
* A table whose header names a structural file that is gone does not open.
DELETE FILE words.cdx
check([USE words])
? "after the failed open", USED("words")

CD &cHome
RUN rm -rf &cDir

* The records in the current order, as record numbers.
FUNCTION walk()
  LOCAL cOut
  cOut = ""
  SCAN
    cOut = cOut + TRANSFORM(RECNO()) + " "
  ENDSCAN
  RETURN ALLTRIM(cOut)
ENDFUNC

FUNCTION seek_inside()
  SEEK "ab"
  RETURN .T.
ENDFUNC

PROCEDURE seek_show(cCommand)
  GO 1
  &cCommand
  ? PADR(cCommand, 24), FOUND(), EOF(), IIF(EOF(), "-", TRANSFORM(RECNO()) + " " + word)
ENDPROC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
