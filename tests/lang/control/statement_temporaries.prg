* Loops, TRY, STORE and macro headers keep hidden values for as long as their statement runs. A
* statement that comes after another may take the same place again; one nested inside must not.
LOCAL i, j, k, n, s, e, a, b, x, y, cond

* Sequential loops with different bounds and steps: each reads its own.
s = ""
FOR i = 1 TO 3
  s = s + STR(i, 1)
ENDFOR
FOR i = 10 TO 1 STEP -4
  s = s + "," + ALLTRIM(STR(i))
ENDFOR
FOR i = 1 TO 2 STEP 0.5
  s = s + ";" + ALLTRIM(STR(i, 3, 1))
ENDFOR
? "sequential:", s

* Nested loops; the second inner loop follows the first inside the outer body, and a loop after
* the nest starts afresh.
s = ""
FOR i = 1 TO 3
  FOR j = 1 TO i
    s = s + "j"
  ENDFOR
  FOR k = 5 TO 4 STEP -1
    s = s + "k"
  ENDFOR
  s = s + "|"
ENDFOR
FOR i = 7 TO 8
  s = s + STR(i, 1)
ENDFOR
? "nested:", s

* EXIT and LOOP leave or continue the inner loop only; the loops after them run in full.
s = ""
FOR i = 1 TO 4
  FOR j = 1 TO 4
    IF j = 2
      LOOP
    ENDIF
    IF j = 4
      EXIT
    ENDIF
    s = s + STR(i, 1) + STR(j, 1) + " "
  ENDFOR
  IF i = 3
    EXIT
  ENDIF
ENDFOR
n = 0
FOR i = 1 TO 5
  n = n + 1
ENDFOR
? "exit and loop:", s, n

* An error inside nested loops, caught outside them and inside them; the loops after still run.
s = ""
TRY
  FOR i = 1 TO 3
    FOR j = 1 TO 3
      IF i = 2 AND j = 2
        x = 1 + s
      ENDIF
      s = s + STR(i, 1) + STR(j, 1) + " "
    ENDFOR
  ENDFOR
CATCH TO e
  s = s + "caught " + ALLTRIM(STR(e.ErrorNo)) + " at " + STR(i, 1) + STR(j, 1)
ENDTRY
? "error leaves the nest:", s
s = ""
FOR i = 1 TO 3
  TRY
    FOR j = 1 TO 3
      IF j = i
        THROW j
      ENDIF
      s = s + STR(j, 1)
    ENDFOR
  CATCH TO e
    s = s + "!" + STR(e.UserValue, 1)
    LOOP
  FINALLY
    s = s + "f"
  ENDTRY
  s = s + "never"
ENDFOR
? "caught in the loop:", s

* FOR EACH one after the other, and nested over the same array.
a = CREATEOBJECT("Collection")
a.Add(1)
a.Add(2)
b = CREATEOBJECT("Collection")
b.Add("x")
s = ""
FOR EACH x IN a
  s = s + STR(x, 1)
ENDFOR
FOR EACH x IN b
  s = s + x
ENDFOR
FOR EACH x IN a
  FOR EACH y IN a
    s = s + STR(x * 10 + y, 2) + " "
  ENDFOR
ENDFOR
? "for each:", s

* DO WHILE and IF with macro headers, in turn and nested.
cond = "n < 3"
n = 0
s = ""
DO WHILE &cond
  n = n + 1
  k = 0
  DO WHILE &cond
    n = n + 1
    k = k + 1
  ENDDO
  s = s + STR(k, 1)
ENDDO
n = 0
DO WHILE &cond
  n = n + 1
ENDDO
IF &cond
  s = s + "never"
ELSE
  IF .NOT. &cond
    s = s + " if"
  ENDIF
ENDIF
? "macro headers:", s, n

* STORE in turn and inside a loop.
STORE 1 TO i, j
STORE "two" TO x, y
n = 0
FOR k = 1 TO 3
  STORE k * 2 TO a
  n = n + a
ENDFOR
? "store:", i, j, x, y, n

* WITH one after the other and nested: each leading "." reaches its own object.
a = CREATEOBJECT("Empty")
ADDPROPERTY(a, "name", "a")
b = CREATEOBJECT("Empty")
ADDPROPERTY(b, "name", "b")
s = ""
WITH a
  s = s + .name
ENDWITH
WITH b
  s = s + .name
  WITH a
    s = s + .name
  ENDWITH
  s = s + .name
ENDWITH
WITH a
  s = s + .name
ENDWITH
? "with:", s

* A TRY after another, and one inside a CATCH: the outer error survives both, and the FINALLY
* raises it again to the outermost TRY.
s = ""
TRY
  TRY
    THROW "outer"
  CATCH TO e WHEN e.UserValue = "none"
    s = s + "never"
  FINALLY
    TRY
      THROW "first inner"
    CATCH TO e
      s = s + e.UserValue + ", "
    ENDTRY
    TRY
      THROW "second inner"
    CATCH TO e
      s = s + e.UserValue + ", "
    ENDTRY
  ENDTRY
CATCH TO e
  s = s + "then " + e.UserValue
ENDTRY
? "try in turn:", s

* Loops in procedures, and a function that calls itself from inside its loops.
? "in a procedure:", sum_to(4), sum_to(0)
? "recursive:", walk(3)

* Many loops in one procedure after a deep recursion through them.
? "many loops:", many_loops(50)

FUNCTION sum_to(m)
  LOCAL i, t
  t = 0
  FOR i = 1 TO m
    t = t + i
  ENDFOR
  FOR i = 1 TO m
    t = t + 1
  ENDFOR
  RETURN t

FUNCTION walk(depth)
  LOCAL i, s
  s = ""
  IF depth = 0
    RETURN "."
  ENDIF
  FOR i = 1 TO 2
    s = s + STR(depth, 1) + walk(depth - 1)
  ENDFOR
  FOR i = 1 TO 1
    s = s + "/"
  ENDFOR
  RETURN s

FUNCTION many_loops(depth)
  LOCAL i, t
  t = 0
  IF depth > 0
    FOR i = 1 TO 1
      t = t + many_loops(depth - 1)
    ENDFOR
  ENDIF
  FOR i = 1 TO 2
    t = t + 1
  ENDFOR
  FOR i = 1 TO 3
    t = t + 1
  ENDFOR
  RETURN t
