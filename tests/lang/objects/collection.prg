* Collection: positions, case-sensitive keys, GetKey, Remove, KeySort and FOR EACH.
LOCAL c, x, v, k, n
c = CREATEOBJECT("Collection")
? c.Count
c.Add(1, "a")
c.Add(2, "A")
c.Add("third")
c.Add(4, "b")
? c.Count, c.Item("A"), c.Item("a"), c.Item(3), c["b"], c[1]
TRY
  c.Add(5, "a")
CATCH TO x
  ? "key again:", x.ErrorNo, x.Message
ENDTRY
TRY
  c.Add(5, 12)
CATCH TO x
  ? "number as key:", x.ErrorNo
ENDTRY
TRY
  c.Add()
CATCH TO x
  ? "no value:", x.ErrorNo
ENDTRY
DIMENSION sel(3)
sel[1] = 0
sel[2] = 5
sel[3] = "zz"
FOR k = 1 TO 3
  n = sel[k]
  TRY
    ? c.Item(n)
  CATCH TO x
    ? "Item", n, x.ErrorNo, x.Message
  ENDTRY
NEXT
TRY
  ? c.Item(.T.)
CATCH TO x
  ? "Item(.T.)", x.ErrorNo
ENDTRY
? "[" + c.GetKey(0) + "]", "[" + c.GetKey(3) + "]", c.GetKey(2), c.GetKey("b"), c.GetKey("nope")
c["A"] = "two"
c[3] = "THIRD"
? c.Item(2), c.Item(3)
c.Remove(1)
? c.Count, c.Item(1), c.GetKey("A"), c.GetKey(1)
c.Remove("b")
? c.Count, c.GetKey("b")
TRY
  c.Remove("b")
CATCH TO x
  ? "removed twice:", x.ErrorNo
ENDTRY
c.Add(10, "m")
c.Add(20)
c.Add(30, "c")
* KeySort: 0 positions up, 1 positions down, 2 keys up, 3 keys down.
FOR n = 0 TO 3
  c.KeySort = n
  ?? CHR(13) + CHR(10) + TRANSFORM(n) + ":"
  FOR EACH v IN c
    ?? " " + TRANSFORM(v)
  NEXT
NEXT
? c.KeySort
TRY
  c.KeySort = 4
CATCH TO x
  ? "KeySort 4:", x.ErrorNo
ENDTRY
TRY
  c.KeySort = -1
CATCH TO x
  ? "KeySort -1:", x.ErrorNo
ENDTRY
c.KeySort = 2
FOR EACH KEY k VALUE v IN c
  ? k, v
NEXT
* EXIT and LOOP inside the body.
c.KeySort = 0
FOR EACH v IN c
  IF VARTYPE(v) = "C"
    LOOP
  ENDIF
  IF v = 20
    EXIT
  ENDIF
  ? "at", v
NEXT
c.Remove(-1)
? c.Count
* Empty collections: no order visits anything.
FOR n = 0 TO 3
  c.KeySort = n
  FOR EACH v IN c
    ? "never"
  NEXT
NEXT
? "empty done"
* Removing the current entry inside FOR EACH: the loop goes on with the entry that followed.
FOR n = 1 TO 5
  c.Add(n * 11, "k" + TRANSFORM(n))
NEXT
FOR k = 0 TO 3
  LOCAL d
  d = CREATEOBJECT("Collection")
  FOR n = 1 TO 5
    d.Add(n, "k" + TRANSFORM(n))
  NEXT
  d.KeySort = k
  ?? CHR(10) + TRANSFORM(k) + ":"
  FOR EACH KEY x VALUE v IN d
    ?? " " + x
    IF v % 2 = 1
      d.Remove(x)
    ENDIF
  NEXT
  ?? " left " + TRANSFORM(d.Count)
NEXT
* Key and Value of an iterator without a current entry.
c.KeySort = 0
x = GET_ENUMERATOR(c)
TRY
  ? x.Value
CATCH TO v
  ? "before MoveNext:", v.ErrorNo
ENDTRY
? x.MoveNext(), x.Key, x.Value
c.Remove(1)
TRY
  ? x.Value
CATCH TO v
  ? "entry removed:", v.ErrorNo
ENDTRY
? x.MoveNext(), x.Key
DO WHILE x.MoveNext()
ENDDO
TRY
  ? x.Key
CATCH TO v
  ? "after the end:", v.ErrorNo
ENDTRY
? PEMSTATUS(c, "Count", 5), PEMSTATUS(c, "Nothing", 5)
