# 100000 values raised and caught (as throw_catch.prg).
import sys


class Thrown(Exception):
    def __init__(self, value):
        self.user_value = value


run = len(sys.argv) < 2
n = 0
for i in range(100000):
    if run:
        try:
            raise Thrown(i)
        except Thrown as e:
            n += e.user_value - i + 1
print(n)
