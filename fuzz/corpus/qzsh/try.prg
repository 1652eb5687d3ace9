TRY
  x = 1 / "a"
CATCH TO e
  ? e.ErrorNo, e.Message
FINALLY
  ? "finally"
ENDTRY
TRY
  THROW "mine"
CATCH TO e
  ? e.ErrorNo
ENDTRY
