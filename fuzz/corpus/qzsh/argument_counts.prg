x = .NULL.
? LEFT("abc", 2), SUBSTR("abcdef", 2, 3), ALLTRIM("  a  ")
i = EVL(ARRAY(LEFT((.NULL.), -9223372036854775808, .T.)), 'b' - -1, 2)
j = SUBSTR(.NULL., 1, 2, 3) + LEFT(x)
