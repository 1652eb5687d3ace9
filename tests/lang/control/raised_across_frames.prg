* Errors and THROWs raised frames below the TRY that takes them: every frame between runs its
* FINALLY and releases what it held (newest first), PRIVATE names come back, and the values the
* handler sees are those raised, whether the calls come from statements, expressions, methods,
* EVALUATE or a WHEN condition.
LOCAL e, i, k, n, o, a
PRIVATE pv
pv = "outer"
TRY
  level1("error")
CATCH TO e
  ? "caught", e.ErrorNo, e.Message, pv
ENDTRY
TRY
  level1("throw")
CATCH TO e
  ? "caught", e.UserValue, pv
ENDTRY
n = AERROR(a)
? "aerror", n, a[1]

TRY
  k = 1 + level1("error") * 2
  ? "never"
CATCH TO e
  ? "from an expression", e.ErrorNo, k
ENDTRY

o = CREATEOBJECT("Raiser")
TRY
  o.Raise(7)
CATCH TO e
  ? "from a method", e.UserValue
ENDTRY

TRY
  ? EVALUATE("level1('throw')")
CATCH TO e
  ? "through EVALUATE", e.UserValue
ENDTRY

TRY
  TRY
    ERROR 5
  CATCH TO e WHEN condition_raises()
    ? "never"
  ENDTRY
CATCH TO e
  ? "from a condition", e.ErrorNo
ENDTRY

* Caught in the middle frame: the outer TRY sees nothing.
TRY
  ? "middle", catches_below()
CATCH TO e
  ? "never"
ENDTRY

k = 0
FOR i = 1 TO 500
  TRY
    quiet1(IIF(i % 2 = 0, "error", "throw"))
  CATCH TO e
    k = k + 1
  ENDTRY
ENDFOR
? "loop", k, pv
o = .NULL.
? "end"

FUNCTION level1(kind)
  LOCAL held
  held = CREATEOBJECT("Noisy", "level1")
  TRY
    RETURN level2(kind)
  FINALLY
    ?? "finally1 "
  ENDTRY
ENDFUNC

FUNCTION level2(kind)
  PRIVATE pv
  pv = "level2"
  TRY
    RETURN level3(kind)
  FINALLY
    ?? "finally2 "
  ENDTRY
ENDFUNC

FUNCTION level3(kind)
  LOCAL held
  held = CREATEOBJECT("Noisy", "level3")
  IF kind = "error"
    ERROR 1098, "deep"
  ENDIF
  THROW "deep " + pv
ENDFUNC

FUNCTION quiet1(kind)
  LOCAL s
  s = REPLICATE(kind, 3)
  RETURN quiet2(kind) + s
ENDFUNC

FUNCTION quiet2(kind)
  IF kind = "error"
    ERROR 1098, "quiet"
  ENDIF
  THROW kind
ENDFUNC

FUNCTION condition_raises
  RETURN level3("error")
ENDFUNC

FUNCTION catches_below
  LOCAL e
  TRY
    level1("throw")
  CATCH TO e
    RETURN "caught below: " + e.UserValue
  ENDTRY
  RETURN "never"
ENDFUNC

DEFINE CLASS Raiser AS Custom
  FUNCTION Raise(v)
    RETURN level3(IIF(v = 7, "throw", "error"))
  ENDFUNC
ENDDEFINE

DEFINE CLASS Noisy AS Custom
  Name = ""
  FUNCTION Init(name)
    This.Name = name
  ENDFUNC
  FUNCTION Destroy()
    ?? "destroy " + This.Name + " "
  ENDFUNC
ENDDEFINE
