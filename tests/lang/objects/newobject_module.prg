* Classes for newobject.prg, which loads this file as a module.
DEFINE CLASS Widget AS Custom
  Size = 1
  FUNCTION Init(n)
    This.Size = n
  ENDFUNC
ENDDEFINE
