* EVALUATE("x + 1") 100000 times; evaluate.py does the same with eval. With "setup" the loop
* runs empty.
LPARAMETERS argc, argv
LOCAL i, x, y, active
active = argc < 2
x = 1
y = 0
FOR i = 1 TO 100000
  IF active
    y = EVALUATE("x + 1")
  ENDIF
ENDFOR
? y
