// Tests of String, Concat, StringBuilder and the checked copies.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "values/charset_registry.h"
#include "values/string_internal.h"

using namespace qzbase;

namespace {

std::string bytes(const String& s) { return std::string(s.read(), s.size()); }

const Charset* cs(size_t id) {
  const Charset* c = get_charset_by_csid(id);
  EXPECT_NE(c, nullptr) << "CSID " << id;
  return c;
}

constexpr size_t kAscii = 1, kUtf8 = 36, kUtf8Bom = 59, kUtf16le = 37, kIbm437 = 19, kWin1251 = 47,
                 kWin1252 = 48;

// ---------------------------------------------------------------------------------------------
// Construction, sharing, the empty buffer
// ---------------------------------------------------------------------------------------------

TEST(String, DefaultIsEmptyBinaryOnTheGlobalBuffer) {
  size_t before = empty_string_buffer.count.load();
  {
    String s;
    EXPECT_EQ(s.size(), 0u);
    EXPECT_EQ(s.get_charset(), Charset::binary);
    EXPECT_EQ(s.buffer(), &empty_string_buffer);
    EXPECT_EQ(empty_string_buffer.count.load(), before + 1);
  }
  EXPECT_EQ(empty_string_buffer.count.load(), before);
  EXPECT_EQ(empty_string_buffer.capacity, 0u);
  EXPECT_GE(empty_string_buffer.count.load(), 1u);
}

TEST(String, SizedZeroSharesTheGlobalBuffer) {
  size_t before = empty_string_buffer.count.load();
  String a(0, Charset::utf8);
  String b(0, Charset::utf16le);
  EXPECT_EQ(a.buffer(), &empty_string_buffer);
  EXPECT_EQ(b.buffer(), &empty_string_buffer);
  EXPECT_EQ(a.get_charset(), Charset::utf8);
  EXPECT_EQ(b.get_charset(), Charset::utf16le);
  EXPECT_EQ(empty_string_buffer.count.load(), before + 2);
}

TEST(String, WriteOnTheGlobalBufferGivesAPrivateZeroCapacityBuffer) {
  size_t before = empty_string_buffer.count.load();
  String s(0, Charset::utf8);
  char* p = s.write();
  EXPECT_NE(p, nullptr);
  EXPECT_NE(s.buffer(), &empty_string_buffer);
  EXPECT_EQ(s.buffer()->capacity, 0u);
  EXPECT_EQ(s.buffer()->count.load(), 1u);
  EXPECT_EQ(p, s.buffer()->bytes);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(empty_string_buffer.count.load(), before);
}

TEST(String, BytesConstructorAlwaysMakesAFreshBuffer) {
  String s("xyz", 0, Charset::utf8);
  EXPECT_NE(s.buffer(), &empty_string_buffer);
  EXPECT_EQ(s.buffer()->capacity, 0u);
  String t("xyz", 3, Charset::ascii);
  EXPECT_EQ(bytes(t), "xyz");
  EXPECT_EQ(t.buffer()->capacity, 3u);
  EXPECT_EQ(t.buffer()->count.load(), 1u);
}

// Fault: a text doubled in a loop grew until the allocator aborted the process.
TEST(String, SizesBeyondTheBoundAreError1903BeforeAnyAllocation) {
  for (size_t n : {kMaxStringSize + kStringTerminatorRoom + 1, size_t{1} << 40, SIZE_MAX}) {
    SCOPED_TRACE(n);
    try {
      String s(n, Charset::binary);
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1903);
    }
  }
}

TEST(String, TextConstructors) {
  String u("h\xC3\xA9llo");
  EXPECT_EQ(u.get_charset(), Charset::utf8);
  EXPECT_EQ(u.size(), 6u);
  EXPECT_EQ(u.length(), 5u);

  String w(L"ab");
  EXPECT_EQ(w.get_charset(), Charset::utf32le);
  EXPECT_EQ(w.size(), 8u);
  EXPECT_EQ(w.length(), 2u);
  EXPECT_EQ(bytes(w), std::string("a\0\0\0b\0\0\0", 8));

  String c(U"\U0001F600");
  EXPECT_EQ(c.get_charset(), Charset::utf32le);
  EXPECT_EQ(c.size(), 4u);
  EXPECT_EQ(c.length(), 1u);

  String p(std::filesystem::path("/tmp/a.dbf"));
  EXPECT_EQ(p.get_charset(), Charset::utf8);
  EXPECT_EQ(bytes(p), "/tmp/a.dbf");

  String q = String::create_from_path(std::filesystem::path("x/y"), cs(kWin1252));
  EXPECT_EQ(q.get_charset(), cs(kWin1252));
  EXPECT_EQ(bytes(q), "x/y");

  String f = String::fromBytes("abc\0def", Charset::ascii);
  EXPECT_EQ(bytes(f), "abc");
  String g = String::fromBytes("abc\0def", 7, Charset::binary);
  EXPECT_EQ(g.size(), 7u);

  const char* text = "hello world";
  scan_string_st token{text + 6, text + 11, Charset::ascii, 5};
  String t = String::create_from_scan_string(token);
  EXPECT_EQ(bytes(t), "world");
  EXPECT_EQ(t.get_charset(), Charset::ascii);
}

TEST(String, CopiesAndSlicesShareTheBuffer) {
  String s("abcdef");
  const string_buffer_st* buf = s.buffer();
  {
    String copy(s);
    String slice(s, s.read() + 1, s.read() + 4);
    String sub = s.substr(2, 2);
    EXPECT_EQ(copy.buffer(), buf);
    EXPECT_EQ(slice.buffer(), buf);
    EXPECT_EQ(sub.buffer(), buf);
    EXPECT_EQ(buf->count.load(), 4u);
    EXPECT_EQ(bytes(slice), "bcd");
    EXPECT_EQ(bytes(sub), "cd");
    EXPECT_EQ(slice.read(), s.read() + 1);
  }
  EXPECT_EQ(buf->count.load(), 1u);
}

TEST(String, SliceOutOfBoundsIsABrokenInvariant) {
  String s("abc");
  EXPECT_THROW(String(s, s.read() + 2, s.read() + 1), assert_failed_exception);
  EXPECT_THROW(String(s, s.read(), s.read() + 4), assert_failed_exception);
  EXPECT_THROW(String(s, s.read() - 1, s.read() + 1), assert_failed_exception);
  EXPECT_NO_THROW(String(s, s.end(), s.end()));
}

TEST(String, WritingUnsharesTheBuffer) {
  String s("abcdef");
  String slice(s, s.read() + 2, s.read() + 5);
  const string_buffer_st* old = s.buffer();
  char* p = slice.write();
  EXPECT_NE(slice.buffer(), old);
  EXPECT_EQ(slice.buffer()->count.load(), 1u);
  EXPECT_EQ(old->count.load(), 1u);
  // Same capacity, same offset inside the new buffer.
  EXPECT_EQ(slice.buffer()->capacity, old->capacity);
  EXPECT_EQ(p, slice.buffer()->bytes + 2);
  p[0] = 'X';
  EXPECT_EQ(bytes(slice), "Xde");
  EXPECT_EQ(bytes(s), "abcdef");
  // A sole holder writes in place.
  const string_buffer_st* own = s.buffer();
  s.write()[0] = 'Z';
  EXPECT_EQ(s.buffer(), own);
  EXPECT_EQ(bytes(s), "Zbcdef");
}

TEST(String, AssignmentAndMove) {
  String a("one");
  String b("two");
  const string_buffer_st* ab = a.buffer();
  b = a;
  EXPECT_EQ(b.buffer(), ab);
  EXPECT_EQ(ab->count.load(), 2u);
  b = b;  // self-assignment keeps the count
  EXPECT_EQ(ab->count.load(), 2u);
  EXPECT_EQ(bytes(b), "one");

  String c(std::move(a));
  EXPECT_EQ(c.buffer(), ab);
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(a.get_charset(), Charset::binary);
  EXPECT_EQ(a.buffer(), &empty_string_buffer);
  EXPECT_EQ(ab->count.load(), 2u);

  String d("three");
  d = std::move(c);
  EXPECT_EQ(bytes(d), "one");
  EXPECT_EQ(ab->count.load(), 2u);
}

TEST(String, CountsAreAtomicAcrossThreads) {
  String shared("shared text");
  size_t empty_before = empty_string_buffer.count.load();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < 20000; ++i) {
        String copy(shared);
        String slice = copy.substr(1, 3);
        String empty(0, Charset::utf8);
        String other = empty;
        (void)slice;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(shared.buffer()->count.load(), 1u);
  EXPECT_EQ(empty_string_buffer.count.load(), empty_before);
}

// ---------------------------------------------------------------------------------------------
// resize, length, align, substr
// ---------------------------------------------------------------------------------------------

TEST(String, ResizeStaysInsideTheCapacity) {
  String s("abcdef");
  String slice(s, s.read() + 2, s.read() + 3);
  size_t room =
      slice.buffer()->capacity - static_cast<size_t>(slice.read() - slice.buffer()->bytes);
  EXPECT_NO_THROW(slice.resize(room));
  EXPECT_EQ(bytes(slice), "cdef");
  try {
    slice.resize(room + 1);
    FAIL() << "resize beyond the capacity did not throw";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "string resize heap overflow");
  }
  EXPECT_EQ(slice.size(), room);
}

TEST(String, LengthCountsCharacters) {
  EXPECT_EQ(String("").length(), 0u);
  EXPECT_EQ(String("a\xC3\xA9\xE2\x82\xAC").length(), 3u);
  // A malformed byte counts as one character.
  EXPECT_EQ(String("a\xFF"
                   "b")
                .length(),
            3u);
  String w(L"abc");
  EXPECT_EQ(w.length(), 3u);
  String u16("a\0b\0", 4, Charset::utf16le);
  EXPECT_EQ(u16.length(), 2u);
}

TEST(String, AlignVariableWidth) {
  String s("a\xC3\xA9");  // a, e-acute: 3 bytes
  {
    String t(s);
    EXPECT_EQ(t.align(2), 2u);
    EXPECT_EQ(t.size(), 3u);
  }
  {
    String t(s);
    EXPECT_EQ(t.align(5), 2u);
    EXPECT_EQ(t.size(), 3u);
  }
  {
    String t(s);
    EXPECT_EQ(t.align(1), 1u);
    EXPECT_EQ(t.size(), 1u);
  }
  {
    String t(s);
    EXPECT_EQ(t.align(0), 0u);
    EXPECT_EQ(t.size(), 0u);
  }
  {
    // A U+FFFD stops the scan: kept in the text, not counted.
    String t(
        "a\xFF"
        "bc");
    EXPECT_EQ(t.align(3), 1u);
    EXPECT_EQ(t.size(), 2u);
  }
}

TEST(String, AlignFixedWidth) {
  String w(L"abc");
  {
    String t(w);
    EXPECT_EQ(t.align(2), 2u);
    EXPECT_EQ(t.size(), 8u);
  }
  {
    String t(w);
    EXPECT_EQ(t.align(5), 3u);
    EXPECT_EQ(t.size(), 12u);
  }
  {
    String t(w);
    EXPECT_EQ(t.align(SIZE_MAX), 3u);
    EXPECT_EQ(t.size(), 12u);
  }
}

TEST(String, SubstrClamps) {
  String s("abc");
  EXPECT_EQ(s.substr(10, 5).size(), 0u);
  EXPECT_EQ(s.substr(10, 5).read(), s.end());
  EXPECT_EQ(bytes(s.substr(1, 100)), "bc");
  EXPECT_EQ(bytes(s.substr(0, 2)), "ab");
  EXPECT_EQ(bytes(s.substr(1, SIZE_MAX)), "bc");
  EXPECT_EQ(s.substr(SIZE_MAX, SIZE_MAX).size(), 0u);
  EXPECT_EQ(bytes(s.substr(3, 1)), "");

  String u("x\xC3\xA9y\xE2\x82\xACz");  // x é y € z
  EXPECT_EQ(bytes(u.substr(1, 3)), "\xC3\xA9y\xE2\x82\xAC");
  EXPECT_EQ(bytes(u.substr(4, 9)), "z");
  EXPECT_EQ(u.substr(2, 1).get_charset(), Charset::utf8);
  EXPECT_EQ(u.substr(2, 1).buffer(), u.buffer());
}

TEST(String, SubstrFixedWidthByArithmetic) {
  String w(L"abcd");
  String t = w.substr(1, 2);
  EXPECT_EQ(t.size(), 8u);
  EXPECT_EQ(t.read(), w.read() + 4);
  EXPECT_EQ(t.buffer(), w.buffer());
  EXPECT_EQ(w.substr(3, 100).size(), 4u);
  EXPECT_EQ(w.substr(4, 1).size(), 0u);
  EXPECT_EQ(w.substr(SIZE_MAX / 2, SIZE_MAX).size(), 0u);
}

// ---------------------------------------------------------------------------------------------
// convert, strcpy, the path conversion
// ---------------------------------------------------------------------------------------------

TEST(String, ConvertRelabelsBinaryAndSkipsTheBom) {
  const Charset* bom8 = cs(kUtf8Bom);
  String s(
      "\xEF\xBB\xBF"
      "A",
      4, Charset::binary);
  const string_buffer_st* buf = s.buffer();
  s.convert(bom8, CON_NONE, 1);
  EXPECT_EQ(s.get_charset(), bom8);
  EXPECT_EQ(bytes(s), "A");
  EXPECT_EQ(s.buffer(), buf);

  String only("\xEF\xBB\xBF", 3, Charset::binary);
  only.convert(bom8, CON_NONE, 1);
  EXPECT_EQ(only.size(), 3u);
  EXPECT_EQ(only.get_charset(), bom8);
}

TEST(String, ConvertRelabelOfInvalidBytes) {
  String s(
      "ab\xFF"
      "c",
      4, Charset::binary);
  try {
    s.convert(Charset::utf8, CON_NONE, 1);
    FAIL() << "no exception";
  } catch (const string_buffer_invalid_exception& e) {
    EXPECT_EQ(e.position, 3u);
  }
  EXPECT_EQ(s.get_charset(), Charset::binary);
  s.convert(Charset::utf8, CON_NONE, 0);
  EXPECT_EQ(s.get_charset(), Charset::utf8);
  EXPECT_EQ(s.size(), 4u);
}

TEST(String, ConvertToBinaryAddsNoTerminator) {
  String s("abc");
  const string_buffer_st* buf = s.buffer();
  s.convert(Charset::binary, CON_TERMINATE, 1);
  EXPECT_EQ(s.get_charset(), Charset::binary);
  EXPECT_EQ(s.buffer(), buf);
  EXPECT_EQ(buf->capacity, 3u);
  EXPECT_EQ(bytes(s), "abc");
}

TEST(String, ConvertReencodes) {
  String s("a\xC3\xA9");
  s.convert(Charset::utf16le, CON_TERMINATE, 1);
  EXPECT_EQ(s.get_charset(), Charset::utf16le);
  EXPECT_EQ(bytes(s), std::string("a\0\xE9\0", 4));
  ASSERT_GE(s.buffer()->capacity - (s.read() - s.buffer()->bytes), 6u);
  EXPECT_EQ(s.read()[4], 0);
  EXPECT_EQ(s.read()[5], 0);

  String e(
      "\xE2\x82\xAC"
      "x");
  e.convert(cs(kWin1252), CON_EXACT, 1);
  EXPECT_EQ(bytes(e), "\x80x");
  EXPECT_EQ(e.buffer()->capacity, 2u);  // sized exactly
}

TEST(String, ConvertThatLosesCharactersLeavesTheString) {
  String s("a\xE2\x82\xAC");
  const string_buffer_st* buf = s.buffer();
  EXPECT_THROW(s.convert(Charset::ascii, CON_NONE, 1), cstran_chars_lost);
  EXPECT_THROW(s.convert(Charset::ascii, CON_EXACT, 1), cstran_chars_lost);
  EXPECT_EQ(s.buffer(), buf);
  EXPECT_EQ(s.get_charset(), Charset::utf8);
  s.convert(Charset::ascii, CON_NONE, 0);
  EXPECT_EQ(s.get_charset(), Charset::ascii);
  EXPECT_EQ(s.size(), 2u);
  EXPECT_EQ(s.read()[0], 'a');
}

TEST(String, ConvertSameCharset) {
  String s("abc");
  const string_buffer_st* buf = s.buffer();
  s.convert(Charset::utf8, CON_NONE, 1);
  EXPECT_EQ(s.buffer(), buf);
  s.convert(Charset::utf8, CON_UNSHARE, 1);  // not shared: nothing to do
  EXPECT_EQ(s.buffer(), buf);
  String copy(s);
  copy.convert(Charset::utf8, CON_UNSHARE, 1);
  EXPECT_NE(copy.buffer(), buf);
  EXPECT_EQ(copy.buffer()->count.load(), 1u);
  EXPECT_EQ(bytes(copy), "abc");
  // Terminating a text that has no room after it copies it.
  s.convert(Charset::utf8, CON_TERMINATE, 1);
  EXPECT_NE(s.buffer(), buf);
  EXPECT_EQ(bytes(s), "abc");
  EXPECT_EQ(s.read()[3], 0);
  // Already terminated: nothing to do.
  const string_buffer_st* now = s.buffer();
  s.convert(Charset::utf8, CON_TERMINATE, 1);
  EXPECT_EQ(s.buffer(), now);
  // Malformed bytes survive an unsharing copy in the same charset.
  String bad("a\xFF");
  String bad2(bad);
  bad2.convert(Charset::utf8, CON_UNSHARE, 1);
  EXPECT_EQ(bytes(bad2), "a\xFF");
}

TEST(String, StrcpyConvertsAndTerminates) {
  String s(
      "a\xC3\xA9"
      "b");
  char out[16];
  std::memset(out, 'Z', sizeof out);
  EXPECT_EQ(s.strcpy(out, sizeof out, cs(kWin1252), 1), 0);
  EXPECT_STREQ(out,
               "a\xE9"
               "b");

  char wide[16];
  std::memset(wide, 'Z', sizeof wide);
  EXPECT_EQ(s.strcpy(wide, sizeof wide, Charset::utf16le, 1), 0);
  EXPECT_EQ(std::string(wide, 8), std::string("a\0\xE9\0b\0\0\0", 8));

  char small[3];
  s.strcpy(small, sizeof small, Charset::ascii, 0);
  EXPECT_EQ(small[2], 0);

  char tiny[1];
  EXPECT_THROW(s.strcpy(tiny, 1, Charset::utf16le, 1), assert_failed_exception);

  // Binary text is copied raw.
  String b("\x01\xFF\x02", 3, Charset::binary);
  char raw[8];
  EXPECT_EQ(b.strcpy(raw, sizeof raw, Charset::utf8, 1), 0);
  EXPECT_EQ(std::string(raw, 4), std::string("\x01\xFF\x02\0", 4));
}

TEST(String, PathConversion) {
  String s("dir/n\xC3\xA1me.dbf");
  std::filesystem::path p = s;
  EXPECT_EQ(p.native(), "dir/n\xC3\xA1me.dbf");

  String w(L"a.dbf");
  std::filesystem::path q = w;
  EXPECT_EQ(q.native(), "a.dbf");

  String l("caf\xE9", 4, cs(kWin1252));
  std::filesystem::path r = l;
  EXPECT_EQ(r.native(), "caf\xC3\xA9");
}

TEST(String, PathWithAZeroByteIsRefused) {
  String s("a.dbf\0x", 7, Charset::utf8);
  try {
    std::filesystem::path p = s;
    FAIL() << "a name holding a zero byte opened " << p;
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 202);
    EXPECT_EQ(bytes(e.detail), std::string("a.dbf\0x", 7));
  }
  String w(U"a\0b");  // stops at the first zero unit: fine
  EXPECT_NO_THROW(static_cast<std::filesystem::path>(w));
  String w2(std::string("a\0\0\0\0\0\0\0b\0\0\0", 12).data(), 12, Charset::utf32le);
  EXPECT_THROW(static_cast<std::filesystem::path>(w2), RuntimeError);
}

// ---------------------------------------------------------------------------------------------
// add
// ---------------------------------------------------------------------------------------------

TEST(String, AddSameCharsetJoinsRaw) {
  String a("ab");
  a.add(String("c\xFF"));
  EXPECT_EQ(bytes(a), "abc\xFF");
  EXPECT_EQ(a.get_charset(), Charset::utf8);
  String self("xy");
  self.add(&self);
  EXPECT_EQ(bytes(self), "xyxy");
}

// A text whose buffer nothing else holds grows in place, with room to spare, so repeated appends
// cost linear time; a shared buffer (a copy, a slice, the appended text itself) is never written.
TEST(String, AddAppendsInPlaceOnlyToAnUnsharedBuffer) {
  String a("ab");
  a.add(String("c"));  // a fresh buffer for the joined text
  const string_buffer_st* buffer = a.buffer();
  a.add(String("d"));
  EXPECT_EQ(a.buffer(), buffer) << "grown in place";
  for (int i = 0; i < 1000; ++i) a.add(String("e"));
  EXPECT_EQ(a.size(), 1004u);
  EXPECT_GE(a.buffer()->capacity, a.size());
  EXPECT_LE(a.buffer()->capacity, 2 * a.size() + 64);

  String copy = a;
  a.add(String("!"));
  EXPECT_NE(a.buffer(), copy.buffer());
  EXPECT_EQ(copy.size(), 1004u);
  EXPECT_EQ(bytes(copy).substr(1000), "eeee");
  EXPECT_EQ(bytes(a).substr(1002), "ee!");

  // A slice alone on its buffer appends over the bytes behind it; the text before stays.
  String slice = String("0123456789").substr(2, 3);
  slice.add(String("x"));
  slice.add(String("y"));
  EXPECT_EQ(bytes(slice), "234xy");

  // Self-append reads the old text whole.
  String self("pq");
  self.add(String("r"));
  self.add(&self);
  EXPECT_EQ(bytes(self), "pqrpqr");

  // The shared empty buffer is never written.
  String empty(size_t{0}, Charset::utf8);
  empty.add(String("ab"));
  EXPECT_EQ(bytes(empty), "ab");
  EXPECT_NE(empty.buffer(), String(size_t{0}, Charset::utf8).buffer());
}

TEST(String, AddBinaryToUtf8GivesTheFlaggedUtf8) {
  const Charset* flagged = get_charset_by_csid(kUtf8 | 0x10000);
  ASSERT_NE(flagged, nullptr);
  ASSERT_NE(flagged, Charset::utf8);
  EXPECT_TRUE(flagged->is_flagged());

  String a("h\xC3\xA9");
  a.add(String("\x00\xFF\x80", 3, Charset::binary));
  EXPECT_EQ(a.get_charset(), flagged);
  EXPECT_EQ(bytes(a), std::string("h\xC3\xA9\x00\xFF\x80", 6));

  // Binary on the left stays binary.
  String b("\x01", 1, Charset::binary);
  b.add(String("\xC3\xA9"));
  EXPECT_EQ(b.get_charset(), Charset::binary);
  EXPECT_EQ(bytes(b), "\x01\xC3\xA9");

  // A flagged left side joins raw in itself.
  String c = a;
  c.add(String("z", 1, Charset::utf16le));
  EXPECT_EQ(c.get_charset(), flagged);
  EXPECT_EQ(c.size(), 7u);
}

TEST(String, AddConvertsIntoTheFirstCharsetThatHoldsBoth) {
  // Left holds both.
  String a("x");
  a.add(String("\xE9", 1, cs(kWin1252)));
  EXPECT_EQ(a.get_charset(), Charset::utf8);
  EXPECT_EQ(bytes(a), "x\xC3\xA9");

  // Left cannot hold the euro sign: the right charset.
  String b("x", 1, Charset::ascii);
  b.add(String("\xAC\x20", 2, Charset::utf16le));
  EXPECT_EQ(b.get_charset(), Charset::utf16le);
  EXPECT_EQ(bytes(b), std::string("x\0\xAC\x20", 4));

  // Neither holds both: the UTF-8 fallback.
  String c("\x82", 1, cs(kIbm437));        // e-acute
  c.add(String("\xC6", 1, cs(kWin1251)));  // Cyrillic capital Zhe
  EXPECT_EQ(c.get_charset(), Charset::utf8);
  EXPECT_EQ(bytes(c), "\xC3\xA9\xD0\x96");
}

// ---------------------------------------------------------------------------------------------
// Concat and StringBuilder
// ---------------------------------------------------------------------------------------------

TEST(Concat, EmptyBuilder) {
  Concat c;
  String s = c.to_string(false);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(s.get_charset(), Charset::ascii);
  String t = c.to_string(true);
  EXPECT_EQ(t.size(), 0u);
  EXPECT_EQ(t.get_charset(), Charset::ascii);
  EXPECT_EQ(t.read()[0], 0);

  Concat u(Charset::utf16le);
  EXPECT_EQ(u.to_string(false).get_charset(), Charset::utf16le);
}

TEST(Concat, AppendEstimates) {
  Concat c;
  c.append(String("ab"));
  EXPECT_EQ(c.charset(), Charset::utf8);
  EXPECT_EQ(c.estimate(), 2u);
  c.append(String("a\0b\0c\0", 6, Charset::utf16le));
  EXPECT_EQ(c.estimate(), 2u + 3 * 4);
  EXPECT_EQ(c.count(), 2u);

  Concat b(Charset::binary);
  b.append(String("abc"));
  EXPECT_EQ(b.estimate(), 3u);

  Concat d;
  d.append(c);
  EXPECT_EQ(d.count(), 2u);
  EXPECT_EQ(d.estimate(), c.estimate());
  EXPECT_EQ(bytes(d.to_string(false)), "ababc");
}

TEST(Concat, OnePieceIsSharedUnlessATerminatorIsMissing) {
  String piece("abc");
  Concat c;
  c.append(piece);
  String s = c.to_string(false);
  EXPECT_EQ(s.buffer(), piece.buffer());

  // The piece has no zero after it in its buffer: a fresh terminated copy.
  String t = c.to_string(true);
  EXPECT_NE(t.buffer(), piece.buffer());
  EXPECT_EQ(bytes(t), "abc");
  EXPECT_EQ(t.get_charset(), Charset::utf8);
  ASSERT_GE(t.buffer()->capacity, 4u);
  EXPECT_EQ(t.read()[3], 0);

  // A piece followed by a terminator inside its buffer is shared as it is.
  String whole("abc\0", 4, Charset::utf8);
  String slice(whole, whole.read(), whole.read() + 3);
  Concat d;
  d.append(slice);
  String u = d.to_string(true);
  EXPECT_EQ(u.buffer(), whole.buffer());
  EXPECT_EQ(bytes(u), "abc");

  // UTF-16: the terminator has two bytes.
  String w16("a\0\0", 3, Charset::utf16le);
  String w16s(w16, w16.read(), w16.read() + 2);
  Concat e;
  e.append(w16s);
  String v = e.to_string(true);
  EXPECT_NE(v.buffer(), w16.buffer());
  EXPECT_EQ(v.read()[2], 0);
  EXPECT_EQ(v.read()[3], 0);
}

TEST(Concat, JoinsAndConverts) {
  Concat c;
  c.append(String("a"));
  c.append(String("\xE9", 1, cs(kWin1252)));
  c.append(String("b\0", 2, Charset::utf16le));
  String s = c.to_string(true);
  EXPECT_EQ(s.get_charset(), Charset::utf8);
  EXPECT_EQ(bytes(s),
            "a\xC3\xA9"
            "b");
  EXPECT_EQ(s.read()[s.size()], 0);
}

TEST(Concat, ReestimatesWhenAPieceCannotBeConverted) {
  Concat c;
  c.append(String("ab", 2, Charset::ascii));
  c.append(String("\xC3\xA9\xE2\x82\xAC"));  // é €
  EXPECT_EQ(c.charset(), Charset::ascii);
  EXPECT_EQ(c.estimate(), 2u + 5);
  String s = c.to_string(false);
  EXPECT_EQ(s.get_charset(), Charset::utf8);
  EXPECT_EQ(bytes(s), "ab\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(c.charset(), Charset::utf8);
  EXPECT_EQ(c.estimate(), 7u);
}

TEST(Concat, ReestimatesIntoUtf16WhenThePieceCharsetFailsToo) {
  Concat c;
  c.append(String("\x82", 1, cs(kIbm437)));   // é
  c.append(String("\xC6", 1, cs(kWin1251)));  // Ж: not in 437; é is not in 1251
  String s = c.to_string(true);
  EXPECT_EQ(c.charset(), Charset::utf16le);
  EXPECT_EQ(c.estimate(), 4u);
  EXPECT_EQ(s.get_charset(), Charset::utf16le);
  EXPECT_EQ(bytes(s), std::string("\xE9\x00\x16\x04", 4));
  EXPECT_EQ(s.read()[4], 0);
  EXPECT_EQ(s.read()[5], 0);
}

TEST(Concat, BinaryIsCopiedRawNeverThroughThePivot) {
  // A UTF-8 piece into a binary builder.
  Concat b(Charset::binary);
  b.append(String("\x01\x02", 2, Charset::binary));
  b.append(String("\xC3\xA9z"));
  String s = b.to_string(false);
  EXPECT_EQ(s.get_charset(), Charset::binary);
  EXPECT_EQ(bytes(s), "\x01\x02\xC3\xA9z");

  // A binary piece into a UTF-8 builder.
  Concat u;
  u.append(String("x"));
  u.append(String("\xFF\x00\x80", 3, Charset::binary));
  u.append(String("y"));
  String t = u.to_string(true);
  EXPECT_EQ(t.get_charset(), Charset::utf8);
  EXPECT_EQ(bytes(t), std::string("x\xFF\x00\x80y", 5));
  EXPECT_EQ(t.read()[5], 0);
}

TEST(Concat, BinaryOperators) {
  Concat c(Charset::binary);
  c << static_cast<uint8_t>(7) << true << static_cast<uint32_t>(0x01020304)
    << static_cast<uint64_t>(5) << static_cast<int64_t>(-1);
  String name = String("h\xC3\xA9");
  c << name;
  String s = c.to_string(false);
  std::string expect;
  expect += '\x07';
  expect += '\x01';
  expect += std::string("\x04\x03\x02\x01", 4);
  expect += std::string("\x05\0\0\0\0\0\0\0", 8);
  expect += std::string(8, '\xFF');
  expect += "utf-8";
  expect += std::string("\x03\0\0\0\0\0\0\0", 8);
  expect += "h\xC3\xA9";
  EXPECT_EQ(bytes(s), expect);
  EXPECT_EQ(s.get_charset(), Charset::binary);

  Concat text(Charset::utf8);
  EXPECT_THROW(text << static_cast<uint32_t>(1), assert_failed_exception);
}

TEST(StringBuilder, JoinsNumbersTextAndStrings) {
  StringBuilder b;
  b << "n=" << -42 << String(" \xC3\xA9") << 2147483647;
  String s = b.to_string(false);
  EXPECT_EQ(s.get_charset(), Charset::utf8);
  EXPECT_EQ(bytes(s),
            "n=-42 \xC3\xA9"
            "2147483647");

  StringBuilder w(Charset::utf16le);
  w << "ab";
  EXPECT_EQ(bytes(w.to_string(false)), std::string("a\0b\0", 4));
}

// ---------------------------------------------------------------------------------------------
// Checked copies
// ---------------------------------------------------------------------------------------------

TEST(CheckedCopies, StrcpyChecked) {
  char dst[8];
  EXPECT_THROW(strcpy_checked(dst, 5, "hello"), copy_buffer_too_small);
  EXPECT_NO_THROW(strcpy_checked(dst, 6, "hello"));
  EXPECT_STREQ(dst, "hello");
  EXPECT_THROW(strcpy_checked(dst, 0, ""), copy_buffer_too_small);
  EXPECT_NO_THROW(strcpy_checked(dst, 1, ""));
  EXPECT_STREQ(dst, "");
}

TEST(CheckedCopies, MemcpyChecked) {
  char dst[4] = {'a', 'b', 'c', 'd'};
  EXPECT_THROW(memcpy_checked(dst, 2, "xyz", 3), copy_buffer_too_small);
  EXPECT_EQ(std::string(dst, 4), "abcd");  // nothing copied
  EXPECT_NO_THROW(memcpy_checked(dst, 4, "xyz", 3));
  EXPECT_EQ(std::string(dst, 4), "xyzd");
  EXPECT_NO_THROW(memcpy_checked(dst, 0, nullptr, 0));
}

}  // namespace
