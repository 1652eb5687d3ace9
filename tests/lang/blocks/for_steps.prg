* FOR counts up, down, and with a step that does not divide the range; a zero step repeats until
* EXIT; the loop variable keeps the first value past the end.
FOR i = 1 TO 7 STEP 3
  ?? i, ""
ENDFOR
? "after up:", i
FOR i = 3 TO 1 STEP -1
  ?? i, ""
ENDFOR
? "after down:", i
FOR i = 5 TO 1
  ? "never"
ENDFOR
? "empty range:", i
count = 0
FOR i = 1 TO 2 STEP 0
  count = count + 1
  IF count = 4
    EXIT
  ENDIF
ENDFOR
? "zero step:", count, i
FOR i = 1 TO 3
  FOR j = 1 TO 3
    IF j = 2
      LOOP
    ENDIF
    IF i = 3
      EXIT
    ENDIF
    ?? i * 10 + j, ""
  ENDFOR
ENDFOR
?
