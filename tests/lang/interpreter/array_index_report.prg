* An index past the end inside a sum over a LOCAL array: the report names the line of the read.
LOCAL a, i
DIMENSION a[3]
STORE 1 TO a
? total(@a, 3)
? total(@a, 4)

FUNCTION total(r, n)
  LOCAL i, s
  s = 0
  FOR i = 1 TO n
    s = s + r[i]
  ENDFOR
  RETURN s
ENDFUNC
