* DODEFAULT runs the same member one class further up the chain.
LOCAL o, e
o = CREATEOBJECT("C3")
? o.Name()
? o.Add(1, 2)
* The native part at the end of the chain lacks the member.
o = CREATEOBJECT("Orphan")
TRY
  ? o.Only()
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
* Outside any method there is no parent part: nothing runs, the result is empty.
? VARTYPE(DODEFAULT())

DEFINE CLASS C1 AS Custom
  FUNCTION Name()
    RETURN "c1"
  ENDFUNC
  FUNCTION Add(a, b)
    RETURN a + b
  ENDFUNC
ENDDEFINE

DEFINE CLASS C2 AS C1
  FUNCTION Name()
    RETURN "c2>" + DODEFAULT()
  ENDFUNC
ENDDEFINE

DEFINE CLASS C3 AS C2
  FUNCTION Name()
    RETURN "c3>" + DODEFAULT()
  ENDFUNC
  FUNCTION Add(a, b)
    RETURN DODEFAULT(a * 10, b * 10) + 1
  ENDFUNC
ENDDEFINE

DEFINE CLASS Orphan AS Custom
  FUNCTION Only()
    RETURN DODEFAULT()
  ENDFUNC
ENDDEFINE
