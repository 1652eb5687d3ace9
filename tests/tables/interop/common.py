# The one text every reader's script prints for a table: a line "NAME=value" per field and
# record, values written the same whatever the reader handed back.
import datetime
import decimal


def text(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "T" if value else "F"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, (float, decimal.Decimal)):
        return "%.4f" % value
    if isinstance(value, datetime.datetime):
        return value.strftime("%Y-%m-%d %H:%M:%S")
    if isinstance(value, datetime.date):
        return value.strftime("%Y-%m-%d")
    if isinstance(value, bytes):
        value = value.decode("cp1252")
    return str(value).rstrip()


def show(records):
    for number, record in enumerate(records, 1):
        print("record %d" % number)
        for name, value in record:
            print("%s=%s" % (name.upper(), text(value)))
