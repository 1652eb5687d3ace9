// dbf_format.cpp - DBF header and descriptor images and the static tables of the format.
#include "tables/dbf_format.h"

#include <cstring>
#include <filesystem>

namespace qzbase {

namespace {

uint32_t get_u32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t get_u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put_u32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
void put_u16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

const dbf_version_st kVersions[] = {
    {0x02, 0x40000000, &dbf_types_basic, false},    {0x03, 0x40000000, &dbf_types_basic, false},
    {0x30, 0x7FFFFFFE, &dbf_types_extended, true},  {0x31, 0x7FFFFFFE, &dbf_types_extended, true},
    {0x32, 0x7FFFFFFE, &dbf_types_varchar, true},   {0xF5, 0x40000000, &dbf_types_basic, false},
};

// FieldinfoType code - 1 -> letter.
constexpr char kLetters[] = {'W', 'C', 'I', 'Y', 'D', 'T', 'B', 'G', 'L', 'M', 'N', 'F', 'Q', 'V'};

struct mark_pair_st {
  uint8_t mark;
  int codepage;
};
const mark_pair_st kMarks[] = {
    {0xF1, 65001}, {0x01, 437},  {0x69, 620},  {0x6A, 737},  {0x02, 850},   {0x64, 852},   {0x7B, 932},
    {0x79, 949},   {0xC8, 1250}, {0x6B, 857},  {0x67, 861},  {0x66, 865},   {0x65, 866},   {0x7C, 874},
    {0x68, 895},   {0x7A, 936},  {0x78, 950},  {0x96, 10007}, {0xC9, 1251}, {0x03, 1252},  {0xCB, 1253},
    {0xCA, 1254},  {0x7D, 1255}, {0x7E, 1256}, {0x04, 10000}, {0x98, 10006}, {0x97, 10029},
};
static_assert(sizeof kMarks / sizeof kMarks[0] == 27);

struct memo_extension_st {
  const char* table;
  const char* memo;
};
const memo_extension_st kMemoExtensions[] = {
    {".dbf", "fpt"}, {".scx", "sct"}, {".vcx", "vct"}, {".mnx", "mnt"}, {".dbc", "dct"}, {".frx", "frt"},
};

}  // namespace

const dbf_type_table_st dbf_types_basic{"basic", "CDFLMN"};
const dbf_type_table_st dbf_types_extended{"extended", "0BCDFGILMNTWY"};
const dbf_type_table_st dbf_types_varchar{"extended with varchar", "0BCDFGILMNTWYQV"};

bool dbf_type_table_st::has(char letter) const {
  QZ_TRACE;
  return letter != 0 && std::strchr(letters, letter) != nullptr;
}

const dbf_version_st* find_dbf_version(uint8_t version) {
  QZ_TRACE;
  for (const dbf_version_st& row : kVersions) {
    if (row.version == version) return &row;
  }
  return nullptr;
}

char fieldinfo_letter(uint8_t code) {
  QZ_TRACE;
  if (code == 0 || code > sizeof kLetters) return 0;
  return kLetters[code - 1];
}

uint8_t fieldinfo_code(char letter) {
  QZ_TRACE;
  for (size_t i = 0; i < sizeof kLetters; ++i) {
    if (kLetters[i] == letter) return static_cast<uint8_t>(i + 1);
  }
  return 0;
}

int codepage_of_mark(uint8_t mark) {
  QZ_TRACE;
  if (mark == 0) return 0;
  for (const mark_pair_st& row : kMarks) {
    if (row.mark == mark) return row.codepage;
  }
  return 0;
}

uint8_t mark_of_codepage(int codepage) {
  QZ_TRACE;
  for (const mark_pair_st& row : kMarks) {
    if (row.codepage == codepage) return row.mark;
  }
  return 0;
}

const char* memo_extension_for(const String& table_path) {
  QZ_TRACE;
  std::filesystem::path p = table_path;
  String extension(p.extension());
  for (const memo_extension_st& row : kMemoExtensions) {
    if (extension.cmp(String(row.table), Collation::unicode_machine_ci) == 0) return row.memo;
  }
  return "fpt";
}

String memo_file_name(const String& table_path) {
  QZ_TRACE;
  std::filesystem::path p = table_path;
  p.replace_extension(memo_extension_for(table_path));
  return String::create_from_path(p, table_path.get_charset());
}

void decode_dbf_header(const unsigned char* raw, dbf_header_st* out) {
  QZ_TRACE;
  out->version = raw[0];
  out->year = raw[1];
  out->month = raw[2];
  out->day = raw[3];
  out->record_count = get_u32(raw + 4);
  out->header_length = get_u16(raw + 8);
  out->record_length = get_u16(raw + 10);
  std::memcpy(out->kept, raw + 20, 8);
  out->flags = raw[28] & (kDbfFlagStructuralIndex | kDbfFlagMemo);
  out->codepage_mark = raw[29];
}

void encode_dbf_header(const dbf_header_st& header, unsigned char* raw) {
  QZ_TRACE;
  std::memset(raw, 0, kDbfHeaderSize);
  raw[0] = header.version;
  raw[1] = header.year;
  raw[2] = header.month;
  raw[3] = header.day;
  put_u32(raw + 4, header.record_count);
  put_u16(raw + 8, header.header_length);
  put_u16(raw + 10, header.record_length);
  std::memcpy(raw + 20, header.kept, 8);
  raw[28] = header.flags & (kDbfFlagStructuralIndex | kDbfFlagMemo);
  raw[29] = header.codepage_mark;
}

void dbf_header_date(time_t t, dbf_header_st* header) {
  QZ_TRACE;
  // Every append writes the header: the calendar date of one second is worked out once.
  thread_local time_t known = -1;
  thread_local struct tm tm {};
  if (t != known) {
    localtime_r(&t, &tm);
    known = t;
  }
  header->year = static_cast<uint8_t>((tm.tm_year + 1900) % 100);
  header->month = static_cast<uint8_t>(tm.tm_mon + 1);
  header->day = static_cast<uint8_t>(tm.tm_mday);
}

time_t dbf_header_time(const dbf_header_st& header, time_t now) {
  QZ_TRACE;
  struct tm today {};
  localtime_r(&now, &today);
  int this_year = today.tm_year + 1900;
  int year;
  if (header.year >= 100) {
    year = 1900 + header.year;
  } else {
    year = this_year - this_year % 100 + header.year;
    if (year > this_year) year -= 100;
  }
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = header.month < 1 ? 0 : header.month > 12 ? 11 : header.month - 1;
  tm.tm_mday = header.day < 1 ? 1 : header.day > 31 ? 31 : header.day;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

void decode_dbf_descriptor(const unsigned char* raw, dbf_descriptor_st* out) {
  QZ_TRACE;
  std::memcpy(out->name, raw, 11);
  out->type = static_cast<char>(raw[11]);
  out->displacement = get_u32(raw + 12);
  out->width = raw[16];
  out->decimals = raw[17];
  out->flags = raw[18];
  out->autoinc_next = get_u32(raw + 19);
  out->autoinc_step = raw[23];
}

void encode_dbf_descriptor(const dbf_descriptor_st& descriptor, unsigned char* raw) {
  QZ_TRACE;
  size_t n = strnlen(descriptor.name, 10);
  std::memset(raw, 0, 10);
  std::memcpy(raw, descriptor.name, n);
  raw[11] = static_cast<unsigned char>(descriptor.type);
  put_u32(raw + 12, descriptor.displacement);
  raw[16] = descriptor.width;
  raw[17] = descriptor.decimals;
  raw[18] = static_cast<unsigned char>((raw[18] & 0xF0) | (descriptor.flags & 0x0F));
  put_u32(raw + 19, descriptor.autoinc_next);
  raw[23] = descriptor.autoinc_step;
}

Concat& operator<<(Concat& c, FieldinfoType type) {
  QZ_TRACE;
  return c << static_cast<uint8_t>(type);
}

Concat& operator<<(Concat& c, FieldinfoNull mode) {
  QZ_TRACE;
  return c << static_cast<uint8_t>(mode);
}

Concat& operator<<(Concat& c, const fielddef_st& field) {
  QZ_TRACE;
  QZ_ASSERT(c.charset() == Charset::binary);
  c.append(String(reinterpret_cast<const char*>(&field), sizeof field, Charset::binary));
  return c;
}

}  // namespace qzbase
