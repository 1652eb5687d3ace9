* FOR loops with an integer counter against a numeric limit (VAL() and arithmetic give one): the
* limit compares within the tolerance of numeric comparison, in both directions.
LOCAL i, n, x
FOR i = 1 TO VAL("3.5")
  ?? i
ENDFOR
? i
* a hair above 10 equals 10: a negative step still runs 10
FOR i = 12 TO 10.000000000000002 STEP -1
  ?? i
ENDFOR
? i
* a hair below 3 equals 3, either way
FOR i = 1 TO 3 - 2^-51
  ?? i
ENDFOR
? i
FOR i = 5 TO 3 - 2^-51 STEP -1
  ?? i
ENDFOR
? i
FOR i = -2 TO 0.0
  ?? i
ENDFOR
? i
FOR i = 2 TO -0.0 STEP -2
  ?? i
ENDFOR
? i
* beyond 2^53 the counter compares as a double, within a relative tolerance
n = 0
FOR i = 9007199254740980 TO 9007199254740990.0
  n = n + 1
ENDFOR
? n, i
* step 0 ends at once on a limit equal to the counter
n = 0
FOR i = 3 TO 3.0 STEP 0
  n = n + 1
ENDFOR
? n, i
* infinite limits
FOR i = 1 TO LOG(0)
  ?? "never"
ENDFOR
? i
n = 0
FOR i = 1 TO -LOG(0) STEP 5
  n = n + 1
  IF n = 3
    EXIT
  ENDIF
ENDFOR
? n, i
* a NaN limit: nothing compares with it, the loop does not run
x = LOG(0) - LOG(0)
? x
FOR i = 1 TO x
  ?? "never"
ENDFOR
? i
