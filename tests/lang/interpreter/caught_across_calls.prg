* An error raised three calls down is caught by the TRY around the outer call; the frames between
* are left as they were.
LOCAL k, n
n = 0
FOR k = 1 TO 3
  TRY
    n = n + outer(k)
  CATCH TO e
    ?? e.ErrorNo, ""
  ENDTRY
ENDFOR
? n
TRY
  THROW "deep"
CATCH TO e
  ? e.UserValue
ENDTRY
? middle(0)

FUNCTION outer(x)
  RETURN middle(x) + 1
ENDFUNC
FUNCTION middle(x)
  LOCAL r
  r = inner(x)
  RETURN r
ENDFUNC
FUNCTION inner(x)
  IF x = 2
    ERROR 12
  ENDIF
  RETURN x * 10
ENDFUNC
