// file_text.cpp - FileToString, filetostr and StrToFile: a whole file read into one String and
// a String written to a file.
//
// Faults mended:
// - A path that opens but cannot be read (a directory, a read error half-way) raised nothing and
//   gave the bytes read so far (an empty text for a directory): it raises by errno like a failed
//   open.
// - StrToFile with mode 2 or 4 put a UTF-16LE or UTF-8 mark before text left in another encoding
//   (a corrupt file), or, for text in a plain "utf-8" or "utf-16le" character set (which carries
//   no mark), wrote no mark while reporting success. Mode 2 writes FF FE and the text converted to
//   UTF-16LE, mode 4 EF BB BF and the text converted to UTF-8; an append with either mode converts
//   the text the same way and writes no mark.
#include "platform/file_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/charset_detection.h"
#include "values/charset_registry.h"
#include "values/string_internal.h"

namespace qzbase {

namespace {

[[noreturn]] void raise_file_error(int error, const String& path) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      throw RuntimeError(1102, path);
    case EACCES:
    case EPERM:
      throw RuntimeError(1705, path);
    default:
      throw RuntimeError(1, path);
  }
}

class descriptor {
 public:
  explicit descriptor(int fd) : fd_(fd) {}
  ~descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads from fd into [data, data + room) until it is full or the input ends; returns the bytes
// read. Errors raise by errno with the path as detail.
size_t read_into(int fd, char* data, size_t room, const String& detail) {
  size_t used = 0;
  while (used < room) {
    ssize_t n = ::read(fd, data + used, room - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      raise_file_error(errno, detail);
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  return used;
}

// Appends the rest of the input to bytes, in pieces that double; RuntimeError 1903 once the input
// holds more than limit bytes (a device like /dev/zero never ends).
void read_rest(int fd, std::string& bytes, const String& detail, size_t limit) {
  size_t piece = bytes.empty() ? 65536 : bytes.size();
  for (;;) {
    if (bytes.size() > limit) throw RuntimeError(1903);
    piece = std::min(piece, limit + 1 - bytes.size());
    size_t at = bytes.size();
    bytes.resize(at + piece);
    size_t n = read_into(fd, bytes.data() + at, piece, detail);
    bytes.resize(at + n);
    if (n < piece) return;
    piece = bytes.size();
  }
}

// The whole file's bytes tagged with charset; errors raise by errno with the path as detail. A
// regular file is read straight into the text's own buffer (one byte more than its size, to see
// whether it grew meanwhile); anything else, or a file that grew, in growing pieces.
String read_all(const std::filesystem::path& file, const String& detail, const Charset* charset, size_t limit) {
  descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) raise_file_error(errno, detail);
  struct stat st;
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    const size_t expected = static_cast<size_t>(st.st_size);
    if (expected > limit) throw RuntimeError(1903);
    String text(expected + 1, charset);
    size_t used = read_into(fd.get(), text.write(), expected + 1, detail);
    if (used <= expected) {
      text.resize(used);
      return text;
    }
    std::string bytes(text.read(), used);
    read_rest(fd.get(), bytes, detail, limit);
    return String(bytes.data(), bytes.size(), charset);
  }
  std::string bytes;
  read_rest(fd.get(), bytes, detail, limit);
  return String(bytes.data(), bytes.size(), charset);
}

bool starts_with_mark(const String& bytes, const Charset* cs) {
  size_t mark = cs->bom_length();
  return mark != 0 && bytes.size() >= mark && std::memcmp(bytes.read(), cs->bom(), mark) == 0;
}

// Writes all of the bytes; errors raise by errno with the path as detail.
void write_all(int fd, const char* data, size_t size, const String& detail) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      raise_file_error(errno, detail);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

size_t StrToFile(const String& text, const String& path, int mode) {
  QZ_TRACE;
  const bool append = (mode & STRTOFILE_APPEND) != 0;
  const bool utf16_mark = (mode & STRTOFILE_UTF16LE_MARK) != 0;
  const bool utf8_mark = (mode & STRTOFILE_UTF8_MARK) != 0;
  if (utf16_mark && utf8_mark) throw RuntimeError(11);

  const Charset* own = text.get_charset();
  String bytes = text;
  const Charset* mark = nullptr;
  if (own != nullptr && own->bom_length() != 0) {
    mark = own;  // the text's own mark; its bytes are already in that encoding
  } else if (utf16_mark || utf8_mark) {
    const Charset* target = utf16_mark ? Charset::utf16le : Charset::utf8;
    if (own != target && own != Charset::binary) bytes.convert(target, CON_NONE, 0);
    mark = get_bom_charset(target);
  }

  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  descriptor fd(::open(static_cast<std::filesystem::path>(path).c_str(), flags, 0666));
  if (fd.get() < 0) raise_file_error(errno, path);
  size_t written = 0;
  if (!append && mark != nullptr) {
    write_all(fd.get(), mark->bom(), mark->bom_length(), path);
    written += mark->bom_length();
  }
  write_all(fd.get(), bytes.read(), bytes.size(), path);
  written += bytes.size();
  return written;
}

namespace {

// True for bytes 1 to 127 only. The detector never names a UTF form with enough confidence for
// such text (no mark, no multi-byte sequence, no zero bytes of wide units), so the text keeps the
// given character set without running it: most program files are like this, and the detector
// would be the only use of its library's pages at start-up.
bool plain_ascii(const char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b == 0 || b > 0x7F) return false;
  }
  return true;
}

}  // namespace

String FileToString(const String& path, const Charset* charset, bool detect) {
  QZ_TRACE;
  return read_file_text(path, charset, detect, kMaxStringSize);
}

String read_file_text(const String& path, const Charset* charset, bool detect, size_t limit) {
  QZ_TRACE;
  if (charset == nullptr) charset = Charset::utf8;
  String bytes = read_all(static_cast<std::filesystem::path>(path), path, charset, limit);

  const Charset* cs = charset;
  if (detect && !plain_ascii(bytes.read(), bytes.size())) {
    const Charset* detected = detect_charset_bytes(bytes.read(), bytes.size(), DETECT_CHARSET_ICU, nullptr);
    if (detected != nullptr) cs = detected;
  } else if (!detect) {
    const Charset* twin = get_bom_charset(cs);
    if (twin != nullptr && starts_with_mark(bytes, twin)) cs = twin;
  }

  size_t skip = 0;
  if (cs->bom_length() != 0) {
    if (!starts_with_mark(bytes, cs)) throw RuntimeError(9016);
    skip = cs->bom_length();
  }
  // The bytes stay where they were read unless the text takes another character set.
  if (cs == charset) return String(bytes, bytes.read() + skip, bytes.end());
  return String::fromBytes(bytes.read() + skip, bytes.size() - skip, cs);
}

String filetostr(Runtime* runtime, String name, const Charset* charset, bool detect) {
  QZ_TRACE;
  return filetostr(runtime, std::move(name), charset, detect, kMaxStringSize);
}

String filetostr(Runtime* runtime, String name, const Charset* charset, bool detect, size_t limit) {
  QZ_TRACE;
  QZ_ASSERT(runtime != nullptr);
  std::filesystem::path found;
  if (!runtime->find_file(static_cast<std::filesystem::path>(name), found, false, false)) {
    throw RuntimeError(1, name);
  }
  return read_file_text(String(found), charset, detect, limit);
}

}  // namespace qzbase
