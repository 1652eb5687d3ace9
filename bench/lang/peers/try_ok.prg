* TRY around a statement that raises nothing. Argument: the count.
LPARAMETERS argc, argv
LOCAL i, n, k
n = VAL(argv[2])
k = 0
FOR i = 1 TO n
  TRY
    k = k + 1
  CATCH
    k = -1
  ENDTRY
ENDFOR
? k
