* Loops of calls of the system built-ins, one loop per run: qzsh system_calls.prg OP [COUNT]. OP
* is one of empty, getenv, set, sys2007 and echo ("empty" is the same loop with a plain
* assignment; echo writes COUNT short lines with ?). COUNT defaults to 1000000. The same loops are
* in system_calls.lua and system_calls.py; run_system_calls.sh times whole runs of each,
* subtracts the empty loop's time and divides by COUNT.
LPARAMETERS argc, argv
LOCAL op, n, i, r, x, s
op = argv[2]
n = 1000000
IF argc >= 3
  n = VAL(argv[3])
ENDIF
x = 1
* 100 bytes.
s = REPLICATE("0123456789", 10)
DO CASE
CASE op == "empty"
  FOR i = 1 TO n
    r = x
  ENDFOR
CASE op == "getenv"
  FOR i = 1 TO n
    r = GETENV("HOME")
  ENDFOR
CASE op == "set"
  FOR i = 1 TO n
    r = SET("DECIMALS")
  ENDFOR
CASE op == "sys2007"
  FOR i = 1 TO n
    r = SYS(2007, s)
  ENDFOR
CASE op == "echo"
  FOR i = 1 TO n
    ? "line"
  ENDFOR
OTHERWISE
  ? "unknown operation", op
ENDCASE
