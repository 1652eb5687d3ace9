// conditionals.h - IF ... ELSE ... ENDIF (with its macro form, whose condition is compiled only
// when it runs) and DO CASE ... CASE ... OTHERWISE ... ENDCASE.
//
// The branches are compiled by compile_statement_list on child scopes; they end at the statements
// that close them, handed back with the -1 protocol. A malformed block records a build message
// (1211 for IF, 10 for DO CASE) and every label an emitted jump targets is still placed.
#pragma once

#include <qzbase.h>

#include "compiler/statements.h"

namespace qzbase {

int compile_stmt_if(const statement_list::const_iterator& end, statement_list::iterator& it,
                    CompiledCodeCollection* code, CodePath& path);
// Inside an IF or ELSE branch of the current scope: ends the branch (-1, not consumed). Anywhere
// else: message 1211 at the statement, which is consumed.
int compile_stmt_else(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path);
int compile_stmt_endif(const statement_list::const_iterator& end, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path);
// CASE, OTHERWISE and ENDCASE are terminators in a list; this consumes them.
int compile_stmt_docase(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);

}  // namespace qzbase
