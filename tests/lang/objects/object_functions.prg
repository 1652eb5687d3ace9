* The object built-ins on objects of program classes and native ones.
LOCAL o, e, a, n, m, x
o = CREATEOBJECT("Item")
? PEMSTATUS(o, "Price", 5), PEMSTATUS(o, "Nothing", 5), PEMSTATUS(o, "price", 1)
? PEMSTATUS(o, "Price", 3), PEMSTATUS(o, "Total", 3), PEMSTATUS(o, "Cost", 2)
TRY
  ? PEMSTATUS(o, "Nothing", 3)
CATCH TO e
  ? "attribute 3 of an unknown member:", e.ErrorNo
ENDTRY
TRY
  ? PEMSTATUS(o, "Price", 4)
CATCH TO e
  ? "attribute 4:", e.ErrorNo
ENDTRY
? GETPEM(o, "Price"), GETPEM(o, "Class")
TRY
  ? GETPEM(o, "Cost")
CATCH TO e
  ? "GETPEM of a protected member:", e.ErrorNo
ENDTRY
TRY
  ? GETPEM(o, "Nothing")
CATCH TO e
  ? "GETPEM of an unknown member:", e.ErrorNo
ENDTRY
* AMEMBERS: code-point order, each name once over the chain.
n = AMEMBERS(a, o)
? n
FOR m = 1 TO n
  ?? " " + a[m]
NEXT
n = AMEMBERS(a, o, 1)
? n, ALEN(a, 2)
FOR m = 1 TO n
  IF a[m, 1] == "Total" OR a[m, 1] == "Price" OR a[m, 1] == "Class"
    ? a[m, 1], a[m, 2]
  ENDIF
NEXT
TRY
  n = AMEMBERS(a, o, 2)
CATCH TO e
  ? "flag 2:", e.ErrorNo
ENDTRY
e = CREATEOBJECT("Empty")
? ADDPROPERTY(e, "b", 1), ADDPROPERTY(e, "A"), AMEMBERS(a, e)
? a[1], a[2], VARTYPE(e.A)
* A name with dimensions adds an array.
? ADDPROPERTY(e, "list(3)"), ALEN(e.list), ADDPROPERTY(e, "grid(2, 5)"), ALEN(e.grid)
TRY
  ADDPROPERTY(e, "x(1, 2, 3)")
CATCH TO x
  ? "three dimensions:", x.ErrorNo
ENDTRY
TRY
  ADDPROPERTY(e, "")
CATCH TO x
  ? "no name:", x.ErrorNo
ENDTRY
? REMOVEPROPERTY(e, "b"), PEMSTATUS(e, "b", 5)
TRY
  REMOVEPROPERTY(e, "b")
CATCH TO x
  ? "removed twice:", x.ErrorNo
ENDTRY
* An added property on an object of a program class.
? ADDPROPERTY(o, "Note", "n"), o.Note
* The class of the calling program comes before the native class of that name.
o = CREATEOBJECT("Session")
? o.Class, o.Mine
TRY
  o = CREATEOBJECT("NoSuchClass")
CATCH TO x
  ? x.ErrorNo, x.Message
ENDTRY
TRY
  o = NEWOBJECT("NoSuchClass")
CATCH TO x
  ? x.ErrorNo, x.Message
ENDTRY
TRY
  o = NEWOBJECT("Item", .NULL., "app")
CATCH TO x
  ? x.ErrorNo, x.Message
ENDTRY
o = NEWOBJECT("Item", .NULL., "", 7)
? o.Price
* References: the counts seen before the change, less the two the call holds.
o = CREATEOBJECT("Empty")
? INCREMENTREF(o), INCREMENTREF(o), DECREMENTREF(o), DECREMENTREF(o)
TRY
  ? GET_ENUMERATOR(5)
CATCH TO x
  ? "GET_ENUMERATOR of a number:", x.ErrorNo
ENDTRY

DEFINE CLASS Item AS Custom
  Price = 10
  PROTECTED Cost
  Cost = 4
  FUNCTION Init(p)
    IF PCOUNT() = 1
      This.Price = p
    ENDIF
  ENDFUNC
  FUNCTION Total()
    RETURN This.Price + This.Cost
  ENDFUNC
ENDDEFINE

DEFINE CLASS Session AS Custom
  Mine = "program's own"
ENDDEFINE
