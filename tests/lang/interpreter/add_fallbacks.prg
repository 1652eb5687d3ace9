* s = s + i on two LOCALs, and what the short way leaves to the full addition: a numeric, text,
* a sum past the 64-bit range, a null, and a LOCAL that refers to the caller's variable.
LOCAL s, i, t
s = 0
FOR i = 1 TO 5
  s = s + i
ENDFOR
? s
s = 0.5
i = 2
s = s + i
? s
s = "a"
t = "b"
s = s + t
? s
s = 9223372036854775800
i = 100
s = s + i
? s
s = .NULL.
i = 1
s = s + i
? s
s = 1
? by_ref(@s), s
i = "x"
s = 1
TRY
  s = s + i
CATCH TO t
  ? "error", t.ErrorNo, s
ENDTRY

FUNCTION by_ref(r)
  LOCAL k
  k = 41
  r = r + k
  RETURN r
ENDFUNC
