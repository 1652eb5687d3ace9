* A NOTE line is a comment as a whole, wherever it stands.
NOTE x
note in lower case, with "quotes", ( brackets and & an ampersand
? "before"
IF .T.
  NOTE inside an IF block
  ? "inside"
ENDIF
FOR i = 1 TO 2
  Note in a loop
  ? i
ENDFOR
? noted()
* A command line is built the same way as one typed at the prompt.
cmd = "NOTE typed"
&cmd
? "after"

FUNCTION noted
  NOTE inside a function
  RETURN "function"
ENDFUNC
