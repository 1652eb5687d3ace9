x = 10
s = SUBSTR(NULL, .NOT. -9223372036854775808)
t = LEFT('abc', 'x' - 1) + UPPER(LEFT('abc', 1 + .T.))
? s, t
