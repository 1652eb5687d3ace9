* Operator precedence and the numeric operators.
? 1 + 2 * 3
? (1 + 2) * 3
? 2 ^ 10
? 2 ** 3
? 17 % 5
? -4 + 10
? 7 - 10
? 3 * -2
? 1 + 2 = 3
