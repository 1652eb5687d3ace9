* ALEN, AELEMENT, ASUBSCRIPT, ADEL, ACOPY and ASCAN, with their errors.
LOCAL a, b, n
DIMENSION m(3, 2)
? ALEN(m), ALEN(m, 1), ALEN(m, 2)
a = ARRAY(1, 2, 3)
? ALEN(a), ALEN(a, 1), ALEN(a, 2)
? AELEMENT(m, 2, 1), AELEMENT(m, 3, 2), AELEMENT(m, 3), AELEMENT(a, 2)
? ASUBSCRIPT(m, 4, 1), ASUBSCRIPT(m, 4, 2), ASUBSCRIPT(m, 6, 1), ASUBSCRIPT(a, 3, 1)

TRY
  ? ALEN(a, 3)
CATCH TO e
  ? "alen 3:", e.ErrorNo
ENDTRY
TRY
  ? AELEMENT(m, 4, 1)
CATCH TO e
  ? "aelement row 4:", e.ErrorNo
ENDTRY
TRY
  ? AELEMENT(m, 1, 3)
CATCH TO e
  ? "aelement column 3:", e.ErrorNo
ENDTRY
TRY
  ? AELEMENT(m, 0)
CATCH TO e
  ? "aelement row 0:", e.ErrorNo
ENDTRY
TRY
  ? AELEMENT(a, 1, 1)
CATCH TO e
  ? "aelement column of one dimension:", e.ErrorNo
ENDTRY
TRY
  ? ASUBSCRIPT(m, 1, 3)
CATCH TO e
  ? "asubscript which 3:", e.ErrorNo
ENDTRY
TRY
  ? ASUBSCRIPT(m, 7, 1)
CATCH TO e
  ? "asubscript element 7:", e.ErrorNo
ENDTRY

* ADEL: the rows after n move up, the last row becomes .F., the size stays.
m[1, 1] = "a1"
m[1, 2] = "a2"
m[2, 1] = "b1"
m[2, 2] = "b2"
m[3, 1] = "c1"
m[3, 2] = "c2"
? ADEL(@m, 1)
? m[1, 1], m[1, 2], m[2, 1], m[2, 2], m[3, 1], m[3, 2], ALEN(m, 1)
? ADEL(@m, 2)
? m[1, 1], m[1, 2], m[2, 1], m[2, 2], ALEN(m, 1)
a = ARRAY(1, 2, 3)
ADEL(@a, 3)
? a[1], a[2], a[3]
FOR n = -1 TO 4 STEP 5
  TRY
    ADEL(@a, n)
  CATCH TO e
    ? "adel", n, e.ErrorNo
  ENDTRY
ENDFOR
? a[1], a[2], a[3]

* ACOPY: while both indexes are inside their arrays.
a = ARRAY(1, 2, 3, 4, 5)
b = ARRAY("x", "y", "z")
? ACOPY(a, @b, 2, 10, 2)
? b[1], b[2], b[3]
b = ARRAY("x", "y", "z")
? ACOPY(a, @b)
? b[1], b[2], b[3]
b = ARRAY("x", "y", "z")
? ACOPY(a, @b, 4, -1)
? b[1], b[2], b[3]
? ACOPY(a, @b, 6), ACOPY(a, @b, 1, 0)
* A target that is no array is made like the source.
n = 17
? ACOPY(m, @n)
? ALEN(n, 1), ALEN(n, 2), n[1, 1], n[2, 2]
* Copying an array into itself reads the elements as they were.
a = ARRAY(1, 2, 3, 4, 5)
? ACOPY(a, @a, 1, 4, 2)
? a[1], a[2], a[3], a[4], a[5]
TRY
  ACOPY(a, @b, 0)
CATCH TO e
  ? "acopy start 0:", e.ErrorNo
ENDTRY

* ASCAN: elements of another type are passed over; nulls never match.
a = ARRAY(1, "2", 2, .T., 2)
a[1] = .NULL.
? ASCAN(a, 2), ASCAN(a, 2, 4), ASCAN(a, 2, 6), ASCAN(a, "2"), ASCAN(a, .T.), ASCAN(a, 7)
? ASCAN(a, 2.0), ASCAN(a, 2, -3)
a = ARRAY(1, 2, 3)
? ASCAN(a, "x")
