* 100000 cycles of ERROR raised inside TRY and caught; error_catch.py raises and catches an
* exception as often. With "setup" the loop runs empty.
LPARAMETERS argc, argv
LOCAL i, n, active
active = argc < 2
n = 0
FOR i = 1 TO 100000
  IF active
    TRY
      ERROR 12
    CATCH TO e
      n = n + 1
    ENDTRY
  ENDIF
ENDFOR
? n
