* A constant added to or taken from the value on top, and a comparison that decides a jump, on
* integers and on everything the short way leaves to the full operations.
LOCAL k, v, i, e
LOCAL ARRAY vals[10], rhs[3]
rhs[1] = 2
rhs[2] = "b"
rhs[3] = 2.5
vals[1] = 5
vals[2] = -3
vals[3] = 2.5
vals[4] = "b"
vals[5] = "B"
vals[6] = {^2024-03-01}
vals[7] = .NULL.
vals[8] = 9223372036854775807
vals[9] = -9223372036854775807 - 1
vals[10] = .T.
FOR k = 1 TO ALEN(vals)
  v = vals[k]
  TRY
    ? "plus", v + 1
  CATCH TO e
    ? "plus error", e.ErrorNo
  ENDTRY
  TRY
    ? "minus", v - 1
  CATCH TO e
    ? "minus error", e.ErrorNo
  ENDTRY
  FOR i = 1 TO 3
    TRY
      ? "compare", tests(v, rhs[i])
    CATCH TO e
      ? "compare error", e.ErrorNo
    ENDTRY
  ENDFOR
ENDFOR
i = 10
? by_ref(@i), i
* The same comparison site meets an integer, then a text, then an integer again.
FOR k = 1 TO 3
  v = IIF(k = 2, "z", k)
  IF v > IIF(k = 2, "a", 1)
    ? k, "greater"
  ELSE
    ? k, "not greater"
  ENDIF
ENDFOR
* A loop ended by a comparison and a count down by a constant.
k = 5
DO WHILE k > 0
  ?? k
  k = k - 2
ENDDO
?

FUNCTION tests(a, b)
  LOCAL r
  r = ""
  IF a = b
    r = r + "="
  ENDIF
  IF a < b
    r = r + "<"
  ENDIF
  IF a <= b
    r = r + "<="
  ENDIF
  IF a > b
    r = r + ">"
  ENDIF
  IF a >= b
    r = r + ">="
  ENDIF
  IF a # b
    r = r + "#"
  ENDIF
  IF a == b
    r = r + "=="
  ENDIF
  RETURN IIF(EMPTY(r), "-", r)
ENDFUNC

FUNCTION by_ref(r)
  r = r - 1
  RETURN r + 1
ENDFUNC
