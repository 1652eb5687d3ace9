// file_io.h - the platform's share of the low-level file functions:
// the standard-stream name map of library start-up and the opener and closer of
// sequential text handles that the screen (msgbox) and the shell use. The FOPEN family of
// built-in functions and its handle registry come with the built-in library.
#pragma once

#include <qzbase.h>

#include <string>
#include <unordered_map>

namespace qzbase {

class FileHandle;

enum StandardStream : int { STANDARD_STREAM_STDIN = 1, STANDARD_STREAM_STDOUT = 2, STANDARD_STREAM_STDERR = 3 };

// "qz://stdin" 1, "qz://stdout" 2, "qz://stderr" 3: exact, case-sensitive UTF-8 names.
const std::unordered_map<std::string, int>& standard_stream_names();

// Opens a sequential text handle by name. "qz://stdin" gives a Stdin handle reading through
// screen in charset (null: the screen's input charset), code 0. "qz://stdout" and
// "qz://stderr" give code 2 and no handle. Any other name opens a FileBuffer over the file for
// binary input (charset null: bytes are read as Charset::binary); a file that cannot be opened
// gives code 2 and no handle. The mode is accepted and not used: handles only read.
int __fopen(String name, Screen* screen, int mode, const Charset* charset, FileHandle** handle);
// Deletes the handle (null allowed), which closes a FileBuffer's file.
void __fclose(FileHandle* handle);
// The handle's eof.
bool __feof(FileHandle* handle);

}  // namespace qzbase
