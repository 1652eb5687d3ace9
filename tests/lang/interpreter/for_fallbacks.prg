LOCAL i, n, s
* counter turned numeric inside the body: the fused test hands over to the plain operations
FOR i = 1 TO 4
  ?? i
  IF i = 2
    i = 2.5
  ENDIF
ENDFOR
? i
FOR i = 1 TO 2 STEP 0.5
  ?? i
ENDFOR
? i
* the step overflows the 64-bit range: the counter turns numeric and the loop ends
n = 0
FOR i = 9223372036854775805 TO 9223372036854775807
  n = n + 1
ENDFOR
? n, i
FOR i = 10 TO 1 STEP -3
  ?? i
ENDFOR
? i
s = ""
FOR i = 1 TO 5
  s = s + "x"
  IF i = 3
    LOOP
  ENDIF
  s = s + "y"
ENDFOR
? s
