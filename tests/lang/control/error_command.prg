* ERROR raises a text as 1098 and a number with or without its own message; numbers outside
* 1 .. 2147483647 are refused.
LOCAL e, i
LOCAL cases[8]
cases[1] = [ERROR "custom text"]
cases[2] = [ERROR 12, "x"]
cases[3] = [ERROR 12]
cases[4] = [ERROR 2147483647]
cases[5] = [ERROR 2147483648]
cases[6] = [ERROR 0]
cases[7] = [ERROR -5]
cases[8] = [ERROR 1098, .NULL.]
FOR i = 1 TO ALEN(cases)
  TRY
    EXECSCRIPT(cases[i])
    ? cases[i], "raised nothing"
  CATCH TO e
    ? cases[i], "->", e.ErrorNo, e.Message
  ENDTRY
ENDFOR
* ERROR 0 does not leave an error that reads as none.
TRY
  ERROR 0
CATCH
ENDTRY
? ERROR()
