PUBLIC p
PRIVATE q
LOCAL r, t[2]
p = 1
q = "two"
r = .T.
t[2] = .NULL.
STORE 3 TO a, b
? p, q, r, t[2], a + b, TYPE("p")
