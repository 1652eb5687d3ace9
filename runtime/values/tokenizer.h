// tokenizer.h - the shared tokenizer.
//
// document_location_st and scan_string_st are public (qzbase.h: the syntax colouring and String
// use them); the tokens and tokenize are the library's own.
#pragma once

#include <qzbase.h>

#include <vector>

namespace qzbase {

// Token kinds of tokenize; a single punctuation character has its own code as kind.
enum TokenKind : uint32_t {
  TOKEN_LINE_END = 10,
  TOKEN_BLANK = 32,
  TOKEN_IDENTIFIER = 1024,
  TOKEN_BINARY = 1025,  // 0h followed by hexadecimal digits (possibly none)
  TOKEN_OTHER = 1026,   // any other single character
  TOKEN_DIGITS = 1028,
  TOKEN_HEX = 1029,     // 0x followed by hexadecimal digits (possibly none)
};

// One token, kept compact (64 bytes, one cache line): the token's text is stored as its start
// and its byte size, and text() rebuilds the scan_string_st of the data model from them.
struct token_st {
  uint32_t kind;
  uint32_t size;             // byte length of the token's text
  const char* document;      // the beginning of the whole tokenized text (null for made-up tokens)
  const char* begin;         // the token's first byte
  const Charset* charset;    // the charset of the text
  document_location_st location;

  const char* end() const { return begin + size; }
  scan_string_st text() const { return scan_string_st{begin, begin + size, charset, size}; }
  void set_text(const scan_string_st& s) {
    begin = s.begin;
    size = static_cast<uint32_t>(s.end - s.begin);
    charset = s.charset;
  }
};
static_assert(sizeof(token_st) == 64, "token_st is meant to fill one cache line");

using token_list_type = std::vector<token_st>;

// Appends the tokens of [begin, end), a text in charset cs, to *tokens (what it holds stays).
// The text must be shorter than 4 GiB (the locations are 32-bit); longer text: RuntimeError 1001.
void tokenize(const char* begin, const char* end, const Charset* cs, token_list_type* tokens);
// 0-9 for '0'-'9', 10-15 for A-F and a-f, -1 for anything else.
int hex_digit_value(int character);

}  // namespace qzbase
