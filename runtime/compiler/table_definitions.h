// table_definitions.h - CREATE TABLE / CREATE CURSOR, ALTER TABLE ADD COLUMN and ALTER TABLE DROP
// COLUMN, each compiled into one call of a built-in command ("create_table", "add_columns",
// "drop_columns").
//
// Every column is passed as seven arguments: name, type code, width, decimals, NEXTVALUE, STEP
// (null constants where not given) and the column flag mask (NULL 1, NOT NULL 2, NOCPTRANS 4,
// AUTOINC 8) as an integer constant.
#pragma once

#include <qzbase.h>

#include <cstdint>

#include "compiler/statements.h"

namespace qzbase {

int compile_stmt_create_table(const statement_list::const_iterator& end, statement_list::iterator& it,
                              CompiledCodeCollection* code, CodePath& path);
int compile_stmt_add_column(const statement_list::const_iterator& end, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path);
int compile_stmt_drop_column(const statement_list::const_iterator& end, statement_list::iterator& it,
                             CompiledCodeCollection* code, CodePath& path);

// The flag mask of a column's attributes (null: none).
uint64_t parse_column_flags(const option_ptr_list* options);

}  // namespace qzbase
