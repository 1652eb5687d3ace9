// The DBF byte layout: header and descriptor images, header dates, and the static tables.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "tables/dbf_format.h"

namespace qzbase {
namespace {

TEST(DbfFormat, HeaderRoundTripKeepsBytes20To27AndOnlyKnownFlagBits) {
  unsigned char raw[32];
  for (int i = 0; i < 32; ++i) raw[i] = static_cast<unsigned char>(0xA0 + i);
  raw[0] = 0x30;
  raw[28] = 0xFF;
  raw[29] = 0x03;
  dbf_header_st h;
  decode_dbf_header(raw, &h);
  EXPECT_EQ(h.version, 0x30);
  EXPECT_EQ(h.record_count, 0xA7A6A5A4u);
  EXPECT_EQ(h.header_length, 0xA9A8);
  EXPECT_EQ(h.record_length, 0xABAA);
  EXPECT_EQ(h.flags, 3);
  unsigned char out[32];
  encode_dbf_header(h, out);
  EXPECT_EQ(std::memcmp(out, raw, 12), 0);
  for (int i = 12; i < 20; ++i) EXPECT_EQ(out[i], 0) << i;
  EXPECT_EQ(std::memcmp(out + 20, raw + 20, 8), 0);
  EXPECT_EQ(out[28], 3);
  EXPECT_EQ(out[29], 3);
  EXPECT_EQ(out[30], 0);
  EXPECT_EQ(out[31], 0);
}

// Months are stored 1 to 12, so that other readers date the table right.
TEST(DbfFormat, HeaderDatesStoreMonthsFromOne) {
  struct {
    int year, month, day;
    uint8_t y, m, d;
  } cases[] = {{2025, 1, 31, 25, 1, 31}, {2025, 3, 1, 25, 3, 1}, {1999, 12, 31, 99, 12, 31}, {2000, 2, 29, 0, 2, 29}};
  for (auto& c : cases) {
    struct tm tm {};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = 13;
    time_t t = mktime(&tm);
    dbf_header_st h;
    dbf_header_date(t, &h);
    EXPECT_EQ(h.year, c.y);
    EXPECT_EQ(h.month, c.m);
    EXPECT_EQ(h.day, c.d);
    // Read back: midnight of that day (within the century window of a 2030 "now").
    struct tm now_tm {};
    now_tm.tm_year = 2030 - 1900;
    now_tm.tm_mday = 1;
    time_t back = dbf_header_time(h, mktime(&now_tm));
    struct tm got {};
    localtime_r(&back, &got);
    int expected_year = c.year > 2030 ? c.year - 100 : c.year;
    EXPECT_EQ(got.tm_year + 1900, expected_year);
    EXPECT_EQ(got.tm_mon + 1, c.month);
    EXPECT_EQ(got.tm_mday, c.day);
  }
}

TEST(DbfFormat, HeaderYearsWindowAndYearsSince1900) {
  struct tm now_tm {};
  now_tm.tm_year = 2025 - 1900;
  now_tm.tm_mon = 5;
  now_tm.tm_mday = 1;
  time_t now = mktime(&now_tm);
  struct {
    uint8_t year;
    int expected;
  } cases[] = {{25, 2025}, {0, 2000}, {26, 1926}, {99, 1999}, {125, 2025}, {100, 2000}};
  for (auto& c : cases) {
    dbf_header_st h;
    h.year = c.year;
    h.month = 6;
    h.day = 1;
    time_t t = dbf_header_time(h, now);
    struct tm got {};
    localtime_r(&t, &got);
    EXPECT_EQ(got.tm_year + 1900, c.expected) << int(c.year);
  }
  dbf_header_st zero;  // month 0 and day 0 are held to January 1st
  zero.year = 24;
  time_t t = dbf_header_time(zero, now);
  struct tm got {};
  localtime_r(&t, &got);
  EXPECT_EQ(got.tm_mon, 0);
  EXPECT_EQ(got.tm_mday, 1);
}

TEST(DbfFormat, DescriptorKeepsByte10HighFlagBitsAndTail) {
  unsigned char raw[32];
  for (int i = 0; i < 32; ++i) raw[i] = static_cast<unsigned char>(0x40 + i);
  raw[18] = 0xF0;
  dbf_descriptor_st d;
  std::strcpy(d.name, "TOTAL");
  d.type = 'N';
  d.displacement = 0x01020304;
  d.width = 12;
  d.decimals = 2;
  d.flags = kFieldFlagNullable | kFieldFlagAutoinc;
  d.autoinc_next = 0x0A0B0C0D;
  d.autoinc_step = 7;
  encode_dbf_descriptor(d, raw);
  EXPECT_EQ(std::memcmp(raw, "TOTAL\0\0\0\0\0", 10), 0);
  EXPECT_EQ(raw[10], 0x4A);
  EXPECT_EQ(raw[11], 'N');
  EXPECT_EQ(raw[12], 0x04);
  EXPECT_EQ(raw[15], 0x01);
  EXPECT_EQ(raw[16], 12);
  EXPECT_EQ(raw[17], 2);
  EXPECT_EQ(raw[18], 0xFA);
  EXPECT_EQ(raw[19], 0x0D);
  EXPECT_EQ(raw[22], 0x0A);
  EXPECT_EQ(raw[23], 7);
  for (int i = 24; i < 32; ++i) EXPECT_EQ(raw[i], 0x40 + i);
  dbf_descriptor_st back;
  decode_dbf_descriptor(raw, &back);
  EXPECT_EQ(back.displacement, d.displacement);
  EXPECT_EQ(back.autoinc_next, d.autoinc_next);
  EXPECT_EQ(back.flags, 0xFA);
}

TEST(DbfFormat, VersionsTypesMarksAndMemoExtensions) {
  struct {
    uint8_t version;
    uint64_t max;
    bool backlink;
    const char* yes;
    const char* no;
  } versions[] = {{0x02, 0x40000000, false, "CDFLMN", "IBTYWGQV0"},
                  {0x03, 0x40000000, false, "CDFLMN", "IBTYWGQV0"},
                  {0xF5, 0x40000000, false, "CDFLMN", "IQV0"},
                  {0x30, 0x7FFFFFFE, true, "0BCDFGILMNTWY", "QVPX"},
                  {0x31, 0x7FFFFFFE, true, "0BCDFGILMNTWY", "QV"},
                  {0x32, 0x7FFFFFFE, true, "0BCDFGILMNTWYQV", "PX@"}};
  for (auto& v : versions) {
    const dbf_version_st* row = find_dbf_version(v.version);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->max_size, v.max);
    EXPECT_EQ(row->backlink, v.backlink);
    for (const char* p = v.yes; *p; ++p) EXPECT_TRUE(row->types->has(*p)) << int(v.version) << *p;
    for (const char* p = v.no; *p; ++p) EXPECT_FALSE(row->types->has(*p)) << int(v.version) << *p;
  }
  for (int version : {0x00, 0x01, 0x04, 0x83, 0x8B, 0xFB, 0x33}) EXPECT_EQ(find_dbf_version(version), nullptr);

  const char letters[] = "WCIYDTBGLMNFQV";
  for (uint8_t code = 1; code <= 14; ++code) {
    EXPECT_EQ(fieldinfo_letter(code), letters[code - 1]);
    EXPECT_EQ(fieldinfo_code(letters[code - 1]), code);
  }
  EXPECT_EQ(fieldinfo_letter(0), 0);
  EXPECT_EQ(fieldinfo_letter(15), 0);
  EXPECT_EQ(fieldinfo_code('0'), 0);

  EXPECT_EQ(codepage_of_mark(0x03), 1252);
  EXPECT_EQ(codepage_of_mark(0xF1), 65001);
  EXPECT_EQ(codepage_of_mark(0x97), 10029);
  EXPECT_EQ(codepage_of_mark(0), 0);
  EXPECT_EQ(codepage_of_mark(0x05), 0);
  EXPECT_EQ(mark_of_codepage(437), 0x01);
  EXPECT_EQ(mark_of_codepage(895), 0x68);
  EXPECT_EQ(mark_of_codepage(1200), 0);

  struct {
    const char* table;
    const char* memo;
  } names[] = {{"/d/orders.dbf", "/d/orders.fpt"}, {"/d/ORDERS.DBF", "/d/ORDERS.fpt"}, {"/d/form.SCX", "/d/form.sct"},
               {"/d/lib.vcx", "/d/lib.vct"},       {"/d/menu.mnx", "/d/menu.mnt"},     {"/d/db.dbc", "/d/db.dct"},
               {"/d/rep.frx", "/d/rep.frt"},       {"/d/x.txt", "/d/x.fpt"},           {"/d/noext", "/d/noext.fpt"}};
  for (auto& n : names) EXPECT_EQ(memo_file_name(String(n.table)).u8str(), n.memo) << n.table;
}

}  // namespace
}  // namespace qzbase
