* A new data session starts with the fixed SET values, whatever the session it was made from holds;
* each session keeps its own values, while FDOW belongs to the whole runtime.
SET PROCEDURE TO check.prg ADDITIVE
LOCAL oSession
PRIVATE cNames
cNames = "POINT SEPARATOR DECIMALS DATE CENTURY HOURS SECONDS EXACT NEAR EXCLUSIVE DELETED BLOCKSIZE FDOW"

SET POINT TO ","
SET SEPARATOR TO "."
SET DECIMALS TO 5
SET DATE TO GERMAN
SET CENTURY ON
SET HOURS TO 24
SET SECONDS OFF
SET EXACT ON
SET NEAR ON
SET EXCLUSIVE OFF
SET DELETED ON
SET BLOCKSIZE TO 512
SET FDOW TO 3
show("changed")

oSession = CREATEOBJECT("Session")
SET DATASESSION TO oSession.DataSessionId
show("new")
check("DTOC(DATE(2024, 3, 5))")
check("'ab' = 'a'")
check("DOW(DATE(2024, 1, 1), 0)")

* A change in the new session stays there.
SET DECIMALS TO 7
SET DATASESSION TO
show("back")
SET DATASESSION TO oSession.DataSessionId
check("SET('DECIMALS')")
SET DATASESSION TO 1
SET FDOW TO 1

PROCEDURE show(cWhen)
  LOCAL cLine, cName, k
  cLine = cWhen + ":"
  FOR k = 1 TO GETWORDCOUNT(cNames)
    cName = GETWORDNUM(cNames, k)
    cLine = cLine + " " + cName + "=" + TRANSFORM(SET(cName))
  ENDFOR
  ? cLine
ENDPROC
