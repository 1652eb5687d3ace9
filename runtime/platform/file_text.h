// file_text.h - reading a whole file as one String: the internal reader behind FILETOSTR, the
// module loader and the preprocessor's #include. FileToString and StrToFile themselves are
// exported (qzbase.h).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// The most bytes a program or included file may hold (a device such as /dev/zero never ends).
constexpr size_t kMaxProgramFileSize = size_t{64} << 20;

// FileToString reading at most `limit` bytes: RuntimeError 1903 when the file holds more (checked
// before reading a regular file, as the bytes come for a pipe or a device).
String read_file_text(const String& path, const Charset* charset, bool detect, size_t limit);

// The name searched with Runtime::find_file (current directory, then SET PATH, exact case), then
// read_file_text on the found path. RuntimeError 1 with the name as given when it is not found.
String filetostr(Runtime* runtime, String name, const Charset* charset, bool detect);
String filetostr(Runtime* runtime, String name, const Charset* charset, bool detect, size_t limit);

}  // namespace qzbase
