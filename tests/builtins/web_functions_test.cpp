// JSON and the web text functions where the language tests cannot reach: the round trip of
// random value trees (with python3's json module accepting every text written), nesting limits,
// objects that hold themselves, header lines reaching the screen, query-string pairs, and texts
// in charsets other than UTF-8.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "builtins/web_functions.h"
#include "builtins_support.h"
#include "objects/class.h"
#include "objects/object.h"
#include "values/charset_registry.h"
#include "values/julian.h"
#include "vm/calls.h"

namespace qzbase {
namespace {

using namespace testing_builtins;

std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

Variant text(const std::string& bytes, const Charset* cs = Charset::utf8) {
  Variant v;
  v.set_string(String(bytes.data(), bytes.size(), cs));
  return v;
}

std::string bytes_of(const Variant& v) {
  EXPECT_EQ(v.tag, VT_STRING);
  return v.tag == VT_STRING ? std::string(v.string.read(), v.string.size()) : std::string();
}

Variant datetime_value(int y, int mo, int d, int h, int mi, int s) {
  datetime_st dt{0, 0};
  EXPECT_EQ(serial_julian_date(y, static_cast<unsigned>(mo), static_cast<unsigned>(d), static_cast<unsigned>(h),
                               static_cast<unsigned>(mi), static_cast<unsigned>(s), &dt),
            0);
  Variant v;
  v.set(dt);
  return v;
}

class WebFunctions : public ::testing::Test, public RuntimeFixture {
 protected:
  std::string encode(const Variant& v) {
    Variant r = call(stack, bi_json_encode, {v});
    std::string s = bytes_of(r);
    r.release(stack);
    return s;
  }
  Variant decode(const std::string& json) { return call(stack, bi_json_decode, {text(json)}); }

  Variant new_empty() {
    ObjectPointer obj = CreateObject(stack, String("Empty"), nullptr, 0);
    Variant v;
    v.set(obj);
    return v;
  }

  Variant read_property(Object* obj, symbol_id_type symbol) {
    Memvar* mark = stack->sp;
    stack->push();
    stack->push()->value.set(obj);
    object_read_property(stack, symbol, 0);
    Variant v = std::move(stack->sp->value);
    stack->release_stack_to(mark);
    return v;
  }

  // The property names (as the object reports them) and symbols of an object.
  std::vector<std::pair<std::string, symbol_id_type>> properties(Object* obj) {
    std::vector<std::pair<std::string, symbol_id_type>> out;
    obj->virtual_enum_properties(
        [](void* ctx, Object*, symbol_id_type symbol, const ClassMember& m) {
          if (m.kind == MEMBER_PROPERTY)
            static_cast<std::vector<std::pair<std::string, symbol_id_type>>*>(ctx)->push_back(
                {m.name.u8str(), symbol});
          return 0;
        },
        &out);
    return out;
  }

  // Structural equality of two values: numerics by value and decimals, objects by their
  // properties in order.
  ::testing::AssertionResult same(const Variant& a, const Variant& b) {
    if (a.tag != b.tag) return ::testing::AssertionFailure() << "tags " << int(a.tag) << " and " << int(b.tag);
    switch (a.tag) {
      case VT_INTEGER:
        if (a.integer.value == b.integer.value) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << a.integer.value << " vs " << b.integer.value;
      case VT_NUMERIC:
        if (a.numeric.value == b.numeric.value && a.numeric.decimals == b.numeric.decimals)
          return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << a.numeric.value << "/" << a.numeric.decimals << " vs "
                                             << b.numeric.value << "/" << b.numeric.decimals;
      case VT_STRING:
        if (bytes_of(a) == bytes_of(b)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "texts differ";
      case VT_ARRAY: {
        if (a.array.count() != b.array.count()) return ::testing::AssertionFailure() << "array sizes";
        for (size_t i = 1; i <= a.array.count(); ++i) {
          auto r = same(*a.array.read(i), *b.array.read(i));
          if (!r) return r << " at element " << i;
        }
        return ::testing::AssertionSuccess();
      }
      case VT_OBJECT: {
        Object* x = static_cast<Object*>(a);
        Object* y = static_cast<Object*>(b);
        auto px = properties(x);
        auto py = properties(y);
        if (px.size() != py.size()) return ::testing::AssertionFailure() << "property counts";
        for (size_t i = 0; i < px.size(); ++i) {
          if (px[i].first != py[i].first) return ::testing::AssertionFailure() << "property names";
          Variant vx = read_property(x, px[i].second);
          Variant vy = read_property(y, py[i].second);
          auto r = same(vx, vy);
          vx.release(stack);
          vy.release(stack);
          if (!r) return r << " in property " << px[i].first;
        }
        return ::testing::AssertionSuccess();
      }
      default:
        return ::testing::AssertionSuccess();
    }
  }

  // A random value tree: strings of random code points (controls and supplementary characters
  // included), integers, numerics with 1 to 6 decimals, logicals, null, arrays and objects.
  Variant random_value(std::mt19937_64& rng, int depth) {
    int kind = static_cast<int>(rng() % (depth < 4 ? 9 : 6));
    Variant v;
    switch (kind) {
      case 0: v.set_true(); break;
      case 1: v.set_null(); break;
      case 2: v.set_integer(static_cast<long>(rng())); break;
      case 3: {
        int decimals = 1 + static_cast<int>(rng() % 6);
        double scale = std::pow(10.0, decimals);
        double k = static_cast<double>(static_cast<int64_t>(rng() % 2000000001) - 1000000000);
        v.set_float(k / scale, static_cast<unsigned long>(decimals));
        break;
      }
      case 4: case 5: {
        std::string s;
        size_t n = rng() % 12;
        for (size_t i = 0; i < n; ++i) {
          char32_t c;
          switch (rng() % 5) {
            case 0: c = static_cast<char32_t>(rng() % 0x20); break;
            case 1: c = static_cast<char32_t>(0x20 + rng() % 0x60); break;
            case 2: c = static_cast<char32_t>(0x80 + rng() % 0x780); break;
            case 3:
              c = static_cast<char32_t>(0x800 + rng() % (0x10000 - 0x800));
              if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
              break;
            default: c = static_cast<char32_t>(0x10000 + rng() % 0x100000); break;
          }
          s += utf8(c);
        }
        v.set_string(String(s.data(), s.size(), Charset::utf8));
        break;
      }
      case 6: v.set_false(); break;
      case 7: {
        size_t n = rng() % 5;
        Array a(n);
        for (size_t i = 1; i <= n; ++i) *a.write(stack, i) = random_value(rng, depth + 1);
        v.set_array(a);
        a.release(stack);
        break;
      }
      default: {
        v = new_empty();
        Object* obj = static_cast<Object*>(v);
        size_t n = rng() % 5;
        for (size_t i = 0; i < n; ++i) {
          Variant member = random_value(rng, depth + 1);
          obj->addproperty(stack, String(("P" + std::to_string(i)).c_str()), &member);
          member.release(stack);
        }
        break;
      }
    }
    return v;
  }
};

TEST_F(WebFunctions, RandomTreesRoundTripAndStandardParsersAcceptEveryText) {
  std::mt19937_64 rng(20240305);
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qz_json_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream lines(dir / "texts.jsonl", std::ios::binary);
  for (int i = 0; i < 10000; ++i) {
    Variant v = random_value(rng, 0);
    std::string json = encode(v);
    ASSERT_EQ(json.find('\n'), std::string::npos);
    lines << json << '\n';
    Variant back = decode(json);
    ASSERT_TRUE(same(v, back)) << "case " << i << ": " << json;
    back.release(stack);
    v.release(stack);
  }
  lines.close();
  std::string command = "/usr/bin/python3 -c \"import json,sys\nfor line in open(sys.argv[1], encoding='utf-8', "
                        "errors='strict'): json.loads(line)\" " +
                        (dir / "texts.jsonl").string();
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::filesystem::remove_all(dir);
}

TEST_F(WebFunctions, EncodedTexts) {
  Variant nan;
  nan.set_float(std::nan(""), 2);
  Variant inf;
  inf.set_float(HUGE_VAL, 0);
  Variant twelve;
  twelve.set_float(12.0, 0);
  Variant money;
  money.set(money_type_st{125000});
  struct case_st {
    Variant value;
    const char* json;
  } cases[] = {
      {text("C:\\temp"), "\"C:\\\\temp\""},
      {text("a\"b"), "\"a\\\"b\""},
      {text(std::string("\b\f\n\r\t\x01\x1f", 7)), "\"\\b\\f\\n\\r\\t\\u0001\\u001f\""},
      {text(std::string("\0", 1)), "\"\\u0000\""},
      {text("\xC3\xA9\xF0\x9F\x98\x80"), "\"\xC3\xA9\xF0\x9F\x98\x80\""},
      {text("a\xFF" "b"), "\"a\xEF\xBF\xBD" "b\""},  // not UTF-8: U+FFFD
      {text(std::string("\xE9", 1), get_charset_by_codepage(1252, false)), "\"\xC3\xA9\""},
      {nan, "null"},
      {inf, "null"},
      {twelve, "12"},
      {money, "12.5000"},
      {datetime_value(2024, 3, 5, 6, 7, 8), "\"2024-03-05T06:07:08\""},
      {null_value(), "null"},
      {integer(-9223372036854775807L - 1), "-9223372036854775808"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(encode(c.value), c.json);
    c.value.release(stack);
  }
}

TEST_F(WebFunctions, TwoDimensionalArraysAreWrittenRowByRow) {
  Variant v;
  Array* a = v.dimension(stack, 2, 3);
  for (size_t i = 1; i <= 6; ++i) a->write(stack, i)->set_integer(static_cast<int>(i));
  EXPECT_EQ(encode(v), "[1,2,3,4,5,6]");
  v.release(stack);
}

TEST_F(WebFunctions, DecodedValues) {
  Variant v = decode("\"\\ud83d\\ude00\"");
  EXPECT_EQ(bytes_of(v), "\xF0\x9F\x98\x80");
  v.release(stack);
  struct case_st {
    const char* json;
    const char* utf8;
  } strings[] = {
      {"\"\\ud83d\"", "\xEF\xBF\xBD"},          // lone high surrogate
      {"\"\\ude00x\"", "\xEF\xBF\xBDx"},        // lone low surrogate
      {"\"\\ud83d\\u0041\"", "\xEF\xBF\xBD" "A"},  // high surrogate before a plain unit
      {"\"a\\/b\\\\c\\\"\"", "a/b\\c\""},
      {"\"\\u00e9\"", "\xC3\xA9"},
  };
  for (const auto& c : strings) {
    Variant s = decode(c.json);
    EXPECT_EQ(bytes_of(s), c.utf8) << c.json;
    s.release(stack);
  }
  struct number_st {
    const char* json;
    uint8_t tag;
    double value;
    uint64_t decimals;
  } numbers[] = {
      {"42", VT_INTEGER, 42, 0},
      {"-9223372036854775808", VT_INTEGER, -9223372036854775808.0, 0},
      {"12345678901234567890", VT_NUMERIC, 12345678901234567890.0, 0},
      {"-99999999999999999999", VT_NUMERIC, -99999999999999999999.0, 0},
      {"1.50", VT_NUMERIC, 1.5, 2},
      {"1.5e+3", VT_NUMERIC, 1500, 0},
      {"1e5", VT_NUMERIC, 100000, 0},
      {"2.5e-3", VT_NUMERIC, 0.0025, 0},
      {"12.", VT_NUMERIC, 12, 0},
      {"-", VT_NUMERIC, 0, 0},
      {"1e999", VT_NUMERIC, HUGE_VAL, 0},
      {"1e-999", VT_NUMERIC, 0, 0},
      {"7e", VT_INTEGER, 7, 0},
  };
  for (const auto& c : numbers) {
    Variant n = decode(c.json);
    ASSERT_EQ(n.tag, c.tag) << c.json;
    if (c.tag == VT_INTEGER) {
      EXPECT_EQ(static_cast<double>(n.integer.value), c.value) << c.json;
    } else {
      EXPECT_EQ(n.numeric.value, c.value) << c.json;
      EXPECT_EQ(n.numeric.decimals, c.decimals) << c.json;
    }
  }
}

TEST_F(WebFunctions, NumbersEndWhereTheTextEnds) {
  // Slices of one buffer: the bytes after a slice are not part of its text.
  String whole("12345.678e9 true");
  struct case_st {
    size_t length;
    uint8_t tag;
    double value;
  } cases[] = {{3, VT_INTEGER, 123}, {6, VT_NUMERIC, 12345}, {8, VT_NUMERIC, 12345.67}, {10, VT_NUMERIC, 12345.678}};
  for (const auto& c : cases) {
    Variant slice;
    slice.set_string(whole.substr(0, c.length));
    Variant v = call(stack, bi_json_decode, {slice});
    ASSERT_EQ(v.tag, c.tag) << c.length;
    EXPECT_EQ(c.tag == VT_INTEGER ? static_cast<double>(v.integer.value) : v.numeric.value, c.value) << c.length;
    slice.release(stack);
  }
  Variant literal;
  literal.set_string(whole.substr(12, 3));  // "tru"
  EXPECT_EQ(call(stack, bi_json_decode, {literal}).tag, VT_NULL);
  literal.release(stack);
}

TEST_F(WebFunctions, BadEscapesRaise1001WithoutReadingPastTheString) {
  for (const char* json : {"\"\\u12\"", "\"\\u\"", "\"\\x\"", "\"\\u12G4\"", "[\"\\q\"]"}) {
    auto [code, detail] = error_of([&] { decode(json).release(stack); });
    EXPECT_EQ(code, 1001) << json;
    EXPECT_EQ(detail, "json_decode escape sequence") << json;
  }
  // The text ends right after the digits: a slice, not a terminated buffer.
  std::string json = "\"\\u00e9\"";
  Variant cut = text(json.substr(0, 6));
  Variant r = call(stack, bi_json_decode, {cut});
  EXPECT_EQ(r.tag, VT_NULL);  // unterminated: quiet failure
  cut.release(stack);
}

TEST_F(WebFunctions, NestingStopsAt512) {
  std::string ok = std::string(512, '[') + std::string(512, ']');
  Variant v = decode(ok);
  EXPECT_EQ(v.tag, VT_ARRAY);
  EXPECT_EQ(encode(v), ok);
  v.release(stack);
  Variant deep = decode(std::string(513, '[') + std::string(513, ']'));
  EXPECT_EQ(deep.tag, VT_NULL);
  std::string nested;
  for (int i = 0; i < 513; ++i) nested += "{\"a\":";
  nested += "1" + std::string(513, '}');
  EXPECT_EQ(decode(nested).tag, VT_NULL);
  // A million levels: quiet, no native stack exhaustion.
  EXPECT_EQ(decode(std::string(1000000, '[')).tag, VT_NULL);
}

TEST_F(WebFunctions, EncodingTooDeepRaises1001NamingTheDepth) {
  Variant self = new_empty();
  static_cast<Object*>(self)->addproperty(stack, String("me"), &self);
  auto [code, detail] = error_of([&] { encode(self); });
  EXPECT_EQ(code, 1001);
  EXPECT_NE(detail.find("512"), std::string::npos);
  static_cast<Object*>(self)->removeproperty(stack, String("me"));
  self.release(stack);

  Variant v = decode(std::string(512, '[') + std::string(512, ']'));
  Variant outer;
  Array a(1);
  *a.write(stack, 1) = std::move(v);
  outer.set_array(a);
  a.release(stack);
  EXPECT_EQ(error_of([&] { encode(outer); }).first, 1001);
  outer.release(stack);
}

TEST_F(WebFunctions, ObjectsKeepTheFirstOfEqualNames) {
  Variant o = decode("{\"a\":1,\"A\":2,\"b\":{},\"a\":3 \"c\":[1 2,3,],}");
  ASSERT_EQ(o.tag, VT_OBJECT);
  EXPECT_EQ(encode(o), "{\"A\":1,\"B\":{},\"C\":[1,2,3]}");
  o.release(stack);
  for (const char* bad : {"{\"a\" 1}", "\"abc\\", "{1:2}", "{\"a\":}", "{\"a\":1,,}", "[1,,2]", "[", "{", "]", ""}) {
    Variant r = decode(bad);
    EXPECT_EQ(r.tag, VT_NULL) << bad;
    r.release(stack);
  }
}

// A screen that keeps every header line it is given.
class HeaderScreen : public CaptureScreen {
 public:
  void header(ScrHeaderTypes type, const String& text, bool flag) override {
    headers.push_back({static_cast<int>(type), text.u8str(), flag});
  }
  struct header_st {
    int type;
    std::string text;
    bool replace;
  };
  std::vector<header_st> headers;
};

TEST(WebHeader, ReachesTheScreenWithTheReplaceFlag) {
  HeaderScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  {
    VmStack stack(runtime, 64, 16);
    Variant no;
    no.set_false();
    Variant r1 = call(&stack, bi_http_header, {str("X-A: 1"), no});
    Variant r2 = call(&stack, bi_http_header, {str("Content-Type: text/plain")});
    EXPECT_EQ(r1.tag, VT_FALSE);
    EXPECT_EQ(r2.tag, VT_FALSE);
  }
  ReleaseRuntime(runtime);
  ASSERT_EQ(screen.headers.size(), 2u);
  EXPECT_EQ(screen.headers[0].type, 0);
  EXPECT_EQ(screen.headers[0].text, "X-A: 1");
  EXPECT_FALSE(screen.headers[0].replace);
  EXPECT_EQ(screen.headers[1].text, "Content-Type: text/plain");
  EXPECT_TRUE(screen.headers[1].replace);
}

TEST_F(WebFunctions, UrlDecodeErrors) {
  struct case_st {
    std::string text;
    int code;
  } cases[] = {
      {"%FF", 9009}, {"%C3", 9009}, {"\xC3\xA9", 11}, {"%", 11}, {"a%4", 11}, {"%G1", 11}, {"%%41", 11},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of([&] { call(stack, bi_http_urldecode, {text(c.text)}).release(stack); }).first, c.code)
        << c.text;
  }
  Variant r = call(stack, bi_http_urldecode, {text("%E2%82%AC+%41%4a")});
  EXPECT_EQ(bytes_of(r), "\xE2\x82\xAC AJ");
  r.release(stack);
}

TEST(WebQuery, PairsInOrderFirstKeyWins) {
  struct case_st {
    const char* query;
    const char* pairs;  // key=value;...
  } cases[] = {
      {"a=1&a=2&b%20c=x", "a=1;b c=x;"},
      {"a=1&b=&c", "a=1;b=;c=;"},
      {"=1&&x==y&", "1=;x=;y=;"},
      {"k=v=w", "k=v;w=;"},
      {"A=1&a=2", "A=1;a=2;"},
      {"p+q=%2B", "p q=+;"},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string got;
    http_parse_query(
        String(c.query),
        [](void* ctx, const String& key, const String& value) {
          *static_cast<std::string*>(ctx) += key.u8str() + "=" + value.u8str() + ";";
        },
        &got);
    EXPECT_EQ(got, c.pairs) << c.query;
  }
}

TEST_F(WebFunctions, HtmlEscapeKeepsTheCharset) {
  String s("<a href='x'>\"&\"</a>");
  s.convert(Charset::utf16le, CON_NONE, 0);
  Variant v;
  v.set_string(s);
  Variant r = call(stack, bi_html_escape, {v});
  ASSERT_EQ(r.tag, VT_STRING);
  EXPECT_EQ(r.string.get_charset(), Charset::utf16le);
  EXPECT_EQ(r.string.u8str(), "&lt;a href=&apos;x&apos;&gt;&quot;&amp;&quot;&lt;/a&gt;");
  r.release(stack);
  v.release(stack);
}

// Splits encoded words and checks each: its frame, its length and that its bytes decode to whole
// characters of the charset.
std::vector<std::string> words_of(const std::string& header) {
  std::vector<std::string> words;
  size_t at = 0;
  for (;;) {
    size_t next = header.find("\r\n ", at);
    words.push_back(header.substr(at, next == std::string::npos ? std::string::npos : next - at));
    if (next == std::string::npos) break;
    at = next + 3;
  }
  return words;
}

std::string q_decode(const std::string& word, size_t prefix) {
  std::string out;
  for (size_t i = prefix; i + 2 < word.size(); ++i) {
    if (word[i] == '_') {
      out.push_back(' ');
    } else if (word[i] == '=') {
      out.push_back(static_cast<char>(std::stoi(word.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(word[i]);
    }
  }
  return out;
}

TEST_F(WebFunctions, MimeHeaderWordsNeverSplitACharacter) {
  std::string forty;
  for (int i = 0; i < 40; ++i) forty += "\xC3\xA9";
  Variant r = call(stack, bi_mime_header, {text(forty)});
  std::vector<std::string> words = words_of(bytes_of(r));
  r.release(stack);
  ASSERT_EQ(words.size(), 4u);
  std::string joined;
  for (const std::string& w : words) {
    EXPECT_LE(w.size(), 75u);
    EXPECT_EQ(w.rfind("=?utf-8?Q?", 0), 0u);
    EXPECT_EQ(w.substr(w.size() - 2), "?=");
    std::string bytes = q_decode(w, 10);
    EXPECT_EQ(bytes.size() % 2, 0u) << w;
    joined += bytes;
  }
  EXPECT_EQ(joined, forty);

  // Three-byte characters and blanks, where the room is no multiple of a character's places.
  std::string mixed;
  for (int i = 0; i < 30; ++i) mixed += "\xE2\x82\xAC a";
  r = call(stack, bi_mime_header, {text(mixed)});
  joined.clear();
  for (const std::string& w : words_of(bytes_of(r))) {
    EXPECT_LE(w.size(), 75u);
    std::string bytes = q_decode(w, 10);
    size_t valid_bytes = 0, valid_chars = 0, invalid = 0, first = 0;
    Charset::utf8->verify(bytes.data(), bytes.size(), &valid_bytes, &valid_chars, &invalid, &first);
    EXPECT_EQ(invalid, 0u) << w;
    joined += bytes;
  }
  EXPECT_EQ(joined, mixed);
  r.release(stack);

  r = call(stack, bi_mime_header, {text("Plain ASCII ~ text")});
  EXPECT_EQ(bytes_of(r), "Plain ASCII ~ text");
  r.release(stack);
}

TEST_F(WebFunctions, MimeDates) {
  // The tests run with TZ=UTC.
  Variant r = call(stack, bi_mime_ttoc, {datetime_value(2000, 2, 29, 23, 59, 59)});
  EXPECT_EQ(bytes_of(r), "Tue, 29 Feb 2000 23:59:59 +0000");
  r.release(stack);
  Variant empty;
  empty.set(datetime_st{0, 0});
  EXPECT_EQ(error_of([&] { call(stack, bi_mime_ttoc, {empty}); }).first, 11);
}

}  // namespace
}  // namespace qzbase
