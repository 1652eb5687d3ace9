LOCAL a, e
a = 1
TRY
   a = a / 0
   TRY
      THROW "inner"
   CATCH TO e WHEN VARTYPE(e) = "C"
      a = a + 1
   CATCH TO e
      a = a - 1
   FINALLY
      a = a * 2
   ENDTRY
CATCH TO e
   ? "caught", e.ErrorNo
FINALLY
   ? "done"
ENDTRY
TRY
ENDTRY
RETURN a
