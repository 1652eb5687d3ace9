// module_file_fuzz.cpp - arbitrary bytes as a compiled-module file: read whole as an image, and
// its header read from disk. Either gives a result or "no usable cache"; an exception, a crash or
// a sanitizer report is a fault.
#include <qzbase.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "vm/module.h"
#include "vm/module_file.h"
#include "vm/symtable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzbase;
  const char* bytes = reinterpret_cast<const char*>(data);
  Symtable symtable;  // a fresh one per input: names from one input never help the next
  Module* module = nullptr;
  if (module_read_image(bytes, size, &symtable, &module)) delete module;

  // The header reader works on a file: the input as an in-memory one.
  static const int fd = memfd_create("module_file_fuzz", MFD_CLOEXEC);
  if (fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, bytes, size, 0) == static_cast<ssize_t>(size)) {
    String source;
    int64_t time = 0, symbols = 0;
    const Charset* charset = nullptr;
    module_load_header_from_disk(std::filesystem::path("/proc/self/fd") / std::to_string(fd), &source, &time,
                                 &charset, &symbols);
  }
  return 0;
}
