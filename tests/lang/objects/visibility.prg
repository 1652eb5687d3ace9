* PROTECTED and HIDDEN members from inside and outside the object.
LOCAL o, e
o = CREATEOBJECT("Child")
? o.Show()
TRY
  ? o.Secret
CATCH TO e
  ? "protected from outside:", e.ErrorNo
ENDTRY
TRY
  ? o.Private
CATCH TO e
  ? "hidden from outside:", e.ErrorNo
ENDTRY
TRY
  ? o.Helper()
CATCH TO e
  ? "protected method from outside:", e.ErrorNo
ENDTRY
? o.ChildShow()
TRY
  ? o.ChildPeek()
CATCH TO e
  ? "parent's hidden from the child:", e.ErrorNo
ENDTRY
? PEMSTATUS(o, "Secret", 2), PEMSTATUS(o, "Shown", 2)

DEFINE CLASS Base AS Custom
  PROTECTED Secret
  HIDDEN Private
  Secret = "s"
  Private = "p"
  Shown = "v"
  PROTECTED FUNCTION Helper()
    RETURN "helper"
  ENDFUNC
  FUNCTION Show()
    RETURN This.Secret + This.Private + This.Helper()
  ENDFUNC
ENDDEFINE

DEFINE CLASS Child AS Base
  FUNCTION ChildShow()
    RETURN This.Secret + This.Helper()
  ENDFUNC
  FUNCTION ChildPeek()
    RETURN This.Private
  ENDFUNC
ENDDEFINE
