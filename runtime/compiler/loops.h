// loops.h - DO WHILE, FOR, FOR EACH and SCAN, their end statements, EXIT and LOOP.
//
// A loop statement compiles its head, then its body on a child scope that carries the loop
// context (CodePath::loop_kind and the loop labels). The end statement, compiled inside that body,
// finds the loop by walking the scopes outward, emits the end-of-iteration code and closes the
// loop (-1 ends the body's list). Every label a loop's jumps target is placed on every path, also
// when the body ends before the loop is closed (message 96 at the loop statement).
#pragma once

#include <qzbase.h>

#include "compiler/statements.h"

namespace qzbase {

int compile_stmt_dowhile(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path);
int compile_stmt_for(const statement_list::const_iterator& end, statement_list::iterator& it,
                     CompiledCodeCollection* code, CodePath& path);
int compile_stmt_for_each(const statement_list::const_iterator& end, statement_list::iterator& it,
                          CompiledCodeCollection* code, CodePath& path);
int compile_stmt_scan(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path);
int compile_stmt_enddo(const statement_list::const_iterator& end, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path);
int compile_stmt_endfor(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);
int compile_stmt_endscan(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path);
int compile_stmt_exit(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path);
int compile_stmt_loop(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path);

// End-of-iteration emitters. loop is the loop's body scope, current the scope of the statement
// that called them. With close and loop == &current the loop is closed (its exit label placed)
// and the result is -1; otherwise nothing is closed and the result is 0.
int compile_dowhile_loop(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                         CodePath* loop, bool close);
int compile_for_loop(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                     CodePath* loop, bool close);
int compile_for_each_loop(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                          CodePath* loop, bool close);
int compile_scan_loop(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                      CodePath* loop, bool close);

// Hidden temporaries (CodePath::compile_create_temp_memvar) read and written by their frame slot
// when the unit has slots, else by name: they stay reachable from any scope of the unit, also
// from scopes made before the temporary.
void compile_read_temp(const document_location_st& location, symbol_id_type symbol, CompiledCodeCollection* code,
                       CodePath& path);
void compile_write_temp(const document_location_st& location, symbol_id_type symbol, CompiledCodeCollection* code,
                        CodePath& path);

}  // namespace qzbase
