// source_pieces_test.cpp - a text read in pieces gives exactly the tokens of the whole text, and
// pieces end only where the preprocessor is at the top level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/source_pieces.h"

namespace qzbase {
namespace {

std::string describe(const token_st& t) {
  const document_location_st& l = t.location;
  return std::to_string(t.kind) + "'" + std::string(t.begin, t.size) + "'" + std::to_string(l.begin_char) + "," +
         std::to_string(l.begin_byte) + "," + std::to_string(l.begin_line) + "," + std::to_string(l.begin_column) +
         "-" + std::to_string(l.end_char) + "," + std::to_string(l.end_byte) + "," + std::to_string(l.end_line) + "," +
         std::to_string(l.end_column) + (t.document == nullptr ? " no document" : "");
}

struct read_st {
  std::vector<std::string> tokens;
  std::vector<size_t> piece_sizes;
  bool documents_ok = true;
};

read_st read_pieces(const String& text, size_t piece_bytes) {
  read_st out;
  SourcePieces pieces(text, piece_bytes);
  token_list_type piece;
  while (pieces.next(&piece)) {
    out.piece_sizes.push_back(piece.size());
    for (const token_st& t : piece) {
      if (t.document != text.read()) out.documents_ok = false;
      out.tokens.push_back(describe(t));
    }
  }
  EXPECT_TRUE(piece.empty());
  return out;
}

std::vector<std::string> read_whole(const String& text) {
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  std::vector<std::string> out;
  for (const token_st& t : tokens) out.push_back(describe(t));
  return out;
}

TEST(SourcePieces, SameTokensAsTheWholeText) {
  const char* texts[] = {
      "",
      "x = 1",
      "x = 1\ny = 2\n",
      "x = 1\r\ny = 2\r\nz = 3",
      "x = 1\n\ry = 2\n\r\nz = 3\r\r\n",
      "? \"\xc3\xa4\xc3\xb6\xe2\x82\xac\"\n? 'x'\n\n\n? 1\n",
      "   #if .T.\n? 1\n#else\n? 2\n#endif\n? 3\n",
      "? 1 + ;\n  2 && more ;\n  + 3\n? 4\n",
      "TEXT\n#endif\nline\nENDTEXT\n? 1\n",
      "text = 1\n? text\n",
  };
  for (const char* raw : texts) {
    SCOPED_TRACE(raw);
    String text = String::fromBytes(raw, std::strlen(raw), Charset::utf8);
    std::vector<std::string> whole = read_whole(text);
    for (size_t piece_bytes : {size_t{0}, size_t{1}, size_t{3}, size_t{1000}}) {
      SCOPED_TRACE(piece_bytes);
      read_st pieces = read_pieces(text, piece_bytes);
      EXPECT_EQ(pieces.tokens, whole);
      EXPECT_TRUE(pieces.documents_ok);
    }
  }
}

// The number of lines in each piece when every possible end is taken (pieces of one byte).
std::vector<size_t> lines_per_piece(const char* raw) {
  String text = String::fromBytes(raw, std::strlen(raw), Charset::utf8);
  SourcePieces pieces(text, 1);
  token_list_type piece;
  std::vector<size_t> out;
  while (pieces.next(&piece)) {
    size_t lines = 0;
    for (const token_st& t : piece) lines += t.kind == TOKEN_LINE_END ? 1 : 0;
    out.push_back(lines);
  }
  return out;
}

// Every place a piece ends, as the number of lines before it, must be one of `ends`; a piece
// grows by doubling, so it may also run past a place where it could have ended.
TEST(SourcePieces, EndsOnlyAtTheTopLevel) {
  struct Case {
    const char* text;
    std::vector<size_t> ends;  // line counts after which a piece may end
  } cases[] = {
      {"a = 1\nb = 2\nc = 3\n", {1, 2, 3}},
      // A conditional is one piece, nested ones too.
      {"a = 1\n#if .T.\n#ifdef X\nb = 2\n#endif\n#endif\nc = 3\n", {1, 6, 7}},
      {"#IFNDEF X\nb = 2\n#ENDIF\n", {3}},
      // A line holding ';' goes on into the next line.
      {"a = 1 + ;\n 2\nb = 3\n", {2, 3}},
      {"* note ;\nb = 3\n", {2}},
      // '#' lines inside TEXT are text: the conditional around stays open until its own #endif.
      {"#if .T.\nTEXT\n#endif\nENDTEXT\n#endif\na = 1\n", {5, 6}},
      {"TEXT TO x\nline\nENDTEXT\na = 1\n", {3, 4}},
      // TEXT as a variable opens no block.
      {"text = 1\ntext[1] = 2\na = 3\n", {1, 2, 3}},
      // A stray #endif closes nothing.
      {"#endif\na = 1\n", {1, 2}},
      // The last line without a line end.
      {"a = 1\nb = 2", {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    size_t lines = 0;
    std::vector<size_t> per_piece = lines_per_piece(c.text);
    ASSERT_FALSE(per_piece.empty());
    for (size_t n : per_piece) {
      lines += n;
      EXPECT_NE(std::find(c.ends.begin(), c.ends.end(), lines), c.ends.end()) << "a piece ends after line " << lines;
    }
    EXPECT_EQ(lines, c.ends.back());
  }
  // Lines that allow it end a piece each when pieces are of one byte.
  EXPECT_EQ(lines_per_piece("a = 1\nb = 2\nc = 3\n"), (std::vector<size_t>{1, 1, 1}));
}

}  // namespace
}  // namespace qzbase
