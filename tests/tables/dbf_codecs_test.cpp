// The field codecs on a record buffer: every type's bytes, the edge cases of conversions and
// ranges, nullable fields, read-only slots and memo fields.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "dbf_support.h"
#include "tables/fpt_file.h"
#include "values/julian.h"

namespace qzbase {
namespace {

using namespace testing_dbf;
using testing_files::TempDir;

class Codecs : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<fielddef_st> defs = {
        field("C", FIELDINFO_CHAR, 10),       field("N62", FIELDINFO_NUMERIC, 6, 2), field("N52", FIELDINFO_NUMERIC, 5, 2),
        field("I", FIELDINFO_INTEGER),        field("Y", FIELDINFO_CURRENCY),        field("D", FIELDINFO_DATE),
        field("T", FIELDINFO_DATETIME),       field("L", FIELDINFO_LOGICAL),         field("B", FIELDINFO_DOUBLE, 0, 3),
        field("V", FIELDINFO_VARCHAR, 10),    field("Q", FIELDINFO_VARBINARY, 5),    field("M", FIELDINFO_MEMO),
        field("W", FIELDINFO_BLOB),           field("NUL", FIELDINFO_CHAR, 4),       field("AI", FIELDINFO_INTEGER),
    };
    defs[13].null_mode = FIELDINFO_NULL;
    defs[14].autoinc = 1;
    dbf = create_table(dir.path / "c.dbf", defs);
    record = dbf->current_record.get();
  }
  DbfField* f(size_t i) { return dbf->fields[i]; }
  std::string bytes(size_t i) { return std::string(record + f(i)->displacement, f(i)->width); }
  Variant get(size_t i) {
    Variant v;
    f(i)->get_variant(dbf.get(), f(i), record, &v);
    return v;
  }
  void set_int(size_t i, int64_t v) { f(i)->active.set_integer(dbf.get(), f(i), record, integer_type_st{v}); }
  void set_num(size_t i, double v, uint64_t d = free_decimals) {
    f(i)->active.set_numeric(dbf.get(), f(i), record, numeric_type_st{v, d});
  }
  void set_money(size_t i, __int128 raw) {
    money_type_st m;
    m.value = raw;
    f(i)->active.set_money(dbf.get(), f(i), record, m);
  }
  void set_str(size_t i, const String& s) { f(i)->active.set_string(dbf.get(), f(i), record, s); }
  std::string chars(size_t i) {
    char buffer[64];
    const Charset* cs = nullptr;
    size_t n = f(i)->get_chars(dbf.get(), f(i), record, buffer, sizeof buffer, &cs);
    EXPECT_EQ(cs, dbf->charset());
    return std::string(buffer, n);
  }

  TempDir dir;
  std::unique_ptr<DbfFile> dbf;
  char* record = nullptr;
};

std::string overflow_text(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::overflow_error& e) {
    return e.what();
  }
  return "none";
}

TEST_F(Codecs, BlankRecord) {
  const char* blank = dbf->blank_record.get();
  EXPECT_EQ(blank[0], ' ');
  auto at = [&](size_t i) { return std::string(blank + f(i)->displacement, f(i)->width); };
  EXPECT_EQ(at(0), std::string(10, ' '));
  EXPECT_EQ(at(1), "      ");
  EXPECT_EQ(at(3), std::string(4, '\0'));
  EXPECT_EQ(at(5), std::string(8, ' '));
  EXPECT_EQ(at(7), " ");  // a blank logical keeps its space
  EXPECT_EQ(at(9), std::string(9, ' ') + '\0');
  EXPECT_EQ(at(11), std::string(4, '\0'));
  Variant v;
  f(13)->get_variant(dbf.get(), f(13), blank, &v);
  EXPECT_EQ(v.tag, VT_STRING);  // a blank nullable field is not null
  Variant l;
  f(7)->get_variant(dbf.get(), f(7), blank, &l);
  EXPECT_EQ(l.tag, VT_FALSE);
}

TEST_F(Codecs, NumericText) {
  set_num(1, 123.456, 3);
  EXPECT_EQ(bytes(1), "123.46");
  // 12345.60 is 3 characters too long, within decimals + 1: cut to whole digits, then rounded.
  set_num(2, 12345.6, 1);
  EXPECT_EQ(bytes(2), "12346");
  set_int(2, 12345);
  EXPECT_EQ(bytes(2), "12345");
  try {
    set_num(2, 123456.7, 1);
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 39);
  }
  set_int(1, -42);
  EXPECT_EQ(bytes(1), "-42.00");
  set_money(1, 25000);  // 2.5
  EXPECT_EQ(bytes(1), "  2.50");
  Variant v = get(1);
  EXPECT_EQ(v.tag, VT_NUMERIC);
  EXPECT_DOUBLE_EQ(v.numeric.value, 2.5);
  EXPECT_EQ(v.numeric.decimals, 2u);
  std::memset(record + f(1)->displacement, ' ', 6);
  EXPECT_DOUBLE_EQ(get(1).numeric.value, 0.0);
}

TEST_F(Codecs, IntegerRangesAndRounding) {
  set_int(3, 2147483647);
  EXPECT_EQ(get(3).integer.value, 2147483647);
  set_int(3, -2147483648LL);
  EXPECT_EQ(get(3).integer.value, -2147483648LL);
  EXPECT_EQ(overflow_text([&] { set_int(3, 2147483648LL); }), "positive overflow");
  EXPECT_EQ(overflow_text([&] { set_int(3, -2147483649LL); }), "negative overflow");
  set_money(3, 25000);
  EXPECT_EQ(get(3).integer.value, 3);
  set_money(3, -25000);
  EXPECT_EQ(get(3).integer.value, -3);
  EXPECT_EQ(overflow_text([&] { set_money(3, static_cast<__int128>(21474836479999LL) + 1 - 5000); }),
            "positive overflow");
  set_num(3, 2.5, 1);
  EXPECT_EQ(get(3).integer.value, 3);
  // Out-of-range numerics raise the overflow error like the integer path.
  EXPECT_EQ(overflow_text([&] { set_num(3, 3e9); }), "positive overflow");
  EXPECT_EQ(overflow_text([&] { set_num(3, -3e9); }), "negative overflow");
  EXPECT_EQ(overflow_text([&] { set_num(3, 1e300); }), "positive overflow");
  EXPECT_EQ(overflow_text([&] { set_num(3, std::nan("")); }), "positive overflow");
  EXPECT_EQ(get(3).integer.value, 3);  // a refused write leaves the field
}

TEST_F(Codecs, CurrencyAndItsText) {
  set_money(4, 0);
  EXPECT_EQ(chars(4), ".0000");
  set_money(4, 5000);
  EXPECT_EQ(chars(4), ".5000");
  set_money(4, -25000);
  EXPECT_EQ(chars(4), "-2.5000");
  set_int(4, 12);
  EXPECT_EQ(chars(4), "12.0000");
  set_num(4, 1.23456, 5);
  __int128 raw = get(4).money.value;
  EXPECT_TRUE(raw == 12346);
  EXPECT_EQ(overflow_text([&] { set_int(4, INT64_MAX / 1000); }), "positive overflow");
  EXPECT_EQ(overflow_text([&] { set_money(4, static_cast<__int128>(INT64_MIN) - 1); }), "negative overflow");
  char small[4];
  const Charset* cs = nullptr;
  EXPECT_THROW(f(4)->get_chars(dbf.get(), f(4), record, small, sizeof small, &cs), dbf_error_buffer_overflow);
}

TEST_F(Codecs, DatesAndDatetimes) {
  date_st day;
  ASSERT_EQ(serial_julian_date(2024, 2, 29, &day), 0);
  f(5)->active.set_date(dbf.get(), f(5), record, day);
  EXPECT_EQ(bytes(5), "20240229");
  EXPECT_EQ(get(5).date.day, day.day);
  f(5)->active.set_date(dbf.get(), f(5), record, date_st{0});
  EXPECT_EQ(bytes(5), "        ");
  EXPECT_EQ(get(5).date.day, 0u);
  f(5)->active.set_datetime(dbf.get(), f(5), record, datetime_st{day.day, 5000});
  EXPECT_EQ(get(5).date.day, day.day);
  // A year beyond four digits has no eight-digit form.
  EXPECT_EQ(overflow_text([&] { f(5)->active.set_date(dbf.get(), f(5), record, date_st{0xFFFFFF00u}); }),
            "positive overflow");

  struct {
    int32_t stored;
    uint32_t day;
    int32_t ms;
  } times[] = {{1500, 0, 1000}, {1501, 0, 2000}, {86399500, 0, 86399000}, {86399501, 1, 0}, {86399999, 1, 0}};
  for (auto& t : times) {
    f(6)->active.set_datetime(dbf.get(), f(6), record, datetime_st{day.day, t.stored});
    Variant v = get(6);
    EXPECT_EQ(v.datetime.day, day.day + t.day) << t.stored;
    EXPECT_EQ(v.datetime.ms, t.ms) << t.stored;
  }
  f(6)->active.set_date(dbf.get(), f(6), record, day);
  EXPECT_EQ(get(6).datetime.ms, 0);
  EXPECT_THROW(f(6)->active.set_integer(dbf.get(), f(6), record, integer_type_st{1}), dbf_error_field_type_conflict);
}

// True is 'T', false 'F'; 'T', 't', 'Y', 'y' read true and everything else false.
TEST_F(Codecs, Logical) {
  f(7)->active.set_logical(dbf.get(), f(7), record, true);
  EXPECT_EQ(bytes(7), "T");
  f(7)->active.set_logical(dbf.get(), f(7), record, false);
  EXPECT_EQ(bytes(7), "F");
  for (char c : std::string("TtYy")) {
    record[f(7)->displacement] = c;
    EXPECT_EQ(get(7).tag, VT_TRUE) << c;
  }
  for (char c : std::string("FfNn? \0x", 8)) {
    record[f(7)->displacement] = c;
    EXPECT_EQ(get(7).tag, VT_FALSE) << c;
  }
}

TEST_F(Codecs, DoubleKeepsItsDecimals) {
  set_num(8, 1.5);
  Variant v = get(8);
  EXPECT_DOUBLE_EQ(v.numeric.value, 1.5);
  EXPECT_EQ(v.numeric.decimals, 3u);
  set_money(8, -12345);
  EXPECT_DOUBLE_EQ(get(8).numeric.value, -1.2345);
  set_int(8, 7);
  EXPECT_EQ(bytes(8), std::string("\0\0\0\0\0\0\x1c\x40", 8));
}

TEST_F(Codecs, CharacterTexts) {
  set_str(0, String("abcdefghijkl"));
  EXPECT_EQ(bytes(0), "abcdefghij");
  set_str(0, String("é"));
  EXPECT_EQ(bytes(0), "\xE9         ");  // converted into code page 1252
  EXPECT_EQ(get(0).string.u8str(), "é         ");
  EXPECT_THROW(set_str(0, String("日本")), dbf_error_cptrans_char_lost);
  set_str(0, String("ab"));
  EXPECT_EQ(chars(0), "ab        ");
  EXPECT_THROW(set_num(0, 1.0), dbf_error_field_type_conflict);
}

TEST_F(Codecs, VarcharAndVarbinary) {
  DbfField* v = f(9);
  auto varlen = [&](DbfField* x) { return (record[x->varlen_byte] & x->varlen_mask) != 0; };
  set_str(9, String("abc"));
  EXPECT_EQ(bytes(9), std::string("abc      \x03"));
  EXPECT_TRUE(varlen(v));
  EXPECT_EQ(get(9).string.u8str(), "abc");
  set_str(9, String("0123456789"));
  EXPECT_FALSE(varlen(v));
  EXPECT_EQ(get(9).string.u8str(), "0123456789");
  set_str(9, String(""));
  EXPECT_TRUE(varlen(v));
  EXPECT_EQ(get(9).string.size(), 0u);

  set_str(10, String("ab", 2, Charset::binary));
  EXPECT_EQ(bytes(10), std::string("ab\0\0\x02", 5));
  EXPECT_TRUE(varlen(f(10)));
  Variant q = get(10);
  EXPECT_EQ(q.string.get_charset(), Charset::binary);
  EXPECT_EQ(std::string(q.string.read(), q.string.size()), "ab");
  set_str(10, String("abcdefg", 7, Charset::binary));
  EXPECT_EQ(bytes(10), "abcde");
  EXPECT_FALSE(varlen(f(10)));
}

TEST_F(Codecs, NullableFields) {
  DbfField* n = f(13);
  set_str(13, String("abcd"));
  EXPECT_EQ(get(13).tag, VT_STRING);
  n->active.set_null(dbf.get(), n, record);
  EXPECT_EQ(get(13).tag, VT_NULL);
  EXPECT_EQ(bytes(13), "abcd");  // the bytes stay
  set_str(13, String("x"));
  EXPECT_EQ(get(13).string.u8str(), "x   ");
  n->active.set_null(dbf.get(), n, record);
  n->set_blank(dbf.get(), n, record);
  EXPECT_EQ(get(13).tag, VT_STRING);
  EXPECT_THROW(f(0)->active.set_null(dbf.get(), f(0), record), dbf_error_field_no_null_support);
}

TEST_F(Codecs, ReadOnlySlots) {
  DbfField* ai = f(14);
  EXPECT_THROW(set_int(14, 5), dbf_error_field_readonly);
  EXPECT_THROW(set_num(14, 5), dbf_error_field_readonly);
  EXPECT_THROW(set_str(14, String("x")), dbf_error_field_type_conflict);
  EXPECT_THROW(ai->active.set_null(dbf.get(), ai, record), dbf_error_field_no_null_support);
  dbf->set_autoinc_fields_readwrite();
  set_int(14, 5);
  EXPECT_EQ(get(14).integer.value, 5);
  dbf->set_field_readonly(size_t{0});
  EXPECT_THROW(set_str(0, String("x")), dbf_error_field_type_conflict);
  dbf->set_fields_readwrite();
  set_str(0, String("x"));
  try {
    set_int(0, 1);
    ADD_FAILURE();
  } catch (const dbf_error_field_type_conflict& e) {
    EXPECT_EQ(e.field, f(0));
  }
  EXPECT_THROW(dbf->set_field_readonly(dbf->fields.size()), dbf_error_invalid_field_number);
}

TEST_F(Codecs, MemoFields) {
  EXPECT_EQ(get(11).string.size(), 0u);
  EXPECT_EQ(f(11)->get_memo_size(dbf.get(), f(11), record), 0u);
  std::string hundred(100, 'x');
  set_str(11, String(hundred.c_str()));
  EXPECT_EQ(bytes(11), std::string("\x08\0\0\0", 4));
  EXPECT_EQ(dbf->memo_file()->next_free, 10u);
  EXPECT_EQ(dbf->memo_file()->file()->get_size(), 640u);
  EXPECT_EQ(get(11).string.u8str(), hundred);
  EXPECT_EQ(f(11)->get_memo_size(dbf.get(), f(11), record), 100u);
  set_str(11, String("é"));
  Variant m = get(11);
  EXPECT_EQ(m.string.get_charset(), dbf->charset());
  EXPECT_EQ(m.string.u8str(), "é");
  set_str(12, String("\x01\x02", 2, Charset::binary));
  Variant w = get(12);
  EXPECT_EQ(w.string.get_charset(), Charset::binary);
  EXPECT_EQ(w.string.size(), 2u);
  EXPECT_THROW(f(0)->get_memo_size(dbf.get(), f(0), record), dbf_error_field_type_conflict);
}

TEST(CodecsUtf8, WholeCharactersOnly) {
  TempDir dir;
  auto dbf = create_table(dir.path / "u.dbf", {field("C", FIELDINFO_CHAR, 2)}, options(65001));
  DbfField* c = dbf->fields[0];
  char* r = dbf->current_record.get();
  c->active.set_string(dbf.get(), c, r, String("ééé"));
  EXPECT_EQ(std::string(r + 1, 8), "éé    ");
  Variant v;
  c->get_variant(dbf.get(), c, r, &v);
  EXPECT_EQ(v.string.u8str(), "éé");
  c->active.set_string(dbf.get(), c, r, String("日本語"));
  EXPECT_EQ(std::string(r + 1, 8), "日本  ");
}

}  // namespace
}  // namespace qzbase

namespace qzbase {
namespace {

using namespace testing_dbf;
using testing_files::TempDir;

int64_t int_of(DbfFile* d, DbfField* f, const char* r) {
  Variant v;
  f->get_variant(d, f, r, &v);
  return v.integer.value;
}

TEST(AutoIncrement, AssignAndVerifyKeepTheDescriptorCurrent) {
  TempDir dir;
  fielddef_st id = field("ID", FIELDINFO_INTEGER);
  id.autoinc = 1;
  id.autoinc_step = 10;
  id.autoinc_step_given = 1;
  auto dbf = create_table(dir.path / "a.dbf", {id, field("N", FIELDINFO_INTEGER)}, options(), OPEN_SHARED);
  DbfFile* d = dbf.get();
  DbfField* f = d->fields[0];
  char* r = d->current_record.get();
  blank_current(d);
  d->autoinc_assign(r);  // 0 takes the next value
  EXPECT_EQ(int_of(d, f, r), 1);
  EXPECT_EQ(f->autoinc_next, 11u);
  d->autoinc_assign(r);  // 1 is below the next value: kept
  EXPECT_EQ(int_of(d, f, r), 1);
  EXPECT_EQ(f->autoinc_next, 11u);
  d->set_autoinc_fields_readwrite();
  f->active.set_integer(d, f, r, integer_type_st{50});
  d->autoinc_assign(r);
  EXPECT_EQ(f->autoinc_next, 51u);
  // Another process's descriptor: what is on disk counts.
  auto other = open_dbf_file(String(dir.path / "a.dbf"), OPEN_WRITE | OPEN_SHARED);
  EXPECT_EQ(other->fields[0]->autoinc_next, 51u);
  std::vector<char> old(r, r + d->record_length);
  f->active.set_integer(d, f, r, integer_type_st{70});
  d->autoinc_verify(old.data(), r);
  EXPECT_EQ(f->autoinc_next, 71u);
  other->read_dbf_field_header(other->fields[0]);
  EXPECT_EQ(other->fields[0]->autoinc_next, 71u);
  // Near the top of the range the value that no longer fits is refused, not wrapped.
  f->autoinc_next = 2147483647;
  d->write_dbf_field_header(f);
  blank_current(d);
  d->autoinc_assign(r);
  EXPECT_EQ(int_of(d, f, r), 2147483647);
  blank_current(d);
  EXPECT_THROW(d->autoinc_assign(r), std::overflow_error);
}

TEST(FptFile, StoresAppendOnly) {
  TempDir dir;
  auto dbf = create_table(dir.path / "m.dbf", {field("M", FIELDINFO_MEMO)});
  FptFile* fpt = dbf->memo_file();
  uint32_t first = fpt->store(String(""), dbf->charset(), 1);
  EXPECT_EQ(first, 8u);
  EXPECT_EQ(fpt->next_free, 9u);  // an empty value still takes its header's block
  uint32_t second = fpt->store(String("two"), dbf->charset(), 1);
  EXPECT_EQ(second, 9u);
  int type = 0;
  EXPECT_EQ(fpt->load(first, dbf->charset(), &type).size(), 0u);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(fpt->load(second, dbf->charset(), &type).u8str(), "two");
  // A damaged length beyond the end of the file is refused rather than allocated.
  char huge[4] = {'\x7f', '\xff', '\xff', '\xff'};
  fpt->file()->writeex(9 * 64 + 4, huge, 4);
  EXPECT_THROW(fpt->load(second, dbf->charset(), &type), dbf_error_file_corruption);
}

// A table without a lasting name keeps the caller's names in memory, the file the short ones.
TEST(DbfFile, InMemoryTablesKeepTheCallersNames) {
  createopts_st o = options();
  o.accept_altered_names = 1;
  fielddef_st defs[] = {field("customer_number", FIELDINFO_INTEGER), field("notes", FIELDINFO_MEMO)};
  File* file = create_file(String("memory:///cursor.dbf"), OPEN_UNLINK_ON_CREATE);
  std::unique_ptr<DbfFile> dbf(DbfFile::create(file, &o, defs, 2));
  EXPECT_STREQ(dbf->fields[0]->name, "customer_number");
  char raw[11] = {};
  dbf->file()->readex(32, raw, 10);
  EXPECT_STREQ(raw, "customer_n");
  ASSERT_NE(dbf->memo_file(), nullptr);
  EXPECT_TRUE(is_memory_file_name(dbf->memo_file()->file()->name));
}

}  // namespace
}  // namespace qzbase
