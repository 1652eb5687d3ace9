name = "x"
x = 42
? &name
expr = "1 + 2"
? &expr, EVALUATE("3 * 4")
&name = 7
? x
