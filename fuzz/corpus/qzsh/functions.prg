? twice(4), fact(10)
FUNCTION twice
PARAMETERS n
RETURN n * 2
ENDFUNC
FUNCTION fact(n)
  IF n <= 1
    RETURN 1
  ENDIF
  RETURN n * fact(n - 1)
ENDFUNC
