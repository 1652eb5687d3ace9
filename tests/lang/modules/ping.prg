IMPORTS pong
FUNCTION ping(n)
  IF n = 0
    RETURN "ping"
  ENDIF
  RETURN pong(n - 1)
ENDFUNC
