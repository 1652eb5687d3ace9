* A WITH without its ENDWITH fails the build at the WITH, wherever its scope ends.
o = CREATEOBJECT("Empty")
WITH o
  WITH o
  ENDWITH
IF .T.
  WITH o
ENDIF
? f()
FUNCTION f
  WITH o
  RETURN 1
FUNCTION g
  WITH o
  ENDWITH
  RETURN 2
