* IF, DO WHILE and SCAN headers with & are compiled when they run, on the variables' current
* values; a text that makes another statement is a syntax error.
n = 0
c = "n < 3"
DO WHILE &c
  ?? n
  n = n + 1
ENDDO
?
IF &c
  ? "never: n is 3"
ELSE
  ? "n is", n
ENDIF
n = 1
IF &c
  ? "n is below 3 again"
ENDIF
* The header is compiled anew each time it runs: a changed text takes effect.
FOR i = 1 TO 3
  c = "i = " + LTRIM(STR(i * 2 - 2))
  IF &c
    ? "match at", i
  ENDIF
ENDFOR
* A LOCAL of the running procedure is seen.
? counted(4)
* Conditions that fail at run time or do not parse.
DIMENSION texts[4]
texts[1] = "X = 1"
texts[2] = "n <"
texts[3] = "&d"
texts[4] = "n < 3" + CHR(10) + "? 1"
FOR k = 1 TO 4
  text = texts[k]
  c = text
  TRY
    IF&c
      ? "never"
    ENDIF
    ? "no error for", text
  CATCH TO e
    ? "IF", e.ErrorNo
  ENDTRY
  TRY
    DO WHILE &c
      EXIT
    ENDDO
    ? "no error for", text
  CATCH TO e
    ? "DO WHILE", e.ErrorNo
  ENDTRY
ENDFOR
c = "nosuchvariable > 1"
TRY
  IF &c
  ENDIF
CATCH TO e
  ? "evaluated:", e.ErrorNo
ENDTRY
* Many compilations in a loop: each operand is released.
n = 0
c = "n >= 0"
FOR i = 1 TO 2000
  IF &c
    n = n + 1
  ENDIF
ENDFOR
? n

FUNCTION counted(limit)
  LOCAL k, cond
  k = 0
  cond = "k < limit"
  DO WHILE &cond
    k = k + 1
  ENDDO
  RETURN k
ENDFUNC
