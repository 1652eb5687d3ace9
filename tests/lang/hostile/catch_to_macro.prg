* CATCH TO &name: the clause stays in its TRY and stores the exception into the variable the text
* names when the error is caught.
x = "err"
TRY
  ERROR 12
CATCH TO &x
  ? "caught", err.ErrorNo
ENDTRY
? local_target()
* WHEN after the macro name; a clause that does not take the error leaves it to the next one.
FOR n = 11 TO 12
  TRY
    ERROR n
  CATCH TO &x WHEN n = 11
    ? "first clause", err.ErrorNo
  CATCH TO other
    ? "second clause", other.ErrorNo
  ENDTRY
ENDFOR
x = "m.named"
TRY
  THROW "thrown value"
CATCH TO &x
  ? "thrown", named.UserValue
ENDTRY
* A text that names no variable: the catch fails with a syntax error, which an outer TRY takes.
x = "1 + 2"
TRY
  TRY
    ERROR 12
  CATCH TO &x
    ? "never"
  ENDTRY
CATCH TO e
  ? "outer", e.ErrorNo
ENDTRY
? "after"

FUNCTION local_target
  LOCAL result, name
  name = "result"
  TRY
    ERROR 1098, "detail"
  CATCH TO &name
  ENDTRY
  RETURN VARTYPE(result) + " " + result.Message
ENDFUNC
