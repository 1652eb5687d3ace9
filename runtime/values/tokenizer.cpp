// tokenizer.cpp - the shared tokenizer.
//
// tokenize decodes the text one character at a time through the charset and appends coarse
// tokens with their locations. Decoding is specialised for UTF-8 and UTF-16LE, whose ASCII
// characters are read inline; everything else (and every non-ASCII character) goes through
// Charset::next. ASCII characters are classified by a table, the others by ICU.
#include "values/tokenizer.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace qzbase {

namespace {

// Classes of the ASCII characters.
enum : uint8_t {
  C_OTHER = 0,  // kind 1026
  C_BLANK,      // 9, 32: starts a blank run
  C_LF,         // 10
  C_CR,         // 13
  C_PUNCT,      // kind = the character
  C_ZERO,       // '0'
  C_DIGIT,      // '1'-'9'
  C_ALPHA,      // letters and '_'
};

// Bits of the ASCII continuation table.
enum : uint8_t {
  F_BLANK = 1,  // u_isblank
  F_DIGIT = 2,  // u_isdigit
  F_IDENT = 4,  // u_isalnum or '_'
  F_HEX = 8,    // 0-9 A-F a-f
};

struct ascii_tables_st {
  uint8_t cls[128];
  uint8_t flags[128];
};

constexpr ascii_tables_st make_ascii_tables() {
  ascii_tables_st t{};
  for (int c = 0; c < 128; ++c) {
    uint8_t cls = C_OTHER;
    if (c == 9 || c == 32)
      cls = C_BLANK;
    else if (c == 10)
      cls = C_LF;
    else if (c == 13)
      cls = C_CR;
    else if ((c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 94) || c == 123 ||
             c == 125)
      cls = C_PUNCT;
    else if (c == '0')
      cls = C_ZERO;
    else if (c >= '1' && c <= '9')
      cls = C_DIGIT;
    else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')
      cls = C_ALPHA;
    t.cls[c] = cls;
    uint8_t f = 0;
    if (c == 9 || c == 32) f |= F_BLANK;  // u_isblank of ASCII: tab and space only
    if (c >= '0' && c <= '9') f |= F_DIGIT | F_IDENT | F_HEX;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') f |= F_IDENT;
    if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) f |= F_HEX;
    t.flags[c] = f;
  }
  return t;
}

constexpr ascii_tables_st kAscii = make_ascii_tables();

inline bool is_blank(char32_t c) {
  return c < 128 ? (kAscii.flags[c] & F_BLANK) != 0 : u_isblank(static_cast<UChar32>(c)) != 0;
}
inline bool is_digit(char32_t c) {
  return c < 128 ? (kAscii.flags[c] & F_DIGIT) != 0 : u_isdigit(static_cast<UChar32>(c)) != 0;
}
inline bool is_hex(char32_t c) { return c < 128 && (kAscii.flags[c] & F_HEX) != 0; }
inline bool is_ident_start(char32_t c) {
  return c < 128 ? kAscii.cls[c] == C_ALPHA : (c == 0xFFFD || u_isalpha(static_cast<UChar32>(c)));
}
inline bool is_ident_part(char32_t c) {
  return c < 128 ? (kAscii.flags[c] & F_IDENT) != 0
                 : (c == 0xFFFD || u_isalnum(static_cast<UChar32>(c)));
}

// Decodes one character through the charset. A charset always advances; should one fail to (or
// run past the end), the position is forced forward by one character unit, so that a broken
// decoder can neither loop nor read past the text.
inline char32_t decode_slow(const Charset* cs, const char** p, const char* end) {
  const char* before = *p;
  char32_t c = cs->next(p, end);
  if (*p <= before || *p > end) {
    size_t unit = cs->min_bytes() ? cs->min_bytes() : 1;
    *p = static_cast<size_t>(end - before) > unit ? before + unit : end;
  }
  return c;
}

// Decoders: next(&p) decodes the character at p (p < end) and advances p.
struct GenericDecoder {
  const Charset* cs;
  const char* end;
  char32_t next(const char** p) const { return decode_slow(cs, p, end); }
};

// UTF-8: a byte below 0x80 is the character.
struct Utf8Decoder {
  const Charset* cs;
  const char* end;
  char32_t next(const char** p) const {
    unsigned char b = static_cast<unsigned char>(**p);
    if (b < 0x80) {
      ++*p;
      return b;
    }
    return decode_slow(cs, p, end);
  }
};

// UTF-16LE: a code unit below 0x80 is the character.
struct Utf16leDecoder {
  const Charset* cs;
  const char* end;
  char32_t next(const char** p) const {
    const char* q = *p;
    if (end - q >= 2 && q[1] == 0 && static_cast<unsigned char>(q[0]) < 0x80) {
      *p = q + 2;
      return static_cast<unsigned char>(q[0]);
    }
    return decode_slow(cs, p, end);
  }
};

template <class Decoder>
void tokenize_with(const Decoder& dec, const char* begin, const char* end, const Charset* cs,
                   token_list_type* tokens) {
  const char* p = begin;
  uint32_t chars = 0;  // characters before p
  uint32_t line = 1;
  uint32_t line_start = 0;  // character count at the start of the current line

  while (p < end) {
    const char* start = p;
    const uint32_t start_chars = chars;
    const uint32_t start_line = line;
    const uint32_t start_column = chars - line_start + 1;

    char32_t c = dec.next(&p);
    ++chars;
    uint32_t kind;

    // Look-ahead: decode the next character into q; take it (commit q) only when it belongs.
    const char* q;
    char32_t d;
    uint8_t cls = c < 128 ? kAscii.cls[c] : static_cast<uint8_t>(C_OTHER);
    switch (cls) {
      case C_BLANK:
        kind = TOKEN_BLANK;
        while (p < end) {
          q = p;
          d = dec.next(&q);
          if (!is_blank(d)) break;
          p = q;
          ++chars;
        }
        break;
      case C_LF:
      case C_CR:
        kind = TOKEN_LINE_END;
        if (p < end) {
          q = p;
          d = dec.next(&q);
          if (d == (c == 10 ? 13u : 10u)) {
            p = q;
            ++chars;
          }
        }
        break;
      case C_PUNCT:
        kind = c;
        break;
      case C_ZERO:
        kind = TOKEN_DIGITS;
        if (p < end) {
          q = p;
          d = dec.next(&q);
          if (d == 'h' || d == 'H' || d == 'x' || d == 'X') {
            kind = (d == 'h' || d == 'H') ? TOKEN_BINARY : TOKEN_HEX;
            p = q;
            ++chars;
            while (p < end) {
              q = p;
              d = dec.next(&q);
              if (!is_hex(d)) break;
              p = q;
              ++chars;
            }
            break;
          }
        }
        [[fallthrough]];
      case C_DIGIT:
        kind = TOKEN_DIGITS;
        while (p < end) {
          q = p;
          d = dec.next(&q);
          if (!is_digit(d)) break;
          p = q;
          ++chars;
        }
        break;
      default:
        if (is_ident_start(c)) {
          kind = TOKEN_IDENTIFIER;
          while (p < end) {
            q = p;
            d = dec.next(&q);
            if (!is_ident_part(d)) break;
            p = q;
            ++chars;
          }
        } else {
          kind = TOKEN_OTHER;
        }
        break;
    }

    if (kind == TOKEN_LINE_END) {
      ++line;
      line_start = chars;
    }

    token_st& t = tokens->emplace_back();
    t.kind = kind;
    t.size = static_cast<uint32_t>(p - start);
    t.document = begin;
    t.begin = start;
    t.charset = cs;
    t.location.begin_char = start_chars;
    t.location.begin_byte = static_cast<uint32_t>(start - begin);
    t.location.begin_line = start_line;
    t.location.begin_column = start_column;
    t.location.end_char = chars;
    t.location.end_byte = static_cast<uint32_t>(p - begin);
    t.location.end_line = line;
    t.location.end_column = chars - line_start + 1;
  }
}

}  // namespace

void tokenize(const char* begin, const char* end, const Charset* cs, token_list_type* tokens) {
  QZ_TRACE;
  if (begin >= end) return;
  const size_t bytes = static_cast<size_t>(end - begin);
  // Byte offsets, character counts and token sizes are 32-bit.
  if (bytes > std::numeric_limits<uint32_t>::max())
    throw RuntimeError(1001, String("tokenizing a text of 4 GiB or more"));
  size_t min_bytes = cs->min_bytes() ? cs->min_bytes() : 1;
  // Room for half as many tokens as characters (at most); a list that grows by many small texts
  // grows geometrically, so that appending stays amortised linear.
  size_t want = tokens->size() + (bytes / min_bytes) / 2;
  if (tokens->capacity() < want) tokens->reserve(std::max(want, 2 * tokens->capacity()));

  if (cs == Charset::utf8) {
    tokenize_with(Utf8Decoder{cs, end}, begin, end, cs, tokens);
  } else if (cs == Charset::utf16le) {
    tokenize_with(Utf16leDecoder{cs, end}, begin, end, cs, tokens);
  } else {
    tokenize_with(GenericDecoder{cs, end}, begin, end, cs, tokens);
  }
}

int hex_digit_value(int character) {
  QZ_TRACE;
  if (character >= '0' && character <= '9') return character - '0';
  if (character >= 'A' && character <= 'F') return character - 'A' + 10;
  if (character >= 'a' && character <= 'f') return character - 'a' + 10;
  return -1;
}

}  // namespace qzbase
