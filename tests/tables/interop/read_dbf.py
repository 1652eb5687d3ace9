# Prints a table through the dbf package (see common.py). The package reads versions 0x30 and
# 0x31 only; a version 0x32 table without varchar, varbinary or null fields has their exact
# layout, so it is read from a copy that carries the version byte 0x30.
import datetime
import os
import shutil
import sys
import tempfile

import dbf

from common import show

source = sys.argv[1]
with tempfile.TemporaryDirectory() as work:
    copy = os.path.join(work, "t.dbf")
    shutil.copy(source, copy)
    memo = os.path.splitext(source)[0] + ".fpt"
    if os.path.exists(memo):
        shutil.copy(memo, os.path.join(work, "t.fpt"))
    with open(copy, "r+b") as f:
        if f.read(1) == b"\x32":
            f.seek(0)
            f.write(b"\x30")
    table = dbf.Table(copy, codepage="cp1252")
    table.open(dbf.READ_ONLY)
    names = table.field_names
    records = []
    for record in table:
        values = []
        for name in names:
            value = record[name]
            if isinstance(value, (dbf.Date, dbf.DateTime)):
                value = value._datetime if isinstance(value, dbf.DateTime) else value._date
            elif isinstance(value, dbf.Logical):
                value = None if value is dbf.Unknown else bool(value)
            values.append((name, value))
        records.append(values)
    table.close()
    show(records)
