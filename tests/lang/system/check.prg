* Helpers of the string tests: check(expr) prints the expression and its value (texts in
* brackets, so that blanks show) or the number of the error it raises.
PROCEDURE check(expr)
  LOCAL r
  TRY
    r = &expr
    ? expr, "=", shown(r)
  CATCH TO e
    ? expr, "-> error", e.ErrorNo
  ENDTRY
ENDPROC

FUNCTION shown(r)
  TRY
    RETURN "[" + r + "]"
  CATCH
    RETURN r
  ENDTRY
ENDFUNC
