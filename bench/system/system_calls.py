"""The loops of system_calls.prg in Python 3: python3 system_calls.py OP [COUNT]. set reads the
decimal context's precision; sys2007 is binascii's CRC-16 turned into text."""
import binascii
import decimal
import os
import sys

op = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
x = 1
s = b"0123456789" * 10


def main():
    r = None
    if op == "empty":
        for _ in range(n):
            r = x
    elif op == "getenv":
        for _ in range(n):
            r = os.environ.get("HOME", "")
    elif op == "set":
        for _ in range(n):
            r = decimal.getcontext().prec
    elif op == "sys2007":
        for _ in range(n):
            r = str(binascii.crc_hqx(s, 0))
    elif op == "echo":
        for _ in range(n):
            print("line")
    else:
        print("unknown operation", op)
    return r


main()
