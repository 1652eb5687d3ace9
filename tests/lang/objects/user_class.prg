* Objects of classes defined in the program: initialisers, INIT arguments, methods calling each
* other through THIS, WITH, chained parents, DIMENSION properties, Class and DESTROY.
LOCAL o, p, e
o = CREATEOBJECT("Counter", 5, "start")
? o.Count, o.Label, o.Step, VARTYPE(o.Items)
? o.Bump(), o.Bump(), o.Twice()
WITH o
  .Label = "with"
  ? .Label, .Count
ENDWITH
? o.Class
TRY
  o.Class = "Other"
CATCH TO e
  ? "assign Class:", e.ErrorNo
ENDTRY
o.Items[2] = "two"
? o.Items[2], ALEN(o.Items)
o.Grid[2, 3] = "cell"
? o.Grid[2, 3]
TRY
  ? o.Items[1, 2, 3]
CATCH TO e
  ? "three indexes:", e.ErrorNo
ENDTRY
TRY
  ? o.Count[1]
CATCH TO e
  ? "index on a number:", e.ErrorNo
ENDTRY
* A parent's method runs on the chained object.
p = CREATEOBJECT("Timer", 2)
? p.Class, p.Count, p.Bump(), p.Tick(), p.Describe()
* Release runs DESTROY once per object.
o = .NULL.
? "released o"
p = .NULL.
? "released p"
* An instance made and dropped inside an expression.
o = CREATEOBJECT("Counter", 1)
? o.Twice()
o = .NULL.
? "end"

DEFINE CLASS Counter AS Custom
  Count = 0
  Label = "none"
  Step = 1 + 1
  DIMENSION Items(3)
  DIMENSION Grid(2, 4)
  FUNCTION Init(start, label)
    This.Count = start
    IF PCOUNT() > 1
      This.Label = label
    ENDIF
  ENDFUNC
  FUNCTION Bump()
    This.Count = This.Count + This.Step
    RETURN This.Count
  ENDFUNC
  FUNCTION Twice()
    RETURN This.Bump() * 2
  ENDFUNC
  FUNCTION Describe()
    RETURN This.Class + ":" + TRANSFORM(This.Count)
  ENDFUNC
  FUNCTION Destroy()
    ? "destroy", This.Class, This.Count
  ENDFUNC
ENDDEFINE

DEFINE CLASS Timer AS Counter
  Step = 10
  FUNCTION Tick()
    RETURN This.Bump() + 1000
  ENDFUNC
ENDDEFINE
