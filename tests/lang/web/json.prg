* Json.Encode and Json.Decode from a program.
? Json.Encode(.T.), Json.Encode(.F.), Json.Encode(.NULL.), Json.Encode("")
? Json.Encode('C:\temp "x"' + CHR(10))
? Json.Encode(DATETIME(2024, 3, 5, 6, 7, 8)), Json.Encode(DATE(2024, 3, 5))
? Json.Encode(12), Json.Encode(ROUND(12.4, 0)), Json.Encode(12.50), Json.Encode(-0.25)
DIMENSION a[2, 2]
a[1, 1] = 1
a[1, 2] = "x"
a[2, 1] = .F.
a[2, 2] = .NULL.
? Json.Encode(@a)
o = Json.Decode('{"name": "Ann"}')
o.name = a
? Json.Encode(o)

check('[1 2, 3,]')
check('{"a": 1, "A": 2, "b": {"c": [true, NULL, False]}}')
check('1.50')
check('1.5e+3')
check('12345678901234567890')
check('123abc')
check('"\ud83d\ude00" tail')
check('"\ud83d"')
check('[1,,2]')
check('{"a" 1}')
check('"\x"')
check('"\u12"')

o = Json.Decode('{"name": "Bob", "age": 42}')
? o.name, o.age, VARTYPE(o.age)
? Json.Decode('1.50') + 1, Json.Decode('TRUE')

x = 5
? Json.Decode('[1, 2]', @x), ALEN(x), x[2]
? Json.Decode('[1, ', @x), VARTYPE(x), x
? Json.Decode(REPLICATE('[', 513) + REPLICATE(']', 513), @x), VARTYPE(x)
? VARTYPE(Json.Decode(REPLICATE('[', 512) + REPLICATE(']', 512)))

PROCEDURE check(cJson)
  TRY
    ? cJson, "->", Json.Encode(Json.Decode(cJson))
  CATCH TO e
    ? cJson, "->", e.ErrorNo, e.Message
  ENDTRY
ENDPROC
