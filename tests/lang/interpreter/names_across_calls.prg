* A name read by one operation in many frames: each frame sees its own LOCAL, the PRIVATE or
* PARAMETERS binding visible there, or a variable made or hidden since the last read.
PRIVATE x, v
x = "main"
v = "main v"
? depths(1)
? which("a"), which("b"), which("a")
? by_parameter(1)
? x, v
FOR i = 1 TO 3
  ? i, reader(), maker(i), reader()
ENDFOR
? TYPE("made")

* x is a LOCAL only in the outermost frame of the recursion; read before and after the calls.
FUNCTION depths(depth)
  LOCAL r
  IF depth = 1
    LOCAL x
    x = "local"
  ENDIF
  r = x
  IF depth < 3
    r = r + "," + depths(depth + 1)
  ENDIF
  RETURN r + "," + x
ENDFUNC

FUNCTION which(name)
  PRIVATE x
  x = name
  RETURN show_x()
ENDFUNC

FUNCTION show_x
  RETURN x
ENDFUNC

* v is the caller's argument slot, a new one in every frame.
FUNCTION by_parameter
  PARAMETERS v
  LOCAL r
  r = show_v()
  IF v < 3
    r = r + by_parameter(v + 1)
  ENDIF
  RETURN r + show_v()
ENDFUNC

FUNCTION show_v
  RETURN TRANSFORM(v)
ENDFUNC

FUNCTION reader
  RETURN TYPE("made") + IIF(TYPE("made") = "U", "", TRANSFORM(made))
ENDFUNC

* made is a PRIVATE of this frame only: gone again when it returns.
FUNCTION maker(i)
  PRIVATE made
  made = i * 10
  RETURN reader() + "/" + read_made()
ENDFUNC

FUNCTION read_made
  RETURN TRANSFORM(made)
ENDFUNC
