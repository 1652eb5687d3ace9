* Read and write hooks: <property>_access and <property>_assign methods.
LOCAL o, e
o = CREATEOBJECT("Guarded")
? o.Value
o.Value = 5
? o.Value, o.Writes
o.Value = -3
? o.Value, o.Writes
* A hook on a property the class does not declare stores its value all the same.
o.Extra = "x"
? o.Extra
TRY
  o.Value_Access()
CATCH TO e
  ? "hook as a method:", e.ErrorNo
ENDTRY
TRY
  o.Value_Assign(1)
CATCH TO e
  ? "hook as a method:", e.ErrorNo
ENDTRY
? PEMSTATUS(o, "Value_Access", 5), PEMSTATUS(o, "Value", 3)

DEFINE CLASS Guarded AS Custom
  Value = 1
  Writes = 0
  FUNCTION Value_Access()
    * The same property read from inside its own hook gives the stored value.
    RETURN This.Value * 100
  ENDFUNC
  FUNCTION Value_Assign(v)
    This.Writes = This.Writes + 1
    IF v >= 0
      This.Value = v
    ENDIF
  ENDFUNC
  FUNCTION Extra_Assign(v)
    This.Extra = v + v
  ENDFUNC
ENDDEFINE
