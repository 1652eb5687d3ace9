* DO of a procedure and of a file WITH arguments, SET PROCEDURE TO, IMPORTS of modules that
* import each other.
IMPORTS ping
DO local_proc WITH 1, "two"
DO util.prg WITH 3, 4
SET PROCEDURE TO util.prg
? greet("there")
? ping(3), ping(4)

PROCEDURE local_proc
  PARAMETERS a, b
  ? "local_proc", a, b
ENDPROC
