# The tag benchmark's phases in SQLite (Python's sqlite3 module), on the same data as
# index_phases.prg and printed in ms like it. Each phase runs in one transaction; seek_excl runs
# with the exclusive locking mode, seek_shared without. index_bytes is what the two indexes add
# to the database file. Arguments: N (default 100000) and M (default 100000, at most N).
import os
import sqlite3
import sys
import time

n = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
m = min(int(sys.argv[2]) if len(sys.argv) > 2 else 100000, n)
seed = 42


def next_number():
    global seed
    seed = seed * 16807 % 2147483647
    return seed


def next_name():
    return "%010d%010d" % (next_number(), next_number())


def ms(start):
    return round((time.perf_counter() - start) * 1000)


path = "bench.sqlite"
if os.path.exists(path):
    os.remove(path)
db = sqlite3.connect(path)
db.execute("CREATE TABLE bench (id INTEGER, name TEXT, amount INTEGER)")
names = []
with db:
    for k in range(1, n + 1):
        name = next_name()
        names.append(name)
        db.execute("INSERT INTO bench VALUES (?, ?, ?)", (k, name, next_number() % 1000000000))
seek = [names[next_number() % n] for _ in range(m)]
new = [next_name() for _ in range(m)]
del names
before = os.path.getsize(path)

t = time.perf_counter()
with db:
    db.execute("CREATE INDEX byname ON bench (name)")
print("index_name", ms(t))
t = time.perf_counter()
with db:
    db.execute("CREATE INDEX byamount ON bench (amount)")
print("index_amount", ms(t))
print("index_bytes", os.path.getsize(path) - before)

db.execute("PRAGMA locking_mode = EXCLUSIVE")
t = time.perf_counter()
with db:
    for key in seek:
        db.execute("SELECT rowid FROM bench WHERE name = ? ORDER BY name LIMIT 1", (key,)).fetchone()
print("seek_excl", ms(t))
db.close()
db = sqlite3.connect(path)
t = time.perf_counter()
for key in seek:
    db.execute("SELECT rowid FROM bench WHERE name = ? ORDER BY name LIMIT 1", (key,)).fetchone()
print("seek_shared", ms(t))
t = time.perf_counter()
for _ in db.execute("SELECT rowid FROM bench ORDER BY name"):
    pass
print("skip_fwd", ms(t))
t = time.perf_counter()
for _ in db.execute("SELECT rowid FROM bench ORDER BY name DESC"):
    pass
print("skip_back", ms(t))

with db:
    db.execute("DROP INDEX byamount")
t = time.perf_counter()
with db:
    for k in range(m):
        db.execute("UPDATE bench SET name = ? WHERE rowid = ?", (new[k], 1 + next_number() % n))
print("replace1", ms(t))
with db:
    db.execute("CREATE INDEX byamount ON bench (amount)")
    db.execute("CREATE INDEX byid ON bench (id)")
t = time.perf_counter()
with db:
    for k in range(m):
        db.execute("UPDATE bench SET name = ? WHERE rowid = ?", (seek[k], 1 + next_number() % n))
print("replace3", ms(t))

db.execute("CREATE TABLE appended (id INTEGER, name TEXT, amount INTEGER)")
db.execute("CREATE INDEX a_name ON appended (name)")
db.execute("CREATE INDEX a_amount ON appended (amount)")
db.execute("CREATE INDEX a_id ON appended (id)")
t = time.perf_counter()
with db:
    for k in range(1, m + 1):
        db.execute("INSERT INTO appended VALUES (?, ?, ?)", (k, new[k - 1], k * 7919 % 1000003))
print("append3", ms(t))
db.close()
