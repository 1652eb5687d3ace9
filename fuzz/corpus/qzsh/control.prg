n = 0
FOR i = 10 TO 1 STEP -3
  ?? i, ""
ENDFOR
DO WHILE n < 5
  n = n + 1
  IF n % 2 = 1
    LOOP
  ENDIF
  ?? n
ENDDO
DO CASE
CASE n > 3
  ? "big"
OTHERWISE
  ? "small"
ENDCASE
