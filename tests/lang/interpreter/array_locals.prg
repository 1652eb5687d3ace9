* Element reads and writes whose index is a LOCAL: sums, stores and every case the short way
* leaves to the full one.
LOCAL a, b, i, s, v, e, o
DIMENSION a[4]
FOR i = 1 TO 4
  a[i] = i * 10
ENDFOR
s = 0
FOR i = 1 TO 4
  s = s + a[i]
ENDFOR
? s, a[1], a[4]

* elements and sums of other types
a[1] = 1.5
a[2] = "x"
a[3] = {^2025-03-04}
a[4] = .NULL.
FOR i = 1 TO 4
  v = a[i]
  ?? VARTYPE(v), ""
ENDFOR
?
s = 0
FOR i = 1 TO 1
  s = s + a[i]
ENDFOR
? s
s = "a"
a[1] = "b"
FOR i = 1 TO 2
  s = s + a[i]
ENDFOR
? s
s = 9223372036854775807
a[1] = 1
i = 1
s = s + a[i]
? VARTYPE(s), s

* stored values of every kind, over elements holding texts, into a shared block
b = a
v = "text"
FOR i = 1 TO 4
  a[i] = v
ENDFOR
? a[1], a[4], b[1], b[2], b[4]
FOR i = 1 TO 4
  a[i] = i
ENDFOR
? a[1], a[4], b[2]
o = CREATEOBJECT("Empty")
i = 2
a[i] = o
? VARTYPE(a[2]), VARTYPE(o)
a[i] = a
? VARTYPE(a[2]), ALEN(a[2])
v = 2.25
a[i] = v
? a[2]

* bad indexes: the errors the full way raises
LOCAL bad, j
DIMENSION bad[6]
bad[1] = 0
bad[2] = -1
bad[3] = 5
bad[4] = 1.7
bad[5] = "1"
bad[6] = .NULL.
FOR j = 1 TO 6
  i = bad[j]
  TRY
    ?? a[i], ""
  CATCH TO e
    ?? "read", e.ErrorNo, ""
  ENDTRY
  TRY
    a[i] = 7
    ?? "stored", a[1], ""
  CATCH TO e
    ?? "write", e.ErrorNo, ""
  ENDTRY
  TRY
    s = 0
    s = s + a[i]
    ?? "sum", s, ""
  CATCH TO e
    ?? "sum", e.ErrorNo, ""
  ENDTRY
ENDFOR
?

* two dimensions: one index numbers the elements, a column 0 is no element
DIMENSION a[2, 3]
FOR i = 1 TO 6
  a[i] = i
ENDFOR
i = 2
? a[i], a[i, 1], a[2, 3]
TRY
  ? a[2, 0]
CATCH TO e
  ? "error", e.ErrorNo
ENDTRY

* a variable that is no array
v = 5
TRY
  ? v[i]
CATCH TO e
  ? "error", e.ErrorNo
ENDTRY

* an array passed by reference, and by value
DIMENSION a[3]
STORE 0 TO a
? fill(@a), a[1], a[3]
? total(a)
i = 2
? by_index(@a, @i), a[2], i

* an array property of an object and an array held in an element, with a LOCAL index
o = CREATEOBJECT("Holder")
FOR i = 1 TO 3
  o.Items[i] = i * 2
ENDFOR
s = 0
FOR i = 1 TO 3
  s = s + o.Items[i]
ENDFOR
? s, o.Items[3]
DIMENSION b[2]
b[1] = "in"
a[1] = b
i = 1
v = a[i]
? VARTYPE(v), v[i], ALEN(a[i])
a[i] = 100

* the index named like a PRIVATE before its LOCAL is declared
PRIVATE k
k = 2
? early(), a[2]

* the index named like a field of the selected table: the field is read
PRIVATE cHome, cDir
cHome = CURDIR()
cDir = ADDBS(SYS(2023)) + "qz_arrayidx_" + SYS(3)
MKDIR &cDir
CD &cDir
CREATE TABLE t (i N(3))
APPEND BLANK
REPLACE i WITH 3
i = 1
? a[i], m.i
a[i] = 99
? a[1], a[3]
s = 0
s = s + a[i]
? s
USE
? a[i]
CD &cHome
RUN rm -rf &cDir

FUNCTION fill(r)
  LOCAL i, s
  FOR i = 1 TO 3
    r[i] = i * 100
  ENDFOR
  s = 0
  FOR i = 1 TO 3
    s = s + r[i]
  ENDFOR
  RETURN s
ENDFUNC

FUNCTION total(r)
  LOCAL i, s
  s = 0
  FOR i = 1 TO 3
    s = s + r[i]
    r[i] = 0
  ENDFOR
  RETURN STR(s) + STR(r[1])
ENDFUNC

FUNCTION by_index(r, k)
  LOCAL s, v
  v = 5
  r[k] = v
  r[k] = r[k] + k
  s = 0
  s = s + r[k]
  k = 3
  RETURN s
ENDFUNC

FUNCTION early
  LOCAL a, s, v
  DIMENSION a[3]
  STORE 5 TO a
  a[k] = 50
  v = a[k]
  s = 0
  s = s + a[k]
  LOCAL k
  k = 3
  a[k] = 70
  RETURN STR(v) + STR(s) + STR(a[3])
ENDFUNC

DEFINE CLASS Holder AS Custom
  DIMENSION Items(3)
ENDDEFINE
