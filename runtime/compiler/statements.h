// statements.h - the statement layer of the compiler: the dispatch loop over a run of statements,
// the table from statement kind to statement compiler, and the statements that open no block.
//
// Protocol of a statement compiler: on entry `it` designates the statement to compile (never
// `end`). It moves `it` past every statement it consumes and returns 0 (go on) or -1 (the current
// statement list ends here). A compiler returning -1 without consuming leaves `it` on the
// statement that ended the list, for the block compiler that called compile_statement_list.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <list>

#include "compiler/compiler_state.h"
#include "frontend/statements.h"

namespace qzbase {

using statement_list = std::list<Statement*>;
using statement_compiler_fn = int (*)(const statement_list::const_iterator& end, statement_list::iterator& it,
                                      CompiledCodeCollection* code, CodePath& path);

struct statement_compiler_row_st {
  uint64_t kind;               // StatementTypes
  const char* name;            // the statement compiler's name
  statement_compiler_fn compile;
};

constexpr size_t kStatementCompilerCount = 109;
// In kind order; the dispatch map is built from it once at load time.
extern const statement_compiler_row_st statement_compilers[kStatementCompilerCount];

// The row of a statement kind, or null (the kind ends a statement list).
const statement_compiler_row_st* find_statement_compiler(uint64_t kind);

// Lists nested deeper than this (blocks within blocks) record message 103 ("Allowed DO nesting
// or expression evaluation level exceeded.") at their first statement, and the rest of the text is
// skipped.
inline constexpr uint32_t kMaxBlockDepth = 1000;

// Compiles statements from `it` on until the list ends, a statement compiler returns non-zero, or
// a statement kind has no row. Consumes nothing itself; callers look at `it` afterwards. Raises
// the compiler's statement number before each statement compiler it calls.
int compile_statement_list(const statement_list::const_iterator& end, statement_list::iterator& it,
                           CompiledCodeCollection* code, CodePath& path);

// The statement compilers of this layer.
int compile_stmt_unexpected(const statement_list::const_iterator& end, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path);
int compile_stmt_dummy(const statement_list::const_iterator& end, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path);
int compile_stmt_invalid_statement(const statement_list::const_iterator& end, statement_list::iterator& it,
                                   CompiledCodeCollection* code, CodePath& path);
int compile_stmt_pragma(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);
int compile_stmt_echo(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path);
int compile_stmt_return(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);
int compile_stmt_assert(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);

}  // namespace qzbase
