// File handles: fgets over line ends, charsets and binary text; the bounded
// character-wise read over invalid bytes; the buffered fast path against the character-wise
// path; the line-list readers; __fopen and the standard-stream names.
#include <qzbase.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_handle.h"
#include "values/charset_registry.h"

using namespace qzbase;

namespace {

std::string text(const String& s) { return std::string(s.read(), s.size()); }

struct TempFile {
  std::string path;
  explicit TempFile(const std::string& content) {
    char name[] = "/tmp/qz_fh_test_XXXXXX";
    int fd = mkstemp(name);
    path = name;
    if (!content.empty()) {
      ssize_t n = write(fd, content.data(), content.size());
      (void)n;
    }
    close(fd);
  }
  ~TempFile() { unlink(path.c_str()); }
};

class CaptureScreen : public Screen {
 public:
  void internal_out(const String& s) override { out_text += text(s); }
  void internal_err(const String& s) override { err_text += text(s); }
  std::string out_text, err_text;
};

struct CinFromString {
  std::istringstream in;
  std::streambuf* saved;
  explicit CinFromString(const std::string& s) : in(s), saved(std::cin.rdbuf(in.rdbuf())) { std::cin.clear(); }
  ~CinFromString() {
    std::cin.rdbuf(saved);
    std::cin.clear();
  }
};

const Charset* cs_named(const char* name) {
  const Charset* cs = get_charset_by_name(name);
  EXPECT_NE(cs, nullptr) << name;
  return cs;
}

struct LineResult {
  std::string line;
  size_t count;
  bool fail;
  bool eof;
  bool operator==(const LineResult& o) const {
    return line == o.line && count == o.count && fail == o.fail && eof == o.eof;
  }
};

std::ostream& operator<<(std::ostream& os, const LineResult& r) {
  os << "{";
  for (unsigned char c : r.line) {
    if (c >= 0x20 && c < 0x7F) {
      os << c;
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      os << b;
    }
  }
  return os << ", " << r.count << ", fail " << r.fail << ", eof " << r.eof << "}";
}

std::vector<LineResult> all_lines(FileHandle* h, size_t limit = 100000) {
  std::vector<LineResult> out;
  for (size_t i = 0; i < limit; ++i) {
    String line;
    size_t n = h->fgets(&line);
    out.push_back({text(line), n, h->fail(), h->eof()});
    if (n == 0) break;
  }
  return out;
}

std::vector<LineResult> file_lines(const std::string& content, const Charset* cs) {
  TempFile f(content);
  FileBuffer h(cs, std::filesystem::path(f.path));
  EXPECT_TRUE(h.is_open());
  return all_lines(&h);
}

// A FileBuffer without its fast path.
class CharacterWiseFileBuffer : public FileBuffer {
 public:
  using FileBuffer::FileBuffer;

 protected:
  bool fgets_fast(String*, size_t*) override { return false; }
};

std::vector<LineResult> characterwise_file_lines(const std::string& content, const Charset* cs) {
  TempFile f(content);
  CharacterWiseFileBuffer h(cs, std::filesystem::path(f.path));
  return all_lines(&h);
}

// The character-wise path: a Stdin handle over a console screen reading std::cin.
std::vector<LineResult> stdin_lines(const std::string& content, const Charset* cs) {
  CinFromString in(content);
  ConsoleScreen screen;
  Stdin h(cs, &screen);
  std::vector<LineResult> out;
  for (int i = 0; i < 100000; ++i) {
    String line;
    size_t n = h.fgets(&line);
    out.push_back({text(line), n, h.fail(), false});
    if (n == 0) break;
  }
  return out;
}

TEST(FileHandleTest, LineEnds) {
  auto lines = file_lines("a\r\nb\rc\n\r\nlast", Charset::utf8);
  std::vector<LineResult> expected = {
      {"a", 3, false, false},      // CR LF: both cut
      {"b\rc", 4, false, false},   // a lone CR stays
      {"", 2, false, false},       // CR LF alone: empty line of 2 characters
      {"last", 4, true, true},     // no line end: the line as it is; the read met the end
      {"", 0, true, true},
  };
  EXPECT_EQ(lines, expected);
  auto lfcr = file_lines("x\n\ry\n", Charset::utf8);  // LF CR: the CR starts the next line
  std::vector<LineResult> expected_lfcr = {{"x", 2, false, false}, {"\ry", 3, false, true}, {"", 0, true, true}};
  EXPECT_EQ(lfcr, expected_lfcr);
  auto only_lf = file_lines("\n", Charset::utf8);
  EXPECT_EQ(only_lf[0], (LineResult{"", 1, false, true}));
  auto empty = file_lines("", Charset::utf8);
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0], (LineResult{"", 0, true, true}));
}

TEST(FileHandleTest, BinaryKeepsEverything) {
  std::string content("a\r\nb\n\0c\n", 8);
  auto lines = file_lines(content, Charset::binary);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].line, content);
  EXPECT_EQ(lines[0].count, 8u);
  EXPECT_EQ(lines[1].count, 0u);
  // A handle without a charset reads binary too.
  auto none = file_lines(content, nullptr);
  EXPECT_EQ(none[0].line, content);
}

TEST(FileHandleTest, Utf16le) {
  // "a\r\n" + U+1F600 + "b\n", UTF-16LE.
  std::string content("a\0\r\0\n\0\x3D\xD8\x00\xDE" "b\0\n\0", 14);
  TempFile f(content);
  FileBuffer h(Charset::utf16le, std::filesystem::path(f.path));
  // Each character read stores two or four bytes.
  char buf[8];
  const Charset* cs = nullptr;
  EXPECT_EQ(h.read(buf, sizeof buf, 1, &cs), 2u);
  EXPECT_EQ(cs, Charset::utf16le);
  EXPECT_EQ(h.read(buf, sizeof buf, 2, &cs), 4u);
  EXPECT_EQ(h.read(buf, sizeof buf, 1, &cs), 4u);
  EXPECT_EQ(std::memcmp(buf, "\x3D\xD8\x00\xDE", 4), 0);
  h.seek(0, std::ios::beg);
  auto lines = all_lines(&h);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].line, std::string("a\0", 2));
  EXPECT_EQ(lines[0].count, 3u);
  EXPECT_EQ(lines[1].line, std::string("\x3D\xD8\x00\xDE" "b\0", 6));
  EXPECT_EQ(lines[1].count, 3u);
  EXPECT_EQ(lines[2].count, 0u);
}

// A reader that takes every U+FFFD as "add a byte" lets one invalid byte swallow the rest of
// the input and store the bytes past the caller's size. Read into heap buffers of exactly
// `size` bytes so that AddressSanitizer sees any write beyond them.
TEST(FileHandleTest, InvalidBytesNeverWritePastSize) {
  struct {
    const char* charset;
    std::string content;
    std::vector<size_t> char_bytes;  // the byte length of each character read
  } cases[] = {
      {"utf-8", "\x80" "abc", {1, 1, 1, 1}},
      {"utf-8", "\xE2\x82" "A\n", {2, 1, 1}},                   // a cut sequence, then A
      {"utf-8", "\xE2\x82\xAC\xFF\xC3\xA9", {3, 1, 2}},         // euro, invalid, e acute
      {"utf-8", "\xED\xA0\x80x", {1, 1, 1, 1}},                 // surrogate: three invalid bytes
      {"utf-8", "\xF0\x9F\x98\x80\xF0\x9F\x98", {4, 3}},        // emoji, then cut at the end
      {"utf-8", "\xEF\xBF\xBDz", {3, 1}},                        // a real U+FFFD is one character
      {"windows-1252", "a\x81\x8D\x90\x9Dz", {1, 1, 1, 1, 1, 1}},  // unmapped bytes
      {"utf-16le", std::string("\x00\xDC" "A\x00", 4), {2, 2}},  // lone trail surrogate
      {"utf-16le", std::string("\x3D\xD8" "A\x00", 4), {2, 2}},  // lead without a trail
      {"utf-16le", std::string("A\x00" "B", 3), {2, 1}},         // odd byte at the end
  };
  for (auto& c : cases) {
    const Charset* cs = cs_named(c.charset);
    TempFile f(c.content);
    FileBuffer h(cs, std::filesystem::path(f.path));
    std::vector<size_t> got;
    for (;;) {
      auto buf = std::make_unique<char[]>(4);  // exactly the size passed below
      const Charset* out_cs = nullptr;
      size_t n = h.read(buf.get(), 4, 1, &out_cs);
      if (h.fail()) break;
      ASSERT_GT(n, 0u);
      ASSERT_LE(n, 4u);
      got.push_back(n);
      ASSERT_LT(got.size(), 100u);
    }
    EXPECT_EQ(got, c.char_bytes) << c.charset << " " << c.content.size();
  }
}

TEST(FileHandleTest, ReadStopsBeforeACharacterThatDoesNotFit) {
  TempFile f("ab\xE2\x82\xAC" "c");
  FileBuffer h(Charset::utf8, std::filesystem::path(f.path));
  auto buf = std::make_unique<char[]>(4);
  const Charset* cs = nullptr;
  EXPECT_EQ(h.read(buf.get(), 4, 10, &cs), 2u);  // a, b; the euro sign needs 3 more bytes
  EXPECT_EQ(h.tell(), std::streampos(2));
  EXPECT_EQ(h.read(buf.get(), 4, 10, &cs), 4u);  // the euro sign and c
  EXPECT_EQ(std::string(buf.get(), 4), "\xE2\x82\xAC" "c");
  auto tiny = std::make_unique<char[]>(2);
  h.seek(2, std::ios::beg);
  EXPECT_EQ(h.read(tiny.get(), 2, 1, &cs), 0u);  // never more than size bytes
  EXPECT_FALSE(h.fail());
  EXPECT_EQ(h.peek(), 0xE2);
  EXPECT_EQ(h.read(buf.get(), 4, 1, &cs), 3u);
  // fgets over invalid bytes goes on to the line end.
  TempFile g("\xFF\xFE" "a\xC3\n" "b\n");
  FileBuffer gh(Charset::utf8, std::filesystem::path(g.path));
  auto lines = all_lines(&gh);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], (LineResult{"\xFF\xFE" "a\xC3", 5, false, false}));
  EXPECT_EQ(lines[1], (LineResult{"b", 2, false, true}));
}

// The end of the file is seen by eof() as soon as the position is there, and tell() still knows
// the position once a read has run into the end.
TEST(FileHandleTest, EndOfFileAndPositionThere) {
  TempFile f("ab\ncd");
  FileBuffer h(Charset::utf8, std::filesystem::path(f.path));
  EXPECT_FALSE(h.eof());
  String line;
  h.fgets(&line);
  EXPECT_FALSE(h.eof());
  h.fgets(&line);
  EXPECT_TRUE(h.eof());
  EXPECT_EQ(h.tell(), std::streampos(5));
  h.seek(1, std::ios::beg);
  EXPECT_FALSE(h.eof());
  EXPECT_EQ(h.tell(), std::streampos(1));
  h.seek(0, std::ios::end);
  EXPECT_TRUE(h.eof());
  EXPECT_EQ(h.tell(), std::streampos(5));
  TempFile empty("");
  FileBuffer e(Charset::utf8, std::filesystem::path(empty.path));
  EXPECT_TRUE(e.eof());
  EXPECT_EQ(e.tell(), std::streampos(0));
}

TEST(FileHandleTest, CompleteCharLength) {
  auto len = [](const Charset* cs, const std::string& b) {
    return complete_char_length(cs, reinterpret_cast<const unsigned char*>(b.data()), b.size());
  };
  EXPECT_EQ(len(Charset::utf8, "\xE2"), 0u);
  EXPECT_EQ(len(Charset::utf8, "\xE2\x82"), 0u);
  EXPECT_EQ(len(Charset::utf8, "\xE2\x82\xAC"), 3u);
  EXPECT_EQ(len(Charset::utf8, "\xE2" "A"), 1u);
  EXPECT_EQ(len(Charset::utf8, "\x80"), 1u);
  EXPECT_EQ(len(Charset::utf8, "\xC0"), 1u);
  EXPECT_EQ(len(Charset::utf8, "\xE0\x80"), 1u);
  EXPECT_EQ(len(Charset::utf8, "\xF4\x90"), 1u);
  EXPECT_EQ(len(Charset::utf16le, std::string("\x3D\xD8\x00", 3)), 0u);
  EXPECT_EQ(len(Charset::utf16le, std::string("\x3D\xD8\x41\x00", 4)), 2u);
  EXPECT_EQ(len(Charset::utf32le, std::string("\x41\x00\x00", 3)), 0u);
  const Charset* sjis = get_charset_by_name("shift_jis");
  if (sjis) {
    EXPECT_EQ(len(sjis, "\x82"), 0u);
    EXPECT_EQ(len(sjis, "\x82\xA0"), 2u);
  }
}

// The buffered fast path gives the same lines, counts and states as the character-wise path.
TEST(FileHandleTest, FastPathMatchesCharacterWisePath) {
  std::mt19937 rng(12345);
  const char* pieces[] = {"a", "b", "\n", "\r", "\r\n", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x80",
                          "\xE2\x82", "\xF0\x9F", "\xFF", "\xC3", " ", "\xED\xA0\x80"};
  for (const char* name : {"utf-8", "windows-1252", "iso-8859-1"}) {
    const Charset* cs = cs_named(name);
    for (int round = 0; round < 300; ++round) {
      std::string content;
      int n = static_cast<int>(rng() % 40);
      for (int i = 0; i < n; ++i) content += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
      auto fast = file_lines(content, cs);
      auto slow = stdin_lines(content, cs);
      EXPECT_EQ(fast, characterwise_file_lines(content, cs)) << name << " round " << round;
      ASSERT_EQ(fast.size(), slow.size()) << name << " round " << round;
      for (size_t i = 0; i < fast.size(); ++i) {
        LineResult f = fast[i];
        f.eof = false;  // Stdin's eof is std::cin's, not comparable
        EXPECT_EQ(f, slow[i]) << name << " round " << round << " line " << i;
      }
    }
  }
}

TEST(FileHandleTest, LongLinesCrossTheChunk) {
  std::string a(5000, 'x');
  std::string b;
  for (int i = 0; i < 1500; ++i) b += "\xE2\x82\xAC";
  auto fast = file_lines(a + "\r\n" + b + "\n", Charset::utf8);
  auto slow = stdin_lines(a + "\r\n" + b + "\n", Charset::utf8);
  ASSERT_GE(fast.size(), 2u);
  EXPECT_EQ(fast[0].line, a);
  EXPECT_EQ(fast[0].count, 5002u);
  EXPECT_EQ(fast[1].line, b);
  EXPECT_EQ(fast[1].count, 1501u);
  EXPECT_EQ(slow[0].line, a);
  EXPECT_EQ(slow[0].count, 5002u);
  EXPECT_EQ(slow[1].line, b);
  EXPECT_EQ(slow[1].count, 1501u);
  // UTF-16 goes character-wise through the 1024-byte chunks.
  std::u16string w(3000, u'\u00E9');
  std::string bytes(reinterpret_cast<const char*>(w.data()), w.size() * 2);
  auto lines = file_lines(bytes + std::string("\r\0\n\0", 4), Charset::utf16le);
  EXPECT_EQ(lines[0].line, bytes);
  EXPECT_EQ(lines[0].count, 3002u);
}

TEST(FileHandleTest, RawFileHandle) {
  FILE* f = std::tmpfile();
  std::fputs("one\r\ntwo\n\xE2\x82" "x", f);
  std::rewind(f);
  {
    RawFileHandle h(Charset::utf8, f);
    auto lines = all_lines(&h);
    std::vector<LineResult> expected = {
        {"one", 5, false, false}, {"two", 4, false, false}, {"\xE2\x82x", 2, true, true}, {"", 0, true, true}};
    EXPECT_EQ(lines, expected);
    h.seek(4, std::ios::beg);
    EXPECT_FALSE(h.fail());
    EXPECT_EQ(h.tell(), std::streampos(4));
    EXPECT_EQ(h.peek(), 0);
  }
  std::rewind(f);
  {
    RawFileHandle h(cs_named("utf-16le"), f);  // no fast path: character-wise
    char buf[4];
    const Charset* cs = nullptr;
    EXPECT_EQ(h.read(buf, 4, 1, &cs), 2u);
    EXPECT_EQ(std::string(buf, 2), "on");
  }
  std::fclose(f);
}

// The fast paths keep a line buffer per thread; it is freed when the thread ends.
TEST(FileHandleTest, FastPathsInAnotherThread) {
  TempFile f(std::string(3000000, 'z') + "\nshort\n");
  std::vector<LineResult> raw_lines, file_lines_seen;
  std::thread([&] {
    FILE* file = std::fopen(f.path.c_str(), "rb");
    RawFileHandle raw(Charset::utf8, file);
    raw_lines = all_lines(&raw);
    std::fclose(file);
    FileBuffer fb(Charset::utf8, std::filesystem::path(f.path));
    file_lines_seen = all_lines(&fb);
  }).join();
  ASSERT_EQ(raw_lines.size(), 3u);
  EXPECT_EQ(raw_lines[0].count, 3000001u);
  EXPECT_EQ(raw_lines[1].line, "short");
  ASSERT_EQ(file_lines_seen.size(), 3u);
  EXPECT_EQ(file_lines_seen[0].line.size(), 3000000u);
}

TEST(FileHandleTest, ReadCharsFromStream) {
  std::istringstream in("\xC3\xA9" "ab\xE2\x82\xAC");
  char buf[16];
  size_t chars = 0;
  EXPECT_EQ(ReadCharsFromStream(in, buf, sizeof buf, 2, &chars, Charset::utf8), 3u);
  EXPECT_EQ(chars, 2u);
  EXPECT_EQ(ReadCharsFromStream(in, buf, sizeof buf, 5, &chars, Charset::utf8), 4u);
  EXPECT_EQ(chars, 4u);
  EXPECT_TRUE(in.eof());
  // Invalid bytes, and a byte read ahead is put back into the stream.
  std::istringstream bad("\xE2" "A");
  chars = 0;
  EXPECT_EQ(ReadCharsFromStream(bad, buf, sizeof buf, 1, &chars, Charset::utf8), 1u);
  EXPECT_EQ(bad.peek(), 'A');
}

TEST(FileHandleTest, ReadLineFromHandle) {
  TempFile f("a\n\nb\n");
  CaptureScreen screen;
  {
    FileBuffer h(Charset::utf8, std::filesystem::path(f.path));
    std::list<String> lines;
    read_from_handle_line_by_line(&h, nullptr, 5, &lines, &screen);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(text(lines.front()), "a");
    EXPECT_EQ(text(lines.back()), "b");
    EXPECT_EQ(screen.out_text, "");
  }
  {
    FileBuffer h(Charset::utf8, std::filesystem::path(f.path));
    std::list<String> lines;
    read_from_handle_line_by_line(&h, nullptr, 0, &lines, &screen);
    EXPECT_EQ(lines.size(), 3u);
    EXPECT_EQ(screen.out_text, "a\n\nb\n");
  }
  {
    FileBuffer h(Charset::utf8, std::filesystem::path(f.path));
    std::list<String> lines;
    read_from_handle_line_by_line(&h, nullptr, 2 | 4, &lines, &screen);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(text(lines.front()), "b");
    EXPECT_FALSE(read_line_from_handle(&h, nullptr, 0, &lines, &screen));
  }
}

TEST(FileHandleTest, FopenAndStandardStreams) {
  const auto& names = standard_stream_names();
  EXPECT_EQ(names.at("qz://stdin"), 1);
  EXPECT_EQ(names.at("qz://stdout"), 2);
  EXPECT_EQ(names.at("qz://stderr"), 3);
  EXPECT_EQ(names.count("QZ://STDOUT"), 0u);

  CaptureScreen screen;
  FileHandle* h = nullptr;
  EXPECT_EQ(__fopen(String("qz://stdin"), &screen, 0, nullptr, &h), 0);
  EXPECT_NE(dynamic_cast<Stdin*>(h), nullptr);
  EXPECT_EQ(h->peek(), -1);
  __fclose(h);
  EXPECT_EQ(__fopen(String("qz://stdout"), &screen, 0, nullptr, &h), 2);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(__fopen(String("QZ://STDIN"), &screen, 0, nullptr, &h), 2);  // a file of that name
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(__fopen(String("/nonexistent/dir/file.txt"), &screen, 0, nullptr, &h), 2);
  TempFile f("hello\n");
  EXPECT_EQ(__fopen(String(f.path.c_str()), &screen, 0, Charset::utf8, &h), 0);
  ASSERT_NE(h, nullptr);
  String line;
  EXPECT_EQ(h->fgets(&line), 6u);
  EXPECT_EQ(text(line), "hello");
  EXPECT_TRUE(__feof(h));
  __fclose(h);
  __fclose(nullptr);
}

TEST(FileHandleTest, StdinReadsThroughTheScreen) {
  CinFromString in("ja\n");
  ConsoleScreen screen;
  ASSERT_EQ(SetInputCharset(&screen, "windows-1252"), 0);
  FileHandle* h = nullptr;
  ASSERT_EQ(__fopen(String("qz://stdin"), &screen, 0, nullptr, &h), 0);
  String line;
  EXPECT_EQ(h->fgets(&line), 3u);
  EXPECT_EQ(text(line), "ja");
  EXPECT_STREQ(line.get_charset()->name(), "windows-1252");
  __fclose(h);
}

}  // namespace
