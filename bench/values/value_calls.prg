* Loops of calls of the number, date and character-set built-ins, one loop per run:
* qzsh value_calls.prg OP [COUNT]. OP is one of empty, round, mod, bitand, rand, dtoc, ttoc and
* cpconvert ("empty" is the same loop with a plain assignment). COUNT defaults to 1000000. The
* same loops are in value_calls.lua and value_calls.py; run_value_calls.sh times whole runs of
* each, subtracts the empty loop's time and divides by COUNT.
LPARAMETERS argc, argv
LOCAL op, n, i, r, x, d, t, s
op = argv[2]
n = 1000000
IF argc >= 3
  n = VAL(argv[3])
ENDIF
x = 12345.6789
d = DATE(2024, 3, 5)
t = DATETIME(2024, 3, 5, 6, 7, 8)
* 30 characters of code page 437 text with bytes above 127.
s = CPCONVERT(437, "binary", REPLICATE(CHR(130) + "abcd", 6))
DO CASE
CASE op == "empty"
  FOR i = 1 TO n
    r = x
  ENDFOR
CASE op == "round"
  FOR i = 1 TO n
    r = ROUND(x, 2)
  ENDFOR
CASE op == "mod"
  FOR i = 1 TO n
    r = MOD(i, 7)
  ENDFOR
CASE op == "bitand"
  FOR i = 1 TO n
    r = BITAND(i, 255)
  ENDFOR
CASE op == "rand"
  FOR i = 1 TO n
    r = RAND()
  ENDFOR
CASE op == "dtoc"
  FOR i = 1 TO n
    r = DTOC(d)
  ENDFOR
CASE op == "ttoc"
  FOR i = 1 TO n
    r = TTOC(t)
  ENDFOR
CASE op == "cpconvert"
  FOR i = 1 TO n
    r = CPCONVERT(437, "utf-8", s)
  ENDFOR
OTHERWISE
  ? "unknown operation", op
ENDCASE
