* STRTOFILE of a text of 100 MiB into DIR/written.txt. With "setup" after DIR only the text is
* built (by doubling 100 characters twenty times).
LPARAMETERS argc, argv
LOCAL t, i
t = "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopq" + "!"
FOR i = 1 TO 20
  t = t + t
ENDFOR
IF argc < 3
  ? STRTOFILE(t, argv[2] + "/written.txt")
ENDIF
