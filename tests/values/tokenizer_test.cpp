// Tests of the shared tokenizer: kinds, exact locations, UTF-8 and UTF-16LE text.
#include "values/tokenizer.h"

#include <gtest/gtest.h>
#include <qzbase.h>

#include <string>
#include <vector>

using namespace qzbase;

namespace {

// Independent encoders, so that the expectations do not come from the library's charsets.
std::string utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string utf16le(const std::u32string& s) {
  std::string out;
  auto unit = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (char32_t c : s) {
    if (c < 0x10000) {
      unit(c);
    } else {
      uint32_t v = c - 0x10000;
      unit(0xD800 | (v >> 10));
      unit(0xDC00 | (v & 0x3FF));
    }
  }
  return out;
}

using Encoder = std::string (*)(const std::u32string&);

struct expect_st {
  uint32_t kind;
  std::u32string text;
  uint32_t begin_line, begin_column, end_line, end_column;
};

// The whole text is the concatenation of the expected token texts. Lines and columns are written
// out by hand; character and byte offsets follow from the texts before each token.
const std::vector<expect_st>& table() {
  static const std::vector<expect_st> rows = {
      // Line 1: "\t  IF ä_1\uFFFDz >= 0x1Fg;\r\n"
      {32, U"\t  ", 1, 1, 1, 4},
      {1024, U"IF", 1, 4, 1, 6},
      {32, U" ", 1, 6, 1, 7},
      {1024, U"\u00E4_1\uFFFDz", 1, 7, 1, 12},
      {32, U" ", 1, 12, 1, 13},
      {62, U">", 1, 13, 1, 14},
      {61, U"=", 1, 14, 1, 15},
      {32, U" ", 1, 15, 1, 16},
      {1029, U"0x1F", 1, 16, 1, 20},
      {1024, U"g", 1, 20, 1, 21},
      {59, U";", 1, 21, 1, 22},
      {10, U"\r\n", 1, 22, 2, 1},
      // Line 2: "0h 0HaF9 12.5e3 ~`|\n\r"
      {1025, U"0h", 2, 1, 2, 3},
      {32, U" ", 2, 3, 2, 4},
      {1025, U"0HaF9", 2, 4, 2, 9},
      {32, U" ", 2, 9, 2, 10},
      {1028, U"12", 2, 10, 2, 12},
      {46, U".", 2, 12, 2, 13},
      {1028, U"5", 2, 13, 2, 14},
      {1024, U"e3", 2, 14, 2, 16},
      {32, U" ", 2, 16, 2, 17},
      {1026, U"~", 2, 17, 2, 18},
      {1026, U"`", 2, 18, 2, 19},
      {1026, U"|", 2, 19, 2, 20},
      {10, U"\n\r", 2, 20, 3, 1},
      // Line 3: "éß€ \u00A0x\u2003y 0x\r": a no-break space continues a blank run but does not
      // start one; neither does an em space.
      {1024, U"\u00E9\u00DF", 3, 1, 3, 3},
      {1026, U"\u20AC", 3, 3, 3, 4},
      {32, U" \u00A0", 3, 4, 3, 6},
      {1024, U"x", 3, 6, 3, 7},
      {1026, U"\u2003", 3, 7, 3, 8},
      {1024, U"y", 3, 8, 3, 9},
      {32, U" ", 3, 9, 3, 10},
      {1029, U"0x", 3, 10, 3, 12},
      {10, U"\r", 3, 12, 4, 1},
      // Line 4: a lone CR after a lone CR (CR CR is two line ends).
      {10, U"\r", 4, 1, 5, 1},
      // Line 5: "𝐀b٣ ١٢ 7٣ 0٣\n": a letter outside the BMP; Arabic-Indic digits continue
      // identifiers and digit runs but start neither.
      {1024, U"\U0001D400b\u0663", 5, 1, 5, 4},
      {32, U" ", 5, 4, 5, 5},
      {1026, U"\u0661", 5, 5, 5, 6},
      {1026, U"\u0662", 5, 6, 5, 7},
      {32, U" ", 5, 7, 5, 8},
      {1028, U"7\u0663", 5, 8, 5, 10},
      {32, U" ", 5, 10, 5, 11},
      {1028, U"0\u0663", 5, 11, 5, 13},
      {10, U"\n", 5, 13, 6, 1},
      // Line 6: every punctuation character, each its own token of its own code.
      // clang-format off
      {'!', U"!", 6, 1, 6, 2},   {'"', U"\"", 6, 2, 6, 3},  {'#', U"#", 6, 3, 6, 4},
      {'$', U"$", 6, 4, 6, 5},   {'%', U"%", 6, 5, 6, 6},   {'&', U"&", 6, 6, 6, 7},
      {'\'', U"'", 6, 7, 6, 8},  {'(', U"(", 6, 8, 6, 9},   {')', U")", 6, 9, 6, 10},
      {'*', U"*", 6, 10, 6, 11}, {'+', U"+", 6, 11, 6, 12}, {',', U",", 6, 12, 6, 13},
      {'-', U"-", 6, 13, 6, 14}, {'.', U".", 6, 14, 6, 15}, {'/', U"/", 6, 15, 6, 16},
      {':', U":", 6, 16, 6, 17}, {';', U";", 6, 17, 6, 18}, {'<', U"<", 6, 18, 6, 19},
      {'=', U"=", 6, 19, 6, 20}, {'>', U">", 6, 20, 6, 21}, {'?', U"?", 6, 21, 6, 22},
      {'@', U"@", 6, 22, 6, 23}, {'[', U"[", 6, 23, 6, 24}, {'\\', U"\\", 6, 24, 6, 25},
      {']', U"]", 6, 25, 6, 26}, {'^', U"^", 6, 26, 6, 27}, {'{', U"{", 6, 27, 6, 28},
      {'}', U"}", 6, 28, 6, 29}, {10, U"\n", 6, 29, 7, 1},
      // clang-format on
      // Line 7: U+FFFD starts an identifier; control characters (NUL too) are single others.
      {1024, U"\uFFFDa", 7, 1, 7, 3},
      {1026, U"\x01", 7, 3, 7, 4},
      {1026, U"\x7F", 7, 4, 7, 5},
      {1026, U"\x1B", 7, 5, 7, 6},
      {1026, std::u32string(1, U'\0'), 7, 6, 7, 7},
  };
  return rows;
}

void check_table(const Charset* cs, Encoder encode) {
  ASSERT_NE(cs, nullptr);
  std::u32string whole;
  for (const auto& r : table()) whole += r.text;
  const std::string text = encode(whole);

  token_list_type tokens;
  tokenize(text.data(), text.data() + text.size(), cs, &tokens);
  ASSERT_EQ(tokens.size(), table().size());

  uint32_t chars = 0, bytes = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const expect_st& e = table()[i];
    const token_st& t = tokens[i];
    const uint32_t n_chars = static_cast<uint32_t>(e.text.size());
    const uint32_t n_bytes = static_cast<uint32_t>(encode(e.text).size());
    SCOPED_TRACE("token " + std::to_string(i) + " (kind " + std::to_string(e.kind) + ")");
    EXPECT_EQ(t.kind, e.kind);
    EXPECT_EQ(t.document, text.data());
    EXPECT_EQ(t.charset, cs);
    EXPECT_EQ(t.begin, text.data() + bytes);
    EXPECT_EQ(t.size, n_bytes);
    EXPECT_EQ(std::string(t.begin, t.end()), encode(e.text));
    scan_string_st s = t.text();
    EXPECT_EQ(s.begin, t.begin);
    EXPECT_EQ(s.end, t.begin + n_bytes);
    EXPECT_EQ(s.size, n_bytes);
    EXPECT_EQ(s.charset, cs);
    const document_location_st& l = t.location;
    EXPECT_EQ(l.begin_char, chars);
    EXPECT_EQ(l.begin_byte, bytes);
    EXPECT_EQ(l.begin_line, e.begin_line);
    EXPECT_EQ(l.begin_column, e.begin_column);
    EXPECT_EQ(l.end_char, chars + n_chars);
    EXPECT_EQ(l.end_byte, bytes + n_bytes);
    EXPECT_EQ(l.end_line, e.end_line);
    EXPECT_EQ(l.end_column, e.end_column);
    chars += n_chars;
    bytes += n_bytes;
  }
  EXPECT_EQ(bytes, text.size());
}

std::vector<token_st> tok8(const std::string& s) {
  token_list_type tokens;
  tokenize(s.data(), s.data() + s.size(), Charset::utf8, &tokens);
  return tokens;
}

std::vector<uint32_t> kinds(const std::string& s) {
  std::vector<uint32_t> k;
  for (const auto& t : tok8(s)) k.push_back(t.kind);
  return k;
}

using K = std::vector<uint32_t>;

}  // namespace

TEST(Tokenizer, TokenIsCompact) { EXPECT_EQ(sizeof(token_st), 64u); }

TEST(Tokenizer, TableUtf8) { check_table(Charset::utf8, utf8); }

TEST(Tokenizer, TableUtf16le) { check_table(Charset::utf16le, utf16le); }

TEST(Tokenizer, EmptyTextAppendsNothing) {
  token_list_type tokens;
  const char* s = "x";
  tokenize(s, s, Charset::utf8, &tokens);
  EXPECT_TRUE(tokens.empty());
}

TEST(Tokenizer, AppendsAndKeepsWhatTheListHolds) {
  token_list_type tokens;
  std::string a = "ab", b = "1 2";
  tokenize(a.data(), a.data() + a.size(), Charset::utf8, &tokens);
  tokenize(b.data(), b.data() + b.size(), Charset::utf8, &tokens);
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[0].kind, 1024u);
  EXPECT_EQ(tokens[0].document, a.data());
  EXPECT_EQ(tokens[1].document, b.data());
  EXPECT_EQ(tokens[1].location.begin_char, 0u);  // each text counts from its own start
  EXPECT_EQ(tokens[3].location.begin_byte, 2u);
  EXPECT_GE(tokens.capacity(), 4u);
}

TEST(Tokenizer, LineEnds) {
  EXPECT_EQ(kinds("\r\n"), (K{10}));
  EXPECT_EQ(kinds("\n\r"), (K{10}));
  EXPECT_EQ(kinds("\r"), (K{10}));
  EXPECT_EQ(kinds("\n"), (K{10}));
  EXPECT_EQ(kinds("\r\r"), (K{10, 10}));
  EXPECT_EQ(kinds("\n\n"), (K{10, 10}));
  EXPECT_EQ(kinds("\r\n\r\n"), (K{10, 10}));
  EXPECT_EQ(kinds("\n\r\n"), (K{10, 10}));
  auto t = tok8("\r\r\n\n\ra");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].location.end_line, 2u);
  EXPECT_EQ(t[1].location.end_line, 3u);
  EXPECT_EQ(t[2].location.end_line, 4u);
  EXPECT_EQ(t[3].location.begin_line, 4u);
  EXPECT_EQ(t[3].location.begin_column, 1u);
}

TEST(Tokenizer, HexAndDigits) {
  EXPECT_EQ(kinds("0x1F"), (K{1029}));
  EXPECT_EQ(kinds("0h"), (K{1025}));
  EXPECT_EQ(kinds("0H1f"), (K{1025}));
  EXPECT_EQ(kinds("0xg"), (K{1029, 1024}));
  EXPECT_EQ(kinds("0X"), (K{1029}));
  EXPECT_EQ(kinds("0123"), (K{1028}));
  EXPECT_EQ(kinds("0"), (K{1028}));
  EXPECT_EQ(kinds("1.5"), (K{1028, 46, 1028}));
  EXPECT_EQ(kinds("_abc1"), (K{1024}));
  EXPECT_EQ(kinds("1abc"), (K{1028, 1024}));
  EXPECT_EQ(kinds("00x1"), (K{1028, 1024}));
  const std::string text = "0xg";  // the tokens point into it
  auto t = tok8(text);
  EXPECT_EQ(std::string(t[0].begin, t[0].end()), "0x");
  EXPECT_EQ(std::string(t[1].begin, t[1].end()), "g");
}

TEST(Tokenizer, BlankRuns) {
  EXPECT_EQ(kinds("\t   "), (K{32}));
  EXPECT_EQ(kinds(" \t "), (K{32}));
  // A no-break space continues a run; alone it is no blank (a run starts at a tab or space only).
  EXPECT_EQ(kinds(" \xC2\xA0"), (K{32}));
  EXPECT_EQ(kinds("\xC2\xA0 "), (K{1026, 32}));
  EXPECT_EQ(kinds("\x0B\x0C"), (K{1026, 1026}));  // vertical tab and form feed are others
}

TEST(Tokenizer, LocationFields) {
  // A two-byte letter advances the column by one and the byte offset by two.
  auto t = tok8("\xC3\xA4 x");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].location.end_column, 2u);
  EXPECT_EQ(t[0].location.end_byte, 2u);
  EXPECT_EQ(t[2].location.begin_column, 3u);
  EXPECT_EQ(t[2].location.begin_byte, 3u);
  EXPECT_EQ(t[2].location.begin_char, 2u);

  // ab at the start of the second line; the line end that ends line 1.
  t = tok8("x\nab");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1].location.begin_line, 1u);
  EXPECT_EQ(t[1].location.begin_column, 2u);
  EXPECT_EQ(t[1].location.end_line, 2u);
  EXPECT_EQ(t[1].location.end_column, 1u);
  EXPECT_EQ(t[2].location.begin_line, 2u);
  EXPECT_EQ(t[2].location.begin_column, 1u);
  EXPECT_EQ(t[2].location.end_line, 2u);
  EXPECT_EQ(t[2].location.end_column, 3u);

  // A one-character token at the start: begin_char 0, end_char 1, columns 1 and 2.
  t = tok8("(");
  ASSERT_EQ(t.size(), 1u);
  const document_location_st& l = t[0].location;
  EXPECT_EQ(l.begin_char, 0u);
  EXPECT_EQ(l.end_char, 1u);
  EXPECT_EQ(l.begin_byte, 0u);
  EXPECT_EQ(l.end_byte, 1u);
  EXPECT_EQ(l.begin_line, 1u);
  EXPECT_EQ(l.begin_column, 1u);
  EXPECT_EQ(l.end_line, 1u);
  EXPECT_EQ(l.end_column, 2u);
}

TEST(Tokenizer, AsciiCharset) {
  ASSERT_NE(Charset::ascii, nullptr);
  std::string s = "a1 +\r\n0h1";
  token_list_type tokens;
  tokenize(s.data(), s.data() + s.size(), Charset::ascii, &tokens);
  K k;
  for (const auto& t : tokens) k.push_back(t.kind);
  EXPECT_EQ(k, (K{1024, 32, '+', 10, 1025}));
  EXPECT_EQ(tokens.back().location.begin_line, 2u);
}

TEST(Tokenizer, ReservesHalfTheCharacters) {
  std::string s(1000, 'a');
  token_list_type tokens;
  tokenize(s.data(), s.data() + s.size(), Charset::utf8, &tokens);
  EXPECT_EQ(tokens.size(), 1u);
  EXPECT_GE(tokens.capacity(), 500u);
  std::string w = utf16le(std::u32string(1000, U'a'));
  token_list_type t16;
  tokenize(w.data(), w.data() + w.size(), Charset::utf16le, &t16);
  EXPECT_EQ(t16.size(), 1u);
  EXPECT_GE(t16.capacity(), 500u);  // (2000 bytes / 2 bytes per character) / 2
}

TEST(Tokenizer, CreateStringFromToken) {
  const std::string text = "abc def";
  auto t = tok8(text);
  ASSERT_EQ(t.size(), 3u);
  String s = String::create_from_scan_string(t[2].text());
  EXPECT_EQ(std::string(s.read(), s.size()), "def");
  EXPECT_EQ(s.get_charset(), Charset::utf8);
}

TEST(Tokenizer, MadeUpTokensCanChangeTextAndDocument) {
  const std::string text = "abc";
  auto t = tok8(text);
  token_st copy = t[0];
  copy.document = nullptr;
  std::string other = "xy";
  copy.set_text(scan_string_st{other.data(), other.data() + 2, Charset::utf8, 2});
  EXPECT_EQ(copy.size, 2u);
  EXPECT_EQ(std::string(copy.begin, copy.end()), "xy");
  EXPECT_EQ(copy.location.end_column, 4u);  // the location stays
}

TEST(Tokenizer, HexDigitValue) {
  for (int c = 0; c < 256; ++c) {
    int want = -1;
    if (c >= '0' && c <= '9') want = c - '0';
    if (c >= 'A' && c <= 'F') want = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') want = c - 'a' + 10;
    EXPECT_EQ(hex_digit_value(c), want) << c;
  }
  EXPECT_EQ(hex_digit_value(-1), -1);
  EXPECT_EQ(hex_digit_value(0x660), -1);
}

namespace {

// The tokens of a text cover it exactly, one after the other.
void expect_contiguous(const std::string& text, const token_list_type& tokens) {
  const char* p = text.data();
  uint32_t chars = 0;
  for (const token_st& t : tokens) {
    EXPECT_EQ(t.begin, p);
    EXPECT_GT(t.size, 0u);
    EXPECT_EQ(t.location.begin_byte, static_cast<uint32_t>(p - text.data()));
    EXPECT_EQ(t.location.begin_char, chars);
    EXPECT_GT(t.location.end_char, t.location.begin_char);
    p = t.end();
    chars = t.location.end_char;
  }
  EXPECT_EQ(p, text.data() + text.size());
}

}  // namespace

TEST(Tokenizer, InvalidAndTruncatedText) {
  // Invalid UTF-8 (a lone continuation byte, 0xFF, a sequence cut by the end): every byte ends
  // up in some token, and no token reads past the text.
  for (std::string text :
       {std::string("a\x80z"), std::string("\xFF\xFE"), std::string("ab\xE2\x82"),
        std::string("\xC3"), std::string("x \xF0\x9F\x98")}) {
    token_list_type tokens;
    tokenize(text.data(), text.data() + text.size(), Charset::utf8, &tokens);
    SCOPED_TRACE(text);
    expect_contiguous(text, tokens);
    for (const token_st& t : tokens)
      EXPECT_TRUE(t.kind == 1024 || t.kind == 1026 || t.kind == 32) << t.kind;
  }
  // UTF-16LE with an odd byte count and a lone surrogate.
  for (std::string text : {std::string("a\0b", 3), std::string("a\0\x00\xD8z\0", 6)}) {
    token_list_type tokens;
    tokenize(text.data(), text.data() + text.size(), Charset::utf16le, &tokens);
    expect_contiguous(text, tokens);
    EXPECT_EQ(tokens.front().kind, 1024u);
  }
}

namespace {

std::string utf32le(const std::u32string& s) {
  std::string out;
  for (char32_t c : s)
    for (int k = 0; k < 4; ++k) out += static_cast<char>((c >> (8 * k)) & 0xFF);
  return out;
}

}  // namespace

// The same random texts in UTF-8 and UTF-16LE (the inline decoders) and UTF-32LE (the charset's
// own decoder for every character) give the same tokens, kinds and character locations.
TEST(Tokenizer, EncodingsAgreeOnRandomText) {
  ASSERT_NE(Charset::utf32le, nullptr);
  const std::u32string alphabet =
      U"aZ_09xXhH \t\r\n.,;(){}~`|!\"\u00A0\u2003\u00E4\u00DF\u20AC\u0661\u0663\uFFFD\U0001D400"
      U"\x01\x7F";
  uint32_t seed = 12345;
  auto rnd = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int round = 0; round < 300; ++round) {
    std::u32string text;
    size_t n = rnd() % 40;
    for (size_t i = 0; i < n; ++i) text += alphabet[rnd() % alphabet.size()];
    const std::string a = utf8(text), b = utf16le(text), c = utf32le(text);
    token_list_type ta, tb, tc;
    tokenize(a.data(), a.data() + a.size(), Charset::utf8, &ta);
    tokenize(b.data(), b.data() + b.size(), Charset::utf16le, &tb);
    tokenize(c.data(), c.data() + c.size(), Charset::utf32le, &tc);
    ASSERT_EQ(ta.size(), tb.size()) << round;
    ASSERT_EQ(ta.size(), tc.size()) << round;
    for (size_t i = 0; i < ta.size(); ++i) {
      for (const token_list_type* other : {&tb, &tc}) {
        const token_st& x = ta[i];
        const token_st& y = (*other)[i];
        ASSERT_EQ(x.kind, y.kind) << round << " " << i;
        ASSERT_EQ(x.location.begin_char, y.location.begin_char);
        ASSERT_EQ(x.location.end_char, y.location.end_char);
        ASSERT_EQ(x.location.begin_line, y.location.begin_line);
        ASSERT_EQ(x.location.begin_column, y.location.begin_column);
        ASSERT_EQ(x.location.end_line, y.location.end_line);
        ASSERT_EQ(x.location.end_column, y.location.end_column);
      }
      // UTF-32: four bytes a character.
      EXPECT_EQ(tc[i].location.begin_byte, 4 * tc[i].location.begin_char);
    }
    expect_contiguous(a, ta);
    expect_contiguous(b, tb);
    expect_contiguous(c, tc);
  }
}

// Appending many small texts to one list (as the preprocessor does with macro expansions) must
// not reallocate the list on every call.
TEST(Tokenizer, ManySmallAppendsGrowTheListGeometrically) {
  const std::string text = "alpha + beta";  // 5 tokens, room reserved for 6
  token_list_type tokens;
  int reallocations = 0;
  const token_st* data = nullptr;
  for (int i = 0; i < 10000; ++i) {
    tokenize(text.data(), text.data() + text.size(), Charset::utf8, &tokens);
    if (tokens.data() != data) {
      ++reallocations;
      data = tokens.data();
    }
  }
  EXPECT_EQ(tokens.size(), 50000u);
  EXPECT_LT(reallocations, 40);
}
