* THROW hands any value to the CATCH that takes it: across calls, through FINALLY blocks, from a
* CATCH body; the exception object's UserValue holds the value.
LOCAL e, v
TRY
  THROW 42
CATCH TO e
  ? "caught", e.UserValue, VARTYPE(e)
ENDTRY
TRY
  two_calls_down()
CATCH TO e
  v = e.UserValue
  ? "array", VARTYPE(v), ALEN(v), v[1], v[2], v[3]
ENDTRY
TRY
  TRY
    THROW "through finally"
  FINALLY
    ? "finally runs"
  ENDTRY
  ? "never"
CATCH TO e
  ? "outer catch", e.UserValue
ENDTRY
TRY
  TRY
    x = no_such_variable
  CATCH TO e
    ? "inner catch", e.ErrorNo
    THROW "from a catch body"
  FINALLY
    ? "inner finally"
  ENDTRY
CATCH TO e
  ? "outer catch", e.UserValue
ENDTRY
* A THROW no handler takes, inside a TRY whose CATCH only takes other errors.
TRY
  TRY
    THROW 5
  CATCH TO e WHEN .F.
    ? "never"
  ENDTRY
CATCH TO e
  ? "second handler", e.UserValue
ENDTRY
* A WHEN condition that fails while a THROW looks for its handler: its error goes on instead.
TRY
  TRY
    THROW "x"
  CATCH TO e WHEN no_such_name
    ? "never"
  ENDTRY
CATCH TO e
  ? "error of the condition", e.ErrorNo
ENDTRY
? "before the loose throw"
THROW "loose"
? "never"

FUNCTION two_calls_down
  RETURN one_call_down()
ENDFUNC

FUNCTION one_call_down
  LOCAL arr[3]
  arr[1] = 1
  arr[2] = "two"
  arr[3] = {^2024-01-02}
  THROW arr
ENDFUNC
