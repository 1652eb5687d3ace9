# Writes, through the dbf package, the table that the interop test reads back: the fields and
# records of the test's own table, in a version 0x30 file.
import sys

import dbf

table = dbf.Table(sys.argv[1], "NAME C(10); AMOUNT N(8,2); FACTOR F(10,3); BORN D; ACTIVE L; QTY I; "
                  "RATIO B; PRICE Y; STAMP T; NOTES M", dbf_type="vfp", codepage="cp1252")
table.open(dbf.READ_WRITE)
table.append(("Zo\u00eb", 1234.5, -0.125, dbf.Date(2024, 2, 29), True, -7, 2.25, 12.25,
              dbf.DateTime(2024, 1, 2, 3, 4, 5), "memo line"))
# (This package refuses 2147483647 itself.)
table.append(("x", -3, 0, None, False, 2147483646, -1e10, -0.5, dbf.DateTime(1999, 12, 31, 23, 59, 59), ""))
table.close()
