"""The loops of text_calls.prg in Python 3: python3 text_calls.py OP [COUNT]."""
import hashlib
import re
import sys

op = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
s = "   Lorem ipsum dolor sit am   "
if op.endswith("_utf8"):
    s = "   Lörem ípsüm dolör sít äm   "
    op = op[:-5]
if op.endswith("_ascii"):
    op = op[:-6]
t100 = "banana " * 14 + "xy"
big = ("0123456789abcdef" * 65536).encode()
x = 12345.678
number = re.compile(r"\s*(-?\d*\.?\d*)")


def main():
    r = None
    if op == "empty":
        for _ in range(n):
            r = s
    elif op == "substr":
        for _ in range(n):
            r = s[4:14]
    elif op == "at":
        for _ in range(n):
            r = s.find("am") + 1
    elif op == "alltrim":
        for _ in range(n):
            r = s.strip()
    elif op == "strtran":
        for _ in range(n):
            r = s.replace("o", "0!")
    elif op == "padl":
        for _ in range(n):
            r = s.rjust(40, "*")[:40]
    elif op == "upper":
        for _ in range(n):
            r = s.upper()
    elif op == "str":
        for _ in range(n):
            r = "%12.2f" % x
    elif op == "transform":
        for _ in range(n):
            r = "{:>11,}".format(1234567)
    elif op == "val":
        for _ in range(n):
            r = float(number.match("  12345.678").group(1))
    elif op == "ureplace":
        for _ in range(n):
            r = re.sub(r"(an)", r"[\1]", t100)
    elif op == "hash":
        for _ in range(n):
            r = hashlib.sha256(big).digest()
    else:
        print("unknown operation", op)
    return r


main()
