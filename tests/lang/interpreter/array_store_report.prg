* An index past the end in a store into a LOCAL array: the report names the line of the store.
LOCAL a
DIMENSION a[3]
? fill(@a, 3), a[3]
? fill(@a, 4)

FUNCTION fill(r, n)
  LOCAL i
  FOR i = 1 TO n
    r[i] = i
  ENDFOR
  RETURN n
ENDFUNC
