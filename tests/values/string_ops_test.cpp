// String operations, in UTF-8, UTF-16LE and a single-byte charset (Windows-1252).
#include <qzbase.h>

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "values/charset_registry.h"
#include "values/collation.h"
#include "values/string_internal.h"

using namespace qzbase;
using namespace std::string_literals;

namespace {

const Charset* cp1252() { return get_charset_by_codepage(1252, false); }

String in(const char* utf8, const Charset* cs) {
  String s(utf8);
  s.convert(cs, CON_NONE, 1);
  return s;
}

// The text of s as UTF-8 (for comparisons in the tests).
std::string u8(const String& s) { return s.u8str(); }

const_string_st cs_of(const String& s) { return {s.read(), s.end(), s.get_charset()}; }

class StringOps : public ::testing::TestWithParam<const char*> {
 protected:
  const Charset* cs() const {
    std::string n = GetParam();
    if (n == "utf-8") return Charset::utf8;
    if (n == "utf-16le") return Charset::utf16le;
    return cp1252();
  }
  size_t w() const { return cs()->min_bytes(); }
  String S(const char* t) const { return in(t, cs()); }
};

struct Hit {
  size_t pos, index, chars, byte_begin, byte_end;
  bool operator==(const Hit& o) const {
    return pos == o.pos && index == o.index && chars == o.chars && byte_begin == o.byte_begin &&
           byte_end == o.byte_end;
  }
};

std::vector<Hit> scan_all(const String& s, const std::vector<String>& needles, size_t stop_after = 1000) {
  std::vector<const_string_st> ns;
  for (const String& n : needles) ns.push_back(cs_of(n));
  struct Ctx {
    std::vector<Hit> hits;
    size_t stop_after;
  } c{{}, stop_after};
  size_t pos = 0;
  int n = s.scan(
      ns.data(), ns.size(), pos,
      [](const String& s, const char* hb, const char* he, size_t cp, size_t idx, size_t chars, void* v) {
        auto* c = static_cast<Ctx*>(v);
        c->hits.push_back({cp, idx, chars, static_cast<size_t>(hb - s.read()), static_cast<size_t>(he - s.read())});
        return c->hits.size() < c->stop_after;
      },
      &c);
  EXPECT_EQ(static_cast<size_t>(n), c.hits.size());
  return c.hits;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Charsets, StringOps, ::testing::Values("utf-8", "utf-16le", "windows-1252"));

TEST_P(StringOps, StrstrWithSkip) {
  String s = S("abcb");
  size_t pos = 99, b = 99, e = 99;
  ASSERT_TRUE(s.strstr(S("b"), &pos, &b, &e, 1));
  EXPECT_EQ(pos, 3u);
  EXPECT_EQ(b, 3 * w());
  EXPECT_EQ(e, 4 * w());
  pos = b = e = 77;
  EXPECT_FALSE(s.strstr(S("b"), &pos, &b, &e, 2));
  EXPECT_EQ(pos, 77u);
  EXPECT_EQ(b, 77u);
  EXPECT_EQ(e, 77u);
  ASSERT_TRUE(s.strstr(S("b"), &pos, &b, &e, 0));
  EXPECT_EQ(pos, 1u);
  EXPECT_FALSE(s.strstr(S(""), &pos, &b, &e, 0));  // an empty needle never matches
  EXPECT_FALSE(S("").strstr(S("a"), &pos, &b, &e, 0));
  // Character positions, not bytes, after a multi-byte character.
  String t = S("ééxé");
  ASSERT_TRUE(t.strstr(S("x"), &pos, &b, &e, 0));
  EXPECT_EQ(pos, 2u);
  // A needle in another charset (general path).
  ASSERT_TRUE(t.strstr(in("é", Charset::utf32le), &pos, &b, &e, 2));
  EXPECT_EQ(pos, 3u);
}

TEST_P(StringOps, ScanOrderAndPositions) {
  std::vector<Hit> hits = scan_all(S("aab"), {S("ab"), S("a")});
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0], (Hit{0, 1, 1, 0, w()}));
  EXPECT_EQ(hits[1], (Hit{1, 0, 2, w(), 3 * w()}));
  // The callback's false stops the scan; that hit is counted.
  hits = scan_all(S("a,b,c"), {S(",")}, 1);
  ASSERT_EQ(hits.size(), 1u);
  // Single-needle scan reports needle index 1.
  String s = S("xéx");
  const String needle = S("x");
  const_string_st n = cs_of(needle);
  size_t pos = 0;
  std::vector<size_t> idx, cps;
  struct C {
    std::vector<size_t>* idx;
    std::vector<size_t>* cps;
  } c{&idx, &cps};
  EXPECT_EQ(s.scan(
                n, pos,
                [](const String&, const char*, const char*, size_t cp, size_t i, size_t, void* v) {
                  static_cast<C*>(v)->idx->push_back(i);
                  static_cast<C*>(v)->cps->push_back(cp);
                  return true;
                },
                &c),
            2);
  EXPECT_EQ(idx, (std::vector<size_t>{1, 1}));
  EXPECT_EQ(cps, (std::vector<size_t>{0, 2}));
  EXPECT_EQ(pos, 3u);  // the running position ends at the text's length
}

TEST_P(StringOps, StrtranAndStrmultitran) {
  EXPECT_EQ(u8(S("aaa").strtran(S("aa"), S("b"))), "ba");
  EXPECT_EQ(u8(S("héllo wörld").strtran(S("ö"), S("oe"))), "héllo woerld");
  EXPECT_EQ(u8(S("abc").strtran(S("x"), S("y"))), "abc");
  EXPECT_EQ(u8(S("abcabc").strtran(S("b"), S(""))), "acac");
  EXPECT_EQ(u8(S("").strtran(S("a"), S("b"))), "");
  // The replacement is converted into the text's charset.
  EXPECT_EQ(u8(S("a-b").strtran(S("-"), in("é—", Charset::utf8))), "aé—b");
  EXPECT_EQ(S("abcabc").strtran(S("b"), S("XY")).get_charset(), cs());
  // Several pairs in one pass; the first needle that matches at a position wins.
  String search[] = {S("ab"), S("a"), S("c")};
  String repl[] = {S("1"), S("2"), S("333")};
  const_string_st ss[3], rr[3];
  for (int i = 0; i < 3; ++i) {
    ss[i] = cs_of(search[i]);
    rr[i] = cs_of(repl[i]);
  }
  EXPECT_EQ(u8(S("aabcxa").strmultitran(ss, 3, rr)), "21333x2");
  // More than 16 pairs (the sizes go to the heap).
  std::vector<String> keep;
  std::vector<const_string_st> s20, r20;
  for (int i = 0; i < 20; ++i) {
    std::string from(1, static_cast<char>('a' + i));
    std::string to = std::to_string(i);
    keep.push_back(S(from.c_str()));
    keep.push_back(S(to.c_str()));
  }
  for (int i = 0; i < 20; ++i) {
    s20.push_back(cs_of(keep[2 * i]));
    r20.push_back(cs_of(keep[2 * i + 1]));
  }
  EXPECT_EQ(u8(S("a t b").strmultitran(s20.data(), 20, r20.data())), "0 19 1");
}

TEST_P(StringOps, Explode) {
  const String sep = S(",");
  const_string_st s = cs_of(sep);
  std::list<String> out;
  S(",a,,b,").explode(&s, 1, false, &out);
  std::vector<std::string> got;
  for (const String& p : out) got.push_back(u8(p));
  EXPECT_EQ(got, (std::vector<std::string>{"", "a", "", "b"}));
  out.clear();
  got.clear();
  String src = S(",a,,b,");
  src.explode(&s, 1, true, &out);
  for (const String& p : out) {
    got.push_back(u8(p));
    EXPECT_EQ(p.buffer(), src.buffer());  // slices share the buffer
  }
  EXPECT_EQ(got, (std::vector<std::string>{",", "a,", ",", "b,"}));
  out.clear();
  S("x").explode(&s, 1, false, &out);
  ASSERT_EQ(out.size(), 1u);
  out.clear();
  S("").explode(&s, 1, false, &out);
  EXPECT_TRUE(out.empty());
}

TEST_P(StringOps, Trims) {
  String s = S("  \t ab c \t ");
  const string_buffer_st* buffer = s.buffer();
  s.alltrim();
  EXPECT_EQ(u8(s), "ab c");
  EXPECT_EQ(s.buffer(), buffer);  // no copy
  EXPECT_EQ(u8(S("  x  ").ltrim()), "x  ");
  EXPECT_EQ(u8(S("  x  ").rtrim()), "  x");
  EXPECT_EQ(u8(S("x\n").rtrim()), "x\n");  // LF is not a blank
  EXPECT_EQ(u8(S("     ").alltrim()), "");
  EXPECT_EQ(u8(S("").alltrim()), "");
  EXPECT_EQ(u8(S("x \r\n").rtrim_endl()), "x ");
  EXPECT_EQ(u8(S("x\n\r").rtrim_endl()), "x");
  EXPECT_EQ(u8(S("x\r\r").rtrim_endl()), "x\r");
  EXPECT_EQ(u8(S("x\n  ").rtrim_endl()), "x");
  EXPECT_EQ(u8(S("\n").rtrim_endl()), "");
  EXPECT_EQ(u8(S(" \t x").ltrim_classic_space()), "\t x");
  EXPECT_EQ(u8(S("\t\t x").ltrim_classic_tab()), " x");
  EXPECT_EQ(u8(S(" \t \tx ").ltrim_classic_space_or_tab()), "x ");
  EXPECT_EQ(u8(S("ééxé").ltrim([](char32_t c) { return c == U'é'; })), "xé");
  EXPECT_EQ(u8(S("ééxé").rtrim([](char32_t c) { return c == U'é'; })), "ééx");
  EXPECT_TRUE(S(" \t\r\n ").is_empty());
  EXPECT_TRUE(S("").is_empty());
  EXPECT_FALSE(S("  .  ").is_empty());
  // Repeated prefix.
  EXPECT_EQ(u8(S("ababc").ltrim(S("ab"))), "c");
  EXPECT_EQ(u8(S("ababc").ltrim(in("ab", Charset::utf16le))), "c");
  EXPECT_EQ(u8(S("abab").ltrim(S("ab"))), "");
  EXPECT_EQ(u8(S("abc").ltrim(S(""))), "abc");
  EXPECT_EQ(u8(S("éé!").ltrim(S("é"))), "!");
}

namespace {

struct TrimList {
  std::vector<String> items;
  size_t i = 0;
};
const String* first_item(void* v) {
  auto* l = static_cast<TrimList*>(v);
  l->i = 0;
  return l->items.empty() ? nullptr : &l->items[0];
}
const String* next_item(void* v) {
  auto* l = static_cast<TrimList*>(v);
  return ++l->i < l->items.size() ? &l->items[l->i] : nullptr;
}

}  // namespace

TEST_P(StringOps, TrimSetsUnderACollation) {
  TrimList l{{S(""), S("AB"), S("é")}};
  String s = S("abxABabÉéab");
  s.rtrim(Collation::unicode_machine_ci, first_item, next_item, &l);
  EXPECT_EQ(u8(s), "abx");
  String t = S("ÉabABxab");
  t.ltrim(Collation::unicode_machine_ci, first_item, next_item, &l);
  EXPECT_EQ(u8(t), "xab");
  String u = S("ABxab");
  u.rtrim(Collation::unicode_machine, first_item, next_item, &l);  // case matters here
  EXPECT_EQ(u8(u), "ABxab");
  u = S("abxAB");
  u.rtrim(Collation::unicode_machine, first_item, next_item, &l);
  EXPECT_EQ(u8(u), "abx");
  // A code-page collation cannot compare characters.
  String v = S("xab");
  EXPECT_THROW(v.rtrim(GetCollationByCOLID(2020), first_item, next_item, &l), collation_not_impl);
}

TEST_P(StringOps, CaseMaps) {
  EXPECT_EQ(u8(S("hello wörld é").upper()), "HELLO WÖRLD É");
  EXPECT_EQ(u8(S("HELLO WÖRLD É").lower()), "hello wörld é");
  EXPECT_EQ(S("abc").upper().get_charset(), cs());
  EXPECT_EQ(S("abc").upper().size(), S("abc").size());
  EXPECT_EQ(u8(S("").upper()), "");
  EXPECT_EQ(u8(S("ÿ").upper()), "Ÿ");  // U+0178 exists in 1252 too (0x9F)
  EXPECT_EQ(u8(S("ß").upper()), "ß");  // simple mapping: one code point to one
}

TEST_P(StringOps, CharacterSearch) {
  int index = 5;
  size_t b = 5, e = 5;
  EXPECT_FALSE(S("abc").chrstr(U'x', &index, &b, &e));
  EXPECT_EQ(index, 0);
  EXPECT_EQ(b, 0u);
  EXPECT_EQ(e, 5u);  // untouched
  ASSERT_TRUE(S("aéé").chrstr(U'é', &index, &b, &e));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(b, cs() == Charset::utf8 ? 1u : w());
  ASSERT_TRUE(S("xa").christr(U'A', &index, &b, &e));
  EXPECT_EQ(index, 1);
  ASSERT_TRUE(S("xÉ").christr(U'é', &index, &b, &e));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(S("xa").chrstr(U'A', &index, &b, &e));
}

TEST_P(StringOps, CompareAndConversions) {
  EXPECT_EQ(S("abc").cmp(S("abd"), Collation::unicode_machine), -1);
  EXPECT_EQ(S("ABC").cmp(in("abc", Charset::utf8), Collation::unicode_machine_ci), 0);
  String other = S("b");
  EXPECT_EQ(S("c").cmp(&other, Collation::unicode_machine), 1);
  EXPECT_EQ(S("é€").u8str(), "é€");
  EXPECT_EQ(S("é€").u16str(), u"é€");
}

// UTF-8 maps without the converter: a character may change its byte length, and a malformed
// byte reads as U+FFFD as on the other paths.
TEST(StringOpsFree, CaseMapsInUtf8) {
  auto utf8 = [](const std::string& bytes) { return String::fromBytes(bytes.data(), bytes.size(), Charset::utf8); };
  auto bytes = [](const String& s) { return std::string(s.read(), s.size()); };
  EXPECT_EQ(bytes(utf8("a\xC9\x90z").upper()), "A\xE2\xB1\xAFZ");  // U+0250 -> U+2C6F
  EXPECT_EQ(bytes(utf8("\xE2\xB1\xAF").lower()), "\xC9\x90");
  EXPECT_EQ(bytes(utf8("\xFF" "a\xC3\xA9").upper()), "\xEF\xBF\xBD" "A\xC3\x89");
  EXPECT_EQ(utf8("x").upper().get_charset(), Charset::utf8);
}

TEST(StringOpsFree, Symbolify) {
  bool changed = false;
  EXPECT_EQ(String::symbolify(String("9a-b"), &changed, Charset::utf8).u8str(), "_a_b");
  EXPECT_TRUE(changed);
  EXPECT_EQ(String::symbolify(String("ab_1"), &changed, Charset::utf8).u8str(), "ab_1");
  EXPECT_FALSE(changed);
  String empty = String::symbolify(String(""), &changed, Charset::utf16le);
  EXPECT_TRUE(changed);
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_EQ(empty.get_charset(), Charset::utf16le);
  EXPECT_EQ(String::symbolify(in("éa b", Charset::utf16le), &changed, cp1252()).u8str(), "éa_b");
  std::string longtext(300, 'x');
  EXPECT_EQ(String::symbolify(String(longtext.c_str()), &changed, Charset::utf8).length(), 255u);
}

TEST(StringOpsFree, HexBinary) {
  String h = stringToEncodedHexBinary(String("\x00\x7F\xAB"s.data(), 3, Charset::binary));
  EXPECT_EQ(h.u8str(), "007FAB");
  EXPECT_EQ(h.get_charset(), Charset::utf8);
  EXPECT_EQ(stringToEncodedHexBinary(String()).size(), 0u);
}

// Fault: the case maps of binary text relabelled it through 4-byte units, so UPPER quadrupled it.
TEST(StringOpsFree, BinaryCaseMapsKeepTheSize) {
  std::string bytes = "ab\x00Z\xE9\xFF"s;
  String b(bytes.data(), bytes.size(), Charset::binary);
  String up = b.upper();
  EXPECT_EQ(up.get_charset(), Charset::binary);
  ASSERT_EQ(up.size(), bytes.size());
  EXPECT_EQ(std::string(up.read(), up.size()), "AB\x00Z\xE9\xFF"s);
  String lo = b.lower();
  ASSERT_EQ(lo.size(), bytes.size());
  EXPECT_EQ(std::string(lo.read(), lo.size()), "ab\x00z\xE9\xFF"s);
}

// Fault: strmultitran toward or from binary went through the pivot, whose Binary::in "returns 1":
// the replacement bytes were never written.
TEST(StringOpsFree, StrmultitranWithBinarySides) {
  std::string text = "k=\x01\xFE;k=\x02"s;
  String bt(text.data(), text.size(), Charset::binary);
  // Binary text, UTF-8 replacement: its bytes are copied as they are.
  String r = bt.strtran(String("k="), String("é="));
  EXPECT_EQ(r.get_charset(), Charset::binary);
  EXPECT_EQ(std::string(r.read(), r.size()), "\xC3\xA9=\x01\xFE;\xC3\xA9=\x02"s);
  // UTF-8 text, binary replacement.
  String u = String("a-b-c");
  String rb = u.strtran(String("-"), String("\x00\xFF"s.data(), 2, Charset::binary));
  EXPECT_EQ(rb.get_charset(), Charset::utf8);
  EXPECT_EQ(std::string(rb.read(), rb.size()), "a\x00\xFF" "b\x00\xFF" "c"s);
  // Binary text, binary search, binary replacement.
  String rr = bt.strtran(String("\x01\xFE"s.data(), 2, Charset::binary), String("\x00"s.data(), 1, Charset::binary));
  EXPECT_EQ(std::string(rr.read(), rr.size()), "k=\x00;k=\x02"s);
}

// The general scan path: text and needle in different charsets, malformed text.
TEST(StringOpsFree, ScanAcrossCharsetsAndMalformedText) {
  String t = in("aé€b€", Charset::utf16le);
  std::vector<Hit> hits = scan_all(t, {in("€", Charset::utf8)});
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].pos, 2u);
  EXPECT_EQ(hits[1].pos, 4u);
  EXPECT_EQ(hits[1].byte_begin, 8u);
  // UTF-8 with a malformed byte before the hit: it counts as one character.
  String bad("\xFFx\xE1\x80y", 5, Charset::utf8);
  hits = scan_all(bad, {String("y")});
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].pos, 3u);
  // A needle holding U+FFFD matches a malformed sequence (code points are compared).
  hits = scan_all(bad, {String("\xEF\xBF\xBDx")});
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].pos, 0u);
  // UTF-32LE: the fixed-width unit path.
  String t32 = in("xyé€é", Charset::utf32le);
  hits = scan_all(t32, {in("é", Charset::utf32le)});
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[1].pos, 4u);
  EXPECT_EQ(hits[1].byte_begin, 16u);
}
