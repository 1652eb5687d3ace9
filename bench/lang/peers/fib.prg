* Recursive fib of the argument (fib(d) makes 2*fib(d+1)-1 calls).
LPARAMETERS argc, argv
? fib(VAL(argv[2]))

FUNCTION fib(n)
  IF n < 2
    RETURN n
  ENDIF
  RETURN fib(n - 1) + fib(n - 2)
ENDFUNC
