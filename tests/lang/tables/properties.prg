* CURSORGETPROP / CURSORSETPROP, SET DATASESSION, UNLOCK and LOCK(), ISNULL, the order functions
* on a table without tags, and the commands that are not available.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_properties_" + SYS(3)
MKDIR &cDir
CD &cDir

value("CURSORGETPROP('AutoIncError')")
CREATE TABLE t (n N(3))
APPEND BLANK
value("CURSORGETPROP('AutoIncError')")
value("CURSORGETPROP('autoi')")
value("CURSORGETPROP('AUT')")
value("CURSORGETPROP('nosuch')")
value("CURSORSETPROP('AUTOINCERROR', .F.)")
value("CURSORGETPROP('AUTOINCERROR', 't')")
value("CURSORGETPROP('AUTOINCERROR', 1)")
value("CURSORSETPROP('AUTOINCERROR', .T., 1)")
value("CURSORGETPROP('AUTOINCERROR')")

value("ISNULL(.NULL.)")
value("ISNULL(0)")
value("ISNULL('')")
value("ORDER()")
value("TAGNO()")
value("DESCENDING()")
LOCAL aTags
value("ATAGINFO(aTags)")
value("LOCK()")
value("ISRLOCKED()")
value("ISRLOCKED(1)")
value("CPDBF()")
check("UNLOCK")
check("UNLOCK ALL")
check("UNLOCK RECORD 1")
check("APPEND BLANK NOMENU")
check("BEGIN TRANSACTION")
check("END TRANSACTION")
check("ROLLBACK")

* SET DATASESSION: a new Session is a separate set of work areas.
LOCAL oSession
oSession = CREATEOBJECT("Session")
? "session", SET("DATASESSION"), oSession.DataSessionId
SET DATASESSION TO oSession.DataSessionId
? "in new session", SET("DATASESSION"), USED("t"), SELECT()
SET DATASESSION TO
? "back", SET("DATASESSION"), USED("t"), ALIAS()
check("SET DATASESSION TO 99")
check("SET DATASESSION TO 3000000000")

USE
value("LOCK()")
check("UNLOCK")
check("UNLOCK ALL")

CD &cHome
RUN rm -rf &cDir

PROCEDURE value(cExpr)
  TRY
    ? cExpr, "=", EVALUATE(cExpr)
  CATCH TO e
    ? cExpr, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
