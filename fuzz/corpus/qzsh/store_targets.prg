o = CREATEOBJECT("Empty")
ADDPROPERTY(o, "x", 1)
STORE 5 TO o.x, a
? o.x, a
WITH o
  STORE 6 TO .x
ENDWITH
STORE 3 TO a, .NOT.b
