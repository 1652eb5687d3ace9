// Collations: character and string compares under the three policies, hashing, the
// registry, and the keys of the machine and mapped kinds (the generated weight tables included).
#include <qzbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "values/charset_registry.h"
#include "values/collation.h"

using namespace qzbase;

namespace {

const Charset* cp1252() { return get_charset_by_codepage(1252, false); }

String in(const char* utf8, const Charset* cs) {
  String s(utf8);
  s.convert(cs, CON_NONE, 1);
  return s;
}

String bin(const std::string& bytes) { return String(bytes.data(), bytes.size(), Charset::binary); }

int cmp(const Collation* c, const String& a, const String& b) {
  return c->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(), b.get_charset());
}
int cmp_on(const Collation* c, const String& a, const String& b) {
  return c->compare_exact_on(a.read(), a.end(), a.get_charset(), b.read(), b.end(), b.get_charset());
}
int cmp_off(const Collation* c, const String& a, const String& b) {
  return c->compare_exact_off(a.read(), a.end(), a.get_charset(), b.read(), b.end(), b.get_charset());
}

const Mapped_Collation* mapped(int colid) {
  auto* m = dynamic_cast<const Mapped_Collation*>(GetCollationByCOLID(colid));
  EXPECT_NE(m, nullptr) << colid;
  return m;
}

std::string key_of(const Collation* c, const std::string& bytes, bool pad, size_t keylen, size_t* len = nullptr) {
  std::string k(keylen, '\x7E');
  size_t n = c->create_char_key(bytes.data(), bytes.size(), pad, k.data(), keylen);
  if (len) *len = n;
  return k.substr(0, n);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Character compares and the registry
// ---------------------------------------------------------------------------------------------

TEST(Collation, GlobalsAreTheUnicodeRows) {
  ASSERT_NE(Collation::unicode_machine, nullptr);
  ASSERT_NE(Collation::unicode_machine_ci, nullptr);
  EXPECT_EQ(Collation::unicode_machine->colid(), 1u);
  EXPECT_EQ(Collation::unicode_machine_ci->colid(), 1002u);
  EXPECT_EQ(Collation::unicode_machine->charset(), nullptr);
  EXPECT_EQ(Collation::unicode_machine->pad(), ' ');
  EXPECT_EQ(Collation::unicode_machine->width_factor(), 1u);
  __init_collations();  // idempotent
  EXPECT_EQ(Collation::unicode_machine, GetCollationByCOLID(1));
  EXPECT_EQ(Collation::unicode_machine_ci, GetCollationByCOLID(1002));
}

TEST(Collation, CharacterCompares) {
  const Collation* m = Collation::unicode_machine;
  const Collation* ci = Collation::unicode_machine_ci;
  EXPECT_EQ(m->compare(U'a', U'A'), 1);
  EXPECT_EQ(m->compare(U'A', U'a'), -1);
  EXPECT_EQ(m->compare(U'a', U'a'), 0);
  EXPECT_EQ(m->compare(char32_t(0xFFFFFF80), U'a'), 1);  // unsigned order
  EXPECT_EQ(ci->compare(U'a', U'A'), 0);
  EXPECT_EQ(ci->compare(U'\u007A', U'\u00E9'), -1);  // Z against E-acute
  EXPECT_EQ(ci->compare(U'\u00E9', U'\u00C9'), 0);
  EXPECT_EQ(ci->compare(U'\u03C3', U'\u03A3'), 0);  // sigma
  EXPECT_EQ(ci->compare(U'\u0436', U'\u0416'), 0);  // zhe
}

TEST(Collation, CodePageKindsDoNotCompare) {
  for (int colid : {3, 20, 2020, 15020, 2}) {
    const Collation* c = GetCollationByCOLID(colid);
    ASSERT_NE(c, nullptr) << colid;
    EXPECT_THROW(c->compare(U'a', U'b'), collation_not_impl) << colid;
    String a("a"), b("b");
    EXPECT_THROW(cmp(c, a, b), collation_not_impl) << colid;
  }
  char key[8];
  EXPECT_THROW(Collation::unicode_machine->create_char_key("a", 1, true, key, 8), collation_not_impl);
  EXPECT_THROW(Collation::unicode_machine_ci->create_char_key(String("a"), true, key, 8), collation_not_impl);
}

TEST(Collation, RegistryLookups) {
  EXPECT_EQ(GetCollationByCOLID(1001), nullptr);
  EXPECT_EQ(GetCollationByCOLID(0), nullptr);
  EXPECT_EQ(GetCollationByCOLID(-1), nullptr);
  EXPECT_EQ(GetCollationFromGroup(437, 14), nullptr);
  EXPECT_EQ(GetCollationFromGroup(1252, 11), nullptr);  // no THAI row
  Collation* es = GetCollationFromGroup(1252, 15);
  ASSERT_NE(es, nullptr);
  EXPECT_EQ(es->colid(), 15020u);
  EXPECT_STREQ(es->name(), "windows_1252_spanish_ci");
  EXPECT_EQ(es, GetCollationByCOLID(15020));
  EXPECT_EQ(GetCollationByCOLID(15020), GetCollationByCOLID(15020));
  EXPECT_EQ(es->pad(), 0);
  EXPECT_EQ(es->width_factor(), 2u);
  EXPECT_EQ(es->charset(), cp1252());
  Collation* u8 = GetCollationFromGroup(65001, 1);
  ASSERT_NE(u8, nullptr);
  EXPECT_EQ(u8->colid(), 2u);
  EXPECT_EQ(u8->charset(), Charset::utf8);
  EXPECT_EQ(GetCollationFromGroup(39, 0), Collation::unicode_machine);  // first unicode row
  EXPECT_EQ(GetCollationFromGroup(1250, 14)->colid(), 14018u);
  EXPECT_EQ(GetCollationFromGroup(895, 13)->colid(), 13013u);
}

TEST(Collation, EveryRecordIsBuiltAndMakesAKey) {
  ASSERT_EQ(kCollationTableSize, 77u);
  int mapped_count = 0, machine_count = 0;
  for (const collation_st& rec : collation_table) {
    Collation* c = GetCollationByCOLID(static_cast<int>(rec.colid));
    ASSERT_NE(c, nullptr) << rec.name;
    EXPECT_EQ(c->record(), &rec) << rec.name;
    if (rec.group == 0) {
      char k[16];
      EXPECT_THROW(c->create_char_key(String("Hello"), true, k, 16), collation_not_impl) << rec.name;
      continue;
    }
    ASSERT_NE(c->charset(), nullptr) << rec.name;
    EXPECT_EQ(static_cast<uint32_t>(GetCharsetCPID(c->charset())), rec.codepage) << rec.name;
    EXPECT_EQ(rec.colid / 1000, rec.group == 1 ? 0u : rec.group) << rec.name;
    char k[32];
    std::memset(k, 0x55, sizeof k);
    size_t n = c->create_char_key(String("Hello"), true, k, 20);
    EXPECT_EQ(n, 20u) << rec.name;
    EXPECT_EQ(k[20], 0x55) << rec.name;  // nothing past the key
    if (dynamic_cast<Mapped_Collation*>(c)) {
      ++mapped_count;
      EXPECT_EQ(c->pad(), 0);
    } else {
      ++machine_count;
      EXPECT_EQ(c->pad(), ' ');
      EXPECT_EQ(std::string(k, 5), "Hello") << rec.name;
    }
  }
  EXPECT_EQ(mapped_count, 48);
  EXPECT_EQ(machine_count, 27);
}

TEST(Collation, ConcurrentFirstLookupsGiveOneObject) {
  // COLIDs not used by the other tests of this process before (each test runs in its own process).
  std::vector<int> colids = {3004, 10011, 6008, 7009};
  std::vector<std::thread> ts;
  std::vector<std::vector<Collation*>> got(8);
  for (int t = 0; t < 8; ++t)
    ts.emplace_back([&, t] {
      for (int id : colids) got[t].push_back(GetCollationByCOLID(id));
    });
  for (auto& th : ts) th.join();
  for (int t = 1; t < 8; ++t) EXPECT_EQ(got[t], got[0]);
}

TEST(Collation, CleanupAndInitAgain) {
  Collation* before = GetCollationByCOLID(2020);
  ASSERT_NE(before, nullptr);
  __cleanup_collations();
  EXPECT_EQ(Collation::unicode_machine, nullptr);
  EXPECT_EQ(Collation::unicode_machine_ci, nullptr);
  __cleanup_collations();  // twice is harmless
  __init_collations();
  ASSERT_NE(Collation::unicode_machine, nullptr);
  EXPECT_EQ(Collation::unicode_machine->colid(), 1u);
  EXPECT_NE(GetCollationByCOLID(2020), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Two-string compares: plain, EXACT ON, EXACT OFF
// ---------------------------------------------------------------------------------------------

struct CompareRow {
  const char* a;
  const char* b;
  int plain, on, off;
};

TEST(Collation, CompareTableUnderThePolicies) {
  const Collation* m = Collation::unicode_machine;
  const CompareRow rows[] = {
      {"ab", "abc", -1, -1, -1},   {"abc", "ab", 1, 1, 0},      {"", "", 0, 0, 0},
      {"ab  ", "ab", 1, 0, 0},     {"ab c", "ab", 1, 1, 0},     {"ab", "ab x", -1, -1, -1},
      {"ab", "ab  ", -1, 0, -1},   {"ab\t", "ab", 1, 0, 0},     {"x", "", 1, 1, 0},
      {"", "x", -1, -1, -1},       {"abd", "abc", 1, 1, 1},     {"Ab", "ab", -1, -1, -1},
      {"é", "e", 1, 1, 1},         {"ab\n", "ab", 1, 1, 0},     {"b", "abc", 1, 1, 1},
  };
  for (const Charset* cs : {Charset::utf8, Charset::utf16le, Charset::utf32le, cp1252()}) {
    for (const CompareRow& r : rows) {
      String a = in(r.a, cs), b = in(r.b, cs);
      EXPECT_EQ(cmp(m, a, b), r.plain) << r.a << " | " << r.b << " in " << cs->name();
      EXPECT_EQ(cmp_on(m, a, b), r.on) << r.a << " | " << r.b << " in " << cs->name();
      EXPECT_EQ(cmp_off(m, a, b), r.off) << r.a << " | " << r.b << " in " << cs->name();
      // Across charsets: each side decoded by its own charset.
      String a8 = in(r.a, Charset::utf8);
      EXPECT_EQ(cmp(m, a8, b), r.plain) << r.a << " | " << r.b << " utf-8 against " << cs->name();
      EXPECT_EQ(cmp_on(m, a8, b), r.on);
      EXPECT_EQ(cmp_off(m, a8, b), r.off);
    }
  }
}

TEST(Collation, BinaryStringsAndTrailingNuls) {
  const Collation* m = Collation::unicode_machine;
  using namespace std::string_literals;
  EXPECT_EQ(cmp_on(m, bin("ab\0\0"s), bin("ab")), 0);
  EXPECT_EQ(cmp_on(m, bin("ab"), bin("ab\0\0"s)), 0);
  EXPECT_EQ(cmp_on(m, bin("ab  "), bin("ab")), 1);  // blanks are not blank in binary text
  EXPECT_EQ(cmp_on(m, bin("ab"), bin("ab  ")), -1);
  EXPECT_EQ(cmp(m, bin("ab\0"s), bin("ab")), 1);
  EXPECT_EQ(cmp_off(m, bin("ab\0"s), bin("ab")), 0);
  EXPECT_EQ(cmp_off(m, bin("ab"), bin("ab\0"s)), -1);
  // Bytes order as unsigned bytes (the signed widening keeps their order above 0x7F).
  EXPECT_EQ(cmp(m, bin("\x80"), bin("\xFF")), -1);
  EXPECT_EQ(cmp(m, bin("\x7F"), bin("\x80")), -1);
  // Either side binary: both decoded as binary; UTF-8 text is then its bytes.
  String e8 = in("é", Charset::utf8);
  EXPECT_EQ(cmp(m, e8, bin("\xC3\xA9")), 0);
  EXPECT_EQ(cmp_on(m, bin("ab\0"s), in("ab", Charset::utf8)), 0);
  EXPECT_EQ(cmp_on(m, in("ab  ", Charset::utf8), bin("ab")), 1);  // binary rule: only NUL is blank
}

TEST(Collation, CaseInsensitiveCompareOfNonAsciiLetters) {
  const Collation* ci = Collation::unicode_machine_ci;
  for (const Charset* cs : {Charset::utf8, Charset::utf16le, cp1252()}) {
    EXPECT_EQ(cmp(ci, in("ÉCOLE", cs), in("école", Charset::utf8)), 0) << cs->name();
    EXPECT_EQ(cmp(ci, in("Ärger", cs), in("äRGER", cs)), 0) << cs->name();
    EXPECT_EQ(cmp(ci, in("zebra", cs), in("élan", cs)), -1) << cs->name();  // Z < É
    EXPECT_EQ(cmp_on(ci, in("Ñu  ", cs), in("ñU", cs)), 0) << cs->name();
    EXPECT_EQ(cmp_off(ci, in("ÖLKANNE", cs), in("öl", cs)), 0) << cs->name();
  }
  EXPECT_EQ(cmp(ci, in("ΣΟΦΙΑ", Charset::utf16le), in("σοφια", Charset::utf8)), 0);
  EXPECT_EQ(cmp(ci, in("ЖУК", Charset::utf8), in("жук", Charset::utf32le)), 0);
  EXPECT_NE(cmp(Collation::unicode_machine, in("ЖУК", Charset::utf8), in("жук", Charset::utf8)), 0);
}

namespace {

// The compare without the fast path: decode both sides from the start.
int reference_compare(const Collation* c, const String& a, const String& b) {
  const Charset* lcs = a.get_charset();
  const Charset* rcs = b.get_charset();
  const char *l = a.read(), *le = a.end(), *r = b.read(), *re = b.end();
  while (l < le && r < re) {
    int x = c->compare(lcs->next(&l, le), rcs->next(&r, re));
    if (x) return x;
  }
  if (l >= le && r >= re) return 0;
  return l >= le ? -1 : 1;
}

}  // namespace

TEST(Collation, SameCharsetFastPathAgreesWithDecoding) {
  // Random texts with a long common prefix and a random (often malformed) tail, so the memcmp
  // fast path has to find a character boundary before the first difference.
  std::mt19937 rng(12345);
  const unsigned char alphabet[] = {'a', 'b', 0x00, 0x20, 0x7F, 0x80, 0xA9, 0xBF, 0xC3, 0xD8, 0xDC,
                                    0xDB, 0xE1, 0xED, 0xEF, 0xF0, 0xF4, 0x9F, 0xFF, 0x3D, 0xDE, 0x01};
  auto rnd = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(alphabet[rng() % sizeof alphabet]));
    return s;
  };
  for (const Charset* cs : {Charset::utf8, Charset::utf16le, Charset::utf32le, cp1252(), Charset::binary}) {
    for (const Collation* c : {Collation::unicode_machine, Collation::unicode_machine_ci}) {
      for (int iter = 0; iter < 3000; ++iter) {
        std::string prefix = rnd(rng() % 24);
        std::string a = prefix + rnd(rng() % 6), b = prefix + rnd(rng() % 6);
        if (cs->min_bytes() == 4) {  // whole units, or the decoder's short tail
          if (iter % 2) {
            a.resize(a.size() / 4 * 4);
            b.resize(b.size() / 4 * 4);
          }
        }
        String sa(a.data(), a.size(), cs), sb(b.data(), b.size(), cs);
        ASSERT_EQ(c->compare(sa.read(), sa.end(), cs, sb.read(), sb.end(), cs), reference_compare(c, sa, sb))
            << cs->name() << " iteration " << iter;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Hash
// ---------------------------------------------------------------------------------------------

TEST(Collation, Hash) {
  const char* e = "";
  for (int colid : {1, 1002, 20, 2020}) {
    EXPECT_EQ(GetCollationByCOLID(colid)->hash(e, e, Charset::utf8), 0x811C9DC5u) << colid;
  }
  // One code point: (basis XOR c) * prime, the whole code point at once.
  uint32_t one = (0x811C9DC5u ^ 0x20ACu) * 16777619u;
  String euro = in("€", Charset::utf8);
  EXPECT_EQ(Collation::unicode_machine->hash(euro.read(), euro.end(), Charset::utf8), one);
  String euro16 = in("€", Charset::utf16le);
  EXPECT_EQ(Collation::unicode_machine->hash(euro16.read(), euro16.end(), Charset::utf16le), one);
  String euro1252 = in("€", cp1252());
  EXPECT_EQ(Collation::unicode_machine->hash(euro1252.read(), euro1252.end(), cp1252()), one);

  const Collation* ci = Collation::unicode_machine_ci;
  const char* pairs[][2] = {{"Straße", "STRAßE"}, {"école", "ÉCOLE"}, {"σοφία", "ΣΟΦΊΑ"}, {"abc", "ABC"}};
  for (auto& p : pairs) {
    String a = in(p[0], Charset::utf8), b = in(p[1], Charset::utf16le);
    ASSERT_EQ(cmp(ci, a, b), 0) << p[0];
    EXPECT_EQ(ci->hash(a.read(), a.end(), a.get_charset()), ci->hash(b.read(), b.end(), b.get_charset())) << p[0];
    EXPECT_NE(Collation::unicode_machine->hash(a.read(), a.end(), a.get_charset()),
              Collation::unicode_machine->hash(b.read(), b.end(), b.get_charset()))
        << p[0];
  }
}

// ---------------------------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------------------------

TEST(Collation, MachineKeys) {
  const Collation* c = GetCollationByCOLID(20);
  size_t n;
  EXPECT_EQ(key_of(c, "abc", true, 6, &n), "abc   ");
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(key_of(c, "abc", false, 6, &n), "abc");
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(key_of(c, "abc  ", false, 6), "abc  ");  // trailing blanks stay
  EXPECT_EQ(key_of(c, "abcdefgh", true, 4), "abcd");
  EXPECT_EQ(key_of(c, "", true, 3), "   ");
  Debug_Collation dbg(&collation_table[2], cp1252());
  EXPECT_EQ(key_of(&dbg, "ab", true, 4), std::string("ab\xFF\xFF"));
  EXPECT_EQ(dbg.pad(), static_cast<char>(0xFF));
  EXPECT_THROW(dbg.compare(U'a', U'b'), collation_not_impl);
}

TEST(Collation, GivenRowsOfThe1252GeneralTable) {
  const Mapped_Collation* g = mapped(2020);
  struct Want {
    uint8_t byte;
    uint32_t kind;
    uint8_t w1, w2, s1;
  } want[] = {
      {0x00, 0, 0x10, 0, 0},    {0x7F, 0, 0x10, 0, 0},    {0x20, 0, 0x11, 0, 0},    {0x41, 1, 0x60, 0, 0},
      {0x61, 1, 0x60, 0, 0},    {0x42, 0, 0x61, 0, 0},    {0x62, 0, 0x61, 0, 0},    {0xC1, 1, 0x60, 0, 1},
      {0xE1, 1, 0x60, 0, 1},    {0xC0, 1, 0x60, 0, 2},    {0xE0, 1, 0x60, 0, 2},    {0xC7, 1, 0x62, 0, 7},
      {0xE7, 1, 0x62, 0, 7},    {0xFF, 1, 0x7D, 0, 4},    {0xC6, 2, 0x41, 0x45, 0}, {0xDF, 2, 0x53, 0x53, 0},
      {0xDE, 2, 0x54, 0x48, 0},
  };
  for (const Want& w : want) {
    const collation_entry_st& e = g->entry(w.byte);
    EXPECT_EQ(e.c1, w.byte);
    EXPECT_EQ(e.kind, w.kind) << std::hex << int(w.byte);
    EXPECT_EQ(e.w1, w.w1) << std::hex << int(w.byte);
    EXPECT_EQ(e.w2, w.w2) << std::hex << int(w.byte);
    EXPECT_EQ(e.s1, w.s1) << std::hex << int(w.byte);
  }
  EXPECT_EQ(g->entry(0x30).w1, 0x56);
  EXPECT_EQ(g->entry(0x31).w1, 0x57);
  EXPECT_EQ(g->entry(0x5A).w1, 0x7E);
  EXPECT_EQ(g->entry(0x7A).w1, 0x7E);
}

TEST(Collation, GivenRowsOfThe1252SpanishTable) {
  const Mapped_Collation* s = mapped(15020);
  EXPECT_EQ(s->entry('c').w1, 0x62);
  EXPECT_EQ(s->entry('d').w1, 0x64);
  EXPECT_EQ(s->entry('l').w1, 0x6D);
  EXPECT_EQ(s->entry('m').w1, 0x6F);
  int ch = 0, ll = 0;
  for (const collation_entry_st& e : codepage_1252_spanish_ci_table) {
    if (e.kind != COLL_DIGRAPH) continue;
    if ((e.c1 | 0x20) == 'c' && (e.c2 | 0x20) == 'h') {
      EXPECT_EQ(e.w1, 0x63);
      ++ch;
    }
    if ((e.c1 | 0x20) == 'l' && (e.c2 | 0x20) == 'l') {
      EXPECT_EQ(e.w1, 0x6E);
      ++ll;
    }
  }
  EXPECT_EQ(ch, 4);
  EXPECT_EQ(ll, 4);
  // The flags of the per-character copies.
  EXPECT_EQ(s->entry('c').flags[0], 1);
  EXPECT_EQ(s->entry('C').flags[0], 1);
  EXPECT_EQ(s->entry('d').flags[0], 0);
}

namespace {

struct MultiCount {
  int k6 = 0, k7 = 0, k8 = 0, singles = 0;
};

MultiCount count(const collation_entry_st* t, size_t n) {
  MultiCount m;
  for (size_t i = 0; i < n; ++i) {
    if (t[i].kind == 6) ++m.k6;
    else if (t[i].kind == 7) ++m.k7;
    else if (t[i].kind == 8) ++m.k8;
    else ++m.singles;
  }
  return m;
}

}  // namespace

TEST(Collation, MultiCharacterEntriesOfEveryTable) {
#define QZ_CHECK_TABLE(cp, group, rows)                                                          \
  {                                                                                              \
    const collation_entry_st* t = codepage_##cp##_##group##_ci_table;                            \
    static_assert(sizeof(codepage_##cp##_##group##_ci_table) / sizeof(collation_entry_st) == rows); \
    MultiCount m = count(t, rows);                                                               \
    EXPECT_EQ(m.singles, 256) << #cp " " #group;                                                 \
    std::string g = #group;                                                                      \
    int cpn = cp;                                                                                \
    if (g == "spanish") {                                                                        \
      EXPECT_EQ(cpn == 10000 ? m.k7 : m.k6, 8) << #cp;                                           \
    } else if (g == "nordan") {                                                                  \
      EXPECT_EQ((cpn == 437 || cpn == 865) ? m.k6 : m.k7, 4) << #cp;                             \
    } else if (g == "czech" || g == "slovak") {                                                  \
      EXPECT_EQ(m.k6, 4) << #cp;                                                                 \
    } else if (g == "hungary") {                                                                 \
      EXPECT_EQ(m.k6, 32);                                                                       \
      EXPECT_EQ(m.k8, 16);                                                                       \
    } else {                                                                                     \
      EXPECT_EQ(m.k6 + m.k7 + m.k8, 0) << #cp " " #group;                                        \
    }                                                                                            \
    for (size_t i = 0; i < rows; ++i) {                                                          \
      if (t[i].kind >= 6) {                                                                      \
        EXPECT_LT(t[i].c1, 0x80);                                                                \
        EXPECT_LT(t[i].c2, 0x80);                                                                \
        EXPECT_LT(t[i].c3, 0x80);                                                                \
      }                                                                                          \
    }                                                                                            \
    for (size_t i = 1; i < rows; ++i) {                                                          \
      if (t[i].kind != 2 && t[i - 1].kind != 2) {                                                \
        EXPECT_LE(t[i - 1].w1, t[i].w1) << #cp " " #group;                                       \
      }                                                                                          \
    }                                                                                            \
  }
  QZ_COLLATION_TABLES(QZ_CHECK_TABLE)
#undef QZ_CHECK_TABLE
  for (const collation_entry_st& e : codepage_1250_hungary_ci_table) {
    if (e.kind != 8) continue;
    EXPECT_EQ(e.w1, 0x72);
    std::string tri{char(e.c1 | 0x20), char(e.c2 | 0x20), char(e.c3 | 0x20)};
    EXPECT_TRUE(tri == "dzs" || tri == "ozs") << tri;
  }
}

TEST(Collation, GeneratorDecodingMatchesTheRuntimeCharsets) {
  for (int cp : {437, 620, 737, 850, 852, 857, 861, 865, 866, 895, 1250, 1251, 1252, 1253, 1254, 10000}) {
    const char32_t* units = collation_source_units(cp);
    ASSERT_NE(units, nullptr) << cp;
    const Charset* cs = get_charset_by_codepage(cp, false);
    ASSERT_NE(cs, nullptr) << cp;
    for (int b = 0; b < 256; ++b) {
      char byte = static_cast<char>(b);
      const char* p = &byte;
      char32_t c = cs->next(&p, p + 1);
      bool both_controls = (c < 0x20 || c == 0x7F) && (units[b] < 0x20 || units[b] == 0x7F);
      bool runtime_c1 = c >= 0x80 && c <= 0x9F && units[b] == 0xFFFD;  // 125x: C1 for undefined bytes
      if (both_controls || runtime_c1) continue;
      EXPECT_EQ(static_cast<uint32_t>(c), static_cast<uint32_t>(units[b])) << cp << " byte " << b;
    }
  }
  EXPECT_EQ(collation_source_units(932), nullptr);
}

TEST(Collation, SpanishKeysOrderChBetweenCzAndD) {
  const Collation* es = GetCollationByCOLID(15020);
  auto k = [&](const char* s) { return key_of(es, s, true, 20); };
  EXPECT_LT(k("czar"), k("chico"));
  EXPECT_LT(k("chico"), k("dado"));
  EXPECT_LT(k("cuzco"), k("chico"));
  EXPECT_LT(k("luz"), k("llama"));
  EXPECT_LT(k("llama"), k("mama"));
  EXPECT_LT(k("CZAR"), k("Chico"));
  // One primary weight for the pair.
  std::string ch = key_of(es, "ch", false, 20);
  EXPECT_EQ(ch, std::string("\x63"));
  // Only one byte before m: an l there is mapped alone even though an l follows it.
  std::string all = key_of(es, "all", true, 4);  // half = 2: a, l (not ll)
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(static_cast<uint8_t>(all[0]), 0x60);
  EXPECT_EQ(static_cast<uint8_t>(all[1]), 0x6D);
  // Through the collation's General rows: accents order after the plain letter, case is folded.
  const Collation* g = GetCollationByCOLID(2020);
  auto kg = [&](const String& s) {
    std::string key(16, '\0');
    size_t n = g->create_char_key(s, true, key.data(), 16);
    return key.substr(0, n);
  };
  EXPECT_EQ(kg(in("ABC", cp1252())), kg(in("abc", cp1252())));
  EXPECT_LT(kg(in("abc", cp1252())), kg(in("ábc", cp1252())));
  EXPECT_LT(kg(in("ábc", cp1252())), kg(in("àbc", cp1252())));
  EXPECT_LT(kg(in("àbz", cp1252())), kg(in("acb", cp1252())));  // primary first
  EXPECT_EQ(kg(in("Æsir", cp1252())).substr(0, 2), kg(in("AEsir", cp1252())).substr(0, 2));
}

TEST(Collation, MappedKeysAreFixedLengthAndPadded) {
  const Collation* g = GetCollationByCOLID(2020);
  size_t n1, n2, n3;
  std::string a = key_of(g, "abc", true, 10, &n1);
  std::string b = key_of(g, "abc   ", true, 10, &n2);
  EXPECT_EQ(n1, 10u);
  EXPECT_EQ(a, b);  // trailing blanks dropped
  // a (kind 1) has a secondary weight, b and c (kind 0) none: primaries 60 61 62, secondary 00, pad 00.
  EXPECT_EQ(a, std::string("\x60\x61\x62\x00\x00\x00\x00\x00\x00\x00", 10));
  std::string p = key_of(g, "abc", false, 10, &n3);
  EXPECT_EQ(n3, 3u);  // only primary weights
  EXPECT_EQ(p, std::string("\x60\x61\x62"));
  // A source of at least half the key: the secondary part follows even without pad.
  std::string full = key_of(g, "abcde", false, 10, &n3);
  EXPECT_EQ(n3, 10u);
  // A long source: half the key from its first bytes, the secondaries cut to the key length.
  std::string lng = key_of(g, "aaaaaaaaaaaaaaaaaaaaaaaa", false, 8, &n3);
  EXPECT_EQ(n3, 8u);
  EXPECT_EQ(lng, std::string("\x60\x60\x60\x60\x00\x00\x00\x00", 8));
  // Empty.
  EXPECT_EQ(key_of(g, "", true, 4), std::string(4, '\0'));
  EXPECT_EQ(key_of(g, "   ", false, 4, &n3), "");
  EXPECT_EQ(n3, 0u);
}

TEST(Collation, MappedKeysFromOtherCharsets) {
  const Collation* g = GetCollationByCOLID(2020);
  char k1[12], k2[12];
  String u8 = in("Müller", Charset::utf8);
  String w = in("Müller", cp1252());
  ASSERT_EQ(g->create_char_key(u8, true, k1, 12), 12u);
  ASSERT_EQ(g->create_char_key(w, true, k2, 12), 12u);
  EXPECT_EQ(std::memcmp(k1, k2, 12), 0);
  // The flagged instance of the charset is the same encoding: no conversion needed.
  String flagged(w.read(), w.size(), get_charset_by_codepage(1252, true));
  ASSERT_EQ(g->create_char_key(flagged, true, k1, 12), 12u);
  EXPECT_EQ(std::memcmp(k1, k2, 12), 0);
  // A character the code page lacks.
  EXPECT_THROW(g->create_char_key(in("Ωmega", Charset::utf8), true, k1, 12), collation_not_impl);
  // Binary text: its bytes as they are.
  String raw = bin("M\xFCller");
  ASSERT_EQ(g->create_char_key(raw, true, k1, 12), 12u);
  EXPECT_EQ(std::memcmp(k1, k2, 12), 0);
  // More than 256 bytes after conversion: the key is built from the first 256.
  std::string big(400, 'x');
  char kb[600], kc[600];
  String bigu(big.c_str());
  String big16 = in(big.c_str(), Charset::utf16le);
  size_t n = g->create_char_key(big16, true, kb, 600);
  EXPECT_EQ(n, 600u);
  std::string first256(256, 'x');
  g->create_char_key(first256.data(), 256, true, kc, 600);
  EXPECT_EQ(std::memcmp(kb, kc, 600), 0);
}

TEST(Collation, MappedKeyWritesStayInsideTheKey) {
  // A table where every character expands into two characters of kind 5: each source byte yields
  // four primary and four secondary weights, far more than the key holds.
  std::vector<collation_entry_st> t(256);
  for (int b = 0; b < 256; ++b) {
    t[b] = collation_entry_st{};
    t[b].c1 = static_cast<uint8_t>(b);
    if (b == 'X') {
      t[b].kind = COLL_EXPAND;
      t[b].w1 = 'Y';
      t[b].w2 = 'Y';
    } else {
      t[b].kind = COLL_TWO_TWO;
      t[b].w1 = 0x40;
      t[b].w2 = 0x41;
      t[b].s1 = 1;
      t[b].s2 = 2;
    }
  }
  Mapped_Collation m(&collation_table[4], cp1252(), t.data(), t.size());
  for (size_t keylen : {1u, 2u, 3u, 7u, 8u, 33u, 300u}) {
    std::vector<char> buf(keylen + 16, '\x5A');
    std::string src(400, 'X');
    size_t n = m.create_char_key(src.data(), src.size(), true, buf.data(), keylen);
    EXPECT_EQ(n, keylen);
    for (size_t i = keylen; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x5A') << keylen;
    n = m.create_char_key(src.data(), 1, false, buf.data(), keylen);
    EXPECT_LE(n, keylen);
    for (size_t i = keylen; i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x5A') << keylen;
  }
  // Kinds 3, 4 and 5 emit their weights in order.
  t['a'].kind = COLL_TWO_PRI;
  t['a'].w1 = 0x50;
  t['a'].w2 = 0x51;
  t['b'].kind = COLL_TWO_PRI_SEC;
  t['b'].w1 = 0x52;
  t['b'].w2 = 0x53;
  t['b'].s1 = 9;
  Mapped_Collation m2(&collation_table[4], cp1252(), t.data(), t.size());
  char key[12];
  ASSERT_EQ(m2.create_char_key("abc", 3, true, key, 12), 12u);
  EXPECT_EQ(std::string(key, 12), std::string("\x50\x51\x52\x53\x40\x41\x09\x01\x02\x00\x00\x00", 12));
}

TEST(Collation, MappedTableInvariants) {
  std::vector<collation_entry_st> t(256);
  for (int b = 0; b < 256; ++b) {
    t[b] = collation_entry_st{};
    t[b].c1 = static_cast<uint8_t>(b);
    t[b].w1 = 0x20;
  }
  EXPECT_THROW(Mapped_Collation(&collation_table[4], cp1252(), t.data(), 0), assert_failed_exception);
  EXPECT_THROW(Mapped_Collation(&collation_table[4], cp1252(), t.data(), 255), assert_failed_exception);
  auto dup = t;
  dup[7].c1 = 6;
  EXPECT_THROW(Mapped_Collation(&collation_table[4], cp1252(), dup.data(), dup.size()), assert_failed_exception);
  // A later multi-character entry with the same key replaces the earlier one.
  auto more = t;
  collation_entry_st d1{}, d2{};
  d1.kind = COLL_DIGRAPH;
  d1.c1 = 'q';
  d1.c2 = 'u';
  d1.w1 = 0x30;
  d2 = d1;
  d2.w1 = 0x31;
  more.push_back(d1);
  more.push_back(d2);
  Mapped_Collation m(&collation_table[4], cp1252(), more.data(), more.size());
  char key[4];
  ASSERT_EQ(m.create_char_key("qu", 2, false, key, 4), 4u);
  EXPECT_EQ(static_cast<uint8_t>(key[0]), 0x31);
}
