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

* Runs one command line and prints the number of the error it raises, if any.
PROCEDURE attempt(cmd)
  TRY
    &cmd
    ? cmd, "-> done"
  CATCH TO e
    ? cmd, "-> error", e.ErrorNo
  ENDTRY
ENDPROC
