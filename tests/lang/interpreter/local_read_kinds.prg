* LOCALs of every kind read by name: plain values copied, texts shared and kept when the LOCAL
* changes afterwards.
LOCAL a, b, c, d, e, f, g, h, r, s, x
a = .T.
b = .NULL.
c = 42
d = 2.5
e = NTOM(12.3456)
f = {^2024-02-29}
g = {^2024-02-29 13:14:15}
h = "text"
x = .F.
? a, b, c, d, e, f, g, h, x
? VARTYPE(a) + VARTYPE(b) + VARTYPE(c) + VARTYPE(d) + VARTYPE(e) + VARTYPE(f) + VARTYPE(g) + VARTYPE(h) + VARTYPE(x)
r = h
s = h + "!"
h = "changed"
? r, s, h
r = c
c = c + 1
? r, c
r = g
g = g + 1
? r, g
