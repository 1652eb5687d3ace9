* USE ... AGAIN of a table this process already holds, in whatever mode it was opened: the
* areas share the process's hold and see each other's changes, appends included.
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_use_again_" + SYS(3)
MKDIR &cDir
CD &cDir

CREATE TABLE items (name C(10), qty N(4), notes M)
APPEND BLANK
REPLACE name WITH "first"
REPLACE notes WITH "memo 1"
USE
USE items EXCLUSIVE
USE items IN 0 AGAIN EXCLUSIVE ALIAS second
? "again", ALIAS(1), ALIAS(2), RECCOUNT("items"), RECCOUNT("second"), second.name, second.notes

* Appends from both areas: each area counts the other's, none overwrites another.
APPEND BLANK IN second
REPLACE name WITH "from 2" IN second
REPLACE notes WITH "memo 2" IN second
? "counts", RECCOUNT("items"), RECCOUNT("second")
APPEND BLANK
REPLACE name WITH "from 1"
REPLACE notes WITH "memo 3"
? "counts", RECCOUNT("items"), RECCOUNT("second")
SELECT second
SCAN
  ? RECNO(), name, notes
ENDSCAN
SELECT items
GO 1
REPLACE qty WITH 5
SELECT second
GO 1
? "seen", qty

* A record one area has locked is refused to the other at once rather than waited for: this
* thread would otherwise wait on itself for ever.
SELECT items
GO 2
? "lock", LOCK()
SELECT second
GO 2
check("REPLACE qty WITH 7")
SELECT items
UNLOCK
SELECT second
check("REPLACE qty WITH 8")
GO 2 IN items
? "after unlock", items.qty

* Without AGAIN the file is still refused; the table stays held while any area has it open.
check("USE items IN 0")
check("USE items IN 0 AGAIN SHARED ALIAS third")
USE IN items
USE IN third
? "one left", USED("items"), USED("second"), RECCOUNT("second")
check("USE items IN 0 AGAIN EXCLUSIVE")
USE IN second
USE IN items
* With every area closed the table opens exclusively again: a second open without AGAIN is
* refused as before, one with AGAIN joins it.
USE items EXCLUSIVE
? "reopened", RECCOUNT(), name
check("USE items IN 0 ALIAS fourth")
check("USE items IN 0 AGAIN ALIAS fourth")
? "fourth", USED("fourth"), RECCOUNT("fourth")
USE IN fourth
USE

CD &cHome
RUN rm -rf &cDir

PROCEDURE check(cCommand)
  TRY
    &cCommand
    ? cCommand, "-> no error"
  CATCH TO e
    ? cCommand, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
