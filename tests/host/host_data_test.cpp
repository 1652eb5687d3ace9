// Host data of the Runtime: arguments (narrow, wide, twice), the environment copy
// (first entry wins, entries without "=", case-sensitive, never the process environment), HOME,
// the module file name, code pages that leave the field alone when unknown, stack ids from many
// threads, AllocArgsW/FreeArgsW, SetRuntimeAsserts, field_type_name and the locale reads of
// init.
#include <qzbase.h>

#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/runtime.h"
#include "values/charset_registry.h"

using namespace qzbase;

namespace {

std::string str(const String& s) {
  String c = s;
  c.convert(Charset::utf8, CON_NONE, 0);
  return std::string(c.read(), c.size());
}

String u8(const char* s) { return String(s, std::strlen(s), Charset::utf8); }

bool env(const Runtime& rt, const char* name, std::string* value = nullptr) {
  String v;
  if (!rt.getenv(u8(name), &v)) return false;
  if (value) *value = str(v);
  return true;
}

// Restores ICU's default locale when it goes.
struct LocaleScope {
  std::string saved = uloc_getDefault();
  explicit LocaleScope(const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault(locale, &status);
  }
  ~LocaleScope() {
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault(saved.c_str(), &status);
  }
};

}  // namespace

TEST(HostData, EnvironmentFirstEntryWinsAndEmptyValues) {
  Runtime rt(nullptr);
  const char* envp[] = {"A=1", "A=2", "B=", "NOEQUALS", "C=x=y", "=empty name", nullptr};
  rt.pass_environment(envp);
  std::string v;
  ASSERT_TRUE(env(rt, "A", &v));
  EXPECT_EQ(v, "1");
  ASSERT_TRUE(env(rt, "B", &v));
  EXPECT_EQ(v, "");
  ASSERT_TRUE(env(rt, "C", &v));
  EXPECT_EQ(v, "x=y");
  EXPECT_FALSE(env(rt, "a"));         // case-sensitive
  EXPECT_FALSE(env(rt, "NOEQUALS"));  // skipped
  EXPECT_TRUE(env(rt, ""));
  EXPECT_TRUE(rt.getenv(u8("A"), nullptr));
  EXPECT_EQ(rt.environment().size(), 4u);

  // Another charset for the name finds the same entry.
  String name = u8("A");
  name.convert(Charset::utf16le, CON_NONE, 0);
  EXPECT_TRUE(rt.getenv(name, nullptr));

  rt.pass_environment(static_cast<const char* const*>(nullptr));  // empties the copy
  EXPECT_FALSE(env(rt, "A"));
  EXPECT_TRUE(rt.environment().empty());
}

TEST(HostData, ProcessEnvironmentIsNeverRead) {
  setenv("QZ_HOST_DATA_ONLY_IN_PROCESS", "1", 1);
  Runtime rt(nullptr);
  EXPECT_FALSE(env(rt, "QZ_HOST_DATA_ONLY_IN_PROCESS"));
  EXPECT_FALSE(env(rt, "PATH"));
  unsetenv("QZ_HOST_DATA_ONLY_IN_PROCESS");
}

TEST(HostData, WideEnvironment) {
  Runtime rt(nullptr);
  const wchar_t* envp[] = {L"K=v\u00e9", L"K=other", L"bare", L"E=", nullptr};
  rt.pass_environment(envp);
  std::string v;
  ASSERT_TRUE(env(rt, "K", &v));
  EXPECT_EQ(v, "v\xC3\xA9");
  ASSERT_TRUE(env(rt, "E", &v));
  EXPECT_EQ(v, "");
  EXPECT_FALSE(env(rt, "bare"));
  String value;
  rt.getenv(u8("K"), &value);
  EXPECT_EQ(value.get_charset(), Charset::utf8);
}

TEST(HostData, SetenvInsertsOrReplaces) {
  Runtime rt(nullptr);
  const char* envp[] = {"A=1", nullptr};
  rt.pass_environment(envp);
  rt.setenv(u8("A"), u8("2"));
  rt.setenv(u8("Z"), u8("26"));
  std::string v;
  ASSERT_TRUE(env(rt, "A", &v));
  EXPECT_EQ(v, "2");
  ASSERT_TRUE(env(rt, "Z", &v));
  EXPECT_EQ(v, "26");
  auto all = rt.environment();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(str(all.front().first), "A");
  EXPECT_EQ(str(all.back().first), "Z");
}

TEST(HostData, ConcurrentSetenvAndReads) {
  Runtime rt(nullptr);
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) rt.setenv(u8(("N" + std::to_string(i % 50)).c_str()), u8("v"));
  });
  size_t seen = 0;
  for (int i = 0; i < 2000; ++i) seen += rt.environment().size();
  writer.join();
  EXPECT_EQ(rt.environment().size(), 50u);
  EXPECT_GT(seen + 1, 0u);
}

TEST(HostData, CreateHomeDir) {
  Runtime rt(nullptr);
  String out = u8("unchanged");
  EXPECT_FALSE(rt.create_home_dir(out));
  const char* empty[] = {"HOME=", nullptr};
  rt.pass_environment(empty);
  EXPECT_FALSE(rt.create_home_dir(out));
  EXPECT_EQ(str(out), "unchanged");
  const char* set[] = {"HOME=/home/qz", nullptr};
  rt.pass_environment(set);
  EXPECT_TRUE(rt.create_home_dir(out));
  EXPECT_EQ(str(out), "/home/qz");
}

TEST(HostData, PassArguments) {
  Runtime rt(nullptr);
  EXPECT_EQ(rt.argument_count(), 0);
  const char* argv[] = {"prog", "", "gr\xC3\xBC\xC3\x9F"};
  rt.pass_arguments(3, argv);
  ASSERT_EQ(rt.argument_count(), 3);
  EXPECT_STREQ(rt.argument(0), "prog");
  EXPECT_STREQ(rt.argument(1), "");
  EXPECT_STREQ(rt.argument(2), "gr\xC3\xBC\xC3\x9F");
  EXPECT_NE(rt.argument(0), argv[0]);  // a copy
  EXPECT_EQ(rt.argument(3), nullptr);
  EXPECT_EQ(rt.argument(-1), nullptr);
  EXPECT_EQ(rt.priv->argc, 3);

  // Twice: the first copy is freed (LeakSanitizer would report it otherwise).
  const wchar_t* wide[] = {L"w\u00e9", L"\U0001F600"};
  rt.pass_arguments(2, wide);
  ASSERT_EQ(rt.argument_count(), 2);
  EXPECT_STREQ(rt.argument(0), "w\xC3\xA9");
  EXPECT_STREQ(rt.argument(1), "\xF0\x9F\x98\x80");

  EXPECT_THROW(rt.pass_arguments(-1, argv), std::bad_array_new_length);
  EXPECT_EQ(rt.argument_count(), 2);  // unchanged
  rt.pass_arguments(0, static_cast<const char* const*>(nullptr));
  EXPECT_EQ(rt.argument_count(), 0);
}

TEST(HostData, AllocAndFreeArgsW) {
  const wchar_t* wide[] = {L"a", L"b\u00e9", L""};
  char** block = nullptr;
  EXPECT_EQ(AllocArgsW(wide, 3, &block), 0);
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block[0], "a");
  EXPECT_STREQ(block[1], "b\xC3\xA9");
  EXPECT_STREQ(block[2], "");
  EXPECT_EQ(block[3], nullptr);
  EXPECT_EQ(FreeArgsW(block), 0);
  EXPECT_EQ(FreeArgsW(nullptr), 0);
  EXPECT_EQ(AllocArgsW(nullptr, 0, &block), 0);
  EXPECT_EQ(block[0], nullptr);
  FreeArgsW(block);
}

TEST(HostData, ModuleFileName) {
  Runtime rt(nullptr);
  rt.set_module_file_name("/opt/qz/bin/qzsh");
  EXPECT_EQ(rt.module_file_name(), std::filesystem::path("/opt/qz/bin/qzsh"));
  rt.set_module_file_name(L"/opt/qz/b\u00e9n/qzsh");
  EXPECT_EQ(rt.module_file_name().native(), "/opt/qz/b\xC3\xA9n/qzsh");
}

TEST(HostData, CodePageUnknownLeavesItUnchanged) {
  Runtime rt(nullptr);
  ASSERT_TRUE(rt.set_codepage_by_id(1252));
  const Charset* cp1252 = rt.codepage;
  ASSERT_NE(cp1252, nullptr);
  EXPECT_EQ(cp1252, get_charset_by_codepage(1252, false));
  EXPECT_FALSE(rt.set_codepage_by_id(123456));
  EXPECT_EQ(rt.codepage, cp1252);
  EXPECT_FALSE(rt.set_codepage_by_name("no-such-charset"));
  EXPECT_FALSE(rt.set_codepage_by_name(nullptr));
  EXPECT_EQ(rt.codepage, cp1252);
  ASSERT_TRUE(rt.set_codepage_by_name("utf-8"));
  EXPECT_EQ(rt.codepage, get_charset_by_name("utf-8"));
}

TEST(HostData, StackIdsAreUniqueAcrossThreads) {
  Runtime rt(nullptr);
  std::vector<std::vector<uint64_t>> got(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10000; ++i) got[t].push_back(rt.create_stack_id());
    });
  }
  for (auto& t : threads) t.join();
  std::set<uint64_t> all;
  for (auto& v : got) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 80000u);
  EXPECT_EQ(*all.begin(), 1u);
  EXPECT_EQ(*all.rbegin(), 80000u);
}

TEST(HostData, SetRuntimeAsserts) {
  Runtime rt(nullptr);
  EXPECT_FALSE(rt.asserts);
  SetRuntimeAsserts(&rt, true);
  EXPECT_TRUE(rt.asserts);
  SetRuntimeAsserts(&rt, false);
  EXPECT_FALSE(rt.asserts);
  SetRuntimeAsserts(nullptr, true);  // no runtime: nothing
}

TEST(HostData, FieldTypeNames) {
  const char* expected[] = {"?",    "Blob",    "Char",  "Integer", "Currency",  "Date",   "Datetime", "Double",
                            "General", "Logical", "Memo", "Numeric", "Float", "Varbinary", "Varchar", "?"};
  for (int code = 0; code <= 15; ++code) EXPECT_STREQ(field_type_name(static_cast<uint8_t>(code)), expected[code]);
  EXPECT_STREQ(field_type_name(255), "?");
}

TEST(HostData, TheLocaleIsReadWhenFirstAskedFor) {
  {
    LocaleScope scope("en_US");
    Runtime rt(nullptr);
    rt.init();
    rt.read_locale_values();
    EXPECT_EQ(rt.sys_fdow, 1u);
    EXPECT_EQ(rt.sys_point, static_cast<uint32_t>('.'));
    EXPECT_STREQ(rt.sys_point_text, ".");
    EXPECT_TRUE(rt.sys_point_ascii);
    EXPECT_EQ(rt.sys_separator, static_cast<uint32_t>(','));
    EXPECT_EQ(rt.sys_date_format, DATE_SHORT);
    EXPECT_EQ(rt.codepage, get_locale_default_charset());
    EXPECT_NE(rt.codepage, nullptr);
  }
  {
    LocaleScope scope("de_DE");
    Runtime rt(nullptr);
    rt.init();
    // The calendar and number formats wait for their first reader, and are read once.
    EXPECT_EQ(rt.sys_point, static_cast<uint32_t>('.'));
    rt.read_locale_values();
    EXPECT_EQ(rt.sys_fdow, 2u);  // Monday
    EXPECT_EQ(rt.sys_point, static_cast<uint32_t>(','));
    EXPECT_STREQ(rt.sys_point_text, ",");
    EXPECT_TRUE(rt.sys_point_ascii);
    EXPECT_EQ(rt.sys_separator, static_cast<uint32_t>('.'));
    EXPECT_EQ(rt.codepage, get_charset_by_country_lang("de_DE"));
    rt.sys_fdow = 5;
    rt.read_locale_values();
    EXPECT_EQ(rt.sys_fdow, 5u);
  }
  {
    // A decimal point that is not ASCII: Arabic (Egypt) uses U+066B.
    LocaleScope scope("ar_EG");
    Runtime rt(nullptr);
    rt.init();
    rt.read_locale_values();
    if (rt.sys_point >= 0x80) {
      EXPECT_FALSE(rt.sys_point_ascii);
      char expected[5] = {};
      std::string utf8 = str(String(std::u32string(1, static_cast<char32_t>(rt.sys_point)).c_str()));
      std::memcpy(expected, utf8.data(), utf8.size());
      EXPECT_STREQ(rt.sys_point_text, expected);
      EXPECT_GE(std::strlen(rt.sys_point_text), 2u);
    }
  }
}
