* 100000 THROWs of a value caught by CATCH TO; throw_catch.py raises and catches a value as often.
* With "setup" the loop runs empty.
LPARAMETERS argc, argv
LOCAL i, n, active
active = argc < 2
n = 0
FOR i = 1 TO 100000
  IF active
    TRY
      THROW i
    CATCH TO e
      n = n + e.UserValue - i + 1
    ENDTRY
  ENDIF
ENDFOR
? n
