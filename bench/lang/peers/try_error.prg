* An error raised inside TRY and caught. Argument: the count.
LPARAMETERS argc, argv
LOCAL i, n, k
n = VAL(argv[2])
k = 0
FOR i = 1 TO n
  TRY
    ERROR 12
  CATCH TO e
    k = k + 1
  ENDTRY
ENDFOR
? k
