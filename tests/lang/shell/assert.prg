* With --assert a failing ASSERT ends the script with error 1098; the exit status is its low
* byte (1098 mod 256 = 74).
ASSERT 1 = 1
? "checked"
ASSERT 1 = 2
? "never"
