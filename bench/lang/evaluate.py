# eval("x + 1") 100000 times (as evaluate.prg).
import sys

run = len(sys.argv) < 2
x = 1
y = 0
for i in range(100000):
    if run:
        y = eval("x + 1")
print(y)
