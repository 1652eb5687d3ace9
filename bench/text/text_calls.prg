* Loops of calls of the text built-ins, one loop per run: qzsh text_calls.prg OP [COUNT].
* OP names the call and the text, e.g. substr_ascii or upper_utf8; "empty" is the same loop with
* a plain assignment. COUNT defaults to 1000000. The same loops are in text_calls.lua and
* text_calls.py: time whole runs of each and subtract the empty loop's time from the call's, then
* divide by COUNT.
LPARAMETERS argc, argv
LOCAL op, n, i, r, s, t100, big, x
op = argv[2]
n = 1000000
IF argc >= 3
  n = VAL(argv[3])
ENDIF
s = "   Lorem ipsum dolor sit am   "
IF RIGHT(op, 5) == "_utf8"
  s = "   Lörem ípsüm dolör sít äm   "
  op = LEFT(op, LEN(op) - 5)
ENDIF
IF RIGHT(op, 6) == "_ascii"
  op = LEFT(op, LEN(op) - 6)
ENDIF
t100 = REPLICATE("banana ", 14) + "xy"
big = REPLICATE("0123456789abcdef", 65536)
x = 12345.678
DO CASE
CASE op == "empty"
  FOR i = 1 TO n
    r = s
  ENDFOR
CASE op == "substr"
  FOR i = 1 TO n
    r = SUBSTR(s, 5, 10)
  ENDFOR
CASE op == "at"
  FOR i = 1 TO n
    r = AT("am", s)
  ENDFOR
CASE op == "alltrim"
  FOR i = 1 TO n
    r = ALLTRIM(s)
  ENDFOR
CASE op == "strtran"
  FOR i = 1 TO n
    r = STRTRAN(s, "o", "0!")
  ENDFOR
CASE op == "padl"
  FOR i = 1 TO n
    r = PADL(s, 40, "*")
  ENDFOR
CASE op == "upper"
  FOR i = 1 TO n
    r = UPPER(s)
  ENDFOR
CASE op == "str"
  FOR i = 1 TO n
    r = STR(x, 12, 2)
  ENDFOR
CASE op == "transform"
  FOR i = 1 TO n
    r = TRANSFORM(1234567, "999,999,999")
  ENDFOR
CASE op == "val"
  FOR i = 1 TO n
    r = VAL("  12345.678")
  ENDFOR
CASE op == "ureplace"
  FOR i = 1 TO n
    r = UREPLACE("(an)", t100, "[$1]")
  ENDFOR
CASE op == "hash"
  FOR i = 1 TO n
    r = HASH(big, "SHA2_256")
  ENDFOR
OTHERWISE
  ? "unknown operation", op
ENDCASE
