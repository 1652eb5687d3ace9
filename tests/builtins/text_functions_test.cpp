// The text built-ins where the language tests cannot reach: the charsets of their results,
// buffer sharing, the session's SET POINT, SET SYSFORMATS, object references that count as null,
// and regular expressions on several threads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "builtins/entry_points.h"
#include "builtins/text_functions.h"
#include "builtins_support.h"
#include "tables/data_session.h"
#include "values/session_settings.h"
#include "values/charset_registry.h"

namespace qzbase {
namespace {

using namespace testing_builtins;

Variant text(const std::string& bytes, const Charset* cs) {
  Variant v;
  v.set_string(String::fromBytes(bytes.data(), bytes.size(), cs));
  return v;
}

Variant utf16(const std::u16string& units) {
  return text(std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2), Charset::utf16le);
}

Variant numeric(double value, uint64_t decimals) {
  Variant v;
  v.set_float(value, decimals);
  return v;
}

// The UTF-8 text of a string result.
std::string u8(const Variant& v) { return static_cast<String>(v).u8str(); }

const Charset* charset_of(const Variant& v) { return static_cast<String>(v).get_charset(); }

// SET POINT of the stack's current session, as the SET command stores it.
void set_point(VmStack* stack, const char* utf8, char32_t code, bool ascii) {
  SessionSettings* s = stack->session_settings;
  ASSERT_NE(s, nullptr);
  std::memset(s->decimal_point, 0, sizeof s->decimal_point);
  std::memcpy(s->decimal_point, utf8, std::strlen(utf8));
  s->decimal_point_code = code;
  s->point_is_ascii = ascii;
}

TEST(TextFunctions, SlicesShareTheTextsBuffer) {
  RuntimeFixture f;
  const Charset* utf32 = Charset::utf32le;
  std::u32string wide = U"aé€😀b";
  struct Case {
    Variant source;
    native_function_type fn;
    std::vector<Variant> more;
    std::string expected;
  } cases[] = {
      {text("aé€😀b", Charset::utf8), bi_substr, {integer(2), integer(3)}, "é€😀"},
      {text(std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 4), utf32), bi_substr,
       {integer(4)}, "😀b"},
      {text(std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 4), utf32), bi_right,
       {integer(2)}, "😀b"},
      {utf16(u"aé€😀b"), bi_left, {integer(4)}, "aé€😀"},
      {text("\xE9\xE4z", GetCharsetByWindowsCodepage(1252)), bi_right, {integer(2)}, "äz"},
      {text("a b c", Charset::utf8), bi_getwordnum, {integer(2)}, "b"},
  };
  for (Case& c : cases) {
    std::vector<Variant> args{c.source};
    for (Variant& m : c.more) args.push_back(m);
    Variant r = call(f.stack, c.fn, args);
    EXPECT_EQ(u8(r), c.expected);
    EXPECT_EQ(static_cast<String>(r).buffer(), static_cast<String>(c.source).buffer()) << c.expected;
    EXPECT_EQ(charset_of(r), charset_of(c.source)) << c.expected;
  }
}

TEST(TextFunctions, CountsInFixedWidthCharsets) {
  RuntimeFixture f;
  std::u32string wide = U"a😀b";
  Variant s = text(std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 4), Charset::utf32le);
  EXPECT_EQ(static_cast<long>(call(f.stack, bi_len, {s})), 3);
  EXPECT_EQ(u8(call(f.stack, bi_padl, {s, integer(5), str("é")})), "ééa😀b");
  EXPECT_EQ(static_cast<long>(call(f.stack, bi_at, {str("b"), s})), 3);
  // SUBSTR without a length takes the rest, whatever the character width.
  EXPECT_EQ(u8(call(f.stack, bi_substr, {s, integer(2)})), "😀b");
}

TEST(TextFunctions, ResultCharsets) {
  RuntimeFixture f;
  const Charset* cp1252 = GetCharsetByWindowsCodepage(1252);
  EXPECT_EQ(charset_of(call(f.stack, bi_chr, {integer(65)})), cp1252);
  EXPECT_EQ(charset_of(call(f.stack, bi_hash, {str("a"), str("md5")})), Charset::binary);
  EXPECT_EQ(charset_of(call(f.stack, bi_ureplace, {str("a"), str("ab"), str("x")})), Charset::utf16le);
  EXPECT_EQ(charset_of(call(f.stack, bi_space, {integer(2), str("utf-16le")})), Charset::utf16le);
  // SPACE without a charset takes the runtime's default one.
  EXPECT_EQ(charset_of(call(f.stack, bi_space, {integer(2)})), f.runtime->codepage);
  // PADL and PADR answer in the text's charset, converting the pad text into it.
  Variant padded = call(f.stack, bi_padl, {text("\xE9", cp1252), integer(3), str("€")});
  EXPECT_EQ(charset_of(padded), cp1252);
  EXPECT_EQ(static_cast<String>(padded).size(), 3u);
  EXPECT_EQ(u8(padded), "€€é");
  // A TRANSFORM picture keeps its charset.
  Variant picture = call(f.stack, bi_transform, {integer(-42), utf16(u"€999")});
  EXPECT_EQ(charset_of(picture), Charset::utf16le);
  EXPECT_EQ(u8(picture), "€-42");
  Variant raw_picture = call(f.stack, bi_transform, {integer(5), text("\xA4" "99", Charset::binary)});
  EXPECT_EQ(charset_of(raw_picture), Charset::binary);
  EXPECT_EQ(std::string(static_cast<String>(raw_picture).read(), static_cast<String>(raw_picture).size()),
            "\xA4 5");
  // PROPER on raw bytes changes ASCII letters only and keeps every other byte.
  Variant raw = call(f.stack, bi_proper, {text("ab \xE9x", Charset::binary)});
  EXPECT_EQ(charset_of(raw), Charset::binary);
  EXPECT_EQ(std::string(static_cast<String>(raw).read(), static_cast<String>(raw).size()), "Ab \xE9x");
  // UMATCH groups are UTF-16LE slices of the subject.
  Variant groups;
  Memvar* mark = f.stack->sp;
  f.stack->push();
  for (Variant v : {str("(b)c"), str("abcd")}) f.stack->push()->value.set_variant(&v);
  groups.ref(f.stack, &f.stack->push()->value, nullptr);
  call_native_function(f.stack, bi_umatch, 3);
  EXPECT_EQ(f.stack->sp->value.tag, VT_TRUE);
  f.stack->release_stack_to(mark);
  ASSERT_EQ(groups.tag, VT_ARRAY);
  const Array* a = groups;
  ASSERT_EQ(a->count(), 2u);
  EXPECT_EQ(u8(*a->read(1)), "bc");
  EXPECT_EQ(charset_of(*a->read(2)), Charset::utf16le);
  groups.release(f.stack);
}

TEST(TextFunctions, DeadObjectReferencesCountAsNull) {
  RuntimeFixture f;
  Variant gone;
  gone.set(object_ptr_st{nullptr, nullptr});
  ASSERT_TRUE(gone.is_empty_object_reference());
  struct Case {
    const char* name;
    native_function_type fn;
    std::vector<Variant> args;
  } cases[] = {
      {"len", bi_len, {gone}},
      {"substr", bi_substr, {str("abc"), gone}},
      {"left", bi_left, {gone, integer(1)}},
      {"rtrim", bi_rtrim, {gone}},
      {"upper", bi_upper, {gone}},
      {"replicate", bi_replicate, {str("a"), gone}},
      {"strtran", bi_strtran, {str("a"), str("a"), gone}},
      {"str", bi_str, {gone}},
      {"padl", bi_padl, {str("a"), integer(3), gone}},
      {"val", bi_val, {gone}},
      {"getwordcount", bi_getwordcount, {str("a"), gone}},
      {"umatch", bi_umatch, {gone, str("a")}},
      {"hash", bi_hash, {str("a"), gone}},
      {"isalpha", bi_isalpha, {gone}},
  };
  for (Case& c : cases) EXPECT_EQ(call(f.stack, c.fn, c.args).tag, VT_NULL) << c.name;
}

TEST(TextFunctions, NumbersFollowTheSessionsPoint) {
  RuntimeFixture f;
  set_point(f.stack, ",", U',', true);
  EXPECT_EQ(u8(call(f.stack, bi_str, {numeric(1.5, 1), integer(5), integer(2)})), " 1,50");
  EXPECT_EQ(u8(call(f.stack, bi_str, {numeric(1.5e20, 1), integer(10)})), "1,5000e+20");
  Variant v = call(f.stack, bi_val, {str("3,25x")});
  ASSERT_EQ(v.tag, VT_NUMERIC);
  EXPECT_DOUBLE_EQ(v.numeric.value, 3.25);
  EXPECT_EQ(v.numeric.decimals, 2u);
  v = call(f.stack, bi_val, {str("3.25")});
  ASSERT_EQ(v.tag, VT_INTEGER);
  EXPECT_EQ(v.integer.value, 3);

  // A point of two UTF-8 bytes counts as one character of the width; the text is UTF-8.
  set_point(f.stack, "\xC2\xB7", U'\u00B7', false);
  Variant s = call(f.stack, bi_str, {numeric(-1.5, 1), integer(6), integer(2)});
  EXPECT_EQ(u8(s), " -1·50");
  EXPECT_EQ(charset_of(s), Charset::utf8);
  EXPECT_EQ(static_cast<String>(s).length(), 6u);
  EXPECT_EQ(u8(call(f.stack, bi_str, {integer(7), integer(4), integer(1)})), " 7·0");
  v = call(f.stack, bi_val, {str("2·5")});
  ASSERT_EQ(v.tag, VT_NUMERIC);
  EXPECT_DOUBLE_EQ(v.numeric.value, 2.5);
  EXPECT_EQ(charset_of(call(f.stack, bi_str, {integer(7)})), Charset::utf8);
}

TEST(TextFunctions, SetSysformatsCopiesTheLocaleFormats) {
  RuntimeFixture f;
  Runtime* r = f.runtime;
  // The locale's values are read once, when first asked for; these replace them afterwards.
  r->read_locale_values();
  std::memcpy(r->sys_point_text, ",\0\0\0", 5);
  r->sys_point = U',';
  r->sys_point_ascii = true;
  r->sys_separator = U'.';
  r->sys_decimals = 3;
  r->sys_date_format = DATE_GERMAN;
  std::memcpy(r->sys_mark, ".\0\0\0", 5);
  r->sys_century = true;
  r->sys_hours = 24;
  r->sys_seconds = false;
  r->sys_fdow = 2;
  r->fdow = 5;

  run(f.stack, cmd_set_sysformats_to, {[] {
        Variant off;
        off.set_false();
        return off;
      }()});
  EXPECT_EQ(current_settings(f.stack).decimal_point_code, U'.');
  EXPECT_EQ(r->fdow, 5u);

  Variant on;
  on.set_true();
  run(f.stack, cmd_set_sysformats_to, {on});
  const SessionSettings& s = current_settings(f.stack);
  EXPECT_STREQ(s.decimal_point, ",");
  EXPECT_EQ(s.decimal_point_code, U',');
  EXPECT_TRUE(s.point_is_ascii);
  EXPECT_EQ(s.separator, U'.');
  EXPECT_EQ(s.decimals, 3u);
  EXPECT_EQ(s.date_format, static_cast<uint32_t>(DATE_GERMAN));
  EXPECT_STREQ(s.mark, ".");
  EXPECT_TRUE(s.century);
  EXPECT_EQ(s.hours, 24u);
  EXPECT_FALSE(s.seconds);
  EXPECT_EQ(r->fdow, 2u);
  EXPECT_EQ(u8(call(f.stack, bi_str, {numeric(2.5, 1), integer(4), integer(1)})), " 2,5");

  // A session made afterwards starts from the fixed defaults, not from the locale's.
  ObjectPointer session = CreateObject(f.stack, String("session"), nullptr, 0);
  auto* fresh = dynamic_cast<DataSession_Object*>(session.get());
  ASSERT_NE(fresh, nullptr);
  EXPECT_STREQ(fresh->settings.decimal_point, ".");
  EXPECT_EQ(fresh->settings.decimals, 2u);
  EXPECT_FALSE(fresh->settings.century);
  session.release(f.stack);
}

TEST(TextFunctions, PatternsOnSeveralThreads) {
  RuntimeFixture f;
  std::vector<std::thread> threads;
  std::vector<std::string> results(4);
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&f, &results, t] {
      VmStack stack(f.runtime, 256, 64);
      std::string last;
      for (int i = 0; i < 200; ++i) {
        // Several patterns in turn, more than one thread's cache holds.
        std::string pattern = "(a)" + std::to_string((i + t) % 11);
        Variant r = call(&stack, bi_ureplace, {str(pattern.c_str()), str("xa3a7ya10"), str("[$1]")});
        last = static_cast<String>(r).u8str();
        r.release(&stack);
      }
      results[t] = last;
    });
  }
  for (std::thread& t : threads) t.join();
  // The last pattern of each thread: (a) followed by (199 + t) % 11.
  const char* expected[] = {"xa3a7y[a]0", "xa3a7ya10", "x[a]a7ya10", "xa3a7ya10"};
  for (size_t t = 0; t < results.size(); ++t) EXPECT_EQ(results[t], expected[t]) << t;
}

}  // namespace
}  // namespace qzbase
