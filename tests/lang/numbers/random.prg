* RAND and SRAND: the first RAND() of a process, seeded sequences, values in [0, 1).
SET PROCEDURE TO check.prg ADDITIVE
first = RAND()
? "first", STR(first, 20, 16)
? "second", STR(RAND(), 20, 16)
check("STR(RAND(1), 20, 16)")
check("STR(RAND(1), 20, 16)")
a = RAND(7)
b = RAND()
c = RAND(7)
d = RAND()
? "same sequence after the same seed", a = c AND b = d, a <> b
* A negative seed seeds from the system; the value still lies in [0, 1).
inside = .T.
FOR i = 1 TO 200
  r = RAND(-1)
  s = SRAND()
  t = RAND()
  inside = inside AND r >= 0 AND r < 1 AND s >= 0 AND s < 1 AND t >= 0 AND t < 1
NEXT
? "inside [0, 1)", inside
check("RAND(.NULL.)")
