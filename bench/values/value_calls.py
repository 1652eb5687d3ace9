"""The loops of value_calls.prg in Python 3: python3 value_calls.py OP [COUNT]."""
import datetime
import random
import sys

op = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
x = 12345.6789
d = datetime.date(2024, 3, 5)
t = datetime.datetime(2024, 3, 5, 6, 7, 8)
s = b"\x82abcd" * 6


def main():
    r = None
    if op == "empty":
        for _ in range(n):
            r = x
    elif op == "round":
        for _ in range(n):
            r = round(x, 2)
    elif op == "mod":
        for i in range(1, n + 1):
            r = i % 7
    elif op == "bitand":
        for i in range(1, n + 1):
            r = i & 255
    elif op == "rand":
        for _ in range(n):
            r = random.random()
    elif op == "dtoc":
        for _ in range(n):
            r = d.strftime("%m/%d/%y")
    elif op == "ttoc":
        for _ in range(n):
            r = t.strftime("%m/%d/%y, %I:%M:%S %p")
    elif op == "cpconvert":
        for _ in range(n):
            r = s.decode("cp437").encode("utf-8")
    else:
        print("unknown operation", op)
    return r


main()
