* ERROR caught in its own frame, by a caller, past a WHEN that declines, raised again inside
* CATCH, from a macro, and over and over in a loop: each time the same handler gets the same
* error, FINALLY runs, and the frames the error leaves release what they held.
LOCAL e, i, k, n, a
TRY
  ERROR 12, "abc"
  ? "never"
CATCH TO e
  ? "same frame", e.ErrorNo, e.Message
ENDTRY
n = AERROR(@a)
? "aerror", n, a[1], a[2]

TRY
  raise_in(1098)
CATCH TO e
  ? "from callee", e.ErrorNo, TYPE("pv")
ENDTRY

TRY
  two_down()
CATCH TO e
  ? "two frames down", e.ErrorNo
ENDTRY

TRY
  TRY
    ERROR 12
  CATCH TO e WHEN e.ErrorNo = 5
    ? "never"
  FINALLY
    ? "inner finally"
  ENDTRY
CATCH TO e
  ? "past the WHEN", e.ErrorNo
ENDTRY

TRY
  TRY
    ERROR 1
  CATCH
    ERROR 2
  FINALLY
    ? "finally before the outer catch"
  ENDTRY
CATCH TO e
  ? "raised in CATCH", e.ErrorNo
ENDTRY

k = "ERROR 7"
TRY
  &k
CATCH TO e
  ? "macro", e.ErrorNo
ENDTRY

k = 0
FOR i = 1 TO 2000
  k = k + caught_here(i)
ENDFOR
? "loop", k

TRY
  ? after_catch()
CATCH TO e
  ? "never", e.ErrorNo
ENDTRY
? "end"

FUNCTION raise_in(code)
  PRIVATE pv
  pv = "held"
  ERROR code
  ? "never"
ENDFUNC

FUNCTION two_down
  LOCAL s
  s = REPLICATE("x", 100)
  raise_in(5)
ENDFUNC

FUNCTION caught_here(i)
  LOCAL e
  TRY
    ERROR 1000 + i % 3
  CATCH TO e
    RETURN e.ErrorNo - 1000
  ENDTRY
  RETURN 100
ENDFUNC

FUNCTION after_catch
  LOCAL e, r
  r = "not caught"
  TRY
    ERROR "text"
  CATCH TO e
    r = "caught " + e.Message
  ENDTRY
  RETURN r
ENDFUNC
