* name(i) reads an array element as name[i] does, when no function of that name exists.
DIMENSION a(3)
a(2) = 5
? a(2), a[2]
DIMENSION g(2, 3)
g(2, 3) = "x"
? g(2, 3), g[2, 3]
i = 1
a(i + 2) = "third"
? a(i + 2)
? local_read()
? private_read()
? caller_read()
cmd = "? a(2) * 10"
&cmd
* A function of that name still wins, a user function as well as a built-in.
DIMENSION twice(2)
? twice(4)
DIMENSION upper(1)
? upper("up")
* Anything else stays an error.
x = 1
TRY
  ? x(1)
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ? nothing(1)
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ? a(4)
CATCH TO e
  ? e.ErrorNo
ENDTRY
TRY
  ? a(1, 2, 3)
CATCH TO e
  ? e.ErrorNo
ENDTRY

FUNCTION local_read
  LOCAL b
  DIMENSION b(2, 2)
  b(2, 1) = "local"
  b(1) = "first"
  RETURN b(2, 1) + " " + b(1)
ENDFUNC

FUNCTION private_read
  PRIVATE p
  DIMENSION p(2)
  p(1) = 7
  RETURN p(1) * 2
ENDFUNC

FUNCTION caller_read
  RETURN g(2, 3) + "y"
ENDFUNC

FUNCTION twice(n)
  RETURN n * 2
ENDFUNC
