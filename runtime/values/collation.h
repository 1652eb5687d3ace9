// collation.h - the kinds of collation, the weight tables and the collation registry.
// Internal header.
//
// The base class Collation and the exported lookups are public (qzbase.h). This header adds the
// record collation_st and:
//   Unicode_Machine, Unicode_Machine_CI  compare characters (code-point order, without case)
//   Generic_Machine_Coll, Debug_Collation raw-byte keys (MACHINE order)
//   Mapped_Collation                     weight-table keys of one code page and language group
// and the 48 weight tables, which are generated at build time by gen/collation/ (never in git).
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "values/charset_registry.h"

namespace qzbase {

// One collation record; the static table (collation_table, 77 rows) describes every collation.
struct collation_st {
  uint64_t colid;     // group x 1000 + number of the code page; 1 and 1002 for the unicode rows
  const char* name;   // e.g. "windows_1252_spanish_ci"
  uint32_t codepage;  // table-file code page; 39 in the two unicode rows (no charset)
  uint32_t group;     // CollationGroup
  Collation* (*factory)(const collation_st* record);
};

// One row of a weight table.
struct collation_entry_st {
  uint32_t kind;   // 0..8, see below
  uint8_t c1;      // first character (a byte of the code page)
  uint8_t c2;      // second character (kinds 6, 7, 8)
  uint8_t c3;      // third character (kind 8)
  uint8_t w1;      // first primary weight; kind 2: first character of the expansion
  uint8_t w2;      // second primary weight (kinds 3, 4, 5); kind 2: second character of the expansion
  uint8_t reserved;
  uint8_t s1;      // first secondary weight (kinds 1, 4, 5, 7)
  uint8_t s2;      // second secondary weight (kind 5)
  uint8_t flags[4];  // 0 in the tables; Mapped_Collation's copies: [0] starts a 2-char entry, [1] a 3-char one
};
static_assert(sizeof(collation_entry_st) == 16);

// Entry kinds.
enum : uint32_t {
  COLL_ONE = 0,         // one character, one primary
  COLL_ONE_SEC = 1,     // one character, primary and secondary
  COLL_EXPAND = 2,      // one character expanded into two characters, mapped in turn
  COLL_TWO_PRI = 3,     // one character, two primaries
  COLL_TWO_PRI_SEC = 4, // one character, two primaries, one secondary
  COLL_TWO_TWO = 5,     // one character, two primaries, two secondaries
  COLL_DIGRAPH = 6,     // two characters, one primary
  COLL_DIGRAPH_SEC = 7, // two characters, one primary, one secondary
  COLL_TRIGRAPH = 8,    // three characters, one primary
};

constexpr size_t kCollationTableSize = 77;
extern const collation_st collation_table[kCollationTableSize];

class Unicode_Machine : public Collation {
 public:
  explicit Unicode_Machine(const collation_st* record, const Charset* cs, char pad, size_t width)
      : Collation(record, cs, pad, width) {}
  ~Unicode_Machine() override;
  using Collation::compare;
  int compare(char32_t a, char32_t b) const override { return a < b ? -1 : (a > b ? 1 : 0); }
};

class Unicode_Machine_CI : public Collation {
 public:
  explicit Unicode_Machine_CI(const collation_st* record, const Charset* cs, char pad, size_t width)
      : Collation(record, cs, pad, width) {}
  ~Unicode_Machine_CI() override;
  using Collation::compare;
  int compare(char32_t a, char32_t b) const override;
  unsigned int hash(const char* begin, const char* end, const Charset* cs) const override;
};

class Generic_Machine_Coll : public Collation {
 public:
  explicit Generic_Machine_Coll(const collation_st* record, const Charset* cs, char pad, size_t width)
      : Collation(record, cs, pad, width) {}
  ~Generic_Machine_Coll() override;
  using Collation::create_char_key;
  size_t create_char_key(const char* src, size_t len, bool pad, char* key, size_t keylen) const override;
};

// Raw-byte keys padded with 0xFF. No collation record creates one.
class Debug_Collation : public Collation {
 public:
  explicit Debug_Collation(const collation_st* record, const Charset* cs)
      : Collation(record, cs, static_cast<char>(0xFF), 1) {}
  ~Debug_Collation() override;
  using Collation::create_char_key;
  size_t create_char_key(const char* src, size_t len, bool pad, char* key, size_t keylen) const override;
};

class Mapped_Collation : public Collation {
 public:
  // table: n entries; exactly one single-character entry (kinds 0..5) per byte value, else (or for
  // n = 0) assert_failed_exception.
  Mapped_Collation(const collation_st* record, const Charset* cs, const collation_entry_st* table, size_t n);
  ~Mapped_Collation() override;
  using Collation::create_char_key;
  size_t create_char_key(const char* src, size_t len, bool pad, char* key, size_t keylen) const override;

  const collation_entry_st& entry(uint8_t c) const { return chars_[c]; }

 private:
  // Output of one key: primary weights into key (bounded by keylen), secondary weights into a
  // separate bounded buffer.
  struct KeyOut {
    char* primary;
    size_t p;
    size_t pcap;
    uint8_t* secondary;
    size_t s;
    size_t scap;
    void pri(uint8_t w) {
      if (p < pcap) primary[p++] = static_cast<char>(w);
    }
    void sec(uint8_t w) {
      if (s < scap) secondary[s++] = w;
    }
  };
  void map_single_character(const uint8_t* src, size_t* pos, size_t len, KeyOut* out, int depth) const;

  collation_entry_st chars_[256];
  std::unordered_map<uint32_t, collation_entry_st> two_;
  std::unordered_map<uint32_t, collation_entry_st> three_;
};

template <class T>
Collation* generic_collation_factory(const collation_st* record) {
  return new T(record, get_charset_by_codepage(static_cast<int>(record->codepage), false), ' ', 1);
}

template <size_t Size, const collation_entry_st* Table>
Collation* mapped_collation_factory(const collation_st* record) {
  return new Mapped_Collation(record, get_charset_by_codepage(static_cast<int>(record->codepage), false), Table,
                              Size / sizeof(collation_entry_st));
}

// The decoding of each code page's 256 bytes that the generator derived the tables from (for the
// tests); null for a code page without a weight table.
const char32_t* collation_source_units(int codepage);

// The 48 generated weight tables (the generated definitions must
// agree, which the compiler checks).
#define QZ_COLLATION_TABLES(X)                                                                     \
  X(437, dutch, 256) X(437, general, 256) X(437, german, 256) X(437, iceland, 256)                \
  X(437, nordan, 260) X(437, spanish, 264) X(437, swefin, 256) X(620, general, 256)               \
  X(620, polish, 256) X(737, greek, 256) X(850, dutch, 256) X(850, general, 256)                  \
  X(850, iceland, 256) X(850, nordan, 260) X(850, spanish, 264) X(850, swefin, 256)               \
  X(852, general, 256) X(857, general, 256) X(857, turkish, 256) X(861, general, 256)             \
  X(861, iceland, 256) X(865, general, 256) X(865, nordan, 260) X(865, swefin, 256)               \
  X(866, russian, 256) X(895, general, 256) X(895, czech, 260) X(895, slovak, 260)                \
  X(1250, general, 256) X(1250, czech, 260) X(1250, hungary, 304) X(1250, polish, 256)            \
  X(1250, slovak, 260) X(1251, russian, 256) X(1252, general, 256) X(1252, german, 256)           \
  X(1252, nordan, 260) X(1252, spanish, 264) X(1252, swefin, 256) X(1253, greek, 256)             \
  X(1254, general, 256) X(1254, turkish, 256) X(10000, dutch, 256) X(10000, general, 256)         \
  X(10000, german, 256) X(10000, nordan, 260) X(10000, spanish, 264) X(10000, swefin, 256)

#define QZ_DECLARE_COLLATION_TABLE(cp, group, rows) \
  extern const collation_entry_st codepage_##cp##_##group##_ci_table[rows];
QZ_COLLATION_TABLES(QZ_DECLARE_COLLATION_TABLE)
#undef QZ_DECLARE_COLLATION_TABLE

}  // namespace qzbase

namespace qzbase {

// Library start-up and unload: idempotent and thread-safe. Init sets the two globals;
// cleanup deletes every cached collation and sets them to null.
void __init_collations();
void __cleanup_collations();

}  // namespace qzbase
