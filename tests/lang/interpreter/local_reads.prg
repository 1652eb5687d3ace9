PRIVATE x
x = "private"
? f()
? x
FUNCTION f
  LOCAL r
  r = x
  LOCAL x
  x = "local"
  RETURN r + "/" + x + "/" + g()
ENDFUNC
FUNCTION g
  RETURN x
ENDFUNC
