* Classes of the program named Exception, Session and Collection do not stand in for the objects
* the runtime makes for itself; CREATEOBJECT still finds the program's own class first.
LOCAL e, y, c, o, t
y = "a"
TRY
  x = 1 + y
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ERROR 1098, "mine"
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  THROW "thrown"
CATCH TO e
  ? e.ErrorNo, e.UserValue
ENDTRY
* An error raised again through a FINALLY keeps its number and message.
TRY
  TRY
    x = 1 + y
  FINALLY
    ? "finally"
  ENDTRY
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
* The data session of the main stack and the one a language thread opens for its own stack.
? SET("DATASESSION")
t = CREATEOBJECT("Worker")
t.Start()
t.Join()
? t.Seen
c = http.parsequery("a=1&a=2&b%20c=x")
? c.Count, c.Item("a"), c.Item("b c"), c.GetKey(2)
FOR EACH y IN c
  ? y
ENDFOR
o = Json.Decode('{"n": [1, {"m": "x"}]}')
? o.n[2].m
? Json.Decode('{"a": 1}', @o), o.a
c = CREATEOBJECT("Collection")
? c.Mine(), c.Count
o = CREATEOBJECT("Session")
? o.Mine()
o = CREATEOBJECT("Exception")
? o.Mine()

DEFINE CLASS Exception AS Custom
  ErrorNo = -1
  Message = "not the runtime's"
  FUNCTION Mine
    RETURN "program's Exception"
  ENDFUNC
ENDDEFINE

DEFINE CLASS Session AS Custom
  DataSessionId = -1
  FUNCTION Mine
    RETURN "program's Session"
  ENDFUNC
ENDDEFINE

DEFINE CLASS Collection AS Custom
  Count = -1
  FUNCTION Mine
    RETURN "program's Collection"
  ENDFUNC
  FUNCTION Add(v, k)
    ? "program's Add"
  ENDFUNC
ENDDEFINE

DEFINE CLASS Worker AS Thread
  Seen = ""
  FUNCTION Run()
    LOCAL e
    TRY
      ERROR 1098, "in thread"
    CATCH TO e
      This.Seen = TRANSFORM(e.ErrorNo) + " " + e.Message + " " + TRANSFORM(SET("DATASESSION"))
    ENDTRY
  ENDFUNC
ENDDEFINE
