// dbf_format.h - the byte layout of a DBF file: header, field descriptors and the static tables
// that belong to them (versions, field types, code-page marks, memo extensions).
//
// Everything here is pure: images of 32 bytes in, records out, and the reverse. DbfFile reads and
// writes the images; nothing here touches a file. All integers are little-endian.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <ctime>

namespace qzbase {

inline constexpr size_t kDbfHeaderSize = 32;
inline constexpr size_t kDbfDescriptorSize = 32;
inline constexpr size_t kDbfBacklinkSize = 263;
inline constexpr char kDbfTerminator = 0x0D;
inline constexpr char kDbfDeletedMark = '*';
inline constexpr char kDbfLiveMark = ' ';
// The name of the system field that holds the null and varlen bits.
inline constexpr const char kNullFlagsName[] = "_NullFlags";
inline constexpr char kNullFlagsType = '0';

// Header flag bits (byte 28).
inline constexpr uint8_t kDbfFlagStructuralIndex = 1;
inline constexpr uint8_t kDbfFlagMemo = 2;

// Descriptor flag bits (byte 18); bits 4 to 7 are kept as read.
inline constexpr uint8_t kFieldFlagSystem = 1;
inline constexpr uint8_t kFieldFlagNullable = 2;
inline constexpr uint8_t kFieldFlagBinary = 4;
inline constexpr uint8_t kFieldFlagAutoinc = 8;

// The letters one version accepts.
struct dbf_type_table_st {
  const char* name;
  const char* letters;
  bool has(char letter) const;
};
extern const dbf_type_table_st dbf_types_basic;
extern const dbf_type_table_st dbf_types_extended;
extern const dbf_type_table_st dbf_types_varchar;

struct dbf_version_st {
  uint8_t version;
  uint64_t max_size;  // the largest legal file size, also the base of every lock offset
  const dbf_type_table_st* types;
  bool backlink;      // a 263-byte database-container name follows the terminator
};
// The row of a version byte; null for a version this layer does not read.
const dbf_version_st* find_dbf_version(uint8_t version);
// The version every created table gets.
inline constexpr uint8_t kDbfCreateVersion = 0x32;

// FieldinfoType <-> type letter; 0 for an unknown code or letter.
char fieldinfo_letter(uint8_t code);
uint8_t fieldinfo_code(char letter);

// Code-page marks (header byte 29) <-> code page numbers; 0 when the value has no pair.
int codepage_of_mark(uint8_t mark);
uint8_t mark_of_codepage(int codepage);

// The memo extension of a table file name, by the table's extension compared without regard to
// case: ".dbf" -> "fpt", ".scx" -> "sct", and so on; "fpt" for any other extension and for none,
// so that create and open agree on every name.
const char* memo_extension_for(const String& table_path);
// The table path with its extension replaced by memo_extension_for (added when there is none).
String memo_file_name(const String& table_path);

// The 32-byte header as values.
struct dbf_header_st {
  uint8_t version = 0;
  uint8_t year = 0;   // year modulo 100
  uint8_t month = 0;  // 1 .. 12
  uint8_t day = 0;    // 1 .. 31
  uint32_t record_count = 0;
  uint16_t header_length = 0;
  uint16_t record_length = 0;
  uint8_t kept[8] = {};  // bytes 20 .. 27, written back as read
  uint8_t flags = 0;     // kDbfFlagStructuralIndex | kDbfFlagMemo
  uint8_t codepage_mark = 0;
};
void decode_dbf_header(const unsigned char* raw, dbf_header_st* out);
// Bytes 12 .. 19 and 30 .. 31 are written as zero; of byte 28 only the two known bits.
void encode_dbf_header(const dbf_header_st& header, unsigned char* raw);

// The header date of a time (local time): year modulo 100, month 1 .. 12, day.
void dbf_header_date(time_t t, dbf_header_st* header);
// The local midnight of a header date. A year byte of 100 and above is taken as years since 1900
// (some writers store it so); below 100 it falls in the current century unless that would lie
// in the future, then in the one before. Month and day are held to 1 .. 12 and 1 .. 31.
time_t dbf_header_time(const dbf_header_st& header, time_t now);

// One 32-byte field descriptor as values.
struct dbf_descriptor_st {
  char name[11] = {};  // NUL-padded; at most 10 bytes are written
  char type = 0;
  uint32_t displacement = 0;
  uint8_t width = 0;
  uint8_t decimals = 0;
  uint8_t flags = 0;
  uint32_t autoinc_next = 0;
  uint8_t autoinc_step = 0;
};
void decode_dbf_descriptor(const unsigned char* raw, dbf_descriptor_st* out);
// Writes into raw (which holds the descriptor as read): the name's first bytes up to 10, the
// values and the four known flag bits; byte 10, the high flag bits and bytes 24 .. 31 stay.
void encode_dbf_descriptor(const dbf_descriptor_st& descriptor, unsigned char* raw);

// The one-byte codes; a whole fielddef_st as its raw bytes (the Concat must be binary).
Concat& operator<<(Concat& c, FieldinfoType type);
Concat& operator<<(Concat& c, FieldinfoNull mode);
Concat& operator<<(Concat& c, const fielddef_st& field);

}  // namespace qzbase
