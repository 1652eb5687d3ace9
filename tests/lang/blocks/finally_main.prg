* FINALLY on every path; the functions are in finally.prg.
SET PROCEDURE TO finally.prg
? leave_by_return()
TRY
  ? uncaught()
CATCH TO e
  ? "outer caught", e.ErrorNo
ENDTRY
FOR i = 1 TO 3
  TRY
    IF i = 1
      LOOP
    ENDIF
    IF i = 2
      EXIT
    ENDIF
  FINALLY
    ? "finally at", i
  ENDTRY
ENDFOR
? "loop left at", i
n = 2
TRY
  y = "a"
  x = 1 + y
CATCH TO e WHEN n < 1
  ? "never"
CATCH TO e WHEN n < 3
  ? "caught with a local condition", e.ErrorNo
ENDTRY
