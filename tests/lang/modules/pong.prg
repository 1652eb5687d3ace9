IMPORTS ping
FUNCTION pong(n)
  IF n = 0
    RETURN "pong"
  ENDIF
  RETURN ping(n - 1)
ENDFUNC
