* PUBLIC with dimensions declares arrays; column 0 of a two-dimensional array is no element.
PUBLIC a[3], c
PUBLIC b(2, 4)
? ALEN(a), ALEN(b), ALEN(b, 1), ALEN(b, 2), c
DIMENSION m(2, 3)
m[1, 3] = 5
DIMENSION v(4)
v[2] = "second"
? m[1, 3], v[2], v[2, 0]
TRY
  ? m[2, 0]
CATCH TO e
  ? "read [2,0]:", e.ErrorNo
ENDTRY
TRY
  m[2, 0] = 1
CATCH TO e
  ? "write [2,0]:", e.ErrorNo
ENDTRY
? m[1, 3]
