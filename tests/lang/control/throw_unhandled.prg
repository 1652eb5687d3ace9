* A THROW no handler takes, two calls down: the report names the frame of the THROW and the
* trace lists every frame.
? "before"
outer()
? "never"

FUNCTION outer
  ? "outer"
  inner("lost")
ENDFUNC

FUNCTION inner(v)
  LOCAL e
  TRY
    ? "inner"
  CATCH TO e
    ? "never"
  ENDTRY
  THROW v
ENDFUNC
