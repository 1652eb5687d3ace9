// module_file.h - the compiled-module file: the programs of one unlinked Module saved to the
// opcode cache under HOME/.qz/opcode, and read back into a new Module in any runtime.
//
// The file layout is written down in module_file.md beside this header. Nothing in the library
// saves or loads modules this way yet (module loading always compiles the source); these are the
// complete operations, tested on their own.
//
// What can be stored (module_file.md has the list): a module's main program and procedures, not
// its classes or imports, before link_module has bound its calls and without built-in calls,
// macros, object or array-element access. Handing the writer anything else is a broken invariant:
// it throws before any file is touched. A module read back is not linked.
//
// A cache file must never pass for current when it is not, and is input like any other file:
// - A file that cannot be opened or written makes the writer return false, not true.
// - The writer never rewrites the file in place, where a crash or a full disk midway would leave a
//   valid header over a torn body that a later reader takes as current: it writes a temporary file
//   in the same directory and renames it over the old one.
// - The reader checks every length against the file's size and every read against the bytes
//   there; a malformed or truncated file (a wrong marker, an unknown charset id or file opcode,
//   an undefined symbol index, a record length that does not match its contents) reads as "no
//   usable cache" (false): never an assertion, an allocation sized by the file's claims, or a
//   half-filled module handed to the caller.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace qzbase {

class Module;
class Symtable;

// The source file's last-write time in whole seconds since 1970-01-01 UTC (truncated toward
// zero). std::filesystem::filesystem_error when it cannot be read.
int64_t module_source_time(const String& source);

// The cache file name without its index: HOME/.qz/opcode/0.9.2700.<MD5 of the source name in
// UTF-8, upper-case hex>. (the directory made when missing). False when the runtime has no HOME.
bool create_stem(Runtime* runtime, String source, String& stem);

// The whole file of a module, in memory: header (with the given time stamp), one record per
// program, the symbol section. Symbols are numbered from 1 in order of first use; the main
// program's name is entered into symtable. Refuses what cannot be stored (see above) with
// assert_failed_exception, an extra word beyond 32 bits with RuntimeError 39 and a money
// constant beyond 64 bits with std::overflow_error ("positive overflow", "negative overflow").
std::string module_file_image(const Module* module, Symtable* symtable, int64_t time);

// Writes the module's file (index 0 of its stem, replacing an older one). False when the runtime
// has no HOME or the file cannot be written (nothing is left behind then); refusals as
// module_file_image, before any file is touched.
bool module_save_to_opcode_cache(Runtime* runtime, const Module* module, Symtable* symtable);

// Reads a file image into a new Module (owned by the caller) named by its header: every program
// becomes a procedure under its name's symbol (the first of a name wins), symbols are mapped
// through symtable. False, with *out untouched, for any image that is malformed or truncated.
bool module_read_image(const char* data, size_t size, Symtable* symtable, Module** out);

// The module stored for the source (its canonical path, compared exactly) at the source's current
// time stamp: the files of the stem are tried from index 0 on until one is missing. False when
// there is no HOME, no such file, or the matching file is not usable.
bool module_load_from_cache(Runtime* runtime, const String& source, Symtable* symtable, Module** out);

// Only the header of the file at path: source name, time stamp, the charset of the stored source
// name and the symbol section's offset. False (nothing stored) when the file cannot be read or its
// header is malformed or truncated.
bool module_load_header_from_disk(std::filesystem::path path, String* source, int64_t* time,
                                  const Charset** charset, int64_t* symbols);

}  // namespace qzbase
