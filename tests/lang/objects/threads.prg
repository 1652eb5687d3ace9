* Language threads: Start runs "run" on a thread of its own, Join waits for it.
LOCAL w1, w2, t, x
w1 = CREATEOBJECT("Worker", 1)
w2 = CREATEOBJECT("Worker", 2)
* Join before Start returns at once.
w1.Join()
w1.Start()
w2.Start()
* A second Start starts nothing.
w1.Start()
w1.Join()
w2.Join()
* Joined twice: the second returns at once.
w1.Join()
? w1.Total, w1.Runs, w2.Total, w2.Runs
* An error in "run" ends that thread only.
t = CREATEOBJECT("Failing")
t.Start()
t.Join()
? "still running"
* QUIT in "run" ends that thread only.
t = CREATEOBJECT("Quitting")
t.Start()
t.Join()
? "after quit", t.Before, t.After
* A worker joining another one, and a worker never joined: the runtime joins it at the end.
t = CREATEOBJECT("Joiner")
t.Start()
t.Join()
? "joiner saw", t.Seen
* A thread joining itself returns at once; its record stays registered until the end.
t = CREATEOBJECT("SelfJoin")
t.Start()
t.Join()
? "self join", t.Done
t = CREATEOBJECT("Worker", 3)
t.Start()
* Still running when the program ends: joins a worker of its own while the runtime is released.
w2 = CREATEOBJECT("Joiner")
w2.Start()
? "end"

DEFINE CLASS Worker AS Thread
  Id = 0
  Total = 0
  Runs = 0
  FUNCTION Init(id)
    This.Id = id
  ENDFUNC
  FUNCTION Run()
    LOCAL i, s
    s = 0
    FOR i = 1 TO 20000
      s = s + This.Id
    NEXT
    This.Total = s
    This.Runs = This.Runs + 1
  ENDFUNC
ENDDEFINE

DEFINE CLASS Failing AS Thread
  FUNCTION Run()
    This.NoSuchMethod()
  ENDFUNC
ENDDEFINE

DEFINE CLASS Quitting AS Thread
  Before = .F.
  After = .F.
  FUNCTION Run()
    This.Before = .T.
    QUIT
    This.After = .T.
  ENDFUNC
ENDDEFINE

DEFINE CLASS Joiner AS Thread
  Seen = 0
  FUNCTION Run()
    LOCAL w
    w = CREATEOBJECT("Worker", 5)
    w.Start()
    w.Join()
    This.Seen = w.Total
  ENDFUNC
ENDDEFINE

DEFINE CLASS SelfJoin AS Thread
  Done = .F.
  FUNCTION Run()
    This.Join()
    This.Done = .T.
  ENDFUNC
ENDDEFINE
