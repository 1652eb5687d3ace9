LOCAL s, t, a[2], i
s = ""
FOR i = 1 TO 5
  s = s + "ab"
  IF i = 2
    t = s
    a[1] = s
  ENDIF
ENDFOR
s = s + s
? s, t, a[1], LEN(s)
t = t + "!"
? s, t, a[1]
