* WITH over caught exception objects; nested WITH blocks resolve "." to the innermost object.
TRY
  x = no_such_variable
CATCH TO first
ENDTRY
TRY
  z = "a"
  y = z * 2
CATCH TO second
ENDTRY
WITH first
  ? .ErrorNo
  WITH second
    ? .ErrorNo
  ENDWITH
  ? .ErrorNo
ENDWITH
