IF .T.
  FOR i = 1 TO 2
    ? i
#if .T.
? "open"
