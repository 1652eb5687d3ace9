// Tests of the character sets and the charset registry.
//
// Everything here but the one test of get_charset_by_name(const String&) works on raw pointers,
// so it does not depend on the String layer.
#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/uloc.h>

#include <atomic>
#include <random>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "values/charset.h"
#include "values/charset_registry.h"

namespace qzbase {
namespace {

class CharsetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { __init_character_sets(); }
};

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

// Converts all of text from `from` into `to`; returns the result and the output in *out.
int convert_all(const Charset* from, const std::string& text, const Charset* to, std::string* out,
                CstranRecovery rec = 0, size_t room = 0) {
  size_t needed = room;
  if (needed == 0) {
    size_t counted = 0;
    from->calculate(text.data(), text.data() + text.size(), to, &counted, rec);
    needed = counted + 16;
  }
  std::vector<char> buffer(needed);
  const char* src = text.data();
  char* dst = buffer.data();
  int r = from->convert(&src, text.data() + text.size(), &dst, buffer.data() + buffer.size(), to, rec);
  out->assign(buffer.data(), dst);
  return r;
}

// UTF-8 of one code point.
std::string utf8(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    s.push_back(static_cast<char>(0xC0 | (c >> 6)));
    s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    s.push_back(static_cast<char>(0xE0 | (c >> 12)));
    s.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    s.push_back(static_cast<char>(0xF0 | (c >> 18)));
    s.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return s;
}

std::string emoji_at_2048();

enum Kind { K_BINARY, K_TABLE, K_GENERIC, K_UTF8, K_UTF16LE, K_UTF32LE };

Kind expected_kind(uint64_t csid) {
  switch (csid) {
    case 2: return K_BINARY;
    case 1: case 4: case 19: case 22: case 33: case 34: case 46: case 47: case 48: return K_TABLE;
    case 36: case 59: return K_UTF8;
    case 37: case 60: return K_UTF16LE;
    case 39: case 62: return K_UTF32LE;
    default: return K_GENERIC;
  }
}

bool has_kind(const Charset* c, Kind k) {
  switch (k) {
    case K_BINARY: return dynamic_cast<const Binary*>(c) != nullptr;
    case K_TABLE: return dynamic_cast<const Manual_SBCSCharset*>(c) != nullptr;
    case K_GENERIC: return dynamic_cast<const GenericCharset*>(c) != nullptr;
    case K_UTF8: return dynamic_cast<const UTF8*>(c) != nullptr;
    case K_UTF16LE: return dynamic_cast<const UTF16LE*>(c) != nullptr;
    case K_UTF32LE: return dynamic_cast<const UTF32LE*>(c) != nullptr;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------------------------

TEST_F(CharsetTest, EveryRecordLoadsWithItsKind) {
  ASSERT_EQ(kCharsetTableSize, 63u);
  std::vector<bool> seen(64, false);
  for (const charset_st& row : charset_table) {
    ASSERT_GE(row.csid, 1u);
    ASSERT_LE(row.csid, 63u);
    EXPECT_FALSE(seen[row.csid]) << "duplicate CSID " << row.csid;
    seen[row.csid] = true;
    const Charset* plain = get_charset_by_csid(row.csid);
    ASSERT_NE(plain, nullptr) << row.name;
    EXPECT_EQ(plain->csid(), row.csid);
    EXPECT_STREQ(plain->name(), row.name);
    EXPECT_TRUE(has_kind(plain, expected_kind(row.csid))) << row.name;
    EXPECT_EQ(plain->is_unicode(), (row.csid >= 35 && row.csid <= 40) || row.csid >= 59) << row.name;
    const Charset* flagged = get_charset_by_csid(row.csid | kCharsetFlaggedBit);
    ASSERT_NE(flagged, nullptr) << row.name;
    EXPECT_TRUE(flagged->is_flagged());
    EXPECT_TRUE(has_kind(flagged, expected_kind(row.csid))) << row.name;
    if (row.csid != 2) {
      EXPECT_FALSE(plain->is_flagged()) << row.name;
      EXPECT_NE(plain, flagged) << row.name;
    }
    // Cached: the same object again.
    EXPECT_EQ(get_charset_by_csid(row.csid), plain);
    EXPECT_EQ(GetCharsetByCSID(row.csid), plain);
  }
}

TEST_F(CharsetTest, ListSupportedCharset) {
  std::vector<std::string> names;
  list_supported_charset(&names, [](void* ctx, const char* name) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(name);
  });
  ASSERT_EQ(names.size(), 63u);
  EXPECT_EQ(names.front(), "ascii");
  EXPECT_EQ(names.back(), "x-mac-centraleu");
  EXPECT_EQ(names[36], "utf-8-bom");  // row 37 stands next to its plain twin
}

TEST_F(CharsetTest, GlobalsAndBinary) {
  ASSERT_NE(Charset::binary, nullptr);
  EXPECT_EQ(GetCharsetByCSID(2), Charset::binary);
  EXPECT_EQ(GetCharsetByCSID(0x10002), Charset::binary);
  EXPECT_TRUE(Charset::binary->is_flagged());
  EXPECT_EQ(Charset::ascii, GetCharsetByCSID(1));
  EXPECT_EQ(Charset::utf8, GetCharsetByCSID(36));
  EXPECT_EQ(Charset::utf16le, GetCharsetByCSID(37));
  EXPECT_EQ(Charset::utf32le, GetCharsetByCSID(39));
  // Idempotent: a second call changes nothing.
  const Charset* utf8 = Charset::utf8;
  __init_character_sets();
  EXPECT_EQ(Charset::utf8, utf8);
}

TEST_F(CharsetTest, LookupByCsid) {
  EXPECT_EQ(GetCharsetByCSID(64), nullptr);
  EXPECT_EQ(GetCharsetByCSID(0), nullptr);
  const Charset* bom8 = GetCharsetByCSID(59);
  ASSERT_NE(bom8, nullptr);
  EXPECT_NE(dynamic_cast<const UTF8*>(bom8), nullptr);
  EXPECT_STREQ(bom8->name(), "utf-8-bom");
  EXPECT_EQ(bom8->bom_length(), 3u);
  EXPECT_EQ(std::string(bom8->bom(), 3), "\xEF\xBB\xBF");
  EXPECT_EQ(GetCharsetCSID(bom8), 59u);
}

TEST_F(CharsetTest, LookupByName) {
  const Charset* u = get_charset_by_name("UTF-8");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->csid(), 36u);
  EXPECT_EQ(get_charset_by_name("utf8"), u);
  EXPECT_EQ(get_charset_by_name("utf-8"), u);
  EXPECT_FALSE(u->is_flagged());
  EXPECT_EQ(get_charset_by_name("utf-16"), nullptr);
  EXPECT_EQ(get_charset_by_name("utf-8\xC3\xA9"), nullptr);
  EXPECT_EQ(get_charset_by_name(""), nullptr);
  EXPECT_EQ(get_charset_by_name(static_cast<const char*>(nullptr)), nullptr);
  // Every table name and every alias.
  for (const charset_st& row : charset_table) {
    const Charset* c = get_charset_by_name(row.name);
    ASSERT_NE(c, nullptr) << row.name;
    EXPECT_EQ(c->csid(), row.csid);
  }
  const std::pair<const char*, uint64_t> aliases[] = {
      {"utf7", 35},    {"utf8", 36},     {"utf16le", 37}, {"utf16-le", 37}, {"utf16be", 38},
      {"UTF16-BE", 38}, {"utf32le", 39}, {"utf32-le", 39}, {"utf32be", 40}, {"utf32-be", 40}};
  for (auto& a : aliases) {
    const Charset* c = get_charset_by_name(a.first);
    ASSERT_NE(c, nullptr) << a.first;
    EXPECT_EQ(c->csid(), a.second) << a.first;
  }
  EXPECT_EQ(get_charset_by_name("Windows-1252")->csid(), 48u);
  EXPECT_EQ(get_charset_by_name("KAMENICKY")->csid(), 33u);
}

TEST_F(CharsetTest, LookupByWindowsCodepage) {
  EXPECT_EQ(GetCharsetByWindowsCodepage(20127), Charset::ascii);
  EXPECT_EQ(GetCharsetByWindowsCodepage(1252)->csid(), 48u);
  EXPECT_EQ(GetCharsetByWindowsCodepage(65001), Charset::utf8);
  EXPECT_EQ(GetCharsetByWindowsCodepage(1200), Charset::utf16le);
  EXPECT_EQ(GetCharsetByWindowsCodepage(65000)->csid(), 35u);
  EXPECT_FALSE(GetCharsetByWindowsCodepage(1252)->is_flagged());
}

TEST_F(CharsetTest, UnknownWindowsCodepageRaises1001) {
  for (int cp : {895, 620, 0, -1, 12345}) {
    try {
      GetCharsetByWindowsCodepage(cp);
      ADD_FAILURE() << "no exception for " << cp;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1001) << cp;
    }
  }
}

TEST_F(CharsetTest, LookupByXbaseCodepage) {
  const Charset* flagged = get_charset_by_codepage(1252, true);
  const Charset* plain = get_charset_by_codepage(1252, false);
  ASSERT_NE(flagged, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_NE(flagged, plain);
  EXPECT_EQ(flagged->csid(), 48u);
  EXPECT_EQ(plain->csid(), 48u);
  EXPECT_TRUE(flagged->is_flagged());
  EXPECT_FALSE(plain->is_flagged());
  EXPECT_EQ(get_charset_by_codepage(895, false)->csid(), 33u);
  EXPECT_EQ(get_charset_by_codepage(620, false)->csid(), 34u);
  EXPECT_EQ(get_charset_by_codepage(437, false)->csid(), 19u);
  EXPECT_EQ(get_charset_by_codepage(65001, false), Charset::utf8);
  EXPECT_EQ(get_charset_by_codepage(1257, false), nullptr);  // windows-1257 has none
  EXPECT_EQ(get_charset_by_codepage(12345, true), nullptr);
  EXPECT_EQ(GetCharsetCPID(get_charset_by_name("iso-8859-1")), 0u);
  EXPECT_EQ(GetCharsetCPID(Charset::utf8), 65001u);
  EXPECT_EQ(GetCharsetCPID(flagged), 1252u);
}

TEST_F(CharsetTest, BomTwins) {
  const std::pair<uint64_t, uint64_t> pairs[] = {{36, 59}, {37, 60}, {38, 61}, {39, 62}, {40, 63}};
  for (auto& p : pairs) {
    const Charset* twin = get_bom_charset(GetCharsetByCSID(p.first));
    ASSERT_NE(twin, nullptr) << p.first;
    EXPECT_EQ(twin, GetCharsetByCSID(p.second));
    EXPECT_FALSE(twin->is_flagged());
    EXPECT_GT(twin->bom_length(), 0u);
    EXPECT_EQ(twin->min_bytes(), GetCharsetByCSID(p.first)->min_bytes());
  }
  EXPECT_EQ(get_bom_charset(GetCharsetByCSID(59)), nullptr);
  EXPECT_EQ(get_bom_charset(Charset::ascii), nullptr);
  EXPECT_EQ(get_bom_charset(GetCharsetByCSID(35)), nullptr);
  EXPECT_EQ(get_bom_charset(nullptr), nullptr);
  // The flagged utf-8 has a plain twin too.
  EXPECT_EQ(get_bom_charset(GetCharsetByCSID(36 | kCharsetFlaggedBit)), GetCharsetByCSID(59));
}

TEST_F(CharsetTest, Utf7IsVariableWidth) {
  const Charset* u7 = GetCharsetByCSID(35);
  ASSERT_NE(u7, nullptr);
  EXPECT_FALSE(u7->is_fixed_width());
  EXPECT_EQ(u7->min_bytes(), 1u);
  EXPECT_EQ(u7->max_bytes(), 8u);
  EXPECT_EQ(u7->bom_length(), 5u);
  EXPECT_EQ(std::string(u7->bom(), 3), "+/v");
  // The signature decodes to U+FEFF.
  std::string sig;
  ASSERT_EQ(convert_all(u7, std::string(u7->bom(), u7->bom_length()), Charset::utf8, &sig), 0);
  EXPECT_EQ(sig, utf8(0xFEFF));
  // A size estimate from max_bytes covers the real size: one supplementary character after a shift.
  std::string text = utf8(0x1F600);
  std::string out;
  ASSERT_EQ(convert_all(Charset::utf8, text, u7, &out), 0);
  EXPECT_LE(out.size(), u7->max_bytes());
  std::string back;
  ASSERT_EQ(convert_all(u7, out, Charset::utf8, &back), 0);
  EXPECT_EQ(back, text);
}

TEST_F(CharsetTest, CountryLangTable) {
  ASSERT_EQ(kLocaleTableSize, 51u);
  EXPECT_STREQ(locale_codepage_table[0].locale, "ar_AA");
  EXPECT_STREQ(locale_codepage_table[50].locale, "zh_TW");
  EXPECT_EQ(get_charset_by_country_lang("de_DE")->csid(), 48u);
  EXPECT_EQ(get_charset_by_country_lang("pl_PL")->csid(), 46u);
  EXPECT_EQ(get_charset_by_country_lang("ja_JP")->csid(), 42u);
  EXPECT_EQ(get_charset_by_country_lang("th_TH")->csid(), 41u);
  EXPECT_EQ(get_charset_by_country_lang("de_de"), nullptr);  // case-sensitive
  EXPECT_EQ(get_charset_by_country_lang("en_IE"), nullptr);
  EXPECT_EQ(get_charset_by_country_lang(nullptr), nullptr);
  for (const locale_codepage_st& row : locale_codepage_table)
    EXPECT_NE(get_charset_by_country_lang(row.locale), nullptr) << row.locale;
}

class DefaultLocale {
 public:
  explicit DefaultLocale(const char* locale) {
    saved_ = uloc_getDefault();
    UErrorCode st = U_ZERO_ERROR;
    uloc_setDefault(locale, &st);
  }
  ~DefaultLocale() {
    UErrorCode st = U_ZERO_ERROR;
    uloc_setDefault(saved_.c_str(), &st);
  }

 private:
  std::string saved_;
};

uint64_t locale_csid(const char* locale) {
  DefaultLocale guard(locale);
  const Charset* c = get_locale_default_charset();
  return c ? c->csid() : 0;
}

TEST_F(CharsetTest, LocaleDefaultCharset) {
  EXPECT_EQ(locale_csid("de_DE"), 48u);
  EXPECT_EQ(locale_csid("en_US"), 48u);
  EXPECT_EQ(locale_csid("ru_RU"), 47u);
  EXPECT_EQ(locale_csid("ja_JP"), 42u);
  EXPECT_EQ(locale_csid("en_IE"), 19u);  // not in the table: ibm-437
  // Languages of 3 letters and numeric regions (the old 3-byte buffers were unterminated).
  EXPECT_EQ(locale_csid("fil_PH"), 19u);
  EXPECT_EQ(locale_csid("es_419"), 19u);
  EXPECT_EQ(locale_csid("haw_US"), 19u);
  EXPECT_EQ(locale_csid("de"), 19u);  // no country
  // Hebrew: ICU says "he", the table says "iw".
  EXPECT_EQ(locale_csid("iw_IL"), 51u);
  EXPECT_EQ(locale_csid("he_IL"), 51u);
}

// Runs in a child process: it empties the registry, which the other tests of this binary share.
void concurrent_first_loads() {
  __cleanup_character_sets();
  if (Charset::binary != nullptr) exit(2);
  std::atomic<bool> go{false};
  constexpr int kThreads = 8;
  std::vector<std::vector<const Charset*>> seen(kThreads, std::vector<const Charset*>(126));
  std::vector<char> converted(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) {
      }
      if (t % 2 == 0) __init_character_sets();
      for (int i = 0; i < 126; ++i) {
        int k = (i + 7 * t) % 126;  // every thread in its own order
        size_t id = static_cast<size_t>(k % 63 + 1) | (k >= 63 ? kCharsetFlaggedBit : 0);
        seen[t][k] = get_charset_by_csid(id);
      }
      // Convert with ICU kinds in every thread (each thread uses its own clones).
      const Charset* be = get_charset_by_csid(38);
      const Charset* u8 = get_charset_by_csid(36);
      std::string text = "thread " + std::to_string(t) + " " + utf8(0x1F600) + emoji_at_2048();
      std::string out, back;
      converted[t] = convert_all(u8, text, be, &out) == 0 && convert_all(be, out, u8, &back) == 0 && back == text;
    });
  }
  go.store(true);
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    if (!converted[t]) exit(3);
    if (seen[t] != seen[0]) exit(4);
  }
  for (const Charset* c : seen[0])
    if (!c) exit(5);
  if (Charset::binary == nullptr || Charset::utf8 != get_charset_by_csid(36)) exit(6);
  exit(0);
}

TEST_F(CharsetTest, ConcurrentFirstLoadsGiveOneObject) {
  EXPECT_EXIT(concurrent_first_loads(), ::testing::ExitedWithCode(0), "");
}

// Runs in a child process: converts with an ICU kind from an exit handler, after the main thread's
// thread-locals (its clone map) are gone, then empties the registry.
void convert_at_exit() {
  std::atexit([] {
    const Charset* be = get_charset_by_csid(38);
    std::string text = "late " + utf8(0x1F600);
    for (int i = 0; i < 3; ++i) {
      std::string out, back;
      if (convert_all(get_charset_by_csid(36), text, be, &out) != 0 ||
          convert_all(be, out, get_charset_by_csid(36), &back) != 0 || back != text)
        _exit(7);
    }
    __cleanup_character_sets();
  });
  std::string out;
  convert_all(Charset::utf8, "early", get_charset_by_csid(38), &out);
  exit(0);
}

TEST_F(CharsetTest, ConversionsAfterThreadLocalsAreGone) {
  EXPECT_EXIT(convert_at_exit(), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------------------------
// Single-byte tables
// ---------------------------------------------------------------------------------------------

const Manual_SBCSCharset* table(uint64_t csid) {
  const Manual_SBCSCharset* t = dynamic_cast<const Manual_SBCSCharset*>(GetCharsetByCSID(csid));
  EXPECT_NE(t, nullptr) << csid;
  return t;
}

TEST_F(CharsetTest, Windows1252Table) {
  const Manual_SBCSCharset* w = table(48);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->map()[0x80], 0x20AC);
  EXPECT_EQ(w->map()[0x81], 0x0081);
  EXPECT_EQ(w->map()[0x8D], 0x008D);
  EXPECT_EQ(w->map()[0x9F], 0x0178);
  EXPECT_EQ(w->reverse(0x20AC), 0x80);
  EXPECT_EQ(w->reverse(0x0081), 0x81);
  EXPECT_EQ(w->substitution(), 26);
  std::string out;
  ASSERT_EQ(convert_all(Charset::utf8, utf8(0x20AC) + utf8(0x81), w, &out, 1), 0);
  EXPECT_EQ(out, bytes({0x80, 0x81}));
  ASSERT_EQ(convert_all(w, bytes({0x80, 0x81, 0x41}), Charset::utf8, &out), 0);
  EXPECT_EQ(out, utf8(0x20AC) + utf8(0x81) + "A");
  // Every byte of 1250, 1251 and 1252 is defined; 0x98 of 1251 is the C1 control.
  for (uint64_t csid : {46, 47, 48}) {
    for (int b = 0; b < 256; ++b) EXPECT_NE(table(csid)->map()[b], 0xFFFD) << csid << " " << b;
  }
  EXPECT_EQ(table(47)->map()[0x98], 0x0098);
  EXPECT_EQ(table(47)->map()[0xC0], 0x0410);
  EXPECT_EQ(table(46)->map()[0x8A], 0x0160);
}

TEST_F(CharsetTest, AsciiAndLatin1Tables) {
  const Manual_SBCSCharset* a = table(1);
  ASSERT_NE(a, nullptr);
  for (int b = 0; b < 0x80; ++b) EXPECT_EQ(a->map()[b], b);
  for (int b = 0x80; b < 0x100; ++b) EXPECT_EQ(a->map()[b], 0xFFFD);
  EXPECT_EQ(a->substitution(), 26);
  const Manual_SBCSCharset* l = table(4);
  for (int b = 0; b < 0x100; ++b) EXPECT_EQ(l->map()[b], b);
  EXPECT_EQ(l->substitution(), 26);
}

TEST_F(CharsetTest, DosTablesUseTheIbmArrangement) {
  for (uint64_t csid : {19, 22, 33, 34}) {
    const Manual_SBCSCharset* t = table(csid);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->map()[0x1A], 0x001C) << csid;
    EXPECT_EQ(t->map()[0x1C], 0x007F) << csid;
    EXPECT_EQ(t->map()[0x7F], 0x001A) << csid;
    EXPECT_EQ(t->reverse(0x001A), 0x7F) << csid;
    EXPECT_EQ(t->reverse(0x001C), 0x1A) << csid;
    EXPECT_EQ(t->reverse(0x007F), 0x1C) << csid;
    EXPECT_EQ(t->substitution(), 127) << csid;
    for (int b = 0; b < 256; ++b) EXPECT_NE(t->map()[b], 0xFFFD) << csid << " " << b;
  }
  EXPECT_EQ(table(19)->map()[0x80], 0x00C7);
  EXPECT_EQ(table(19)->map()[0xE1], 0x00DF);
  EXPECT_EQ(table(22)->map()[0x9B], 0x00F8);
  EXPECT_EQ(table(22)->map()[0xD5], 0x0131);
}

TEST_F(CharsetTest, EuroIntoIbm437) {
  const Charset* dos = GetCharsetByCSID(19);
  std::string euro = utf8(0x20AC);
  std::string out;
  EXPECT_EQ(convert_all(Charset::utf8, euro, dos, &out, 0), 0);
  EXPECT_EQ(out, bytes({0x7F}));
  EXPECT_EQ(convert_all(Charset::utf8, "a" + euro, dos, &out, 1, 16), 1);
  // `in` under recovery 1 keeps both pointers where they were.
  const char16_t units[] = {u'a', 0x20AC};
  const char16_t* s = units;
  char buf[4];
  char* d = buf;
  EXPECT_EQ(dos->in(&s, units + 2, &d, buf + 4, 1), 1);
  EXPECT_EQ(s, units);
  EXPECT_EQ(d, buf);
  // A supplementary character gives two substitution bytes.
  EXPECT_EQ(convert_all(Charset::utf8, utf8(0x1F600), dos, &out, 0), 0);
  EXPECT_EQ(out, bytes({0x7F, 0x7F}));
}

TEST_F(CharsetTest, KamenickyTable) {
  const Manual_SBCSCharset* k = table(33);
  ASSERT_NE(k, nullptr);
  // Czech and Slovak letters of code page 895.
  EXPECT_EQ(k->map()[0x80], 0x010C);  // C-caron
  EXPECT_EQ(k->map()[0x87], 0x010D);  // c-caron
  EXPECT_EQ(k->map()[0x88], 0x011B);  // e-caron
  EXPECT_EQ(k->map()[0x9B], 0x0160);  // S-caron
  EXPECT_EQ(k->map()[0xA0], 0x00E1);  // a-acute
  EXPECT_EQ(k->map()[0xA8], 0x0161);  // s-caron
  EXPECT_EQ(k->map()[0x96], 0x016F);  // u-ring
  EXPECT_EQ(k->map()[0xB0], 0x2591);
  EXPECT_EQ(k->reverse(0x017E), 0x91);  // z-caron
}

TEST_F(CharsetTest, MazoviaPolishLetters) {
  const Manual_SBCSCharset* m = table(34);
  ASSERT_NE(m, nullptr);
  const std::pair<int, char16_t> polish[] = {
      {0x8F, 0x0104}, {0x95, 0x0106}, {0x90, 0x0118}, {0x9C, 0x0141}, {0xA5, 0x0143}, {0xA3, 0x00D3},
      {0x98, 0x015A}, {0xA0, 0x0179}, {0xA1, 0x017B}, {0x86, 0x0105}, {0x8D, 0x0107}, {0x91, 0x0119},
      {0x92, 0x0142}, {0xA4, 0x0144}, {0xA2, 0x00F3}, {0x9E, 0x015B}, {0xA6, 0x017A}, {0xA7, 0x017C}};
  std::vector<bool> is_polish(256, false);
  for (auto& p : polish) {
    EXPECT_EQ(m->map()[p.first], p.second) << std::hex << p.first;
    EXPECT_EQ(m->reverse(p.second), p.first) << std::hex << static_cast<int>(p.second);
    is_polish[p.first] = true;
  }
  // Every other position is that of IBM 437 (checks the typed-in chart against ICU's 437).
  const Manual_SBCSCharset* ibm437 = table(19);
  for (int b = 0; b < 256; ++b) {
    if (!is_polish[b] || b == 0xA2) {
      EXPECT_EQ(m->map()[b], ibm437->map()[b]) << std::hex << b;
    }
  }
  std::string out;
  ASSERT_EQ(convert_all(m, bytes({0x86, 0x92, 0xA7}), Charset::utf8, &out), 0);
  EXPECT_EQ(out, "\xC4\x85\xC5\x82\xC5\xBC");  // ą ł ż
}

TEST_F(CharsetTest, SbcsVerifyAndNext) {
  size_t vb = 0, vc = 0, ic = 0, fi = 0;
  std::string t = bytes({0x41, 0xC3, 0x42});
  Charset::ascii->verify(t.data(), t.size(), &vb, &vc, &ic, &fi);
  EXPECT_EQ(vb, 2u);
  EXPECT_EQ(vc, 2u);
  EXPECT_EQ(ic, 1u);
  EXPECT_EQ(fi, 2u);
  const char* p = t.data();
  EXPECT_EQ(Charset::ascii->next(&p, t.data() + 3), U'A');
  EXPECT_EQ(Charset::ascii->next(&p, t.data() + 3), 0xFFFDu);
  EXPECT_EQ(p, t.data() + 2);
  p = t.data();
  EXPECT_TRUE(Charset::ascii->scan(&p, t.data() + 3));
  EXPECT_FALSE(Charset::ascii->scan(&p, t.data() + 3));
  EXPECT_EQ(Charset::ascii->peek_next(p, t.data() + 3), U'B');
  EXPECT_EQ(Charset::ascii->count_chars(t.data(), t.data() + 3), 3u);
}

TEST_F(CharsetTest, SbcsShortDestination) {
  const Charset* w = GetCharsetByCSID(48);
  std::string text = "hello world";
  char buf[4];
  const char* s = text.data();
  char* d = buf;
  EXPECT_EQ(Charset::utf8->convert(&s, text.data() + text.size(), &d, buf + 4, w, 0), -1);
  EXPECT_EQ(d, buf + 4);
  EXPECT_EQ(std::string(buf, 4), "hell");
}

// ---------------------------------------------------------------------------------------------
// Binary
// ---------------------------------------------------------------------------------------------

TEST_F(CharsetTest, BinaryKind) {
  const Charset* b = Charset::binary;
  std::string t = bytes({0x41, 0x80, 0xFF});
  const char* p = t.data();
  EXPECT_EQ(b->next(&p, t.data() + 3), 0x41u);
  EXPECT_EQ(b->next(&p, t.data() + 3), 0xFFFFFF80u);
  size_t n = 0;
  EXPECT_EQ(b->calculate(t.data(), t.data() + 3, Charset::utf8, &n, 1), 0);
  EXPECT_EQ(n, 3u);
  char buf[2];
  const char* s = t.data();
  char* d = buf;
  EXPECT_EQ(b->convert(&s, t.data() + 3, &d, buf + 2, Charset::utf8, 1), 0);
  EXPECT_EQ(d, buf + 2);
  EXPECT_EQ(s, t.data() + 2);
  size_t vb = 0, vc = 0, ic = 0, fi = 0;
  b->verify(t.data(), 3, &vb, &vc, &ic, &fi);
  EXPECT_EQ(vb, 3u);
  EXPECT_EQ(vc, 3u);
  EXPECT_EQ(ic, 0u);
  EXPECT_EQ(fi, 0u);
  // The pivot into binary stops: binary has no `in`.
  std::string out;
  EXPECT_EQ(convert_all(Charset::utf8, "abc", b, &out, 0, 16), 1);
}

// ---------------------------------------------------------------------------------------------
// Own decoders
// ---------------------------------------------------------------------------------------------

struct Step {
  char32_t c;
  size_t advance;
};

void expect_steps(const Charset* c, const std::string& text, std::vector<Step> steps) {
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (size_t i = 0; i < steps.size(); ++i) {
    ASSERT_LT(p, end) << "step " << i;
    const char* before = p;
    char32_t got = c->next(&p, end);
    EXPECT_EQ(got, steps[i].c) << "step " << i;
    EXPECT_EQ(static_cast<size_t>(p - before), steps[i].advance) << "step " << i;
  }
  EXPECT_EQ(p, end);
}

TEST_F(CharsetTest, Utf8Next) {
  const Charset* u = Charset::utf8;
  expect_steps(u, bytes({0xE0, 0x80}), {{0xFFFD, 1}, {0xFFFD, 1}});
  expect_steps(u, bytes({0xE1, 0x80, 0x41}), {{0xFFFD, 2}, {0x41, 1}});
  expect_steps(u, bytes({0xF0, 0x9F, 0x98}), {{0xFFFD, 3}});
  expect_steps(u, bytes({0xED, 0xA0, 0x80}), {{0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}});
  expect_steps(u, bytes({0xC3, 0xA9, 0x41}), {{0xE9, 2}, {0x41, 1}});
  expect_steps(u, bytes({0xF0, 0x9F, 0x98, 0x80}), {{0x1F600, 4}});
  expect_steps(u, bytes({0xC0, 0xAF}), {{0xFFFD, 1}, {0xFFFD, 1}});
  expect_steps(u, bytes({0xF4, 0x90, 0x80, 0x80}), {{0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}});
  expect_steps(u, bytes({0xF4, 0x8F, 0xBF, 0xBF}), {{0x10FFFF, 4}});
  expect_steps(u, bytes({0xEF, 0xBF, 0xBD}), {{0xFFFD, 3}});
  expect_steps(u, bytes({0xC3}), {{0xFFFD, 1}});
  expect_steps(u, bytes({0xE0, 0xA0}), {{0xFFFD, 2}});
  std::string mixed = "a" + utf8(0xE9) + utf8(0x1F600) + bytes({0x80}) + "z";
  EXPECT_EQ(u->count_chars(mixed.data(), mixed.data() + mixed.size()), 5u);
}

TEST_F(CharsetTest, Utf16LeNext) {
  const Charset* u = Charset::utf16le;
  expect_steps(u, bytes({0x3D, 0xD8, 0x00, 0xDE}), {{0x1F600, 4}});
  expect_steps(u, bytes({0x00, 0xDC, 0x41, 0x00}), {{0xFFFD, 2}, {0x41, 2}});
  expect_steps(u, bytes({0x3D, 0xD8, 0x41, 0x00}), {{0xFFFD, 2}, {0x41, 2}});
  expect_steps(u, bytes({0x3D, 0xD8, 0x00}), {{0xFFFD, 2}, {0xFFFD, 1}});
  expect_steps(u, bytes({0x41}), {{0xFFFD, 1}});
  expect_steps(u, bytes({0xE9, 0x00}), {{0xE9, 2}});
}

TEST_F(CharsetTest, Utf32LeNext) {
  const Charset* u = Charset::utf32le;
  expect_steps(u, bytes({0x00, 0xF6, 0x01, 0x00, 0x41, 0x00, 0x00, 0x00}), {{0x1F600, 4}, {0x41, 4}});
  expect_steps(u, bytes({0xFF, 0xFF, 0xFF, 0x7F}), {{0x7FFFFFFF, 4}});  // no range check
  expect_steps(u, bytes({0x41, 0x00, 0x00}), {{0xFFFD, 3}});
  std::string eight(8, '\xFF');  // count_chars does not decode a fixed-width charset
  EXPECT_EQ(u->count_chars(eight.data(), eight.data() + 8), 2u);
}

TEST_F(CharsetTest, NextAtEndAndPrevAtBeginAreBrokenInvariants) {
  std::string t = "a";
  for (uint64_t csid : {1, 2, 36, 37, 38, 39, 43}) {
    const Charset* c = GetCharsetByCSID(csid);
    const char* p = t.data();
    EXPECT_THROW(c->next(&p, t.data()), assert_failed_exception) << csid;
    EXPECT_THROW(c->prev(&p, t.data()), assert_failed_exception) << csid;
  }
}

// ---------------------------------------------------------------------------------------------
// prev
// ---------------------------------------------------------------------------------------------

void expect_prev(const Charset* c, const std::string& text, std::vector<Step> steps) {
  const char* begin = text.data();
  const char* p = text.data() + text.size();
  for (size_t i = 0; i < steps.size(); ++i) {
    ASSERT_GT(p, begin) << "step " << i;
    const char* before = p;
    char32_t got = c->prev(&p, begin);
    EXPECT_EQ(got, steps[i].c) << "step " << i;
    EXPECT_EQ(static_cast<size_t>(before - p), steps[i].advance) << "step " << i;
  }
  EXPECT_EQ(p, begin);
}

TEST_F(CharsetTest, PrevUtf8) {
  const Charset* u = Charset::utf8;
  expect_prev(u, bytes({0xC3, 0xA9}), {{0xE9, 2}});
  // A genuine U+FFFD (EF BF BD) is one character of 3 bytes.
  expect_prev(u, bytes({0x41, 0xEF, 0xBF, 0xBD}), {{0xFFFD, 3}, {0x41, 1}});
  expect_prev(u, bytes({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD}), {{0xFFFD, 3}, {0xFFFD, 3}});
  expect_prev(u, bytes({0x41, 0xF0, 0x9F, 0x98, 0x80, 0x42}), {{0x42, 1}, {0x1F600, 4}, {0x41, 1}});
  // Malformed bytes step back as a forward decoding reads them.
  expect_prev(u, bytes({0x41, 0x80}), {{0xFFFD, 1}, {0x41, 1}});
  expect_prev(u, bytes({0x41, 0xE1, 0x80}), {{0xFFFD, 2}, {0x41, 1}});
  expect_prev(u, bytes({0xE1, 0x80, 0x41}), {{0x41, 1}, {0xFFFD, 2}});
  expect_prev(u, bytes({0xC3, 0x41}), {{0x41, 1}, {0xFFFD, 1}});
}

TEST_F(CharsetTest, PrevOtherKinds) {
  expect_prev(Charset::utf16le, bytes({0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE}), {{0x1F600, 4}, {0x41, 2}});
  expect_prev(Charset::utf16le, bytes({0xFD, 0xFF, 0x41, 0x00}), {{0x41, 2}, {0xFFFD, 2}});
  expect_prev(Charset::utf32le, bytes({0xFD, 0xFF, 0x00, 0x00, 0x41, 0, 0, 0}), {{0x41, 4}, {0xFFFD, 4}});
  expect_prev(Charset::utf32le, bytes({0x41, 0, 0, 0, 0x42, 0}), {{0xFFFD, 2}, {0x41, 4}});
  expect_prev(GetCharsetByCSID(48), bytes({0x80, 0x41}), {{0x41, 1}, {0x20AC, 1}});
  // windows-936 (GBK): B0 A1 is U+554A.
  expect_prev(GetCharsetByCSID(43), bytes({0x41, 0xB0, 0xA1}), {{0x554A, 2}, {0x41, 1}});
  // utf-16be through ICU.
  expect_prev(GetCharsetByCSID(38), bytes({0xD8, 0x3D, 0xDE, 0x00, 0xFF, 0xFD}), {{0xFFFD, 2}, {0x1F600, 4}});
}

// ---------------------------------------------------------------------------------------------
// ICU kinds and the pivot
// ---------------------------------------------------------------------------------------------

TEST_F(CharsetTest, CalculateAcrossChunks) {
  std::string text(3000, 'a');
  size_t n = 0;
  EXPECT_EQ(Charset::utf8->calculate(text.data(), text.data() + text.size(), Charset::utf16le, &n, 1), 0);
  EXPECT_EQ(n, 6000u);
  // More than one 4096-byte scratch area per chunk: 2048 units into UTF-32.
  std::string big(10000, 'z');
  EXPECT_EQ(Charset::utf8->calculate(big.data(), big.data() + big.size(), Charset::utf32le, &n, 1), 0);
  EXPECT_EQ(n, 40000u);
  EXPECT_EQ(Charset::utf8->calculate(big.data(), big.data(), Charset::utf32le, &n, 1), 0);
  EXPECT_EQ(n, 0u);
}

// A UTF-8 text whose UTF-16 form has a lead surrogate as its 2048th unit.
std::string emoji_at_2048() {
  std::string text(2047, 'a');
  text += utf8(0x1F600);
  text += "bc";
  text += utf8(0xE9);
  for (int i = 0; i < 3000; ++i) text += static_cast<char>('a' + i % 26);
  text += utf8(0x1F680);
  return text;
}

TEST_F(CharsetTest, SurrogatePairAtTheChunkBoundary) {
  const std::string text = emoji_at_2048();
  for (uint64_t csid : {37, 38, 39, 40, 60, 61, 35}) {
    const Charset* target = GetCharsetByCSID(csid);
    for (CstranRecovery rec : {0, 1}) {
      std::string mid, back;
      ASSERT_EQ(convert_all(Charset::utf8, text, target, &mid, rec), 0) << target->name() << " rec " << rec;
      size_t counted = 0;
      EXPECT_EQ(Charset::utf8->calculate(text.data(), text.data() + text.size(), target, &counted, rec), 0);
      EXPECT_EQ(counted, mid.size()) << target->name();
      ASSERT_EQ(convert_all(target, mid, Charset::utf8, &back, rec), 0) << target->name() << " rec " << rec;
      EXPECT_EQ(back, text) << target->name() << " rec " << rec;
    }
  }
  // Into UTF-8 from a UTF-16LE text whose unit 2048 is a lead surrogate, and into an ICU
  // single-byte target: one substitute for the emoji, not two.
  std::string le;
  ASSERT_EQ(convert_all(Charset::utf8, text, Charset::utf16le, &le, 1), 0);
  ASSERT_EQ(static_cast<unsigned char>(le[2 * 2047 + 1]), 0xD8u);
  std::string back;
  ASSERT_EQ(convert_all(Charset::utf16le, le, Charset::utf8, &back, 1), 0);
  EXPECT_EQ(back, text);
  const Charset* latin2 = GetCharsetByCSID(5);  // iso-8859-2, an ICU kind
  std::string l2;
  ASSERT_EQ(convert_all(Charset::utf16le, le, latin2, &l2, 0), 0);
  EXPECT_EQ(l2.size(), text.size() - 4 - 4 - 1 + 2);  // 2 emoji -> 1 byte each, é -> 1 byte
  EXPECT_EQ(l2.substr(2047, 4), "\x1A" "bc\xE9");
}

TEST_F(CharsetTest, ShortDestinationReportsFull) {
  std::string text = "hello world";
  for (uint64_t csid : {38, 36, 5, 43, 48, 39}) {
    const Charset* target = GetCharsetByCSID(csid);
    char buf[4];
    const char* s = text.data();
    char* d = buf;
    EXPECT_EQ(Charset::utf8->convert(&s, text.data() + text.size(), &d, buf + 4, target, 0), -1)
        << target->name();
    EXPECT_LE(d, buf + 4);
  }
  // A character split by a full destination leaves nothing behind for the next conversion.
  const Charset* u8 = GetCharsetByCSID(36);
  const Charset* be = GetCharsetByCSID(38);
  std::string u16 = bytes({0x4E, 0x2D});
  char one[1];
  const char* s = u16.data();
  char* d = one;
  EXPECT_EQ(be->convert(&s, u16.data() + 2, &d, one + 1, u8, 0), -1);
  std::string out;
  ASSERT_EQ(convert_all(be, bytes({0x00, 0x41}), u8, &out, 0, 16), 0);  // no calculate first
  EXPECT_EQ(out, "A");
  size_t n = 99;
  s = u16.data();
  d = one;
  EXPECT_EQ(be->convert(&s, u16.data() + 2, &d, one + 1, u8, 0), -1);
  EXPECT_EQ(be->calculate(u16.data(), u16.data() + 2, u8, &n, 0), 0);
  EXPECT_EQ(n, 3u);
  // ICU `in` directly: a full destination is -1, not 0.
  const char16_t units[] = {u'a', u'b', u'c'};
  const char16_t* us = units;
  char two[2];
  char* td = two;
  EXPECT_EQ(be->in(&us, units + 3, &td, two + 2, 0), -1);
}

// What `in` writes into a Unicode kind, called again with a fresh window of `room` bytes after
// each -1 as the pivot's callers do: the bytes, the final result and the units consumed.
struct Encoded {
  std::string bytes;
  int result;
  size_t consumed;
  bool operator==(const Encoded& o) const {
    return bytes == o.bytes && result == o.result && consumed == o.consumed;
  }
};

Encoded encode_with_charset(const Charset* cs, const std::u16string& text, CstranRecovery rec, size_t room) {
  dynamic_cast<const _ICUConverterCharset*>(cs)->reset_thread_converter();
  Encoded e{{}, 0, 0};
  const char16_t* s = text.data();
  for (int round = 0; round < 200; ++round) {
    std::vector<char> window(room);
    char* d = window.data();
    e.result = cs->in(&s, text.data() + text.size(), &d, window.data() + room, rec);
    e.bytes.append(window.data(), d);
    if (e.result != -1) break;
  }
  e.consumed = static_cast<size_t>(s - text.data());
  return e;
}

Encoded encode_with_icu(const char* name, const std::u16string& text, CstranRecovery rec, size_t room) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* cnv = ucnv_open(name, &status);
  EXPECT_TRUE(U_SUCCESS(status));
  ucnv_setFromUCallBack(cnv, rec ? UCNV_FROM_U_CALLBACK_STOP : UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr,
                        nullptr, nullptr, &status);
  Encoded e{{}, 0, 0};
  const UChar* s = reinterpret_cast<const UChar*>(text.data());
  const UChar* end = s + text.size();
  for (int round = 0; round < 200; ++round) {
    std::vector<char> window(room);
    char* d = window.data();
    status = U_ZERO_ERROR;
    ucnv_fromUnicode(cnv, &d, window.data() + room, &s, end, nullptr, true, &status);
    e.bytes.append(window.data(), d);
    e.result = status == U_BUFFER_OVERFLOW_ERROR ? -1 : U_FAILURE(status) ? 1 : 0;
    if (e.result != -1) break;
  }
  e.consumed = static_cast<size_t>(s - reinterpret_cast<const UChar*>(text.data()));
  ucnv_close(cnv);
  return e;
}

// The Unicode kinds encode most text themselves: whatever the text (unpaired surrogates, a lead
// surrogate at the end), the recovery and the room, the bytes, results and stops are those of
// their ICU converter.
TEST_F(CharsetTest, UnicodeKindsEncodeAsTheirConverters) {
  const char16_t alphabet[] = {u'a', 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x4E2D, 0xFFFD, 0xFFFF, 0xD83D, 0xDE00, 0xDBFF};
  std::vector<std::u16string> texts = {
      u"", u"hello", u"a\u00E9\u4E2Dz", u"\U0001F600", u"a\U0001F600b",
      std::u16string{u'a', 0xD83D},          // a lead at the end
      std::u16string{0xDE00, u'b'},          // a trail alone
      std::u16string{u'x', 0xD83D, u'y'},    // a lead alone
      std::u16string{0xD83D, 0xD83D, 0xDE00},
  };
  std::mt19937 random(45);
  for (int i = 0; i < 300; ++i) {
    std::u16string t;
    size_t n = random() % 9;
    for (size_t k = 0; k < n; ++k) t.push_back(alphabet[random() % (sizeof alphabet / sizeof alphabet[0])]);
    texts.push_back(t);
  }
  for (uint64_t csid : {36, 37, 39}) {
    const Charset* cs = GetCharsetByCSID(csid);
    for (const std::u16string& text : texts) {
      for (CstranRecovery rec : {0, 1}) {
        for (size_t room : {1, 2, 3, 4, 5, 7, 64}) {
          Encoded ours = encode_with_charset(cs, text, rec, room);
          Encoded icu = encode_with_icu(cs->record().icu_name, text, rec, room);
          std::string units;
          for (char16_t u : text) units += std::to_string(static_cast<unsigned>(u)) + " ";
          EXPECT_TRUE(ours == icu) << cs->name() << " rec " << rec << " room " << room << " units " << units
                                   << " result " << ours.result << "/" << icu.result << " consumed "
                                   << ours.consumed << "/" << icu.consumed << " bytes " << ours.bytes.size()
                                   << "/" << icu.bytes.size();
        }
      }
    }
  }
}

TEST_F(CharsetTest, IcuUnrepresentable) {
  const Charset* latin2 = GetCharsetByCSID(5);
  std::string out;
  EXPECT_EQ(convert_all(Charset::utf8, "a" + utf8(0x20AC) + "b", latin2, &out, 0), 0);
  EXPECT_EQ(out, "a\x1A" "b");
  EXPECT_EQ(convert_all(Charset::utf8, "a" + utf8(0x20AC) + "b", latin2, &out, 1, 16), 1);
  // After a stop the thread's converter is clean again.
  EXPECT_EQ(convert_all(Charset::utf8, "xyz", latin2, &out, 1), 0);
  EXPECT_EQ(out, "xyz");
  // Into windows-936 and back.
  const Charset* gbk = GetCharsetByCSID(43);
  std::string text = "A" + utf8(0x554A) + utf8(0x4E2D) + "z";
  std::string mid, back;
  ASSERT_EQ(convert_all(Charset::utf8, text, gbk, &mid, 1), 0);
  EXPECT_EQ(mid, bytes({0x41, 0xB0, 0xA1, 0xD6, 0xD0, 0x7A}));
  ASSERT_EQ(convert_all(gbk, mid, Charset::utf8, &back, 1), 0);
  EXPECT_EQ(back, text);
  EXPECT_EQ(gbk->count_chars(mid.data(), mid.data() + mid.size()), 4u);
}

TEST_F(CharsetTest, IcuVerifyAndNext) {
  size_t vb = 0, vc = 0, ic = 0, fi = 0;
  std::string good = "a" + utf8(0xE9) + utf8(0x1F600);
  Charset::utf8->verify(good.data(), good.size(), &vb, &vc, &ic, &fi);
  EXPECT_EQ(vb, good.size());
  EXPECT_EQ(vc, 3u);
  EXPECT_EQ(ic, 0u);
  EXPECT_EQ(fi, 0u);
  vb = vc = ic = fi = 0;
  std::string bad = bytes({0x41, 0x80, 0x42, 0xEF, 0xBF, 0xBD});
  Charset::utf8->verify(bad.data(), bad.size(), &vb, &vc, &ic, &fi);
  EXPECT_EQ(vb, 2u);
  EXPECT_EQ(vc, 2u);
  EXPECT_EQ(ic, 2u);  // 0x80 and the U+FFFD present in the text
  EXPECT_EQ(fi, 2u);
  const Charset* gbk = GetCharsetByCSID(43);
  std::string g = bytes({0x41, 0xB0, 0xA1});
  const char* p = g.data();
  EXPECT_EQ(gbk->next(&p, g.data() + 3), U'A');
  EXPECT_EQ(gbk->next(&p, g.data() + 3), 0x554Au);
  EXPECT_EQ(p, g.data() + 3);
  std::string trunc = bytes({0xB0});
  p = trunc.data();
  EXPECT_EQ(gbk->next(&p, trunc.data() + 1), 0xFFFDu);
  EXPECT_EQ(p, trunc.data() + 1);
  // Unicode kinds: the out/in pair round-trips through UTF-32BE.
  const Charset* be32 = GetCharsetByCSID(40);
  std::string mid, back;
  ASSERT_EQ(convert_all(Charset::utf8, good, be32, &mid, 1), 0);
  EXPECT_EQ(mid.size(), 12u);
  ASSERT_EQ(convert_all(be32, mid, Charset::utf8, &back, 1), 0);
  EXPECT_EQ(back, good);
}

TEST_F(CharsetTest, NameFromString) {
  String name("UTF-8");
  EXPECT_EQ(get_charset_by_name(name), Charset::utf8);
  String accented("utf-8\xC3\xA9");
  EXPECT_EQ(get_charset_by_name(accented), nullptr);
  String empty;
  EXPECT_EQ(get_charset_by_name(empty), nullptr);
}

}  // namespace
}  // namespace qzbase
