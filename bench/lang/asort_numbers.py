# sorted() of the numbers that asort_numbers.prg sorts; "setup" only builds the list.
import sys

n = 100000
x = 12345
a = []
for i in range(n):
    x = (x * 48271) % 2147483647
    a.append(x / 1000)
if sys.argv[1:2] != ["setup"]:
    a = sorted(a)
print(a[0], a[-1])
