FUNCTION proc_greet(who)
  RETURN "hello " + who
ENDFUNC

PROCEDURE do_farewell
  ? "do_farewell runs"
ENDPROC
