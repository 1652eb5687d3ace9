FUNCTION greet(who)
  RETURN "hello " + who
ENDFUNC

FUNCTION util
  PARAMETERS a, b
  ? "util runs with", a, b
ENDFUNC
