* The exception object of a caught error, of THROW, and its read-only members.
LOCAL e, f
TRY
  x = nosuchvariable
CATCH TO e
  ? e.ErrorNo
  ? e.Message
  ? e.Detail
ENDTRY
? e.UserValue
TRY
  e.ErrorNo = 5
CATCH TO f
  ? f.ErrorNo, f.Detail
ENDTRY
TRY
  ? e.NoSuchMember
CATCH TO f
  ? f.ErrorNo, f.Message
ENDTRY
