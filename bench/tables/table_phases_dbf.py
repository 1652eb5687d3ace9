# The table benchmark's phases through the python3-dbf package, printed in ms like
# table_phases.prg. Argument: the record count (default 50000).
import datetime
import sys
import time

import dbf

n = int(sys.argv[1]) if len(sys.argv) > 1 else 50000
table = dbf.Table("bench_py.dbf", "ID N(10,0); NAME C(30); CITY C(20); AMOUNT N(12,2); DAY D; FLAG L",
                  dbf_type="vfp", codepage="cp1252")
table.open(dbf.READ_WRITE)
day = datetime.date(2024, 5, 6)
t = time.perf_counter()
for k in range(1, n + 1):
    table.append((k, "customer name", "some city", k / 4, day, k % 2 == 0))
print("append", round((time.perf_counter() - t) * 1000))
t = time.perf_counter()
for record in table:
    with record:
        record.name = "changed name"
print("replace", round((time.perf_counter() - t) * 1000))
t = time.perf_counter()
total = 0
for record in table:
    total += record.amount
print("sum", round((time.perf_counter() - t) * 1000), total)
table.close()
