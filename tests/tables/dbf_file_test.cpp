// DbfFile: creating every field type, the exact header and descriptor bytes, reopening, limits
// of the create rules, and damaged images.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <functional>

#include "dbf_support.h"
#include "tables/fpt_file.h"

namespace qzbase {
namespace {

using namespace testing_dbf;
using testing_files::TempDir;

uint32_t u32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t u16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

std::vector<fielddef_st> all_types() {
  std::vector<fielddef_st> f;
  f.push_back(field("BLOB", FIELDINFO_BLOB));
  f.push_back(field("NAME", FIELDINFO_CHAR, 10));
  fielddef_st id = field("ID", FIELDINFO_INTEGER);
  id.autoinc = 1;
  id.autoinc_step = 5;
  id.autoinc_step_given = 1;
  id.autoinc_next = 100;
  id.autoinc_next_given = 1;
  f.push_back(id);
  f.push_back(field("PRICE", FIELDINFO_CURRENCY));
  f.push_back(field("BORN", FIELDINFO_DATE));
  f.push_back(field("STAMP", FIELDINFO_DATETIME));
  f.push_back(field("RATIO", FIELDINFO_DOUBLE, 0, 3));
  f.push_back(field("PICTURE", FIELDINFO_GENERAL));
  f.push_back(field("ACTIVE", FIELDINFO_LOGICAL));
  f.push_back(field("NOTES", FIELDINFO_MEMO));
  f.push_back(field("AMOUNT", FIELDINFO_NUMERIC, 8, 2));
  f.push_back(field("FACTOR", FIELDINFO_FLOAT, 10, 3));
  f.push_back(field("RAW", FIELDINFO_VARBINARY, 5));
  f.push_back(field("TITLE", FIELDINFO_VARCHAR, 10));
  fielddef_st note = field("REMARK", FIELDINFO_CHAR, 5);
  note.null_mode = FIELDINFO_NULL;
  f.push_back(note);
  return f;
}

TEST(DbfFile, CreatesEveryTypeWithTheExactLayoutAndReopens) {
  TempDir dir;
  auto path = dir.path / "all.dbf";
  time_t before = time(nullptr);
  create_table(path, all_types()).reset();
  std::string b = read_bytes(path);

  struct {
    const char* name;
    char type;
    uint32_t width, decimals;
    uint8_t flags;
  } expected[] = {{"BLOB", 'W', 4, 0, 0},     {"NAME", 'C', 10, 0, 0},      {"ID", 'I', 4, 0, 0x0C},
                  {"PRICE", 'Y', 8, 4, 0},    {"BORN", 'D', 8, 0, 0},       {"STAMP", 'T', 8, 0, 0x04},
                  {"RATIO", 'B', 8, 3, 0x04}, {"PICTURE", 'G', 4, 0, 0},    {"ACTIVE", 'L', 1, 0, 0},
                  {"NOTES", 'M', 4, 0, 0},    {"AMOUNT", 'N', 8, 2, 0},     {"FACTOR", 'F', 10, 3, 0},
                  {"RAW", 'Q', 5, 0, 0},      {"TITLE", 'V', 10, 0, 0},     {"REMARK", 'C', 5, 0, 0x02},
                  {"_NullFlags", '0', 1, 0, 0x05}};
  const size_t n = sizeof expected / sizeof expected[0];
  ASSERT_EQ(b.size(), 32 * (n + 1) + 1 + 263);
  EXPECT_EQ(static_cast<uint8_t>(b[0]), 0x32);
  struct tm now {};
  localtime_r(&before, &now);
  EXPECT_EQ(static_cast<uint8_t>(b[1]), (now.tm_year + 1900) % 100);
  EXPECT_EQ(static_cast<uint8_t>(b[2]), now.tm_mon + 1);
  EXPECT_EQ(static_cast<uint8_t>(b[3]), now.tm_mday);
  EXPECT_EQ(u32(b, 4), 0u);
  EXPECT_EQ(u16(b, 8), 32 * (n + 1) + 1 + 263);
  uint32_t record_length = 1;
  for (auto& e : expected) record_length += e.width;
  EXPECT_EQ(u16(b, 10), record_length);
  EXPECT_EQ(std::string(b, 12, 16), std::string(16, '\0'));
  EXPECT_EQ(static_cast<uint8_t>(b[28]), 0x02);  // memo file, no structural index
  EXPECT_EQ(static_cast<uint8_t>(b[29]), 0x03);  // code page 1252
  EXPECT_EQ(u16(b, 30), 0);
  uint32_t displacement = 1;
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(expected[i].name);
    size_t d = 32 * (i + 1);
    char name[11] = {};
    std::strncpy(name, expected[i].name, 10);
    EXPECT_EQ(std::memcmp(b.data() + d, name, 11), 0);
    EXPECT_EQ(b[d + 11], expected[i].type);
    EXPECT_EQ(u32(b, d + 12), displacement);
    EXPECT_EQ(static_cast<uint8_t>(b[d + 16]), expected[i].width);
    EXPECT_EQ(static_cast<uint8_t>(b[d + 17]), expected[i].decimals);
    EXPECT_EQ(static_cast<uint8_t>(b[d + 18]), expected[i].flags);
    EXPECT_EQ(u32(b, d + 19), expected[i].type == 'I' ? 100u : 0u);
    EXPECT_EQ(static_cast<uint8_t>(b[d + 23]), expected[i].type == 'I' ? 5 : 0);
    EXPECT_EQ(std::string(b, d + 24, 8), std::string(8, '\0'));
    displacement += expected[i].width;
  }
  EXPECT_EQ(b[32 * (n + 1)], 0x0D);
  EXPECT_EQ(std::string(b, 32 * (n + 1) + 1), std::string(263, '\0'));

  // The memo file beside it: 512 bytes, next free block 8, block size 64.
  std::string memo = read_bytes(dir.path / "all.fpt");
  ASSERT_EQ(memo.size(), 512u);
  EXPECT_EQ(std::string(memo, 0, 8), std::string("\0\0\0\x08\0\0\0\x40", 8));

  auto dbf = open_dbf_file(String(path), OPEN_WRITE);
  EXPECT_EQ(dbf->version(), 0x32);
  ASSERT_EQ(dbf->fields.size(), n - 1);
  ASSERT_NE(dbf->null_flags, nullptr);
  EXPECT_EQ(dbf->system_fields.size(), 1u);
  EXPECT_EQ(dbf->memo_fields.size(), 3u);
  ASSERT_EQ(dbf->autoinc_fields.size(), 1u);
  EXPECT_EQ(dbf->autoinc_fields[0]->autoinc_next, 100u);
  EXPECT_NE(dbf->memo_file(), nullptr);
  EXPECT_FALSE(dbf->is_in_database());
  EXPECT_EQ(dbf->fields[12]->varlen_byte, static_cast<int32_t>(dbf->null_flags->displacement));
  EXPECT_EQ(dbf->fields[12]->varlen_mask, 1);
  EXPECT_EQ(dbf->fields[13]->varlen_mask, 2);
  EXPECT_EQ(dbf->fields[14]->null_mask, 4);
  uint32_t y, m, d;
  dbf->last_modified_yyyymmdd(&y, &m, &d);
  EXPECT_EQ(y, static_cast<uint32_t>(now.tm_year + 1900));
  EXPECT_EQ(m, static_cast<uint32_t>(now.tm_mon + 1));
  EXPECT_EQ(d, static_cast<uint32_t>(now.tm_mday));
}

TEST(DbfFile, Utf8WidthsCountBytes) {
  TempDir dir;
  auto dbf = create_table(dir.path / "u.dbf",
                          {field("C", FIELDINFO_CHAR, 10), field("V", FIELDINFO_VARCHAR, 3), field("Q", FIELDINFO_VARBINARY, 3)},
                          options(65001));
  EXPECT_EQ(dbf->codepage_mark(), 0xF1);
  EXPECT_EQ(dbf->fields[0]->width, 40u);
  EXPECT_EQ(dbf->fields[1]->width, 12u);
  EXPECT_EQ(dbf->fields[2]->width, 3u);
}

// The create limits: 1731 (or 39), or the limit itself with the clamp flag.
TEST(DbfFile, CreateLimits) {
  auto autoinc = [](size_t step, size_t next) {
    fielddef_st f = field("N", FIELDINFO_INTEGER);
    f.autoinc = 1;
    f.autoinc_step = step;
    f.autoinc_step_given = 1;
    f.autoinc_next = next;
    f.autoinc_next_given = 1;
    return f;
  };
  struct {
    fielddef_st def;
    int error;              // without clamp
    uint32_t width, decimals;  // with clamp (error 0: the same both ways)
  } cases[] = {
      {field("C", FIELDINFO_CHAR, 254), 0, 254, 0},
      {field("C", FIELDINFO_CHAR, 255), 1731, 254, 0},
      {field("C", FIELDINFO_CHAR, 100000), 1731, 254, 0},
      {field("N", FIELDINFO_NUMERIC, 20, 19), 0, 20, 19},
      {field("N", FIELDINFO_NUMERIC, 21, 2), 1731, 20, 2},
      {field("N", FIELDINFO_NUMERIC, 5, 5), 1731, 5, 5},
      {field("N", FIELDINFO_NUMERIC), 0, 10, 0},
      {field("B", FIELDINFO_DOUBLE, 0, 18), 0, 8, 18},
      {field("B", FIELDINFO_DOUBLE, 0, 19), 1731, 8, 18},
      {field("B", FIELDINFO_DOUBLE), 0, 8, 2},
      {field("Q", FIELDINFO_VARBINARY, 254), 0, 254, 0},
      {field("Q", FIELDINFO_VARBINARY, 255), 1731, 254, 0},
      {field("Q", FIELDINFO_VARBINARY), 0, 1, 0},
      {autoinc(255, 2147483647), 0, 4, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::string(1, fieldinfo_letter(c.def.type)) + std::to_string(c.def.length));
    for (bool clamp : {false, true}) {
      TempDir dir;
      createopts_st o = options();
      o.clamp = clamp;
      if (c.error != 0 && !clamp) {
        try {
          create_table(dir.path / "t.dbf", {c.def}, o);
          ADD_FAILURE() << "no error";
        } catch (const RuntimeError& e) {
          EXPECT_EQ(e.code, c.error);
        }
      } else {
        auto dbf = create_table(dir.path / "t.dbf", {c.def}, o);
        EXPECT_EQ(dbf->fields[0]->width, c.width);
        EXPECT_EQ(dbf->fields[0]->decimals, c.decimals);
      }
    }
  }
  // Errors the clamp flag does not change.
  fielddef_st always[] = {field("C", FIELDINFO_CHAR, 0), field("N", FIELDINFO_NUMERIC, 0), field("Q", FIELDINFO_VARBINARY, 0),
                          autoinc(0, 1), autoinc(256, 1), autoinc(1, 2147483648u)};
  for (auto& def : always) {
    TempDir dir;
    createopts_st o = options();
    o.clamp = 1;
    fielddef_st zero = def;
    if (def.type != FIELDINFO_INTEGER) zero.length_omitted = 0;
    try {
      create_table(dir.path / "t.dbf", {zero}, o);
      ADD_FAILURE() << "no error for " << fieldinfo_letter(def.type);
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1731);
    }
  }
  TempDir dir;
  try {
    create_table(dir.path / "t.dbf", {field("N", FIELDINFO_NUMERIC, 10, 256)});
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 39);
  }
}

TEST(DbfFile, FieldNamesAreUniqueAndShort) {
  TempDir dir;
  std::vector<fielddef_st> defs = {field("Amount", FIELDINFO_INTEGER), field("AMOUNT", FIELDINFO_INTEGER),
                                   field("TWELVECHARSX", FIELDINFO_INTEGER)};
  EXPECT_THROW(create_table(dir.path / "a.dbf", defs), dbf_error_field_name_dup_or_inv);
  EXPECT_THROW(create_table(dir.path / "b.dbf", {field("TWELVECHARSX", FIELDINFO_INTEGER)}),
               dbf_error_field_name_dup_or_inv);
  EXPECT_THROW(create_table(dir.path / "c.dbf", {field("two words", FIELDINFO_INTEGER)}),
               dbf_error_field_name_dup_or_inv);
  createopts_st o = options();
  o.accept_altered_names = 1;
  auto dbf = create_table(dir.path / "d.dbf", defs, o);
  EXPECT_STREQ(dbf->fields[0]->name, "Amount");
  EXPECT_STREQ(dbf->fields[1]->name, "AMOUNT2");
  EXPECT_STREQ(dbf->fields[2]->name, "TWELVECHAR");
}

TEST(DbfFile, CreateRefusals) {
  TempDir dir;
  EXPECT_THROW(create_table(dir.path / "a.dbf", {field("A", FIELDINFO_INTEGER)}, options(1200)),
               dbf_error_codepage_not_supported);
  // A file that is not empty is never overwritten.
  File* file = create_file(String(dir.path / "b.dbf"), 0);
  file->write("x", 1);
  createopts_st o = options();
  fielddef_st f = field("A", FIELDINFO_INTEGER);
  EXPECT_THROW(DbfFile::create(file, &o, &f, 1), dbf_error_file_exists);
}

// One rule names the memo file at create and at open, whatever the table's extension.
TEST(DbfFile, MemoTablesOfAnyExtensionReopen) {
  for (const char* name : {"x.txt", "noext", "form.scx", "T.DBF"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    create_table(dir.path / name, {field("M", FIELDINFO_MEMO)}).reset();
    String memo = memo_file_name(String(dir.path / name));
    EXPECT_TRUE(std::filesystem::exists(static_cast<std::filesystem::path>(memo)));
    auto dbf = open_dbf_file(String(dir.path / name), OPEN_WRITE);
    EXPECT_NE(dbf->memo_file(), nullptr);
    dbf.reset();
    std::filesystem::remove(static_cast<std::filesystem::path>(memo));
    EXPECT_THROW(open_dbf_file(String(dir.path / name), 0), dbf_fpt_file_missing);
  }
}

// Builds the image of a version 0x03 table with the given descriptors (name, type, width).
std::string basic_table(uint8_t version, std::vector<std::tuple<const char*, char, uint8_t, uint8_t>> fields,
                        uint32_t records = 0) {
  std::string b(32, '\0');
  b[0] = static_cast<char>(version);
  b[1] = 25;
  b[2] = 6;
  b[3] = 1;
  uint32_t displacement = 1;
  for (auto& [name, type, width, flags] : fields) {
    std::string d(32, '\0');
    std::memcpy(d.data(), name, std::strlen(name));
    d[11] = type;
    std::memcpy(d.data() + 12, &displacement, 4);
    d[16] = static_cast<char>(width);
    d[18] = static_cast<char>(flags);
    displacement += width;
    b += d;
  }
  b += '\x0D';
  uint16_t header = static_cast<uint16_t>(b.size());
  uint16_t record = static_cast<uint16_t>(displacement);
  std::memcpy(&b[4], &records, 4);
  std::memcpy(&b[8], &header, 2);
  std::memcpy(&b[10], &record, 2);
  b[29] = 0x03;
  b += std::string(static_cast<size_t>(records) * record, ' ');
  return b;
}

TEST(DbfFile, OpensBasicTablesAndIgnoresTheirNullableFlag) {
  TempDir dir;
  auto p = dir.path / "b.dbf";
  write_bytes(p, basic_table(0x03, {}));
  EXPECT_EQ(open_dbf_file(String(p), OPEN_WRITE)->record_length, 1u);
  write_bytes(p, basic_table(0x03, {{"NAME", 'C', 4, kFieldFlagNullable}, {"N", 'N', 3, 0}}, 2));
  auto dbf = open_dbf_file(String(p), OPEN_WRITE);
  EXPECT_EQ(dbf->fields[0]->null_byte, -1);
  EXPECT_FALSE(dbf->is_in_database());  // the first record is no backlink
  Variant v;
  dbf->fields[0]->get_variant(dbf.get(), dbf->fields[0], dbf->blank_record.get(), &v);
  EXPECT_EQ(v.tag, VT_STRING);
  EXPECT_THROW(dbf->fields[0]->active.set_null(dbf.get(), dbf->fields[0], dbf->current_record.get()),
               dbf_error_field_no_null_support);
}

// Bytes 12 to 15 of a basic-version descriptor are whatever its writer left there (zeros, the
// field's end, an address): the widths place the fields. The extended versions keep the check
// (the "displacement" case of DamagedImages), and the widths must still fill the record.
TEST(DbfFile, BasicTablesPlaceFieldsByWidth) {
  TempDir dir;
  auto p = dir.path / "w.dbf";
  std::string good = basic_table(0xF5, {{"NAME", 'C', 4, 0}, {"QTY", 'N', 3, 0}}, 1);
  std::memcpy(&good[good.size() - 8], " abc 42", 7);  // deletion byte, NAME "abc ", QTY " 42"
  const size_t name_at = 32 + 12, qty_at = 64 + 12;
  struct Case {
    const char* what;
    uint32_t name, qty;
  };
  for (auto c : {Case{"zeros", 0, 0}, Case{"field ends", 5, 8}, Case{"addresses", 0x1234567, 0x89ABCDEF}}) {
    SCOPED_TRACE(c.what);
    std::string b = good;
    std::memcpy(&b[name_at], &c.name, 4);
    std::memcpy(&b[qty_at], &c.qty, 4);
    write_bytes(p, b);
    auto dbf = open_dbf_file(String(p), OPEN_WRITE);
    EXPECT_EQ(dbf->fields[0]->displacement, 1u);
    EXPECT_EQ(dbf->fields[1]->displacement, 5u);
    dbf->go_top();
    Variant name, qty;
    dbf->get_variant(0, &name);
    EXPECT_EQ(name.string.u8str(), "abc ");
    dbf->get_variant(1, &qty);
    EXPECT_EQ(qty.tag, VT_NUMERIC);
    EXPECT_DOUBLE_EQ(qty.numeric.value, 42.0);
  }
  std::string short_record = good;
  short_record[10] = static_cast<char>(short_record[10] + 1);
  write_bytes(p, short_record);
  EXPECT_THROW(open_dbf_file(String(p), 0), dbf_error_file_corruption);
}

// An exclusive writer takes blocks ahead of its appends; killed before it closed, it leaves zero
// bytes behind its last record (and perhaps one record the header does not count yet). A writing
// open cuts them; a reading one sees no record in them; any other tail is still refused.
TEST(DbfFile, ZeroTailOfAKilledWriter) {
  TempDir dir;
  auto p = dir.path / "t.dbf";
  const std::string table = basic_table(0x03, {{"N", 'N', 4, 0}}, 2);
  const std::string unfinished(5, ' ');
  struct Case {
    const char* what;
    std::string tail;
    bool opens;
  };
  for (const Case& c : {Case{"zeros", std::string(70000, '\0'), true},
                        Case{"one record then zeros", unfinished + std::string(4000, '\0'), true},
                        Case{"zeros then a byte", std::string(300, '\0') + "x", false},
                        Case{"two records", unfinished + unfinished, false}}) {
    SCOPED_TRACE(c.what);
    write_bytes(p, table + c.tail);
    if (c.tail[0] == 0) {
      auto reader = open_dbf_file(String(p), 0);
      reader->go_top();
      reader->go_next();
      reader->go_next();
      EXPECT_TRUE(reader->eof);  // the zero records are not read as records
      EXPECT_EQ(reader->reccount(), 2u);
    }
    if (c.opens) {
      EXPECT_NO_THROW(open_dbf_file(String(p), OPEN_WRITE));
      EXPECT_EQ(read_bytes(p), table);
    } else {
      EXPECT_THROW(open_dbf_file(String(p), OPEN_WRITE), dbf_invalid_reccount_detected);
    }
  }
}

// Damaged images give the named exception kind, never an assertion.
TEST(DbfFile, DamagedImages) {
  TempDir dir;
  auto good = dir.path / "good.dbf";
  fielddef_st remark = field("REMARK", FIELDINFO_CHAR, 4);
  remark.null_mode = FIELDINFO_NULL;
  create_table(good, {field("NAME", FIELDINFO_CHAR, 4), field("BORN", FIELDINFO_DATE), remark}).reset();
  const std::string image = read_bytes(good);
  const size_t nf = 32 * 4;  // the _NullFlags descriptor

  using Edit = std::function<void(std::string&)>;
  auto byte = [](size_t at, uint8_t v) -> Edit { return [=](std::string& b) { b[at] = static_cast<char>(v); }; };
  struct Case {
    const char* what;
    Edit edit;
    std::function<void(const std::filesystem::path&)> expect;
  };
  auto expect = [](auto kind) {
    return [](const std::filesystem::path& p) { EXPECT_THROW(open_dbf_file(String(p), OPEN_WRITE), decltype(kind)); };
  };
  Case cases[] = {
      {"short header", [](std::string& b) { b.resize(20); }, expect(dbf_error_buffer_underrun())},
      {"cut descriptors", [](std::string& b) { b.resize(32 + 40); }, expect(dbf_error_buffer_underrun())},
      {"unknown version", byte(0, 0x04), expect(dbf_unsupported_version())},
      {"mark 0", byte(29, 0), expect(dbf_error_codepage_not_supported())},
      {"unknown mark", byte(29, 0x05), expect(dbf_error_codepage_not_supported())},
      {"unknown letter", byte(32 + 11, 'X'), expect(dbf_error_field_name_dup_or_inv())},
      {"varchar letter in 0x30", [](std::string& b) { b[0] = 0x30; b[32 + 11] = 'V'; },
       expect(dbf_error_field_name_dup_or_inv())},
      {"misnamed 0 field", byte(nf + 9, 'z'), expect(dbf_error_file_corruption())},
      {"header length", byte(8, static_cast<uint8_t>(image[8] + 1)), expect(dbf_error_file_corruption())},
      {"displacement", byte(64 + 12, 6), expect(dbf_error_file_corruption())},
      {"record length", byte(10, static_cast<uint8_t>(image[10] + 1)), expect(dbf_error_file_corruption())},
      {"D(10)",
       [](std::string& b) {
         b[64 + 16] = 10;  // BORN 8 -> 10, the fields behind it and the record 2 bytes further
         b[96 + 12] = static_cast<char>(b[96 + 12] + 2);
         b[nf + 12] = static_cast<char>(b[nf + 12] + 2);
         b[10] = static_cast<char>(b[10] + 2);
       },
       expect(dbf_error_file_corruption())},
      {"no terminator before the file ends", byte(32 * 5, 'A'), expect(dbf_error_buffer_underrun())},
      {"record count", byte(4, 1), expect(dbf_invalid_reccount_detected())},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string b = image;
    c.edit(b);
    auto p = dir.path / "bad.dbf";
    write_bytes(p, b);
    c.expect(p);
  }
  // A record count the file does not hold is only refused when the file is opened for writing.
  std::string b = image;
  b[4] = 1;
  write_bytes(dir.path / "count.dbf", b);
  EXPECT_NO_THROW(open_dbf_file(String(dir.path / "count.dbf"), 0));
  // 2.5 records with a count of 2 opens read-write; a count of 3 does not.
  auto p = dir.path / "half.dbf";
  std::string half = basic_table(0x03, {{"N", 'N', 4, 0}}, 2) + "  ";
  write_bytes(p, half);
  EXPECT_NO_THROW(open_dbf_file(String(p), OPEN_WRITE));
  half[4] = 3;
  write_bytes(p, half);
  EXPECT_THROW(open_dbf_file(String(p), OPEN_WRITE), dbf_invalid_reccount_detected);
  // Widths the codecs rely on.
  for (auto [type, width] : {std::pair{'I', 2}, {'B', 4}, {'Y', 4}, {'T', 9}}) {
    write_bytes(p, basic_table(0x30, {{"F", type, static_cast<uint8_t>(width), 0}}));
    std::string bytes = read_bytes(p);
    uint16_t header = static_cast<uint16_t>(bytes.size() + 263);
    std::memcpy(&bytes[8], &header, 2);
    write_bytes(p, bytes + std::string(263, '\0'));
    EXPECT_THROW(open_dbf_file(String(p), 0), dbf_error_file_corruption) << type;
  }
}

}  // namespace
}  // namespace qzbase
