* A class of the program named like the runtime's own classes does not stand in for them.
LOCAL e, y
y = "a"
TRY
  x = 1 + y
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY

DEFINE CLASS Exception AS Custom
ENDDEFINE
