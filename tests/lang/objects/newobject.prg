* NEWOBJECT with a module looks for the class in that module only.
LOCAL o, x
o = NEWOBJECT("Widget", "newobject_module.prg", "", 42)
? o.Class, o.Size
TRY
  o = NEWOBJECT("Gadget", "newobject_module.prg")
CATCH TO x
  ? x.ErrorNo, x.Message
ENDTRY
* Without a module the calling program's classes are searched; Widget is not among them.
TRY
  o = CREATEOBJECT("Widget")
CATCH TO x
  ? x.ErrorNo, x.Message
ENDTRY
o = NEWOBJECT("Gadget")
? o.Class

DEFINE CLASS Gadget AS Custom
ENDDEFINE
