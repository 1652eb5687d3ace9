# The loops of object_calls.prg in Python 3: python3 object_calls.py OP [COUNT].
import sys
import threading


class Counter:
    def __init__(self):
        self.value = 0

    def bump(self):
        return 1


def worker(n):
    o = Counter()
    for _ in range(n):
        o.bump()


def main():
    op = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    o = Counter()
    r = None
    if op == "empty":
        for i in range(1, n + 1):
            r = i
    elif op == "call":
        for i in range(1, n + 1):
            r = o.bump()
    elif op == "read":
        for i in range(1, n + 1):
            r = o.value
    elif op == "write":
        for i in range(1, n + 1):
            o.value = i
    elif op in ("add", "additem"):
        c = {}
        for i in range(1, n + 1):
            key = "key" + str(i)
            if key in c:
                raise KeyError(key)
            c[key] = i
        if op == "additem":
            for i in range(1, n + 1):
                r = c["key" + str(i)]
    elif op.startswith("workers"):
        threads = [threading.Thread(target=worker, args=(n,)) for _ in range(int(op[7:]))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    return r


main()
