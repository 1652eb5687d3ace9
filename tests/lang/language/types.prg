* VARTYPE letters (an integer is "N"), CAST by type name, IIF.
LOCAL arr[2], n, e
TRY
  ERROR 12
CATCH TO e
ENDTRY
n = 5
? VARTYPE(5), VARTYPE(5.5), VARTYPE($1.25), VARTYPE({^2024-05-06}), VARTYPE({^2024-05-06 10:20:30})
? VARTYPE(.NULL.), VARTYPE(HASH("a", "md5")), VARTYPE(e), VARTYPE(arr), VARTYPE("text"), VARTYPE(.F.)
? VARTYPE(7 / 2), VARTYPE(n), VARTYPE(@n)
* CAST: integers truncate, money keeps four decimals (truncated), doubles are numeric.
? CAST(2.9, "I"), CAST(-2.9, "integer"), CAST($3.75, "Int" + "eger"), VARTYPE(CAST(2.9, "I"))
? CAST(1.23456, "currency"), CAST(7, "Y"), VARTYPE(CAST(7, "y"))
? CAST(5, "double"), VARTYPE(CAST(5, "double")), CAST($2.5, "B"), VARTYPE(CAST($2.5, "B"))
? CAST(.NULL., "I")
LOCAL names, i
names = "date,N,C,,INTEGERS,BB"
FOR i = 1 TO GETWORDCOUNT(names, ",") + 1
  TRY
    ? CAST(1, IIF(i > GETWORDCOUNT(names, ","), "", GETWORDNUM(names, i, ",")))
  CATCH TO e
    ? e.ErrorNo, e.Message
  ENDTRY
ENDFOR
TRY
  ? CAST("12", "I")
CATCH TO e
  ? "not a number", e.ErrorNo
ENDTRY
? IIF(.T., 1, 2), IIF(.F., 1, 2), IIF(.NULL., 1, 2)
* Values of the date, money and binary functions.
? VARTYPE(NTOM(1)), VARTYPE(DATE()), VARTYPE(DATETIME()), VARTYPE(CREATEBINARY("a"))
? CAST(NTOM(1.5), "I"), CAST(NTOM(2.25), "double"), VARTYPE(CAST(NTOM(2.25), "B")), CAST(DATE() - DATE(), "Y")
names = 'CAST(DATE(), "I");CAST(CREATEBINARY("a"), "Y");CAST(DATETIME(), "B")'
FOR i = 1 TO 3
  TRY
    ? EVALUATE(GETWORDNUM(names, i, ";"))
  CATCH TO e
    ? "cannot", GETWORDNUM(names, i, ";"), e.ErrorNo
  ENDTRY
ENDFOR
