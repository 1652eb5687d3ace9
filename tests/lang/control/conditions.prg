* IF / ELSE and DO CASE.
FOR n = 1 TO 4
  IF n % 2 = 0
    ?? "even "
  ELSE
    ?? "odd "
  ENDIF
  DO CASE
    CASE n = 1
      ? "one"
    CASE n = 2 OR n = 3
      ? "two or three"
    OTHERWISE
      ? "many"
  ENDCASE
ENDFOR
IF .F.
  ? "never"
ENDIF
