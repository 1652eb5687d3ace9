LOCAL i, s
s = 0
FOR i = 1 TO 3
  s = s + f(i)
ENDFOR
? s

FUNCTION f(n)
  IF n = 3
    RETURN n + "x"
  ENDIF
  RETURN n
ENDFUNC
