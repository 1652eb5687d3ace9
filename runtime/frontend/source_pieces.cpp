// source_pieces.cpp - cutting a module text into pieces at top-level line ends.
#include "frontend/source_pieces.h"

#include <cstring>

namespace qzbase {

namespace {

// ASCII letters of an identifier token compared without regard to case.
bool word_is(const token_st& token, const char* word) {
  if (token.kind != TOKEN_IDENTIFIER || token.size != std::strlen(word)) return false;
  for (uint32_t i = 0; i < token.size; ++i) {
    char c = token.begin[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

// The end of a slice of about `bytes` from p: just past a line end, never between the two
// characters of a CR LF or LF CR pair.
const char* slice_end(const char* p, const char* end, size_t bytes) {
  if (static_cast<size_t>(end - p) <= bytes) return end;
  const char* at = p + bytes;
  const void* lf = std::memchr(at, '\n', static_cast<size_t>(end - at));
  if (lf == nullptr) return end;
  const char* after = static_cast<const char*>(lf) + 1;
  if (after < end && *after == '\r') ++after;
  return after;
}

}  // namespace

SourcePieces::SourcePieces(const String& text, size_t piece_bytes)
    : document_(text.read()),
      pos_(text.read()),
      end_(text.end()),
      charset_(text.get_charset()),
      piece_bytes_(piece_bytes) {
  QZ_TRACE;
  // Pieces are cut after a '\n' byte: a line end in UTF-8 and in the single-byte code pages.
  if (charset_ != Charset::utf8 && charset_->max_bytes() != 1) piece_bytes_ = 0;
}

ptrdiff_t SourcePieces::last_cut(const token_list_type& tokens) {
  QZ_TRACE;
  ptrdiff_t cut = -1;
  size_t depth = 0;      // open #if/#ifdef/#ifndef
  bool in_text = false;  // between TEXT and ENDTEXT, where '#' lines are text
  size_t i = 0;
  const size_t n = tokens.size();
  while (i < n) {
    size_t first = i;
    while (first < n && tokens[first].kind == TOKEN_BLANK) ++first;
    size_t line_end = first;
    bool semicolon = false;
    while (line_end < n && tokens[line_end].kind != TOKEN_LINE_END) {
      if (tokens[line_end].kind == ';') semicolon = true;
      ++line_end;
    }
    if (line_end == n) break;  // no line end: the rest is no whole line
    if (first < line_end) {
      const token_st& head = tokens[first];
      if (in_text) {
        if (word_is(head, "ENDTEXT")) in_text = false;
      } else if (head.kind == '#' && first + 1 < line_end) {
        const token_st& name = tokens[first + 1];
        if (word_is(name, "IF") || word_is(name, "IFDEF") || word_is(name, "IFNDEF")) {
          ++depth;
        } else if (word_is(name, "ENDIF") && depth > 0) {
          --depth;
        }
      } else if (word_is(head, "TEXT")) {
        size_t next = first + 1;
        while (next < line_end && tokens[next].kind == TOKEN_BLANK) ++next;
        // TEXT = ..., TEXT[1], TEXT(...), TEXT.x: a variable or a call, not a block.
        const uint32_t k = next < line_end ? tokens[next].kind : 0;
        in_text = k != '=' && k != '[' && k != '(' && k != '.' && k != '-' && k != '+' && k != '*' && k != '/';
      }
    }
    if (depth == 0 && !in_text && !semicolon) cut = static_cast<ptrdiff_t>(line_end);
    i = line_end + 1;
  }
  return cut;
}

bool SourcePieces::next(token_list_type* out) {
  QZ_TRACE;
  out->clear();
  if (pos_ >= end_) {
    token_list_type().swap(*out);
    return false;
  }
  size_t bytes = piece_bytes_ == 0 ? static_cast<size_t>(end_ - pos_) : piece_bytes_;
  const char* stop;
  for (;;) {
    stop = slice_end(pos_, end_, bytes);
    out->clear();
    tokenize(pos_, stop, charset_, out);
    if (stop == end_) break;
    ptrdiff_t cut = last_cut(*out);
    if (cut >= 0) {
      out->resize(static_cast<size_t>(cut) + 1);
      stop = (*out)[static_cast<size_t>(cut)].end();
      break;
    }
    bytes *= 2;  // no place to end a piece yet: a longer one
  }
  const uint32_t byte_offset = static_cast<uint32_t>(pos_ - document_);
  for (token_st& token : *out) {
    token.document = document_;
    document_location_st& l = token.location;
    l.begin_char += chars_;
    l.end_char += chars_;
    l.begin_byte += byte_offset;
    l.end_byte += byte_offset;
    l.begin_line += lines_;
    l.end_line += lines_;
  }
  if (!out->empty()) {
    chars_ = out->back().location.end_char;
    lines_ = out->back().location.end_line - 1;
  }
  pos_ = stop;
  return true;
}

}  // namespace qzbase
