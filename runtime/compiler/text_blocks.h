// text_blocks.h - TEXT ... ENDTEXT blocks and the \ and \\ text-merge lines.
//
// A text is passed to the built-ins as a flat run of (tag, value) pairs: tag 0 a literal string,
// tag 1 a merged expression (an empty one as the empty string), tag 2 the line break "\n". The
// expressions between "<<" and ">>" are parsed once, at compile time; whether they are merged is
// decided when the code runs, by SET TEXTMERGE, unless a TEXT block asks for merging itself.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

#include "compiler/statements.h"
#include "frontend/ptr_list.h"

namespace qzbase {

// TEXT [TO target [ADDITIVE]] [TEXTMERGE] [NOSHOW] [PRETEXT value] ... ENDTEXT.
int compile_stmt_textmerge_block(const statement_list::const_iterator& end, statement_list::iterator& it,
                                 CompiledCodeCollection* code, CodePath& path);
// One version of the block (merge 0: as written, 1: merged); consumes the TEXT statement, its
// lines and ENDTEXT.
int compile_text_options(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path, uint32_t merge);
// A \ or \\ line met outside a TEXT block.
int compile_stmt_textmerge_operator(const statement_list::const_iterator& end, statement_list::iterator& it,
                                    CompiledCodeCollection* code, CodePath& path);

// Appends the (tag, value) pairs of one line to out. An expression that does not parse stays
// literal text, delimiters included; returns how many did not parse. The literal parts and tags
// are placed at `at` (line 1 when null); the expressions where they were parsed.
int create_merge_list(VmStack* stack, String text, ptr_list<Operand>* out, const document_location_st* at = nullptr);
// The String::scan callback behind create_merge_list (delimiter_index 0: "<<", 1: ">>").
bool create_merge_list_callback(const String& text, const char* match, const char* match_end, size_t,
                                size_t delimiter_index, size_t, void* context);

// Makes a location the compiler's current statement location (the location of every op emitted
// meanwhile) and restores the previous one on every exit.
class StatementLocationScope {
 public:
  StatementLocationScope(Compiler* compiler, const document_location_st& location)
      : compiler_(compiler), saved_(compiler->location_override) {
    compiler_->location_override = &location;
  }
  ~StatementLocationScope() { compiler_->location_override = saved_; }
  StatementLocationScope(const StatementLocationScope&) = delete;
  StatementLocationScope& operator=(const StatementLocationScope&) = delete;

 private:
  Compiler* compiler_;
  const document_location_st* saved_;
};

}  // namespace qzbase
