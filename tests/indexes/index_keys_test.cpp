// Index keys: the exact bytes of every builder, their order under memcmp, nullable keys, text
// held in another character set than the table's, raw key steps and collation names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "index_support.h"
#include "indexes/index_keys.h"
#include "tables/dbf_exceptions.h"

using namespace qzbase;
using namespace qzbase::index_testing;

namespace {

Variant integer(int64_t v) {
  Variant r;
  r.set(integer_type_st{v});
  return r;
}
Variant numeric(double v) {
  Variant r;
  r.set_float(v, 2);
  return r;
}
Variant money(__int128 raw) {
  Variant r;
  money_type_st m;
  m.value = raw;
  r.set(m);
  return r;
}
Variant date(uint32_t day) {
  Variant r;
  r.set(date_st{day});
  return r;
}
Variant datetime(uint32_t day, int32_t ms) {
  Variant r;
  r.set(datetime_st{day, ms});
  return r;
}
Variant text(const char* bytes, const Charset* cs) {
  Variant r;
  r.set_string(String::fromBytes(bytes, std::strlen(bytes), cs));
  return r;
}
Variant null_value() {
  Variant r;
  r.set_null();
  return r;
}

// A tag that builds keys only (no file), in a code page 1252 table.
struct KeyTag {
  Index index{nullptr, 0, cp1252()};
  KeyTag(int type, uint16_t length, bool nullable = false, bool binary = false, bool nocptrans = false) {
    index.header.key_length = length;
    index.header.options = nullable ? IDX_OPT_NULLABLE : 0;
    index.set_collation(collation_for_group(cp1252(), String("MACHINE")));
    index.choose_key_builder(type, binary, nocptrans);
  }
  std::string key(const Variant& v, bool pad = true, size_t* returned = nullptr) {
    char buffer[kIndexMaxKeyLength];
    std::memset(buffer, 0x5A, sizeof buffer);
    const size_t n = index.create_key(&v, buffer, index.key_length(), pad);
    if (returned) *returned = n;
    return hex(bytes_of(buffer, index.key_length()));
  }
};

std::string n8(double v) {
  char b[8];
  keyN8(v, b, 8);
  return hex(bytes_of(b, 8));
}

}  // namespace

TEST(IndexKeys, NumericKeys) {
  EXPECT_EQ(n8(0.0), "80 00 00 00 00 00 00 00");
  EXPECT_EQ(n8(-0.0), "80 00 00 00 00 00 00 00");
  EXPECT_EQ(n8(1.0), "BF F0 00 00 00 00 00 00");
  EXPECT_EQ(n8(-1.0), "40 0F FF FF FF FF FF FF");
  EXPECT_EQ(n8(2.0), "C0 00 00 00 00 00 00 00");
  char small[7];
  try {
    keyN8(1.0, small, 7);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
    EXPECT_EQ(e.detail.u8str(), "buffer too small.");
  }
  // memcmp order is numeric order, across signs and magnitudes.
  std::vector<double> values = {-1e300, -2.5, -1.0, -1e-300, -0.0, 0.0, 1e-300, 0.5, 1.0, 3.0, 1e300,
                                -HUGE_VAL, HUGE_VAL};
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) values.push_back(std::uniform_real_distribution<double>(-1e6, 1e6)(rng));
  std::sort(values.begin(), values.end());
  for (size_t i = 1; i < values.size(); ++i) {
    char a[8], b[8];
    keyN8(values[i - 1], a, 8);
    keyN8(values[i], b, 8);
    const int c = std::memcmp(a, b, 8);
    if (values[i - 1] == values[i]) {
      EXPECT_EQ(c, 0) << values[i];
    } else {
      EXPECT_LT(c, 0) << values[i - 1] << " " << values[i];
    }
  }
}

TEST(IndexKeys, IntegerKeysKeepTheirOrderOrRefuseTheValue) {
  KeyTag tag(INDEX_KEY_INTEGER, 4);
  EXPECT_EQ(tag.key(integer(-1)), "7F FF FF FF");
  EXPECT_EQ(tag.key(integer(0)), "80 00 00 00");
  EXPECT_EQ(tag.key(integer(INT32_MAX)), "FF FF FF FF");
  EXPECT_EQ(tag.key(integer(INT32_MIN)), "00 00 00 00");
  // 2^32 + 1 would wrap onto the key of 1, sorting below 2: the key cannot hold it.
  for (int64_t v : {int64_t{INT32_MAX} + 1, int64_t{INT32_MIN} - 1, int64_t{1} << 32}) {
    try {
      tag.key(integer(v));
      FAIL() << v;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 39) << v;
    }
  }
}

TEST(IndexKeys, CurrencyKeys) {
  KeyTag tag(INDEX_KEY_CURRENCY, 8);
  EXPECT_EQ(tag.key(money(10000)), "80 00 00 00 00 00 27 10");
  EXPECT_EQ(tag.key(money(-10000)), "7F FF FF FF FF FF D8 F0");
  EXPECT_EQ(tag.key(money(INT64_MAX)), "FF FF FF FF FF FF FF FF");
  EXPECT_EQ(tag.key(money(INT64_MIN)), "00 00 00 00 00 00 00 00");
  // Beyond the signed 64-bit range the key would wrap below the negative values.
  const __int128 big = static_cast<__int128>(INT64_MAX) + 1;
  EXPECT_THROW(tag.key(money(big)), std::overflow_error);
  EXPECT_THROW(tag.key(money(-big - 1)), std::overflow_error);
}

TEST(IndexKeys, DateAndDatetimeKeys) {
  KeyTag d(INDEX_KEY_DATE, 8);
  EXPECT_EQ(d.key(date(2460000)), n8(2460000));
  EXPECT_EQ(d.key(datetime(2460000, 43200000)), n8(2460000));  // the time is ignored
  try {
    d.key(numeric(5));
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 11);
  }
  KeyTag t(INDEX_KEY_DATETIME, 8);
  EXPECT_EQ(t.key(date(2460000)), n8(2460000));
  EXPECT_EQ(t.key(datetime(2460000, 43200000)), n8(2460000.5));
  EXPECT_THROW(t.key(integer(1)), RuntimeError);
}

TEST(IndexKeys, LogicalAndNumericBuilders) {
  KeyTag l(INDEX_KEY_LOGICAL, 1);
  Variant yes, no;
  yes.set_true();
  no.set_false();
  EXPECT_EQ(l.key(yes), "54");
  EXPECT_EQ(l.key(no), "46");
  KeyTag n(INDEX_KEY_NUMERIC, 8);
  EXPECT_EQ(n.key(numeric(-1.0)), "40 0F FF FF FF FF FF FF");
  EXPECT_EQ(n.key(integer(2)), "C0 00 00 00 00 00 00 00");
}

TEST(IndexKeys, NullableKeys) {
  KeyTag tag(INDEX_KEY_INTEGER, 5, true);
  size_t n = 0;
  EXPECT_EQ(tag.key(null_value(), true, &n), "00 00 00 00 00");
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(tag.key(integer(0), true, &n), "80 80 00 00 00");
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(tag.key(integer(-1)), "80 7F FF FF FF");
  EXPECT_THROW(KeyTag(3, 4), dbf_error_type_index_expression);
}

TEST(IndexKeys, CharacterKeys) {
  // Through the collation (MACHINE of code page 1252: the bytes, blank-padded).
  KeyTag c(INDEX_KEY_CHARACTER, 6);
  size_t n = 0;
  EXPECT_EQ(c.key(text("abc", cp1252()), true, &n), "61 62 63 20 20 20");
  EXPECT_EQ(n, 6u);
  c.key(text("abc", cp1252()), false, &n);
  EXPECT_EQ(n, 3u);
  // Binary text: raw bytes, zero filler.
  KeyTag b(INDEX_KEY_CHARACTER, 5, false, true);
  EXPECT_EQ(b.key(text("\xC3\xA9", Charset::binary), false, &n), "C3 A9 00 00 00");
  EXPECT_EQ(n, 2u);
  // Without translation: blank filler, cut at the key length.
  KeyTag raw(INDEX_KEY_CHARACTER, 4, false, false, true);
  EXPECT_EQ(raw.key(text("abcdef", cp1252())), "61 62 63 64");
}

TEST(IndexKeys, NullableCharacterKeyStoresTheTableCharset) {
  KeyTag tag(INDEX_KEY_CHARACTER, 8, true);
  // "Grüße" held in UTF-8 is stored as the table's code page 1252 bytes, as its field holds it.
  EXPECT_EQ(tag.key(text("Gr\xC3\xBC\xC3\x9F" "e", Charset::utf8)), "80 47 72 FC DF 65 20 20");
  EXPECT_EQ(tag.key(text("Gr\xFC\xDF" "e", cp1252())), "80 47 72 FC DF 65 20 20");
  EXPECT_EQ(tag.key(text("Gr\xFC\xDF" "e", get_charset_by_codepage(1252, true))), "80 47 72 FC DF 65 20 20");
  EXPECT_EQ(tag.key(null_value()), "00 00 00 00 00 00 00 00");
  // Cut at the key length, never in the middle of what the conversion wrote.
  EXPECT_EQ(tag.key(text("\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC", Charset::utf8)),
            "80 FC FC FC FC FC FC FC");
  // A character the table's code page lacks is refused, not stored as something else.
  EXPECT_THROW(tag.key(text("\xE2\x82\xAC\xE4\xB8\xAD", Charset::utf8)), dbf_error_cptrans_char_lost);
  // Binary text stays raw.
  KeyTag bin(INDEX_KEY_CHARACTER, 4, true, true);
  EXPECT_EQ(bin.key(text("\xC3\xBC", Charset::binary)), "80 C3 BC 00");
}

TEST(IndexKeys, RawKeySteps) {
  struct Case {
    std::string in;
    bool increase;
    std::string out;
    bool result;
  };
  const Case cases[] = {
      {std::string("\x00\xFF", 2), true, std::string("\x01\x00", 2), true},
      {std::string("\xFF\xFF", 2), true, std::string("\x00\x00", 2), false},
      {std::string("\x41\x42", 2), true, std::string("\x41\x43", 2), true},
      {std::string("\x01\x00", 2), false, std::string("\x00\xFF", 2), true},
      {std::string("\x00\x00", 2), false, std::string("\xFF\xFF", 2), false},
      {std::string("", 0), true, std::string("", 0), false},
      {std::string("", 0), false, std::string("", 0), false},
  };
  for (const Case& c : cases) {
    std::string k = c.in;
    EXPECT_EQ(c.increase ? IncreaseRawKey(k.data(), k.size()) : ShrinkRawKey(k.data(), k.size()), c.result);
    EXPECT_EQ(k, c.out);
    std::string copy(c.in.size(), '?');
    EXPECT_EQ(c.increase ? IncreaseRawKey(c.in.data(), c.in.size(), copy.data())
                         : ShrinkRawKey(c.in.data(), c.in.size(), copy.data()),
              c.result);
    EXPECT_EQ(copy, c.out);
  }
}

TEST(IndexKeys, CollationNames) {
  const char* names[] = {"MACHINE", "GENERAL", "GREEK",  "GERMAN", "POLISH",  "TURKISH", "ICELAND", "NORDAN",
                         "SWEFIN",  "RUSSIAN", "THAI",   "CZECH",  "SLOVAK",  "HUNGARY", "SPANISH", "DUTCH"};
  for (uint32_t group = 1; group <= 16; ++group) {
    std::string upper = names[group - 1];
    std::string lower = upper, mixed = upper;
    for (size_t i = 0; i < upper.size(); ++i) {
      lower[i] = static_cast<char>(std::tolower(upper[i]));
      if (i % 2) mixed[i] = lower[i];
    }
    EXPECT_EQ(collation_group_by_name(String(upper.c_str())), group) << upper;
    EXPECT_EQ(collation_group_by_name(String(lower.c_str())), group) << lower;
    EXPECT_EQ(collation_group_by_name(String::fromBytes(mixed.data(), mixed.size(), cp1252())), group) << mixed;
  }
  EXPECT_EQ(collation_group_by_name(String("")), 1u);
  EXPECT_EQ(collation_group_by_name(String("FRENCH")), 0u);
  EXPECT_EQ(collation_group_by_name(String("MACHINEX")), 0u);

  EXPECT_EQ(collation_for_group(cp1252(), String("general"))->group(), 2u);
  EXPECT_EQ(collation_for_group(cp1252(), String("general"))->codepage(), 1252u);
  EXPECT_EQ(collation_for_group(cp1252(), String(""))->group(), 1u);
  EXPECT_EQ(collation_for_group(get_charset_by_codepage(1250, false), String("Hungary"))->group(), 14u);
  EXPECT_THROW(collation_for_group(cp1252(), String("FRENCH")), dbf_error_collation_not_supported);
  // A known name whose group the code page lacks.
  EXPECT_THROW(collation_for_group(cp1252(), String("THAI")), dbf_error_collation_not_supported);
  EXPECT_THROW(collation_for_group(cp1252(), String("GREEK")), dbf_error_collation_not_supported);
}
