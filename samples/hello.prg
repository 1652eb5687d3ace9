* hello.prg - a first Qz program: run it with scripts/run.sh samples/hello.prg [words ...]
LPARAMETERS argc, argv

? "Hello from Qz!"
?? "Factorials:"
FOR i = 1 TO 10
  ?? "", factorial(i)
ENDFOR
?
IF argc > 1
  FOR i = 2 TO argc
    ? "Argument", i - 1, "is", argv[i]
  ENDFOR
ELSE
  ? "Give the script some arguments and it lists them."
ENDIF

FUNCTION factorial(n)
  IF n <= 1
    RETURN 1
  ENDIF
  RETURN n * factorial(n - 1)
ENDFUNC
