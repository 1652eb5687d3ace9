* FUNCTIONs with parameters, LOCAL variables and results; memory variables of the caller are
* visible inside.
? twice(21)
? join("a", "b")
? sum3(1, 2, 3)
? nothing()
x = 5
bump()
? x
? twice(twice(2)) + 1

FUNCTION twice(n)
  RETURN n * 2
ENDFUNC

FUNCTION join(a, b)
  RETURN a + "|" + b
ENDFUNC

FUNCTION sum3
  LPARAMETERS a, b, c
  LOCAL s
  s = a + b + c
  RETURN s
ENDFUNC

FUNCTION nothing
ENDFUNC

FUNCTION bump
  x = x + 1
ENDFUNC
