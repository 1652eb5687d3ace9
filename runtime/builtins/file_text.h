// file_text.h - reading a whole file as one String: the internal reader behind FILETOSTR, the
// module loader and the preprocessor's #include, and STRTOFILE. FileToString and StrToFile
// themselves are exported (qzbase.h).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// The name searched with Runtime::find_file (current directory, then SET PATH, exact case), then
// FileToString on the found path. RuntimeError 1 with the name as given when it is not found.
String filetostr(Runtime* runtime, String name, const Charset* charset, bool detect);

// FILETOSTR(name [, charset]).
void _filetostr(VmStack* stack, size_t argc, Variant* result);
// STRTOFILE(text, name [, mode]).
void strtofile(VmStack* stack, size_t argc, Variant* result);

}  // namespace qzbase
