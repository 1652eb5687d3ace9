# The table benchmark's phases in SQLite (Python's sqlite3 module, one transaction for the
# inserts), printed in ms like table_phases.prg. Argument: the record count (default 50000).
import datetime
import os
import sqlite3
import sys
import time

n = int(sys.argv[1]) if len(sys.argv) > 1 else 50000
if os.path.exists("bench.sqlite"):
    os.remove("bench.sqlite")
db = sqlite3.connect("bench.sqlite")
db.execute("CREATE TABLE bench (id INTEGER, name TEXT, city TEXT, amount NUMERIC, day DATE, flag INTEGER)")
day = datetime.date(2024, 5, 6).isoformat()
t = time.perf_counter()
with db:
    for k in range(1, n + 1):
        db.execute("INSERT INTO bench VALUES (?, ?, ?, ?, ?, ?)", (k, "customer name", "some city", k / 4, day, k % 2 == 0))
print("append", round((time.perf_counter() - t) * 1000))
t = time.perf_counter()
with db:
    rows = [r[0] for r in db.execute("SELECT rowid FROM bench")]
    for rowid in rows:
        db.execute("UPDATE bench SET name = ? WHERE rowid = ?", ("changed name", rowid))
print("replace", round((time.perf_counter() - t) * 1000))
t = time.perf_counter()
total = 0
for (amount,) in db.execute("SELECT amount FROM bench"):
    total += amount
print("sum", round((time.perf_counter() - t) * 1000), total)
db.close()
