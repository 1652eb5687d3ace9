* Operations compiled alike are one object in memory wherever they stand: the same constant,
* name read, comparison or slot read in procedures whose LOCALs lie differently, some positions
* rewritten into faster forms when the program is linked and others not. Each procedure must see
* its own variables and every position must keep its own meaning.
LOCAL f
f = 0
DO filler
DO locals_first
DO locals_second
DO privates_only
DO constants
DO arrays_in_two_layouts
? "end"

PROCEDURE filler
PRIVATE f
f = 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
f = 6 + f * 0
f = 0 + f * 0
f = 1 + f * 0
f = 2 + f * 0
f = 3 + f * 0
f = 4 + f * 0
f = 5 + f * 0
? "filler", f
RETURN

PROCEDURE locals_first
LOCAL i, s, n
s = 0
n = 3
FOR i = 1 TO n
  s = s + i
ENDFOR
? "first", i, s, n + 1, n - 1
RETURN

PROCEDURE locals_second
LOCAL a, b, c, n, s, i
a = 10
b = 20
c = 30
s = 0
n = 4
FOR i = 1 TO n
  s = s + i
ENDFOR
? "second", i, s, n + 1, n - 1, a, b, c
RETURN

PROCEDURE privates_only
PRIVATE i, s, n
s = 0
n = 2
FOR i = 1 TO n
  s = s + i
ENDFOR
? "privates", i, s, n + 1, n - 1
DO sees_caller
RETURN

PROCEDURE sees_caller
? "callee", i, s, n
RETURN

PROCEDURE constants
LOCAL n, x
n = 1
x = 1
? 1, n + 1, n - 1, 1 + 1
IF n < 1
  ? "never"
ENDIF
IF n < 2
  ? "n < 2", n < 2, 2 < n
ENDIF
x = n < 1
? x, n = 1, n # 1
RETURN

PROCEDURE arrays_in_two_layouts
LOCAL a, i, s
DIMENSION a[3]
FOR i = 1 TO 3
  a[i] = i * 10
ENDFOR
s = 0
FOR i = 1 TO 3
  s = s + a[i]
ENDFOR
? "array", s, a[1], a[3]
DO arrays_other
RETURN

PROCEDURE arrays_other
LOCAL z, s, a, i
DIMENSION a[2]
s = 0
FOR i = 1 TO 2
  a[i] = i
  s = s + a[i]
ENDFOR
? "array other", s, a[2]
RETURN
