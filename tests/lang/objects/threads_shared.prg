* Four workers at once: each counts on a private object and adds to one shared Collection.
LOCAL c, w, i, total, v
c = CREATEOBJECT("Collection")
DIMENSION w(4)
FOR i = 1 TO 4
  w[i] = CREATEOBJECT("Filler", c, i)
ENDFOR
FOR i = 1 TO 4
  w[i].Start()
ENDFOR
FOR i = 1 TO 4
  w[i].Join()
ENDFOR
? c.Count
total = 0
FOR EACH v IN c
  total = total + v
ENDFOR
? total
? c.Item("w3-251"), c.GetKey("w3-250"), c.Item("again3-250"), c.GetKey("w1-1") > 0
FOR i = 1 TO 4
  ?? " " + TRANSFORM(w[i].Mine)
ENDFOR

DEFINE CLASS Filler AS Thread
  Shared = .NULL.
  Id = 0
  Mine = 0
  FUNCTION Init(coll, id)
    This.Shared = coll
    This.Id = id
  ENDFUNC
  FUNCTION Run()
    LOCAL i, p
    p = CREATEOBJECT("Empty")
    ADDPROPERTY(p, "n", 0)
    FOR i = 1 TO 500
      This.Shared.Add(This.Id, "w" + TRANSFORM(This.Id) + "-" + TRANSFORM(i))
      p.n = p.n + 1
      IF i % 50 = 0
        This.Shared.Remove("w" + TRANSFORM(This.Id) + "-" + TRANSFORM(i))
        This.Shared.Add(This.Id, "again" + TRANSFORM(This.Id) + "-" + TRANSFORM(i))
      ENDIF
    ENDFOR
    This.Mine = p.n
  ENDFUNC
ENDDEFINE
