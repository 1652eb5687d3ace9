* ASCAN over 1000 numbers, for the last one, 10000 times; ascan.py does the same with
* list.index. With "setup" only the array is built and the loop runs empty.
LPARAMETERS argc, argv
LOCAL i, k, n, scan
scan = argc < 2
DIMENSION a(1000)
FOR i = 1 TO 1000
  a[i] = i
ENDFOR
n = 0
FOR k = 1 TO 10000
  IF scan
    n = ASCAN(a, 1000)
  ENDIF
ENDFOR
? n
