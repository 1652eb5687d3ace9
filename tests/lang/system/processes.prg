* EXEC, SYSTEM and RUN start programs without a shell and with the runtime's environment copy.
LOCAL lines, status, last
status = 0
last = EXEC('sh -c "echo one; echo two; echo three; echo err >&2; exit 3"', @lines, @status)
? "EXEC lines", ALEN(lines), "status", status
? "one", ASCAN(lines, "one") > 0, "two", ASCAN(lines, "two") > 0, "three", ASCAN(lines, "three") > 0, ;
  "err", ASCAN(lines, "err") > 0
? "EXEC keeps empty lines", EXEC('printf "a\n\nb\n"', @lines), ALEN(lines), "[" + lines[2] + "]"
? "SYSTEM", SYSTEM('printf "a\n\nb\n"', @status), status
? "SYSTEM of nothing [" + SYSTEM("true") + "]"
? "before"
RUN echo run output
? "after"
! echo bang output
TRY
  EXEC("no-such-program-here")
CATCH TO e
  ? "missing program -> error", e.ErrorNo
ENDTRY
* The child sees the runtime's environment copy, SETENV included.
SETENV("QZ_CHILD_VALUE", "seen")
? "child", EXEC('sh -c "echo $QZ_CHILD_VALUE"')
UNSETENV("QZ_CHILD_VALUE")
? "child after UNSETENV [" + EXEC('sh -c "echo $QZ_CHILD_VALUE"') + "]"
