// table_files.h - DROP TABLE and RENAME TABLE: the file-level routines that act on a table's
// files (the .dbf and, beside it, its .fpt memo and .cdx structural index) as one.
#pragma once

#include <qzbase.h>

#include <filesystem>
#include <vector>

namespace qzbase {

// The files of the table a name designates: a name without extension gets ".dbf"; the table is
// searched with Runtime::find_file (1 naming the name when missing); its extension must be dbf
// (11 otherwise); the memo and index files are listed when they exist beside it.
std::vector<std::filesystem::path> table_file_set(Runtime* runtime, const String& name);

// Deletes a table's files. Every file is opened exclusively before any is removed, so a file in
// use elsewhere (1705) leaves them all in place; another file error raises 1.
void drop_table(VmStack* stack, const String& name);

// Moves a table's files to the new name, each keeping its own extension. All files are checked
// first (exclusive opens: 1705 / 1; an existing target: 7 naming it); a rename that fails undoes
// those already made and raises 1705.
void rename_table(VmStack* stack, const String& from, const String& to);

// For tests: called before each file's rename with its position in the table's file set; true
// makes that rename fail as the file system would.
using rename_table_fault_hook = bool (*)(size_t position);
void set_rename_table_fault_hook(rename_table_fault_hook hook);

}  // namespace qzbase
