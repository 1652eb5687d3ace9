// Tables written here read back field by field through readers this library did not write
// (Python's dbfread and dbf, Perl's XBase), and a table written by Python's dbf reads back here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "dbf_support.h"
#include "values/julian.h"
#include "run_command.h"

namespace qzbase {
namespace {

using testing_files::run_command;
using namespace testing_dbf;
using testing_files::TempDir;

const char* const kExpected =
    "record 1\nNAME=Zo\xC3\xAB\nAMOUNT=1234.5000\nFACTOR=-0.1250\nBORN=2024-02-29\nACTIVE=T\nQTY=-7\nRATIO=2.2500\n"
    "PRICE=12.2500\nSTAMP=2024-01-02 03:04:05\nNOTES=memo line\n"
    "record 2\nNAME=x\nAMOUNT=-3.0000\nFACTOR=0.0000\nBORN=\nACTIVE=F\nQTY=2147483646\nRATIO=-10000000000.0000\n"
    "PRICE=-0.5000\nSTAMP=1999-12-31 23:59:59\nNOTES=\n";

datetime_st stamp(int y, int mo, int d, int h, int mi, int s) {
  datetime_st t;
  serial_julian_date(y, static_cast<unsigned>(mo), static_cast<unsigned>(d), static_cast<unsigned>(h),
                     static_cast<unsigned>(mi), static_cast<unsigned>(s), &t);
  return t;
}

std::filesystem::path write_table(const TempDir& dir) {
  auto p = dir.path / "people.dbf";
  auto dbf = create_table(p, {field("NAME", FIELDINFO_CHAR, 10), field("AMOUNT", FIELDINFO_NUMERIC, 8, 2),
                              field("FACTOR", FIELDINFO_FLOAT, 10, 3), field("BORN", FIELDINFO_DATE),
                              field("ACTIVE", FIELDINFO_LOGICAL), field("QTY", FIELDINFO_INTEGER),
                              field("RATIO", FIELDINFO_DOUBLE, 0, 4), field("PRICE", FIELDINFO_CURRENCY),
                              field("STAMP", FIELDINFO_DATETIME), field("NOTES", FIELDINFO_MEMO)});
  DbfFile* d = dbf.get();
  auto F = [&](size_t i) { return d->fields[i]; };
  char* r = d->current_record.get();
  auto money = [](__int128 raw) {
    money_type_st m;
    m.value = raw;
    return m;
  };
  date_st born;
  serial_julian_date(2024, 2, 29, &born);

  blank_current(d);
  F(0)->active.set_string(d, F(0), r, String("Zoë"));
  F(1)->active.set_numeric(d, F(1), r, numeric_type_st{1234.5, 1});
  F(2)->active.set_numeric(d, F(2), r, numeric_type_st{-0.125, 3});
  F(3)->active.set_date(d, F(3), r, born);
  F(4)->active.set_logical(d, F(4), r, true);
  F(5)->active.set_integer(d, F(5), r, integer_type_st{-7});
  F(6)->active.set_numeric(d, F(6), r, numeric_type_st{2.25, 2});
  F(7)->active.set_money(d, F(7), r, money(122500));
  F(8)->active.set_datetime(d, F(8), r, stamp(2024, 1, 2, 3, 4, 5));
  F(9)->active.set_string(d, F(9), r, String("memo line"));
  append_current(d);

  blank_current(d);
  F(0)->active.set_string(d, F(0), r, String("x"));
  F(1)->active.set_integer(d, F(1), r, integer_type_st{-3});
  F(2)->active.set_integer(d, F(2), r, integer_type_st{0});
  F(4)->active.set_logical(d, F(4), r, false);
  F(5)->active.set_integer(d, F(5), r, integer_type_st{2147483646});
  F(6)->active.set_numeric(d, F(6), r, numeric_type_st{-1e10, 0});
  F(7)->active.set_money(d, F(7), r, money(-5000));
  F(8)->active.set_datetime(d, F(8), r, stamp(1999, 12, 31, 23, 59, 59));
  append_current(d);
  return p;
}

TEST(DbfInterop, DbfreadReadsOurTable) {
  TempDir dir;
  auto p = write_table(dir);
  EXPECT_EQ(run_command("/usr/bin/python3 " + interop_script("read_dbfread.py") + " " + p.native()), kExpected);
}

TEST(DbfInterop, PythonDbfReadsOurTable) {
  TempDir dir;
  auto p = write_table(dir);
  EXPECT_EQ(run_command("/usr/bin/python3 " + interop_script("read_dbf.py") + " " + p.native()), kExpected);
}

TEST(DbfInterop, PerlXBaseReadsOurTable) {
  TempDir dir;
  auto p = write_table(dir);
  EXPECT_EQ(run_command("/usr/bin/perl " + interop_script("read_xbase.pl") + " " + p.native()), kExpected);
}

// The same text from our codecs, for a table another library wrote.
std::string show(DbfFile* d) {
  std::string out;
  char buffer[64];
  for (uint32_t n = 1; n <= d->record_count; ++n) {
    d->file()->readex(static_cast<std::streamoff>(d->record_offset(n)), d->current_record.get(), d->record_length);
    out += "record " + std::to_string(n) + "\n";
    for (DbfField* f : d->fields) {
      Variant v;
      f->get_variant(d, f, d->current_record.get(), &v);
      std::string text;
      switch (v.tag) {
        case VT_STRING:
          text = v.string.u8str();
          text.erase(text.find_last_not_of(' ') + 1);
          break;
        case VT_TRUE:
        case VT_FALSE:
          text = v.tag == VT_TRUE ? "T" : "F";
          break;
        case VT_INTEGER:
          text = std::to_string(v.integer.value);
          break;
        case VT_NUMERIC:
          std::snprintf(buffer, sizeof buffer, "%.4f", v.numeric.value);
          text = buffer;
          break;
        case VT_MONEY:
          std::snprintf(buffer, sizeof buffer, "%.4f", static_cast<double>(static_cast<__int128>(v.money.value)) / 10000);
          text = buffer;
          break;
        case VT_DATE:
          if (v.date.day != 0) {
            int y, m, dd;
            unserial_julian_date(v.date, &y, &m, &dd);
            std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", y, m, dd);
            text = buffer;
          }
          break;
        case VT_DATETIME: {
          int y, m, dd, h, mi, s, ms;
          unserial_julian_date(v.datetime, &y, &m, &dd, &h, &mi, &s, &ms);
          std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", y, m, dd, h, mi, s);
          text = buffer;
          break;
        }
        default:
          text = "?";
      }
      out += std::string(f->name) + "=" + text + "\n";
    }
  }
  return out;
}

TEST(DbfInterop, TablesOfPythonDbfReadHere) {
  TempDir dir;
  auto p = dir.path / "theirs.dbf";
  ASSERT_EQ(run_command("/usr/bin/python3 " + interop_script("write_dbf.py") + " " + p.native()), "");
  auto dbf = open_dbf_file(String(p), OPEN_WRITE);
  EXPECT_EQ(dbf->version(), 0x30);
  EXPECT_EQ(show(dbf.get()), kExpected);
  // And our own table through the same path.
  auto ours = open_dbf_file(String(write_table(dir)), 0);
  EXPECT_EQ(show(ours.get()), kExpected);
}

}  // namespace
}  // namespace qzbase
