// file_handle.cpp - character-set aware sequential readers.
#include "platform/file_handle.h"
#include "platform/standard_streams.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "values/charset.h"
#include "values/string_internal.h"

namespace qzbase {

void build_standard_streams() {
  static std::ios_base::Init standard_streams;
}

std::istream& console_input() {
  build_standard_streams();
  return std::cin;
}

namespace {

constexpr size_t kMaxCharBytes = 16;

size_t max_char_bytes(const Charset* cs) {
  size_t m = cs->max_bytes();
  if (m < 1) m = 1;
  return std::min(m, kMaxCharBytes);
}

// UTF-8 (Unicode Table 3-7): true when bytes[0..n) is a proper prefix of a well-formed sequence.
bool utf8_proper_prefix(const unsigned char* b, size_t n) {
  unsigned char lead = b[0];
  size_t needed;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return false;
  }
  if (n >= needed) return false;
  for (size_t i = 1; i < n; ++i) {
    unsigned char t = b[i];
    if (i == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) return false;
  }
  return true;
}

// True when bytes[0..n) may still become one character of cs (a proper prefix of a valid
// sequence).
bool proper_prefix(const Charset* cs, const unsigned char* b, size_t n) {
  if (cs->max_bytes() <= 1 || is_binary_charset(cs)) return false;
  if (dynamic_cast<const UTF8*>(cs)) return utf8_proper_prefix(b, n);
  if (dynamic_cast<const UTF16LE*>(cs)) {
    if (n == 1) return true;
    unsigned unit = b[0] | (b[1] << 8);
    return n < 4 && unit >= 0xD800 && unit <= 0xDBFF;
  }
  if (dynamic_cast<const UTF32LE*>(cs)) return n < 4;
  if (auto icu = dynamic_cast<const _ICUConverterCharset*>(cs)) {
    // Ask the converter whether it waits for more input: no output and no error with flush off.
    UConverter* conv = icu->thread_converter();
    ucnv_resetToUnicode(conv);
    UChar out[8];
    UChar* target = out;
    const char* src = reinterpret_cast<const char*>(b);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(conv, &target, out + 8, &src, src + n, nullptr, false, &status);
    bool waiting = U_SUCCESS(status) && target == out;
    ucnv_resetToUnicode(conv);
    return waiting;
  }
  return false;
}

// A byte source for the character reader.
//   int get(): the next byte, or -1 at the end (or on an error);
//   bool at_end(): true when no further byte follows (looks ahead without consuming);
//   void unget(const unsigned char* bytes, size_t n): bytes read too far, in reading order.
template <class Source>
size_t read_characters(Source& src, const Charset* cs, char* buffer, size_t size, size_t count,
                       size_t* chars_read) {
  if (count == 0) return 0;
  unsigned char cur[kMaxCharBytes];
  size_t n = 0;
  size_t stored = 0;
  size_t done = 0;
  while (done < count) {
    size_t len;
    if (n > 0 && src.at_end()) {
      len = n;  // the input ends inside a character: the bytes form one invalid character
    } else {
      int byte = src.get();
      if (byte < 0) break;  // bytes of an unfinished character are dropped with the failed read
      cur[n++] = static_cast<unsigned char>(byte);
      len = complete_char_length(cs, cur, n);
      if (len == 0) continue;
    }
    if (stored + len > size) {
      src.unget(cur, n);  // does not fit: the whole character waits for the next read
      n = 0;
      break;
    }
    std::memcpy(buffer + stored, cur, len);
    stored += len;
    ++done;
    if (chars_read) ++*chars_read;
    if (len < n) src.unget(cur + len, n - len);
    n = 0;
  }
  return stored;
}

// pushback_st helpers: bytes put back go in front of what is pending.
void push_front(pushback_st& p, const unsigned char* bytes, size_t n) {
  if (n == 0) return;
  QZ_ASSERT(p.count + n <= sizeof(p.bytes));
  std::memmove(p.bytes + n, p.bytes, p.count);
  std::memcpy(p.bytes, bytes, n);
  p.count += n;
}

int pop_front(pushback_st& p) {
  int b = p.bytes[0];
  --p.count;
  std::memmove(p.bytes, p.bytes + 1, p.count);
  return b;
}

struct StreamSource {
  std::istream& in;
  pushback_st* pending;  // null: put bytes back into the stream
  int get() {
    if (pending && pending->count) return pop_front(*pending);
    std::istream::int_type c = in.get();
    return c == std::istream::traits_type::eof() ? -1 : static_cast<unsigned char>(c);
  }
  bool at_end() {
    if (pending && pending->count) return false;
    return in.peek() == std::istream::traits_type::eof();
  }
  void unget(const unsigned char* bytes, size_t n) {
    if (pending) {
      push_front(*pending, bytes, n);
      return;
    }
    for (size_t i = n; i-- > 0;) in.putback(static_cast<char>(bytes[i]));
  }
};

struct FileSource {
  FILE* file;
  pushback_st& pending;
  bool& ended;
  int get() {
    if (pending.count) return pop_front(pending);
    unsigned char c;
    if (std::fread(&c, 1, 1, file) == 0) {
      ended = true;
      return -1;
    }
    return c;
  }
  bool at_end() {
    if (pending.count) return false;
    int c = std::getc(file);
    if (c == EOF) return true;
    std::ungetc(c, file);
    return false;
  }
  void unget(const unsigned char* bytes, size_t n) { push_front(pending, bytes, n); }
};

// Which fast path fgets may take for the charset: 0 none, 1 single-byte, 2 UTF-8.
int fast_kind(const Charset* cs) {
  if (cs == nullptr || is_binary_charset(cs)) return 0;
  if (dynamic_cast<const UTF8*>(cs)) return 2;
  if (cs->max_bytes() != 1 || cs->min_bytes() != 1) return 0;
  const char lf = '\n', cr = '\r';
  const char* p = &lf;
  if (cs->next(&p, &lf + 1) != U'\n') return 0;
  p = &cr;
  if (cs->next(&p, &cr + 1) != U'\r') return 0;
  return 1;
}

// Characters of UTF-8 text as UTF8::next counts them: well-formed text is counted here in one
// pass (ASCII eight bytes at a time); text with an ill-formed sequence goes to count_chars.
size_t utf8_count(const Charset* cs, const char* data, size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* end = p + size;
  size_t count = 0;
  while (p < end) {
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        count += 8;
        continue;
      }
    }
    unsigned char b = *p;
    if (b < 0x80) {
      ++p;
      ++count;
      continue;
    }
    size_t avail = static_cast<size_t>(end - p);
    size_t needed = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    // A full sequence whose every proper prefix is valid is well-formed.
    if (needed == 0 || avail < needed || !utf8_proper_prefix(p, needed - 1) ||
        (needed > 1 && (p[needed - 1] < 0x80 || p[needed - 1] > 0xBF))) {
      return count + cs->count_chars(reinterpret_cast<const char*>(p), data + size);
    }
    p += needed;
    ++count;
  }
  return count;
}

// The line and count of a fast read: bytes [data, data + size) before the line end; has_lf tells
// whether a line feed ended it.
void finish_fast_line(const Charset* cs, int kind, const char* data, size_t size, bool has_lf, String* line,
                      size_t* chars) {
  size_t n = kind == 1 ? size : utf8_count(cs, data, size);
  if (has_lf) {
    ++n;
    if (size && data[size - 1] == '\r') --size;
  }
  *line = String(data, size, cs);
  *chars = n;
}

}  // namespace

size_t complete_char_length(const Charset* cs, const unsigned char* bytes, size_t n) {
  QZ_TRACE;
  const char* begin = reinterpret_cast<const char*>(bytes);
  const char* p = begin;
  char32_t c = cs->next(&p, begin + n);
  size_t used = static_cast<size_t>(p - begin);
  if (used == 0) used = 1;
  if (used > n) used = n;
  if (c != 0xFFFD) return used;
  if (n < max_char_bytes(cs) && proper_prefix(cs, bytes, n)) return 0;
  return used;
}

// ---------------------------------------------------------------------------------------------
// FileHandle
// ---------------------------------------------------------------------------------------------

FileHandle::~FileHandle() = default;

bool FileHandle::fgets_fast(String*, size_t*) {
  QZ_TRACE;
  return false;
}

size_t FileHandle::fgets(String* line) {
  QZ_TRACE;
  size_t fast_chars;
  if (fgets_fast(line, &fast_chars)) return fast_chars;

  constexpr size_t kChunk = 1024;
  char chunk[kChunk];
  size_t used = 0;
  const Charset* cs = charset_;
  Concat pieces;
  bool joined = false;
  size_t count = 0;
  char32_t last = 0, before_last = 0;
  size_t last_len = 0, before_last_len = 0;
  bool line_end = false;

  for (;;) {
    if (cs && kChunk - used < cs->max_bytes()) {
      pieces.append(String(chunk, used, cs));
      joined = true;
      used = 0;
    }
    size_t n = read(chunk + used, kChunk - used, 1, &cs);
    if (fail()) break;
    if (n == 0) break;  // nothing stored without a failure: cannot happen with room for a character
    ++count;
    const char* p = chunk + used;
    char32_t c = cs->next(&p, chunk + used + n);
    before_last = last;
    before_last_len = last_len;
    last = c;
    last_len = n;
    used += n;
    if (!is_binary_charset(cs) && c == U'\n') {
      line_end = true;
      break;
    }
  }

  const Charset* result_cs = cs ? cs : (charset_ ? charset_ : Charset::binary);
  String text;
  if (joined) {
    if (used) pieces.append(String(chunk, used, result_cs));
    text = pieces.to_string(false);
  } else {
    text = String(chunk, used, result_cs);
  }
  if (line_end) {
    size_t cut = last_len;
    if (count >= 2 && before_last == U'\r') cut += before_last_len;
    text.resize(text.size() - cut);
    peek();
  }
  *line = text;
  return count;
}

// ---------------------------------------------------------------------------------------------
// FileBuffer
// ---------------------------------------------------------------------------------------------

FileBuffer::FileBuffer(const Charset* charset, std::ifstream* stream) : FileHandle(charset), stream_(stream) {
  QZ_TRACE;
}

FileBuffer::FileBuffer(const Charset* charset, const std::filesystem::path& path)
    : FileHandle(charset), stream_(new std::ifstream(path, std::ios::in | std::ios::binary)) {
  QZ_TRACE;
}

FileBuffer::~FileBuffer() {
  QZ_TRACE;
  delete stream_;
}

std::streampos FileBuffer::tell() {
  QZ_TRACE;
  // A stream that ran into its end answers -1 to tellg; the position is still known.
  std::ios_base::iostate state = stream_->rdstate();
  if (state & std::ios_base::eofbit) stream_->clear();
  std::streampos pos = stream_->tellg();
  stream_->setstate(state);
  if (pos != std::streampos(-1)) pos -= static_cast<std::streamoff>(pending_.count);
  return pos;
}

size_t FileBuffer::read(char* buffer, size_t size, size_t count, const Charset** charset) {
  QZ_TRACE;
  if (*charset == nullptr) *charset = charset_ ? charset_ : Charset::binary;
  StreamSource src{*stream_, &pending_};
  return read_characters(src, *charset, buffer, size, count, nullptr);
}

int FileBuffer::peek() {
  QZ_TRACE;
  if (pending_.count) return pending_.bytes[0];
  return stream_->peek();
}

void FileBuffer::seek(std::streamoff offset, std::ios_base::seekdir direction) {
  QZ_TRACE;
  if (direction == std::ios_base::cur) offset -= static_cast<std::streamoff>(pending_.count);
  pending_.count = 0;
  stream_->clear();  // a stream that ran into the end would ignore seekg
  stream_->seekg(offset, direction);
}

bool FileBuffer::fail() {
  QZ_TRACE;
  return stream_->fail();
}

bool FileBuffer::eof() {
  QZ_TRACE;
  // At the end also when no read has run into it yet (a seek to the end, an empty file).
  if (pending_.count != 0) return false;
  if (stream_->eof()) return true;
  return !stream_->fail() && stream_->peek() == std::char_traits<char>::eof();
}

bool FileBuffer::fgets_fast(String* line, size_t* chars) {
  QZ_TRACE;
  if (pending_.count) return false;
  int kind = fast_kind(charset_);
  if (kind == 0) return false;
  thread_local std::string buf;
  struct Shrink {  // a very long line does not keep its memory in the thread
    std::string& b;
    ~Shrink() {
      if (b.capacity() > (1u << 20)) std::string().swap(b);
    }
  } shrink{buf};
  std::getline(*stream_, buf);
  if (stream_->fail()) {  // nothing extracted: the end of the input
    *line = String(0, charset_);
    *chars = 0;
    return true;
  }
  bool has_lf = !stream_->eof();
  if (!has_lf) {
    stream_->setstate(std::ios::failbit);  // as the character-wise read that met the end
  }
  finish_fast_line(charset_, kind, buf.data(), buf.size(), has_lf, line, chars);
  if (has_lf) stream_->peek();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Stdin
// ---------------------------------------------------------------------------------------------

Stdin::~Stdin() = default;

std::streampos Stdin::tell() {
  QZ_TRACE;
  return console_input().tellg();
}

size_t Stdin::read(char* buffer, size_t size, size_t count, const Charset** charset) {
  QZ_TRACE;
  if (*charset == nullptr) *charset = charset_;
  return screen_->read(buffer, size, count, charset);
}

int Stdin::peek() {
  QZ_TRACE;
  return -1;
}

void Stdin::seek(std::streamoff offset, std::ios_base::seekdir direction) {
  QZ_TRACE;
  console_input().seekg(offset, direction);
}

bool Stdin::fail() {
  QZ_TRACE;
  return console_input().fail();
}

bool Stdin::eof() {
  QZ_TRACE;
  return console_input().eof();
}

// ---------------------------------------------------------------------------------------------
// RawFileHandle
// ---------------------------------------------------------------------------------------------

RawFileHandle::~RawFileHandle() = default;

std::streampos RawFileHandle::tell() {
  QZ_TRACE;
  long pos = std::ftell(file_);
  if (pos >= 0) pos -= static_cast<long>(pending_.count);
  return std::streampos(pos);
}

size_t RawFileHandle::read(char* buffer, size_t size, size_t count, const Charset** charset) {
  QZ_TRACE;
  if (*charset == nullptr) *charset = charset_ ? charset_ : Charset::binary;
  FileSource src{file_, pending_, ended_};
  return read_characters(src, *charset, buffer, size, count, nullptr);
}

int RawFileHandle::peek() {
  QZ_TRACE;
  return 0;
}

void RawFileHandle::seek(std::streamoff offset, std::ios_base::seekdir direction) {
  QZ_TRACE;
  int whence;
  if (direction == std::ios_base::beg) {
    whence = SEEK_SET;
  } else if (direction == std::ios_base::cur) {
    whence = SEEK_CUR;
    offset -= static_cast<std::streamoff>(pending_.count);
  } else if (direction == std::ios_base::end) {
    whence = SEEK_END;
  } else {
    return;
  }
  pending_.count = 0;
  if (std::fseek(file_, offset, whence) == 0) ended_ = false;
}

bool RawFileHandle::fgets_fast(String* line, size_t* chars) {
  QZ_TRACE;
  if (pending_.count) return false;
  int kind = fast_kind(charset_);
  if (kind == 0) return false;
  struct LineBuffer {  // getline's buffer, freed when the thread ends
    char* data = nullptr;
    size_t cap = 0;
    ~LineBuffer() { std::free(data); }
  };
  thread_local LineBuffer line_buffer;
  char*& buf = line_buffer.data;
  ssize_t got = ::getline(&buf, &line_buffer.cap, file_);
  if (got <= 0) {
    ended_ = true;
    *line = String(0, charset_);
    *chars = 0;
    return true;
  }
  size_t size = static_cast<size_t>(got);
  bool has_lf = buf[size - 1] == '\n';
  if (has_lf) {
    --size;
  } else {
    ended_ = true;
  }
  finish_fast_line(charset_, kind, buf, size, has_lf, line, chars);
  if (line_buffer.cap > (1u << 20)) {
    std::free(buf);
    buf = nullptr;
    line_buffer.cap = 0;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Free functions
// ---------------------------------------------------------------------------------------------

size_t ReadCharsFromStream(std::istream& in, char* buffer, size_t size, size_t count, size_t* chars_read,
                           const Charset* charset) {
  QZ_TRACE;
  StreamSource src{in, nullptr};
  return read_characters(src, charset, buffer, size, count, chars_read);
}

bool read_line_from_handle(FileHandle* handle, const Charset*, int flags, std::list<String>* lines,
                           Screen* screen) {
  QZ_TRACE;
  String line;
  if (handle->fgets(&line) == 0) {
    if (!handle->fail()) throw_assert_failed();
    return false;
  }
  if (!(flags & 4)) {
    ScreenOutputLock lock(screen);
    screen->outendl(line);
  }
  if ((flags & 1) && line.size() == 0) return true;
  if (flags & 2) lines->clear();
  lines->push_back(line);
  return true;
}

void read_from_handle_line_by_line(FileHandle* handle, const Charset* charset, int flags,
                                   std::list<String>* lines, Screen* screen) {
  QZ_TRACE;
  while (!handle->fail()) read_line_from_handle(handle, charset, flags, lines, screen);
}

}  // namespace qzbase
