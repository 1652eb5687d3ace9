# 100000 raise-and-catch cycles (as error_catch.prg).
import sys

run = len(sys.argv) < 2
n = 0
for i in range(100000):
    if run:
        try:
            raise ValueError(12)
        except ValueError as e:
            n += 1
print(n)
