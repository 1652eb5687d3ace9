* The FOR test after each step on integer counters, against limits and steps of every kind.
LOCAL i, j, n
FOR i = 1 TO 3.5
  ?? i
ENDFOR
? i
FOR i = 5 TO 5
  ?? i
ENDFOR
? i
FOR i = 5 TO 4
  ?? i
ENDFOR
? i
FOR i = -2 TO -8 STEP -2
  ?? i
ENDFOR
? i
* the counter moved past the limit inside the body
FOR i = 1 TO 10
  ?? i
  IF i = 3
    i = 20
  ENDIF
ENDFOR
? i
* step 0 never reaches the limit: the body leaves
n = 0
FOR i = 1 TO 3 STEP 0
  n = n + 1
  IF n = 4
    EXIT
  ENDIF
ENDFOR
? n, i
* nested loops over the same limit
n = 0
FOR i = 1 TO 3
  FOR j = i TO 3
    n = n + j
  ENDFOR
ENDFOR
? n, i, j
* the limit is a null: the loop does not run
FOR i = 1 TO .NULL.
  ?? "never"
ENDFOR
? i
