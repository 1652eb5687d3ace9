// Tests of keyword_map_init and keyword_map_find, the routine the scanner
// shares with SET DATE TO and CURSORGETPROP.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frontend/keyword_map.h"

namespace qzbase {
namespace {

struct three_word_row {
  const char32_t* word;
  uint64_t id;
  uint64_t min_length;
};

// The layout of the SET DATE TO rows: {keyword, u32 format code, mark text, u64 hours, u64 minimum}.
struct five_word_row {
  const char32_t* word;
  uint32_t format;
  const char* mark;
  uint64_t hours;
  uint64_t min_length;
};

template <class Row>
const Row* lookup(const keyword_map<Row>& map, const char* text, const Charset* cs = Charset::ascii) {
  return map.find(text, text + std::strlen(text), cs);
}

TEST(KeywordMap, WholeWordsAndPrefixes) {
  static const three_word_row rows[] = {
      {U"AUTOINCERROR", 1, 4}, {U"ON", 2, 0}, {U"OFF", 3, 0}, {U"LONG", 4, 4}, {nullptr, 0, 0}};
  keyword_map<three_word_row> map;
  keyword_map_init(map, rows);
  // AUTOINCERROR: 1 + 8 prefixes (4..11); ON, OFF; LONG: m == n, no prefix.
  EXPECT_EQ(map.size(), 12u);
  EXPECT_EQ(lookup(map, "autoinc")->id, 1u);
  EXPECT_EQ(lookup(map, "AUTO")->id, 1u);
  EXPECT_EQ(lookup(map, "AutoIncError")->id, 1u);
  EXPECT_EQ(lookup(map, "AUT"), nullptr);
  EXPECT_EQ(lookup(map, "AUTOINCERRORS"), nullptr);
  EXPECT_EQ(lookup(map, "on")->id, 2u);
  EXPECT_EQ(lookup(map, "O"), nullptr);
  EXPECT_EQ(lookup(map, "long")->id, 4u);
  EXPECT_EQ(lookup(map, "LON"), nullptr);
  EXPECT_EQ(lookup(map, ""), nullptr);

  // Keys held in UTF-32 match a text in any charset.
  String wide("Autoi");
  wide.convert(Charset::utf16le, CON_NONE, 0);
  EXPECT_EQ(map.find(wide.read(), wide.end(), wide.get_charset())->id, 1u);

  // The bucket lookup with a precomputed hash.
  const char* key = "OFF";
  uint32_t hash = keyword_ci_hash(key, key + 3, Charset::ascii);
  keyword_key_st k{key, 3, Charset::ascii};
  const auto* node = keyword_map_find(map, map.bucket(hash), k, hash);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(static_cast<const three_word_row*>(node->row)->id, 3u);
  EXPECT_EQ(keyword_map_find(map, map.bucket(hash), keyword_key_st{"OF", 2, Charset::ascii},
                             keyword_ci_hash("OF", "OF" + 2, Charset::ascii)),
            nullptr);
}

TEST(KeywordMap, FiveWordRows) {
  static const five_word_row rows[] = {
      {U"AMERICAN", 0, "/", 12, 4}, {U"ANSI", 1, ".", 24, 0}, {U"BRITISH", 2, "/", 24, 4}, {nullptr, 0, nullptr, 0, 0}};
  keyword_map<five_word_row> map;
  keyword_map_init(map, rows);
  EXPECT_EQ(lookup(map, "amer")->format, 0u);
  EXPECT_EQ(lookup(map, "ansi")->format, 1u);
  EXPECT_EQ(lookup(map, "BRIT")->hours, 24u);
  EXPECT_EQ(lookup(map, "BRI"), nullptr);
}

TEST(KeywordMap, RepeatedWholeWordKeepsTheFirstRow) {
  static const three_word_row rows[] = {{U"SAME", 1, 0}, {U"SAME", 2, 0}, {nullptr, 0, 0}};
  keyword_map<three_word_row> map;
  keyword_map_init(map, rows);
  EXPECT_EQ(map.size(), 1u);
  EXPECT_EQ(lookup(map, "same")->id, 1u);
}

TEST(KeywordMap, PrefixClashThrows) {
  // The prefix DELE of DELETE (minimum 4) is already the whole word DELE.
  static const three_word_row clash_with_word[] = {{U"DELE", 1, 0}, {U"DELETE", 2, 4}, {nullptr, 0, 0}};
  keyword_map<three_word_row> a;
  EXPECT_THROW(keyword_map_init(a, clash_with_word), duplicate_keyword_exception);

  // Two abbreviable words sharing a prefix: the later row reports the clash.
  static const three_word_row clash_with_prefix[] = {{U"SELECT", 1, 4}, {U"SELECTION", 2, 4}, {nullptr, 0, 0}};
  keyword_map<three_word_row> b;
  EXPECT_THROW(keyword_map_init(b, clash_with_prefix), duplicate_keyword_exception);

  // A prefix that equals a later whole word is entered first; the whole word keeps that row.
  static const three_word_row prefix_first[] = {{U"DELETE", 1, 4}, {U"DELE", 2, 0}, {nullptr, 0, 0}};
  keyword_map<three_word_row> c;
  keyword_map_init(c, prefix_first);
  EXPECT_EQ(lookup(c, "DELE")->id, 1u);
}

TEST(KeywordMap, CaseInsensitiveHashAndCompare) {
  const char* a = "select";
  const char* b = "SELECT";
  EXPECT_EQ(keyword_ci_hash(a, a + 6, Charset::ascii), keyword_ci_hash(b, b + 6, Charset::ascii));
  EXPECT_EQ(keyword_ci_compare(a, a + 6, Charset::ascii, b, b + 6, Charset::ascii), 0);
  EXPECT_EQ(keyword_ci_compare(a, a + 5, Charset::ascii, b, b + 6, Charset::ascii), -1);
  EXPECT_EQ(keyword_ci_compare(a, a + 6, Charset::ascii, b, b + 5, Charset::ascii), 1);
  const char* z = "z";
  const char* e = "\xC3\xA9";  // é: U+005A against U+00C9 after upper-casing
  EXPECT_EQ(keyword_ci_compare(z, z + 1, Charset::utf8, e, e + 2, Charset::utf8), -1);
  EXPECT_EQ(keyword_ci_hash(a, a, Charset::ascii), 0x811C9DC5u);
}

}  // namespace
}  // namespace qzbase
