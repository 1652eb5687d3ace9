* s = s + "x" the count's times.
LPARAMETERS argc, argv
LOCAL i, n, s
n = VAL(argv[2])
s = ""
FOR i = 1 TO n
  s = s + "x"
ENDFOR
? LEN(s)
