* System variables: the four platform flags read; every other one, and every assignment, raises
* 1001 naming what was tried.
? "_UNIX", _UNIX, "_DOS", _DOS, "_MAC", _MAC, "_WINDOWS", _WINDOWS
TRY
  x = _TALLY
CATCH TO e
  ? "read _TALLY ->", e.ErrorNo, e.Message
ENDTRY
TRY
  _DOS = .T.
CATCH TO e
  ? "assign _DOS ->", e.ErrorNo, e.Message
ENDTRY
TRY
  _UNIX = .F.
CATCH TO e
  ? "assign _UNIX ->", e.ErrorNo, e.Message
ENDTRY
? "_DOS still", _DOS
