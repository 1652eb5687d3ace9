# The tag-building benchmark's peer in SQLite (Python's sqlite3 module): the same keys inserted
# in one transaction, then CREATE INDEX on each column, printed in ms like tag_build.prg.
# Argument: the record count (default 100000).
import os
import sqlite3
import sys
import time

n = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
if os.path.exists("idxbench.sqlite"):
    os.remove("idxbench.sqlite")
db = sqlite3.connect("idxbench.sqlite")
db.execute("CREATE TABLE idxbench (name TEXT, amount NUMERIC)")
digits = str.maketrans("0123456789", "ABCDEFGHIJ")
r = 7
rows = []
for _ in range(n):
    key = ""
    for _ in range(4):
        r = r * 16807 % 2147483647
        key += "%05d" % (r % 100000)
    r = r * 16807 % 2147483647
    rows.append((key.translate(digits), r % (n // 2)))
with db:
    db.executemany("INSERT INTO idxbench VALUES (?, ?)", rows)
t = time.perf_counter()
with db:
    db.execute("CREATE INDEX name_idx ON idxbench (name)")
print("index_char", round((time.perf_counter() - t) * 1000))
t = time.perf_counter()
with db:
    db.execute("CREATE INDEX amount_idx ON idxbench (amount)")
print("index_num", round((time.perf_counter() - t) * 1000))
db.close()
print("db_kb", round(os.path.getsize("idxbench.sqlite") / 1024))
