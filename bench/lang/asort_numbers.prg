* ASORT of 100000 pseudo-random numbers; asort_numbers.py sorts the same numbers. With the
* argument "setup" only the array is built (its time is the part to subtract).
LPARAMETERS argc, argv
LOCAL n, x, i, sort
sort = .T.
IF argc > 1
  sort = argv[2] != "setup"
ENDIF
n = 100000
DIMENSION a(n)
x = 12345
FOR i = 1 TO n
  x = (x * 48271) % 2147483647
  a[i] = x / 1000
ENDFOR
IF sort
  ASORT(@a)
ENDIF
? a[1], a[n]
