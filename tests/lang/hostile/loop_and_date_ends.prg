* FOR loops whose bounds are NaN or whose counter passes the 64-bit range end; dates end at
* 9999-12-31.
n = 0
FOR i = 9223372036854775805 TO 9223372036854775807
  n = n + 1
  IF n > 10
    EXIT
  ENDIF
ENDFOR
? "64-bit counter:", n
zero = 0
nan = zero / zero
FOR bound = 1 TO 3
  n = 0
  DO CASE
  CASE bound = 1
    FOR i = nan TO 5
      n = n + 1
      IF n > 10
        EXIT
      ENDIF
    ENDFOR
  CASE bound = 2
    FOR i = 1 TO nan
      n = n + 1
      IF n > 10
        EXIT
      ENDIF
    ENDFOR
  OTHERWISE
    FOR i = 1 TO 5 STEP nan
      n = n + 1
      IF n > 10
        EXIT
      ENDIF
    ENDFOR
  ENDCASE
  ? "NaN bound", bound, "runs:", n
ENDFOR
d = {^9999-12-31}
? d, d - 1, d - {^9999-01-01}
TRY
  ? d + 1
CATCH TO e
  ? "after the last day:", e.ErrorNo
ENDTRY
t = {^9999-12-31 23:59:59}
TRY
  ? t + 1
CATCH TO e
  ? "after the last second:", e.ErrorNo
ENDTRY
