* FINALLY runs on every way out of a TRY: after a caught error, after an error no clause takes,
* and when RETURN, EXIT or LOOP leaves the block.
FUNCTION leave_by_return
  TRY
    RETURN "returned"
  FINALLY
    ? "finally on return"
  ENDTRY
  RETURN "never"
ENDFUNC

FUNCTION uncaught
  TRY
    x = no_such_variable
  CATCH TO e WHEN e.ErrorNo = 11
    ? "never"
  FINALLY
    ? "finally on uncaught"
  ENDTRY
  RETURN "never"
ENDFUNC
