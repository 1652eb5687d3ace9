* TRY catches an error with its number; FINALLY always runs; an error in a FUNCTION reaches the
* caller's TRY.
TRY
  ? "before"
  x = no_such_variable
  ? "never"
CATCH TO e
  ? "caught", e.ErrorNo
FINALLY
  ? "finally"
ENDTRY
TRY
  ? fails()
CATCH TO e
  ? "from the function", e.ErrorNo
ENDTRY
? "after"

FUNCTION fails
  LOCAL n
  n = 1
  RETURN n + "a"
ENDFUNC
