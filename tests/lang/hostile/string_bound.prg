* A text beyond the bound of one text is error 1903, caught by TRY, and the program goes on.
TRY
  s = REPLICATE("ab", 2^29 + 100)
CATCH TO e
  ? "replicate:", e.ErrorNo, e.Message
ENDTRY
TRY
  s = SPACE(2^30 + 1000)
CATCH TO e
  ? "space:", e.ErrorNo
ENDTRY
? "alive"
