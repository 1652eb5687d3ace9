# sorted() of the strings that asort_strings.prg sorts; "setup" after DIR only reads them.
import sys

with open(sys.argv[1] + "/strings.txt", encoding="utf-8") as f:
    a = f.read().split("\n")
if len(sys.argv) < 3:
    a = sorted(a)
print(len(a), a[0], a[-1])
