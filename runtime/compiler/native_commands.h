// native_commands.h - the plain commands of the command table, compiled into one call of the
// built-in void command of the row's name with the options laid out as positional arguments in
// the order of the row's option grammar.
#pragma once

#include <qzbase.h>

#include <list>

#include "compiler/statements.h"
#include "frontend/command_syntax.h"
#include "frontend/syntax_tables.h"

namespace qzbase {

// The parsed option grammar of a command-table row (parsed once, at load time), or null when the
// kind has no row.
const std::list<command_syntax_item_st>* find_command_syntax(uint32_t kind);

// Statement compiler of the 62 plain command kinds: steps past the statement, compiles it.
int compile_stmt_basic_command(const statement_list::const_iterator& end, statement_list::iterator& it,
                               CompiledCodeCollection* code, CodePath& path);

// The command row of the statement's kind (a missing row is a broken invariant), then
// compile_native_command_call at the statement's location.
void compile_basic_command(const BasicCommand* command, CompiledCodeCollection* code, CodePath& path);

// Flag group: one integer argument (bit n for the n-th flag given); valued clause: its value or
// null; repeatable clause: each of its values (nothing when absent). An option outside the grammar,
// a flag with a value or a repeatable clause whose value is not a list is a broken invariant.
void compile_native_command_call(const document_location_st& location, const basic_command_st& row,
                                 const option_ptr_list* options, CompiledCodeCollection* code, CodePath& path);

// Statement compiler of a line that is only macro text: the parts joined by "concat" into one
// string, which VmOpMacro (mode 1) compiles and runs as a command line at run time.
int compile_stmt_incomplete(const statement_list::const_iterator& end, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path);

}  // namespace qzbase
