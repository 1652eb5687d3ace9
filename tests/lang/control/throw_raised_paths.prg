* THROW caught in its own frame, by callers past frames that hold objects and FINALLY blocks,
* past a WHEN that declines, from inside CATCH and FINALLY, from a macro, from a WHEN condition,
* and over and over in a loop: each time the same handler gets the same value, in the same order
* as the frames it leaves release what they held.
LOCAL e, i, k, a, n, o
TRY
  THROW 12
  ? "never"
CATCH TO e
  ? "same frame", e.UserValue, e.ErrorNo
ENDTRY

o = CREATEOBJECT("Noisy", "caller")
TRY
  throw_in("from callee")
CATCH TO e
  ? "from callee", e.UserValue, TYPE("pv")
ENDTRY

TRY
  two_down()
CATCH TO e
  ? "two frames down", e.UserValue
ENDTRY

TRY
  TRY
    THROW 12
  CATCH TO e WHEN VARTYPE(e.UserValue) = "C"
    ? "never"
  FINALLY
    ? "inner finally"
  ENDTRY
CATCH TO e
  ? "past the WHEN", e.UserValue
ENDTRY

TRY
  TRY
    THROW 1
  CATCH TO e
    THROW e.UserValue + 1
  FINALLY
    ? "finally before the outer catch"
  ENDTRY
CATCH TO e
  ? "thrown in CATCH", e.UserValue
ENDTRY

TRY
  TRY
    ? "body"
  FINALLY
    THROW "from finally"
  ENDTRY
CATCH TO e
  ? "thrown in FINALLY", e.UserValue
ENDTRY

TRY
  TRY
    THROW "first"
  CATCH TO e
    THROW e
  ENDTRY
CATCH TO e
  ? "the exception thrown again", VARTYPE(e.UserValue), e.UserValue.UserValue
ENDTRY

TRY
  TRY
    THROW "looking"
  CATCH TO e WHEN thrower()
    ? "never"
  ENDTRY
CATCH TO e
  ? "thrown by a condition", e.UserValue
ENDTRY

k = "THROW 7"
TRY
  &k
CATCH TO e
  ? "macro", e.UserValue
ENDTRY

k = 0
FOR i = 1 TO 2000
  k = k + caught_here(i)
ENDFOR
? "loop", k

DIMENSION a(2)
a[1] = 1
a[2] = "two"
TRY
  THROW a
CATCH TO e
  k = e.UserValue
  ? "the array", k[2], ALEN(k)
ENDTRY
n = AERROR(a)
? "aerror", n
o = .NULL.
? "end"

FUNCTION throw_in(v)
  PRIVATE pv
  LOCAL held
  pv = "held"
  held = CREATEOBJECT("Noisy", "callee")
  THROW v
  ? "never"
ENDFUNC

FUNCTION two_down
  LOCAL s
  s = REPLICATE("x", 100)
  TRY
    throw_in(5)
  FINALLY
    ? "finally between", LEN(s)
  ENDTRY
ENDFUNC

FUNCTION caught_here(i)
  LOCAL e
  TRY
    THROW 1000 + i % 3
  CATCH TO e
    RETURN e.UserValue - 1000
  ENDTRY
  RETURN 100
ENDFUNC

FUNCTION thrower
  THROW "from the condition"
ENDFUNC

DEFINE CLASS Noisy AS Custom
  Name = ""
  FUNCTION Init(name)
    This.Name = name
  ENDFUNC
  FUNCTION Destroy()
    ? "destroy", This.Name
  ENDFUNC
ENDDEFINE
