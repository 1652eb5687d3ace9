* ASORT: nulls first, ascending, stable; a new array replaces the old one, so a copy taken
* before keeps its order.
LOCAL a, b, i, s
a = ARRAY(3, 0, 1, 2)
a[2] = .NULL.
b = a
? ASORT(@a)
? a[1], a[2], a[3], a[4]
? b[1], b[2], b[3], b[4]

* From a start element on; below 1 counts as 1, beyond the end sorts nothing.
a = ARRAY(5, 4, 3, 2, 1)
ASORT(@a, 3)
? a[1], a[2], a[3], a[4], a[5]
a = ARRAY(5, 4, 3, 2, 1)
ASORT(@a, -7)
? a[1], a[2], a[3], a[4], a[5]
a = ARRAY(5, 4, 3)
ASORT(@a, 9)
? a[1], a[2], a[3]

* Strings by code point, dates, mixed numeric types.
a = ARRAY("b", "B", "a", "ab", "")
ASORT(@a)
s = ""
FOR i = 1 TO 5
  s = s + "[" + a[i] + "]"
ENDFOR
? s
a = ARRAY(2.5, 1, 2, 0.5)
ASORT(@a)
? a[1], a[2], a[3], a[4]

* Two dimensions: whole rows move, keyed by the start element's column; equal keys and null
* keys keep their order.
DIMENSION m(5, 2)
m[1, 1] = 2
m[1, 2] = "first two"
m[2, 1] = 1
m[2, 2] = "first one"
m[3, 1] = 2
m[3, 2] = "second two"
m[4, 1] = .NULL.
m[4, 2] = "null"
m[5, 1] = 1
m[5, 2] = "second one"
ASORT(@m)
FOR i = 1 TO 5
  ? m[i, 1], m[i, 2]
ENDFOR

* Start 3 of a 4 x 2 array sorts rows 2 to 4 by column 1; start 4 sorts them by column 2.
DIMENSION q(4, 2)
q[1, 1] = 9
q[1, 2] = "z"
q[2, 1] = 3
q[2, 2] = "a"
q[3, 1] = 1
q[3, 2] = "c"
q[4, 1] = 2
q[4, 2] = "b"
ASORT(@q, 3)
? q[1, 1], q[2, 1], q[3, 1], q[4, 1]
ASORT(@q, 4)
? q[1, 2], q[2, 2], q[3, 2], q[4, 2]

* Values that cannot be compared raise the comparison's error.
a = ARRAY(1, "x", 2)
TRY
  ASORT(@a)
CATCH TO e
  ? "mixed", e.ErrorNo
ENDTRY
? a[1], a[2], a[3]
