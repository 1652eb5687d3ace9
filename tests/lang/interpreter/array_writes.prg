* One plain value stored under one integer index of a LOCAL array, and what the short way leaves
* to the full store: copies that share the elements, bad indexes, texts, two dimensions, references.
LOCAL a, b, k, e
DIMENSION a[3]
a[1] = 1
a[2] = 2.5
a[3] = .T.
b = a
a[1] = 10
? a[1], b[1], a[2], a[3]
FOR k = -1 TO 4 STEP 1
  TRY
    a[k] = k
    ?? "", "stored", k
  CATCH TO e
    ?? "", "error", e.ErrorNo
  ENDTRY
ENDFOR
?
a[2] = "text"
a[2] = 7
? a[2], b[2]
DIMENSION a[2, 2]
a[3] = 30
a[2, 2] = 22
? a[2, 1], a[2, 2], ALEN(a, 1), ALEN(a, 2)
? fill(@a), a[1, 1], a[1, 2]
k = 5
a[1] = {^2025-01-02}
a[2] = .NULL.
? a[1], a[2]

FUNCTION fill(r)
  LOCAL i
  FOR i = 1 TO 2
    r[i] = i * 100
  ENDFOR
  RETURN r[2]
ENDFUNC
