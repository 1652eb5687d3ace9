* An array of the count's size filled with 1..n, then summed. Argument: the count.
LPARAMETERS argc, argv
LOCAL i, n, s, a
n = VAL(argv[2])
DIMENSION a[MAX(n, 1)]
FOR i = 1 TO n
  a[i] = i
ENDFOR
s = 0
FOR i = 1 TO n
  s = s + a[i]
ENDFOR
? s
