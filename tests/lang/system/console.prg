* The console commands hand over to the screen; the shell's screen has no editor, browser or
* WAIT, and says so.
TRY
  MODIFY COMMAND somefile
CATCH TO e
  ? "MODIFY COMMAND -> error", e.ErrorNo
ENDTRY
TRY
  BROWSE
CATCH TO e
  ? "BROWSE -> error", e.ErrorNo
ENDTRY
TRY
  WAIT
CATCH TO e
  ? "WAIT -> error", e.ErrorNo
ENDTRY
? "CUREXE", JUSTFNAME(CUREXE())
