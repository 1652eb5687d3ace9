* Recursive FUNCTIONs.
? fact(10)
? fib(20)
FOR i = 0 TO 6
  ?? fib(i), ""
ENDFOR
?

FUNCTION fact(n)
  IF n <= 1
    RETURN 1
  ENDIF
  RETURN n * fact(n - 1)
ENDFUNC

FUNCTION fib(n)
  IF n < 2
    RETURN n
  ENDIF
  RETURN fib(n - 1) + fib(n - 2)
ENDFUNC
