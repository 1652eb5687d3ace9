* The simple native classes: Custom, Empty, File and Session.
LOCAL o, e, s
o = CREATEOBJECT("Custom")
? o.Name, o.Class, o.BaseClass, o.Height, o.Comment == ""
o.Height = 12.7
o.Left = -4
o.Tag = "label"
o.Name = "renamed"
? o.Height, o.Left, o.Tag, o.Name, o.Class
TRY
  o.Height = "abc"
CATCH TO e
  ? e.ErrorNo
ENDTRY
TRY
  ? o.Controls
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  ? o.ClassLibrary
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  o.Class = "other"
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  o = CREATEOBJECT("File")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
TRY
  o = CREATEOBJECT("NoSuchClass")
CATCH TO e
  ? e.ErrorNo, e.Message
ENDTRY
s = CREATEOBJECT("Session")
? s.DataSessionId > 1
