? first(1, 2)
DO second WITH 3
RETURN

FUNCTION first(a, b)
   LOCAL c
   c = a + b
   RETURN c * 2
ENDFUNC

PROCEDURE second
   PARAMETERS n
   PRIVATE m
   m = n
   ? third(m)
ENDPROC

FUNCTION third
   LPARAMETERS v
   RETURN v - 1
ENDFUNC

DEFINE CLASS counter AS Custom
   total = 0
   FUNCTION add(n)
      this.total = this.total + n
      RETURN this.total
   ENDFUNC
ENDDEFINE
