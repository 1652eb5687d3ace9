* Arrays of 450,000 elements (18 MB): they start empty, hold texts and numbers, are copied on
* the first store after a share, and keep their elements when re-dimensioned smaller and larger.
LOCAL a, b, i, n, s
n = 450000
DIMENSION a[n]
s = 0
FOR i = 1 TO n
  s = s + IIF(VARTYPE(a[i]) == "L" AND !a[i], 1, 0)
ENDFOR
? s
FOR i = 1 TO n
  a[i] = IIF(i % 2 = 0, "t" + LTRIM(STR(i)), i)
ENDFOR
b = a
a[n] = 0
? a[2], a[n - 1], a[n], b[n]
DIMENSION b[3]
? ALEN(b), b[2], b[3]
DIMENSION b[2 * n]
? ALEN(b), b[2], VARTYPE(b[n]), VARTYPE(b[2 * n])
s = 0
FOR i = 1 TO n STEP 2
  s = s + a[i]
ENDFOR
? s
