* Errors caught one after another: each exception object, ERROR(), MESSAGE() and AERROR() show the
* error just caught (a detail does not stay behind from an earlier one), an exception kept from an
* earlier catch keeps its own values, and what an exception holds is released when it goes.
LOCAL e, kept, i, n, a, o
LOCAL list
LOCAL codes[4]
codes[1] = 12
codes[2] = 1098
codes[3] = 11
codes[4] = 12
FOR i = 1 TO 4
  TRY
    DO CASE
      CASE i = 1
        ERROR 12, "first"
      CASE i = 2
        ERROR "user text"
      OTHERWISE
        ERROR codes[i]
    ENDCASE
  CATCH TO e
    n = AERROR(a)
    ? i, e.ErrorNo, e.Message, "[" + e.Detail + "]", VARTYPE(e.UserValue)
    ? " ", ERROR(), MESSAGE(), n, a[1], a[2], "[" + a[3] + "]"
    IF i = 1
      kept = e
    ENDIF
  ENDTRY
ENDFOR
? "kept", kept.ErrorNo, kept.Message, "[" + kept.Detail + "]"

* The same error number over and over, with and without a detail.
FOR i = 1 TO 3
  TRY
    IF i = 2
      ERROR 12, "name" + TRANSFORM(i)
    ELSE
      ERROR 12
    ENDIF
  CATCH TO e
    ? i, e.Message, "[" + e.Detail + "]", MESSAGE()
  ENDTRY
ENDFOR

* A thrown object goes when the last exception holding it goes (the TRY's own hold ends when the
* next TRY takes its place): DESTROY runs once.
TRY
  THROW CREATEOBJECT("Noisy", "thrown")
CATCH TO e
  ? "caught", e.UserValue.Name, e.ErrorNo
ENDTRY
? "releasing e"
e = .NULL.
? "released e"

* A thrown value, then an error: the second exception holds no value.
TRY
  THROW "text"
CATCH TO e
  ? "thrown", e.UserValue, e.ErrorNo
ENDTRY
TRY
  ERROR 12
CATCH TO e
  ? "error", VARTYPE(e.UserValue), e.ErrorNo
ENDTRY

* A property added to a caught exception is released with it.
TRY
  ERROR 7
CATCH TO e
  ADDPROPERTY(e, "Extra", CREATEOBJECT("Noisy", "added"))
  ? "added", e.Extra.Name
ENDTRY
? "dropping e"
e = 0
? "dropped e"

* An exception made by the program, not by a catch: it is a live instance of its class while the
* exceptions of caught errors come and go, and leaves the list when released.
DIMENSION list(1)
? "none made", AINSTANCE(@list, "Exception")
o = CREATEOBJECT("Exception")
? "made", o.ErrorNo, "[" + o.Message + "]", VARTYPE(o.UserValue)
FOR i = 1 TO 3
  TRY
    ERROR 12
  CATCH TO e
  ENDTRY
ENDFOR
e = .NULL.
? "listed", AINSTANCE(@list, "Exception"), list[1] = o
list = .F.
DIMENSION list(1)
o = .NULL.
? "released", AINSTANCE(@list, "Exception")
? "end"

DEFINE CLASS Noisy AS Custom
  Name = ""
  FUNCTION Init(name)
    This.Name = name
  ENDFUNC
  FUNCTION Destroy()
    ? "destroy", This.Name
  ENDFUNC
ENDDEFINE
