* FOR with STEP, DO WHILE with LOOP and EXIT.
FOR i = 10 TO 1 STEP -3
  ?? i, ""
ENDFOR
?
total = 0
FOR i = 1 TO 100
  total = total + i
ENDFOR
? total
n = 0
DO WHILE .T.
  n = n + 1
  IF n % 2 = 1
    LOOP
  ENDIF
  IF n > 8
    EXIT
  ENDIF
  ?? n
ENDDO
?
? "done", n
