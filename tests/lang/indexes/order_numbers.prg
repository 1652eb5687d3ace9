* SET ORDER TO takes a tag number as well as a name: tags count from 1 in the order they were
* made, as TAGNO() counts them; 0 and no argument both return to physical order. A number no tag
* has, a negative one, or a value that is neither name nor number is refused.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_order_numbers_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE w (word C(4), n N(3))
LOCAL k, aWords, nTag
aWords = ARRAY("c", "a", "d", "b")
FOR k = 1 TO ALEN(aWords)
  APPEND BLANK
  REPLACE word WITH aWords[k]
  REPLACE n WITH 10 - k
ENDFOR
INDEX ON word TAG byword
INDEX ON n TAG byn

SET ORDER TO 1
? "1:", TAGNO(), ORDER(), walk()
SET ORDER TO 2
? "2:", TAGNO(), ORDER(), walk()
SET ORDER TO 1 DESCENDING
? "1 descending:", TAGNO(), DESCENDING(), walk()
SET ORDER TO 0
? "0:", TAGNO(), "[" + ORDER() + "]", walk()
nTag = 2
SET ORDER TO (nTag)
? "(nTag):", TAGNO(), ORDER()
SET ORDER TO (1.0)
? "(1.0):", TAGNO(), ORDER()
SET ORDER TO
? "none:", TAGNO(), walk()
SET ORDER TO 2
check([SET ORDER TO 3])
check([SET ORDER TO -1])
check([SET ORDER TO (.T.)])
? "still", TAGNO()
USE

CD &cHome
RUN rm -rf &cDir

FUNCTION walk()
  LOCAL cOut
  cOut = ""
  SCAN
    cOut = cOut + TRIM(word)
  ENDSCAN
  RETURN cOut
ENDFUNC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
