* FOR EACH over an object of a program's class derived from Collection or Map enumerates its
* native entries, in every key order, and an iterator outlives the loop's own reference.
LOCAL m, c, x, it, k, line
m = CREATEOBJECT("MyMap")
m.Add("b", 2)
m.Add("a", 1)
FOR EACH x IN m
  ? x
ENDFOR
c = CREATEOBJECT("MyCol")
c.Add(5, "k")
c.Add(6, "j")
c.Add(7)
FOR k = 0 TO 3
  c.KeySort = k
  line = TRANSFORM(k) + ":"
  FOR EACH x IN c
    line = line + " " + TRANSFORM(x)
  ENDFOR
  ? line
ENDFOR
it = c.get_enumerator()
c = .NULL.
DO WHILE it.MoveNext()
  ? it.Key, it.Value
ENDDO
? it.MoveNext()

DEFINE CLASS MyMap AS Map
ENDDEFINE

DEFINE CLASS MyCol AS Collection
  Tag = "mine"
ENDDEFINE
