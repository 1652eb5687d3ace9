* 100000 TYPE calls on failing expressions: the call depth stays, the stack is not filled and
* nothing compiled is kept (the sanitizers check the memory at the end).
LOCAL a
a = 41
LOCAL i, depth, letters, failing[3]
failing[1] = "a +* 1"
failing[2] = "no_such_name"
failing[3] = "a + 'x'"
depth = PROGRAM(-1)
letters = ""
FOR i = 1 TO 100000
  IF TYPE(failing[i % 3 + 1]) # "U"
    letters = letters + "?"
  ENDIF
ENDFOR
? "after the loop", PROGRAM(-1) = depth, "[" + letters + "]"
