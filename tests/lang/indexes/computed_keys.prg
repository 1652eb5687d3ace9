* Keys computed by arithmetic over a number field have no type the compiler can tell, and yield
* an integer on one record and a fraction on another (0 / 4 and 37 / 4): such keys are numeric,
* made here while the current record gives an integer. Each tag orders the records by its
* computed value, finds them by it with SEEK, and opens again with the table.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_computed_keys_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE w (word C(4), n N(3), q I)
LOCAL k, aN
aN = ARRAY(38, 5, 64, 21, 37, 0)
FOR k = 1 TO ALEN(aN)
  APPEND BLANK
  REPLACE word WITH CHR(64 + k)
  REPLACE n WITH aN[k]
  REPLACE q WITH aN[k]
ENDFOR

* key, tag, a value to seek
LOCAL aKeys
aKeys = ARRAY( ;
  "n % 20", "a", 1, ;
  "n * 2", "b", 74, ;
  "n + 1", "d", 6, ;
  "n - 100", "e", -79, ;
  "n / 4", "f", 9.25, ;
  "q % 20", "g", 4, ;
  "q * 2.5", "h", 52.5, ;
  "-n", "i", -64, ;
  "INT(n / 20)", "j", 3, ;
  "n", "k", 21)
FOR k = 1 TO ALEN(aKeys) STEP 3
  make_tag(aKeys[k], aKeys[k + 1], aKeys[k + 2])
ENDFOR

* Reopened, every tag reads its key type again from the expression.
USE
USE w
FOR k = 1 TO ALEN(aKeys) STEP 3
  show_tag(aKeys[k], aKeys[k + 1], aKeys[k + 2])
ENDFOR
USE

CD &cHome
RUN rm -rf &cDir

PROCEDURE make_tag(cKey, cTag, xSeek)
  TRY
    INDEX ON &cKey TAG &cTag
    show_tag(cKey, cTag, xSeek)
  CATCH TO e
    ? PADR(cKey, 12), "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC

PROCEDURE show_tag(cKey, cTag, xSeek)
  LOCAL cWalk
  SET ORDER TO TAG &cTag
  cWalk = walk()
  SEEK xSeek
  ? PADR(cKey, 12), ORDER(), cWalk, "|", FOUND(), IIF(EOF(), "-", word)
ENDPROC

FUNCTION walk()
  LOCAL cOut
  cOut = ""
  SCAN
    cOut = cOut + TRIM(word)
  ENDSCAN
  RETURN cOut
ENDFUNC
