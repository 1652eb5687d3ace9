* FOR loop: one iteration adds the counter to a LOCAL. Argument: the count.
LPARAMETERS argc, argv
LOCAL i, n, s
n = VAL(argv[2])
s = 0
FOR i = 1 TO n
  s = s + i
ENDFOR
? s
