// file_io.cpp - the standard-stream name map and __fopen / __fclose.
#include "platform/file_io.h"

#include <filesystem>

#include "platform/file_handle.h"

namespace qzbase {

const std::unordered_map<std::string, int>& standard_stream_names() {
  QZ_TRACE;
  // Built on first use under the thread-safe initialisation of statics; read-only afterwards.
  static const std::unordered_map<std::string, int> names = {
      {"qz://stdin", STANDARD_STREAM_STDIN},
      {"qz://stdout", STANDARD_STREAM_STDOUT},
      {"qz://stderr", STANDARD_STREAM_STDERR},
  };
  return names;
}

int __fopen(String name, Screen* screen, int /*mode*/, const Charset* charset, FileHandle** handle) {
  QZ_TRACE;
  *handle = nullptr;
  if (name.get_charset() != Charset::utf8) name.convert(Charset::utf8, CON_NONE, 0);
  std::string utf8(name.read(), name.size());
  const auto& names = standard_stream_names();
  auto it = names.find(utf8);
  if (it != names.end()) {
    if (it->second != STANDARD_STREAM_STDIN) return 2;
    *handle = new Stdin(charset, screen);
    return 0;
  }
  // A name that does not resolve, and a directory (which a file stream opens but cannot read),
  // give no handle.
  std::error_code error;
  std::filesystem::path path = std::filesystem::canonical(static_cast<std::filesystem::path>(name), error);
  if (error) return 2;
  if (std::filesystem::is_directory(path, error)) return 2;
  FileBuffer* file = new FileBuffer(charset, path);
  if (!file->is_open()) {
    delete file;
    return 2;
  }
  *handle = file;
  return 0;
}

void __fclose(FileHandle* handle) {
  QZ_TRACE;
  delete handle;
}

bool __feof(FileHandle* handle) {
  QZ_TRACE;
  return handle->eof();
}

}  // namespace qzbase
