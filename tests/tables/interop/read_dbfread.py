# Prints a table through dbfread (see common.py).
import sys

import dbfread

from common import show

table = dbfread.DBF(sys.argv[1], encoding="cp1252", char_decode_errors="strict")
show([list(record.items()) for record in table])
