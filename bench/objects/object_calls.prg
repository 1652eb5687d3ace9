* Loops over objects of a program class and over collections, one loop per run:
* qzsh object_calls.prg OP [COUNT]. OP is one of empty, call, read, write (COUNT method calls,
* property reads or property writes on one object; "empty" is the same loop with a plain
* assignment), add (COUNT Add calls with distinct string keys), additem (the same, then COUNT
* Item(key) reads) and workers1, workers2, workers4 (that many threads, each COUNT method calls
* on an object of its own). COUNT defaults to 1000000. The same loops are in object_calls.py and
* object_calls.lua; run_object_calls.sh times whole runs of each.
LPARAMETERS argc, argv
LOCAL op, n, i, r, o, c, w, k
op = argv[2]
n = 1000000
IF argc >= 3
  n = VAL(argv[3])
ENDIF
o = CREATEOBJECT("Counter")
DO CASE
CASE op == "empty"
  FOR i = 1 TO n
    r = i
  ENDFOR
CASE op == "call"
  FOR i = 1 TO n
    r = o.Bump()
  ENDFOR
CASE op == "read"
  FOR i = 1 TO n
    r = o.Value
  ENDFOR
CASE op == "write"
  FOR i = 1 TO n
    o.Value = i
  ENDFOR
CASE op == "add" OR op == "additem"
  c = CREATEOBJECT("Collection")
  FOR i = 1 TO n
    c.Add(i, "key" + TRANSFORM(i))
  ENDFOR
  IF op == "additem"
    FOR i = 1 TO n
      r = c.Item("key" + TRANSFORM(i))
    ENDFOR
  ENDIF
CASE LEFT(op, 7) == "workers"
  k = VAL(SUBSTR(op, 8))
  DIMENSION w(k)
  FOR i = 1 TO k
    w[i] = CREATEOBJECT("Worker", n)
    w[i].Start()
  ENDFOR
  FOR i = 1 TO k
    w[i].Join()
  ENDFOR
ENDCASE

DEFINE CLASS Counter AS Custom
  Value = 0
  FUNCTION Bump()
    RETURN 1
  ENDFUNC
ENDDEFINE

DEFINE CLASS Worker AS Thread
  Count = 0
  FUNCTION Init(n)
    This.Count = n
  ENDFUNC
  FUNCTION Run()
    LOCAL o, i, r
    o = CREATEOBJECT("Counter")
    FOR i = 1 TO This.Count
      r = o.Bump()
    ENDFOR
  ENDFUNC
ENDDEFINE
