* PRIVATE ALL [LIKE p | EXCEPT p] hides the matching variables of the callers (names compared
* without regard to case) until the procedure returns.
PUBLIC pub1
pub1 = "public"
a1 = 1
ab1 = 2
b1 = 3
like_a()
? "after LIKE", a1, ab1, b1
except_ab()
? "after EXCEPT", a1, ab1, b1, pub1
hide_all()
? "after ALL", a1, ab1, b1, pub1
* Run again and again in one procedure, PRIVATE ALL saves each binding once: the loop outlasts the
* undo records a procedure has.
? "loop", private_in_loop(20000), a1
* A pattern the matching engine cannot compile.
TRY
  bad_pattern()
CATCH TO e
  ? "bad pattern", e.ErrorNo, a1
ENDTRY

PROCEDURE like_a
  PRIVATE ALL LIKE A*
  ? TYPE("a1"), TYPE("ab1"), TYPE("b1")
  a1 = "inner a1"
  called()
ENDPROC

PROCEDURE called
  * The hidden names stay hidden in the procedures called.
  ? "called", a1, TYPE("ab1")
ENDPROC

PROCEDURE except_ab
  PRIVATE ALL EXCEPT ab*
  ? TYPE("a1"), TYPE("ab1"), TYPE("b1"), TYPE("pub1")
ENDPROC

PROCEDURE hide_all
  PRIVATE ALL
  ? TYPE("a1"), TYPE("ab1"), TYPE("b1"), TYPE("pub1")
  pub1 = "shadow"
ENDPROC

FUNCTION private_in_loop(n)
  LOCAL i
  FOR i = 1 TO n
    PRIVATE ALL
    a1 = i
  ENDFOR
  RETURN a1
ENDFUNC

PROCEDURE bad_pattern
  PRIVATE ALL LIKE a[
ENDPROC
