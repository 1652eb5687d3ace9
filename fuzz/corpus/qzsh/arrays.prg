DIMENSION m(3, 2)
m[2, 1] = "a"
? ALEN(m), ALEN(m, 1), m[2, 1]
a = ARRAY(4)
a[1] = m
? ALEN(a[1])
x = 1
FOR i = 1 TO 50
  c = ARRAY(1)
  c[1] = x
  x = c
ENDFOR
? ASCAN(m, "a")
