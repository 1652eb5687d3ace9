* The clock: DATE(), DATETIME(), TIME() and SECONDS(), checked by range.
d1 = DATE()
t = DATETIME()
s = SECONDS()
d2 = DATE()
? "today", BETWEEN(TTOD(t), d1, d2), YEAR(d1) >= 2024
? "seconds", s >= 0 AND s < 86400
* Kept with its milliseconds when stored in a variable.
LOCAL kept
kept = SECONDS()
text = TRANSFORM(kept)
? "three decimals", LEN(text) - AT(".", text)
? "time", LEN(TIME()), LEN(TIME(1)), SUBSTR(TIME(), 3, 1), SUBSTR(TIME(1), 9, 1)
h = VAL(LEFT(TIME(), 2))
? "hour", h >= 0 AND h < 24
