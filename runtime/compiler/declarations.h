// declarations.h - declarations (PUBLIC, PRIVATE, LOCAL, DIMENSION, DECLARE), assignment and
// STORE, the assignment back end shared with the block statements, macro parts pushed for
// run-time evaluation, and one-expression programs.
#pragma once

#include <qzbase.h>

#include <cstddef>

#include "compiler/statements.h"
#include "frontend/macro_item.h"

namespace qzbase {

int compile_stmt_assign(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);
int compile_stmt_public(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);
int compile_stmt_private(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path);
int compile_stmt_private_pattern(const statement_list::const_iterator& end, statement_list::iterator& it,
                                 CompiledCodeCollection* code, CodePath& path);
int compile_stmt_local(const statement_list::const_iterator& end, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path);
int compile_stmt_dimension(const statement_list::const_iterator& end, statement_list::iterator& it,
                           CompiledCodeCollection* code, CodePath& path);
int compile_stmt_store(const statement_list::const_iterator& end, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path);
int compile_stmt_declare(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path);

// target = value for a Variable, a VariableWithIndex or a Path target (anything else is a broken
// invariant).
void compile_assign(const Operand* target, const Operand* value, CompiledCodeCollection* code, CodePath& path);
// The store back end: the value (and above it index_count indices) are on the stack; the target
// must be a Variable.
void compile_assign(const Operand* variable, size_t index_count, CompiledCodeCollection* code, CodePath& path);
// Stores the top of the stack into the variable of a symbol.
void compile_assign_to_variable(const symbol_id_type& symbol, const document_location_st& location,
                                CompiledCodeCollection* code, CodePath& path);
// variable = dimension(dims[0], dims[1] or null, variable); further dimensions are not passed.
void compile_dimension(const document_location_st& location, const Operand* variable, Operand* const* dimensions,
                       size_t count, CompiledCodeCollection* code, CodePath& path);
// A LIKE/EXCEPT pattern as a regular expression: "^", '*' as ".*", '?' as '.', other bytes
// unchanged, "$"; the result in UTF-16LE. Returns true.
bool compile_private_rx_pattern(const String& pattern, String& regex);
// Pushes the macro parts: a literal part as a string constant, a variable part as a read of the
// variable cast to a string. Another kind of item is a broken invariant.
void compile_eval_macro(const document_location_st& location, MacroItem* const* items, size_t count,
                        CompiledCodeCollection* code, CodePath& path);
// Compiles an expression as a whole program into the root path's collection (which must be empty,
// with no statement dispatched): the folded value, then VmOpReturnValue.
void compile_operand(const Operand* operand, CodePath& path);

}  // namespace qzbase
