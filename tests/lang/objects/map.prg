* Map: any comparable keys in order, [] inserts, Add refuses a present key, Remove, FOR EACH.
LOCAL m, x, k, v, a, it
m = CREATEOBJECT("Map")
m["pear"] = 3
m["apple"] = 1
m.Add("fig", 2)
? m["apple"], m.Item("fig"), m["pear"]
m["apple"] = 10
? m["apple"]
TRY
  ? m["kiwi"]
CATCH TO x
  ? "absent:", x.ErrorNo, x.Message
ENDTRY
TRY
  m.Add("fig", 5)
CATCH TO x
  ? "present:", x.ErrorNo, x.Message
ENDTRY
TRY
  m.Add("only")
CATCH TO x
  ? "one argument:", x.ErrorNo
ENDTRY
* Keys of other types do not compare with character keys: 107, the map unchanged.
TRY
  m[5] = "five"
CATCH TO x
  ? "number among strings:", x.ErrorNo
ENDTRY
* The null key sorts first; two null keys are one key.
m[.NULL.] = "n1"
m[.NULL.] = "n2"
FOR EACH KEY k VALUE v IN m
  ? k, v
NEXT
m.Remove("fig")
m.Remove(.NULL.)
TRY
  m.Remove("fig")
CATCH TO x
  ? "removed twice:", x.ErrorNo
ENDTRY
FOR EACH v IN m
  ?? " " + TRANSFORM(v)
NEXT
* Numbers as keys; a logical key does not compare with them.
m = CREATEOBJECT("Map")
m[3] = "c"
m[1.5] = "b"
m[-2] = "a"
FOR EACH KEY k VALUE v IN m
  ? k, v
NEXT
TRY
  m.Add(.T., "t")
CATCH TO x
  ? "logical among numbers:", x.ErrorNo, m.Item(3)
ENDTRY
* Removing the current key inside FOR EACH.
FOR EACH KEY k VALUE v IN m
  m.Remove(k)
  ?? " " + v
NEXT
? "left", PEMSTATUS(m, "Add", 5)
* ArrayIterator: the array as it was when the enumeration began.
DIMENSION a(3)
a[1] = "x"
a[2] = "y"
a[3] = "z"
it = GET_ENUMERATOR(a)
a[2] = "changed"
TRY
  ? it.Value
CATCH TO x
  ? "before MoveNext:", x.ErrorNo
ENDTRY
DO WHILE it.MoveNext()
  ?? " " + it.Value
ENDDO
TRY
  ? it.Value
CATCH TO x
  ? "after the end:", x.ErrorNo, it.MoveNext()
ENDTRY
DIMENSION g(2, 2)
g[1, 1] = 1
g[1, 2] = 2
g[2, 1] = 3
g[2, 2] = 4
FOR EACH v IN g
  ?? " " + TRANSFORM(v)
  IF v = 3
    EXIT
  ENDIF
NEXT
DIMENSION a(1)
a[1] = 1
FOR EACH v IN a
  LOOP
  ? "never"
NEXT
? "arrays done"
* A class of the program named ArrayIterator does not stand in for the native one.
DIMENSION a(2)
a[1] = "p"
a[2] = "q"
FOR EACH v IN a
  ?? " " + v
NEXT
? CREATEOBJECT("ArrayIterator").Mine

DEFINE CLASS ArrayIterator AS Custom
  Mine = "program's own"
ENDDEFINE
