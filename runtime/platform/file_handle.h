// file_handle.h - character-set aware sequential readers.
//
// A FileHandle returns whole characters of its Charset, never a split one. Three kinds:
// FileBuffer over a file stream it owns, Stdin over a Screen's input, RawFileHandle over a stdio
// FILE* it does not own (a child process's pipe). FileHandle::fgets reads one line.
//
// Decoding. A U+FFFD from the charset's `next` cannot simply mean "not complete yet, add a
// byte": `next` answers U+FFFD for invalid bytes too, so one invalid byte would make the
// reader swallow the rest of the input and write past the caller's size. Here the bytes of a
// character are incomplete only while they are a proper prefix of a valid sequence shorter than
// the charset's maximum bytes per character; otherwise `next` decides how many of them form one
// (possibly invalid) character, and the bytes after it are kept for the next character. Bytes
// pending when the input ends form one invalid character. A read never stores more than `size`
// bytes: a character that does not fit stays in the handle for the next read.
//
// fgets has a buffered fast path for single-byte charsets whose byte 0x0A is U+000A and for
// UTF-8 (over a FileBuffer or a RawFileHandle): it finds the line end in the stream's buffer
// and gives the same line, the same character count and the same stream state as the
// character-wise path.
#pragma once

#include <qzbase.h>

#include <cstdio>
#include <fstream>
#include <ios>
#include <istream>
#include <list>
#include <shared_mutex>

namespace qzbase {

class FileHandle {
 public:
  explicit FileHandle(const Charset* charset) : charset_(charset) {}
  virtual ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  virtual std::streampos tell() = 0;
  // Reads up to count characters into buffer (at most size bytes); returns the bytes stored.
  // When *charset is null it is set to the charset of the bytes.
  virtual size_t read(char* buffer, size_t size, size_t count, const Charset** charset) = 0;
  virtual int peek() = 0;
  virtual void seek(std::streamoff offset, std::ios_base::seekdir direction) = 0;
  virtual bool fail() = 0;  // the last read failed (end of input or error)
  virtual bool eof() = 0;

  // Reads one line into *line (line end cut off: LF, and a CR just before it); returns the
  // characters read, line end included; 0 when nothing could be read.
  size_t fgets(String* line);

  const Charset* charset() const { return charset_; }

  // Held exclusively while an operation of the built-in file functions uses the handle.
  std::shared_mutex lock;

 protected:
  // The fast path of fgets: true when it read the line (results in *line, *chars).
  virtual bool fgets_fast(String* line, size_t* chars);

  const Charset* charset_;
};

// Bytes already read from the source that belong to the next character (at most one
// character's worth).
struct pushback_st {
  unsigned char bytes[16];
  size_t count = 0;
};

class FileBuffer : public FileHandle {
 public:
  // Takes the stream; the destructor closes it.
  FileBuffer(const Charset* charset, std::ifstream* stream);
  // Opens path for binary input; check is_open().
  FileBuffer(const Charset* charset, const std::filesystem::path& path);
  ~FileBuffer() override;

  bool is_open() const { return stream_->is_open(); }

  std::streampos tell() override;
  size_t read(char* buffer, size_t size, size_t count, const Charset** charset) override;
  int peek() override;
  void seek(std::streamoff offset, std::ios_base::seekdir direction) override;
  bool fail() override;
  bool eof() override;

 protected:
  bool fgets_fast(String* line, size_t* chars) override;

 private:
  std::ifstream* stream_;
  pushback_st pending_;
};

class Stdin : public FileHandle {
 public:
  Stdin(const Charset* charset, Screen* screen) : FileHandle(charset), screen_(screen) {}
  ~Stdin() override;

  std::streampos tell() override;
  size_t read(char* buffer, size_t size, size_t count, const Charset** charset) override;
  int peek() override;  // always -1
  void seek(std::streamoff offset, std::ios_base::seekdir direction) override;
  bool fail() override;
  bool eof() override;

 private:
  Screen* screen_;
};

class RawFileHandle : public FileHandle {
 public:
  RawFileHandle(const Charset* charset, FILE* file) : FileHandle(charset), file_(file) {}
  ~RawFileHandle() override;

  std::streampos tell() override;
  size_t read(char* buffer, size_t size, size_t count, const Charset** charset) override;
  int peek() override;  // always 0
  void seek(std::streamoff offset, std::ios_base::seekdir direction) override;
  bool fail() override { return ended_; }
  bool eof() override { return ended_; }

 protected:
  bool fgets_fast(String* line, size_t* chars) override;

 private:
  FILE* file_;
  bool ended_ = false;
  pushback_st pending_;
};

// std::cin, with the standard streams built on the first call (see standard_streams.h).
std::istream& console_input();

// Reads up to count whole characters of charset from in into buffer (at most size bytes);
// returns the bytes stored and adds the characters to *chars_read. A byte read ahead of a
// character is put back into the stream.
size_t ReadCharsFromStream(std::istream& in, char* buffer, size_t size, size_t count, size_t* chars_read,
                           const Charset* charset);

// Reads a line with fgets; echoes it to the screen unless flags has 4 (under the screen's output
// lock); skips an empty line when flags has 1; keeps only the last line when flags has 2.
// Returns false when nothing could be read. The charset argument is not used.
bool read_line_from_handle(FileHandle* handle, const Charset* charset, int flags, std::list<String>* lines,
                           Screen* screen);
void read_from_handle_line_by_line(FileHandle* handle, const Charset* charset, int flags,
                                   std::list<String>* lines, Screen* screen);

// Decoding one character from bytes that arrive one at a time (exposed for the tests).
// Returns 0 while the n bytes are a proper prefix of a valid character shorter than the
// charset's maximum; otherwise the byte length (1..n) of the character that starts at bytes.
size_t complete_char_length(const Charset* cs, const unsigned char* bytes, size_t n);

}  // namespace qzbase
