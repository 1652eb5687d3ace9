# list.index over 1000 numbers, for the last one, 10000 times (as ascan.prg).
import sys

a = list(range(1, 1001))
scan = len(sys.argv) < 2
n = 0
for k in range(10000):
    if scan:
        n = a.index(1000) + 1
print(n)
