* Arrays nested far deeper than the native stack, released at the end of the program.
x = 1
FOR i = 1 TO 30000
  c = ARRAY(1)
  c[1] = x
  x = c
ENDFOR
c = .NULL.
? ALEN(x), ALEN(x[1])
