* A string built per iteration from SUBSTR, UPPER and STR. Argument: the count.
LPARAMETERS argc, argv
LOCAL i, n, s, r, total
n = VAL(argv[2])
s = "lorem ipsum dolor sit amet"
total = 0
FOR i = 1 TO n
  r = UPPER(SUBSTR(s, 1 + i % 10, 8)) + STR(i)
  total = total + LEN(r)
ENDFOR
? total
