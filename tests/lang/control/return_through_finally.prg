* RETURN inside TRY ... FINALLY: the value is taken before the FINALLY bodies run and kept until
* the last of them has run. TRY blocks one after the other and several RETURNs of one TRY share
* the place the value waits in; a RETURN inside a FINALLY that a pending one passes has its own.
LOCAL e, a

* Values of each kind, each from its own TRY of one function; the FINALLY changes the variable.
? kind(1), kind(2), DTOC(kind(3)), kind(4), ISNULL(kind(5)), kind(6).Item(1), kind(7)

* Nested TRY blocks: every FINALLY runs, innermost first, and the value is the RETURN's.
? nested(4)

* A RETURN inside a FINALLY is given up when an error is caught inside that FINALLY, or when EXIT
* leaves a loop inside it: the pending RETURN goes on with its own value. LOOP in a FINALLY gives
* up the pending RETURN, and the next pass returns its own.
? abandoned_by_error()
? abandoned_by_exit()
? abandoned_by_loop()

* RETURN from a CATCH body; a RETURN inside FINALLY replaces the pending one.
? from_catch()
? replaced()

* An error inside the FINALLY goes on to the caller; the pending value is dropped.
TRY
  ? error_in_finally()
CATCH TO e
  ? "caller caught", e.ErrorNo
ENDTRY

* EXIT and LOOP out of TRY blocks inside a loop, then a RETURN through the same kind of TRY.
? loop_then_return()

* Recursion: each call keeps its own value, also while a FINALLY calls the function again.
? depth(4)

* An array is a value: the one returned is the array as the RETURN found it.
a = with_array()
? a[1], a[2]

FUNCTION kind(n)
  LOCAL v
  TRY
    IF n = 1
      v = "text"
      RETURN v
    ENDIF
  FINALLY
    v = "changed"
  ENDTRY
  TRY
    IF n = 2
      v = 12.5
      RETURN v
    ENDIF
  FINALLY
    v = -1
  ENDTRY
  TRY
    IF n = 3
      v = {^2024-02-29}
      RETURN v
    ENDIF
    IF n = 4
      v = .T.
      RETURN v
    ENDIF
    IF n = 5
      v = .NULL.
      RETURN v
    ENDIF
  FINALLY
    v = 0
  ENDTRY
  TRY
    IF n = 6
      v = CREATEOBJECT("Collection")
      v.Add("item")
      RETURN v
    ENDIF
  FINALLY
    v = .F.
  ENDTRY
  RETURN "after " + ALLTRIM(STR(n))
ENDFUNC

FUNCTION nested(n)
  LOCAL t
  t = ""
  TRY
    TRY
      TRY
        RETURN n * 10
      FINALLY
        ?? "f1 "
        n = 0
      ENDTRY
    FINALLY
      ?? "f2 "
    ENDTRY
  FINALLY
    ?? "f3 "
  ENDTRY
ENDFUNC

FUNCTION abandoned_by_error()
  TRY
    TRY
      RETURN "pending"
    FINALLY
      ?? "inner "
    ENDTRY
  FINALLY
    TRY
      TRY
        RETURN "given up"
      FINALLY
        x = 1
        x = x + "a"
      ENDTRY
    CATCH TO e
      ?? "caught", e.ErrorNo, ""
    ENDTRY
  ENDTRY
ENDFUNC

FUNCTION abandoned_by_exit()
  LOCAL i
  TRY
    RETURN "pending"
  FINALLY
    FOR i = 1 TO 3
      TRY
        RETURN "given up " + STR(i, 1)
      FINALLY
        EXIT
      ENDTRY
    ENDFOR
    ?? "after loop", i, ""
  ENDTRY
ENDFUNC

FUNCTION abandoned_by_loop()
  LOCAL i
  FOR i = 1 TO 5
    TRY
      RETURN i * 10
    FINALLY
      IF i < 3
        LOOP
      ENDIF
    ENDTRY
  ENDFOR
  RETURN -1
ENDFUNC

FUNCTION from_catch()
  TRY
    x = 1
        x = x + "a"
  CATCH TO e
    RETURN "catch " + ALLTRIM(STR(e.ErrorNo))
  FINALLY
    ?? "finally "
  ENDTRY
ENDFUNC

FUNCTION replaced()
  TRY
    RETURN "first"
  FINALLY
    RETURN "second"
  ENDTRY
ENDFUNC

FUNCTION error_in_finally()
  TRY
    RETURN "never"
  FINALLY
    x = no_such_variable
  ENDTRY
ENDFUNC

FUNCTION loop_then_return()
  LOCAL i, s
  s = ""
  FOR i = 1 TO 4
    TRY
      IF i = 2
        LOOP
      ENDIF
      IF i = 4
        EXIT
      ENDIF
      s = s + STR(i, 1)
    FINALLY
      s = s + "f"
    ENDTRY
  ENDFOR
  TRY
    RETURN s + "/" + STR(i, 1)
  FINALLY
    s = ""
  ENDTRY
ENDFUNC

FUNCTION depth(n)
  LOCAL r
  IF n = 0
    RETURN ""
  ENDIF
  TRY
    RETURN STR(n, 1) + depth(n - 1)
  FINALLY
    r = depth(n - 1)
  ENDTRY
ENDFUNC

FUNCTION with_array()
  LOCAL a[2]
  a[1] = "one"
  TRY
    RETURN a
  FINALLY
    a[2] = "two"
    a = "no longer the array"
  ENDTRY
ENDFUNC
