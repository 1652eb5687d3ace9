* Elements addressed by row and column, of LOCAL and PRIVATE arrays, read and stored: in range,
* and every pair the short way leaves to the full one.
LOCAL a, c, e, r, k, rows, cols
PRIVATE p
DIMENSION a[2, 3], p[3, 2], rows[10], cols[10]
rows[1] = 1
cols[1] = 1
rows[2] = 2
cols[2] = 3
rows[3] = 1
cols[3] = 0
rows[4] = 0
cols[4] = 1
rows[5] = 3
cols[5] = 1
rows[6] = 1
cols[6] = 4
rows[7] = -1
cols[7] = 2
rows[8] = 1.6
cols[8] = 2.2
rows[9] = "1"
cols[9] = 1
rows[10] = 2
cols[10] = .NULL.
FOR k = 1 TO 6
  a[k] = k
ENDFOR
FOR k = 1 TO 6
  p[k] = k * 10
ENDFOR
c = a
FOR k = 1 TO 10
  r = rows[k]
  e = cols[k]
  ?? k, ":", try_read(@a, r, e), try_read(@p, r, e), try_write(@a, r, e, k * 100), try_write(@p, r, e, "s" + STR(k, 1))
  ?
ENDFOR
? a[1, 1], a[2, 3], a[6], c[1, 1], c[2, 3]
FOR k = 1 TO 6
  ?? p[k], ""
ENDFOR
?
TRY
  ? p[4, 1]
CATCH TO e
  ? "error", e.ErrorNo
ENDTRY
p[3, 2] = 0
? p[3, 2], p[1, 1]
* a one-dimensional array with two indexes: row + column - 1
DIMENSION a[4]
STORE 7 TO a
a[2, 2] = 33
? a[3], a[1, 4], a[2, 2]
* private arrays in a called function
? inner(2, 2)

FUNCTION try_read(x, r, e)
  LOCAL v
  TRY
    v = x[r, e]
  CATCH TO v
    v = "r" + LTRIM(STR(v.ErrorNo))
  ENDTRY
  RETURN v
ENDFUNC

FUNCTION try_write(x, r, e, v)
  TRY
    x[r, e] = v
    v = "ok"
  CATCH TO v
    v = "w" + LTRIM(STR(v.ErrorNo))
  ENDTRY
  RETURN v
ENDFUNC

FUNCTION inner(r, e)
  PRIVATE q
  DIMENSION q[2, 2]
  q[r, e] = "corner"
  q[1, 1] = q[r, e] + "!"
  RETURN q[1, 1]
ENDFUNC
