* Element reads and stores of arrays found by name (PRIVATE, PUBLIC, made by DIMENSION), and what
* the short way leaves to the full one: shares, texts, bad indexes, two dimensions, non-arrays.
PRIVATE a, b
PUBLIC g
LOCAL i, e, bad, j
DIMENSION a[4], g[2]
FOR i = 1 TO 4
  a[i] = i * 10
ENDFOR
g[1] = "x"
g[2] = a[2] + a[3]
? a[1], a[4], g[1], g[2]
b = a
a[1] = "text"
a[2] = a[1]
a[3] = a
? a[1], a[2], ALEN(a[3]), b[1], b[2]
a[1] = 5
a[3] = {^2025-01-02}
? a[1], a[3], b[3]
DIMENSION bad[6]
bad[1] = 0
bad[2] = -1
bad[3] = 5
bad[4] = 2.9
bad[5] = "1"
bad[6] = .NULL.
FOR j = 1 TO 6
  TRY
    ?? a[bad[j]], ""
  CATCH TO e
    ?? "read", e.ErrorNo, ""
  ENDTRY
  TRY
    a[bad[j]] = 8
    ?? "stored", a[2], ""
  CATCH TO e
    ?? "write", e.ErrorNo, ""
  ENDTRY
ENDFOR
?
DIMENSION a[2, 2]
a[4] = 44
? a[2, 2], a[3]
TRY
  ? a[1, 0]
CATCH TO e
  ? "error", e.ErrorNo
ENDTRY
made()
? m[2]
b = 3
TRY
  ? b[1]
CATCH TO e
  ? "error", e.ErrorNo
ENDTRY
TRY
  ? nothere[1]
CATCH TO e
  ? "error", e.ErrorNo
ENDTRY
? inner()

FUNCTION made
  PUBLIC m
  DIMENSION m[2]
  m[2] = "made"
ENDFUNC

FUNCTION inner
  PRIVATE a
  DIMENSION a[2]
  a[1] = 1
  a[2] = a[1] + 1
  RETURN a[2]
ENDFUNC
