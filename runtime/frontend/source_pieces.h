// source_pieces.h - a module text tokenized a piece at a time.
//
// A large text is not tokenized whole (64 bytes a token): it is cut into pieces of whole lines,
// each tokenized when the preprocessor needs it, with the same token records (document pointer,
// locations) the whole text would give. A piece ends only where the preprocessor is back at the
// top level of the text: not inside #if ... #endif, not inside a TEXT block, not after a line
// holding ';' (which may continue on the next line). Where no such line end comes, the piece
// grows; a text in a charset of more than one byte a character other than UTF-8 is one piece.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

#include "values/tokenizer.h"

namespace qzbase {

class SourcePieces {
 public:
  // piece_bytes: the size a piece aims at; 0 makes the whole text one piece. The text must
  // outlive the object and the tokens it hands out.
  SourcePieces(const String& text, size_t piece_bytes);

  // Replaces *out with the tokens of the next piece; false (and *out empty) once the text is used up.
  bool next(token_list_type* out);

 private:
  // The index of the last line end of tokens after which a piece may end, or -1.
  static ptrdiff_t last_cut(const token_list_type& tokens);

  const char* document_;
  const char* pos_;
  const char* end_;
  const Charset* charset_;
  size_t piece_bytes_;
  // Where pos_ stands in the whole text.
  uint32_t chars_ = 0;
  uint32_t lines_ = 0;
};

}  // namespace qzbase
