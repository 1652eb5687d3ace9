* STORE to properties: plain, through a path, an array property filled, an element, inside WITH,
* and a property that does not exist.
o = CREATEOBJECT("Empty")
ADDPROPERTY(o, "x", 1)
ADDPROPERTY(o, "y", 2)
ADDPROPERTY(o, "arr[3]")
STORE 5 TO o.x, a, o.y
? o.x, a, o.y
STORE "z" TO o.arr
? o.arr[1], o.arr[3], ALEN(o.arr)
STORE 7 TO o.arr[2]
? o.arr[1], o.arr[2]
p = CREATEOBJECT("Empty")
ADDPROPERTY(p, "o", o)
STORE 9 TO p.o.x
? o.x
WITH o
  STORE 11 TO .y
ENDWITH
? o.y
TRY
  STORE 1 TO o.nothing
CATCH TO e
  ? "error", e.ErrorNo
ENDTRY
