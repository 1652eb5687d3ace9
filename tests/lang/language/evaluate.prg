* EVALUATE runs on the caller's frame; EXECSCRIPT in a frame of its own; TYPE turns language errors
* into "U" and leaves the stack as it found it.
LOCAL a
a = 41
? EVALUATE("a + 1")
? shows_private()
TRY
  ? EVALUATE("1 +* 2")
CATCH TO e
  ? "syntax error", e.ErrorNo
ENDTRY
TRY
  ? EVALUATE("no_such_name + 1")
CATCH TO e
  ? "evaluation error", e.ErrorNo
ENDTRY
? EXECSCRIPT("PARAMETERS a, b, c" + CHR(10) + "RETURN PCOUNT()", 1, 2, 3)
? EXECSCRIPT("PARAMETERS a, b" + CHR(10) + "RETURN a * b", 6, 7)
? EXECSCRIPT("x = 2" + CHR(10) + "x = x * 10" + CHR(10) + "RETURN x")
TRY
  ? EXECSCRIPT("PARAMETERS a, b, c" + CHR(10) + "RETURN PCOUNT()", 1, 2, 3, 4)
CATCH TO e
  ? "too many arguments", e.ErrorNo
ENDTRY
TRY
  ? deeper()
CATCH TO e
  ? "nested too deep", e.ErrorNo
ENDTRY
TRY
  ? EXECSCRIPT("RETURN 1 +")
CATCH TO e
  ? "script syntax error", e.ErrorNo
ENDTRY
? TYPE("1+"), TYPE("'quoted'"), TYPE("no_such_name"), TYPE("a"), TYPE("a > 1"), TYPE("{^2024-05-06}")
? TYPE("$1.5"), TYPE(".NULL."), TYPE(5)
? __regression1("a + 1", 7)

FUNCTION deeper
  RETURN EXECSCRIPT("RETURN deeper()")
ENDFUNC

FUNCTION shows_private
  PRIVATE p
  p = "private of the caller"
  RETURN EVALUATE("p")
ENDFUNC
