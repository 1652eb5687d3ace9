* Operand: compiled when its text is assigned, evaluated on the caller's frame.
LOCAL o, e
o = CREATEOBJECT("Operand")
TRY
  ? o.evaluate()
CATCH TO e
  ? "before any text:", e.ErrorNo
ENDTRY
o.Expression = "1 + 2"
? o.evaluate(), o.Expression
? twice(o, 4), twice(o, 10)
TRY
  o.Expression = "1 +* 2"
CATCH TO e
  ? "does not compile:", e.ErrorNo
ENDTRY
? o.Expression
TRY
  ? o.evaluate()
CATCH TO e
  ? "after a failed compile:", e.ErrorNo
ENDTRY
TRY
  o.Expression = 42
CATCH TO e
  ? "not text:", e.ErrorNo
ENDTRY

FUNCTION twice(op, n)
  LOCAL k
  k = n * 2
  op.Expression = "k + n"
  RETURN op.evaluate()
ENDFUNC
