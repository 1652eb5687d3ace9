* A .NULL. condition takes the ELSE branch; DO CASE without OTHERWISE runs nothing when no CASE
* holds, and a .NULL. CASE counts as false.
v = .NULL.
IF v
  ? "if branch"
ELSE
  ? "else branch"
ENDIF
FOR n = 1 TO 3
  DO CASE
  CASE n = 1
    ? "first"
  CASE v
    ? "never"
  CASE n = 3
    ? "third"
  ENDCASE
ENDFOR
? "end"
