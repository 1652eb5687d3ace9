// string.cpp - String, Concat, StringBuilder and the checked copies.
//
// A String is (data, charset, buffer, size) over a reference-counted byte buffer. Copies, slices
// and substr share the buffer; write() copies a shared buffer first. Empty strings made by the
// sized constructor share the constant-initialized global empty_string_buffer.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "values/charset_registry.h"
#include "values/string_internal.h"

namespace qzbase {

// Zero-filled bytes behind the global empty buffer; its capacity is 0, so none of them is part of
// any string, but a reader that runs past the end finds zeros.
alignas(16) static char empty_string_bytes[16] = {};
constinit string_buffer_st empty_string_buffer{empty_string_bytes, 0, 1};

string_buffer_st* new_string_buffer(size_t capacity) {
  QZ_TRACE;
  if (capacity > kMaxStringSize + kStringTerminatorRoom) throw RuntimeError(1903);
  std::unique_ptr<char[]> bytes(new char[capacity]);
  auto* buffer = new string_buffer_st{bytes.get(), capacity, 1};
  bytes.release();
  return buffer;
}

namespace {

inline string_buffer_st* acquire_empty() noexcept {
  empty_string_buffer.count.fetch_add(1);
  return &empty_string_buffer;
}

// True when at least min_bytes zero bytes follow s inside its buffer.
bool is_terminated(const char* end, const string_buffer_st* buffer, size_t min_bytes) {
  size_t room = static_cast<size_t>(buffer->bytes + buffer->capacity - end);
  if (room < min_bytes) return false;
  for (size_t i = 0; i < min_bytes; ++i) {
    if (end[i] != 0) return false;
  }
  return true;
}

// Bytes the text [begin, end) in cs needs in target (recovery 1 unless given). Raw (the byte count)
// when the charsets are the same or either side is binary: such text is never converted.
bool bytes_in(const char* begin, const char* end, const Charset* cs, const Charset* target,
              size_t* out, CstranRecovery rec = 1) {
  if (cs == target || is_binary_charset(cs) || is_binary_charset(target)) {
    *out = static_cast<size_t>(end - begin);
    return true;
  }
  size_t n = 0;
  if (cs->calculate(begin, end, target, &n, rec) != 0) return false;
  *out = n;
  return true;
}

// Converts [*src, end) in cs into [*dst, dst_end) in target. A binary side copies the bytes raw
// (the UTF-16 pivot cannot carry them), and so does the same charset when all of the text fits
// (a cut in the same charset goes through the charset, which stops at a character boundary).
// Returns the CstranError of the conversion; a raw copy that does not fit copies what fits and
// returns -1.
CstranError convert_bytes(const Charset* cs, const char** src, const char* end, char** dst,
                          const char* dst_end, const Charset* target, CstranRecovery rec) {
  if (is_binary_charset(cs) || is_binary_charset(target) ||
      (cs == target && end - *src <= dst_end - *dst)) {
    size_t want = static_cast<size_t>(end - *src);
    size_t room = static_cast<size_t>(dst_end - *dst);
    size_t n = std::min(want, room);
    if (n) std::memcpy(*dst, *src, n);
    *src += n;
    *dst += n;
    return n < want ? -1 : 0;
  }
  return cs->convert(src, end, dst, dst_end, target, rec);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction, assignment, release
// ---------------------------------------------------------------------------------------------

String::String()
    : data_(empty_string_buffer.bytes),
      charset_(Charset::binary),
      buffer_(acquire_empty()),
      size_(0) {
  QZ_TRACE;
}

String::String(size_t n, const Charset* cs) : charset_(cs), size_(n) {
  QZ_TRACE;
  if (n == 0) {
    buffer_ = acquire_empty();
  } else {
    buffer_ = new_string_buffer(n);
  }
  data_ = buffer_->bytes;
}

String::String(const char* bytes, size_t n, const Charset* cs)
    : charset_(cs), buffer_(new_string_buffer(n)), size_(n) {
  QZ_TRACE;
  data_ = buffer_->bytes;
  if (n) std::memcpy(buffer_->bytes, bytes, n);
}

String::String(const char* text) : String(text, std::strlen(text), Charset::utf8) {
  QZ_TRACE;
}

String::String(const char32_t* text) : charset_(Charset::utf32le) {
  QZ_TRACE;
  size_t units = 0;
  while (text[units] != 0) ++units;
  size_ = units * 4;
  buffer_ = new_string_buffer(size_);
  data_ = buffer_->bytes;
  if (size_) std::memcpy(buffer_->bytes, text, size_);
}

String::String(const wchar_t* text) : charset_(Charset::utf32le) {
  QZ_TRACE;
  static_assert(sizeof(wchar_t) == 4, "wide characters are UTF-32 code units");
  size_t units = std::wcslen(text);
  size_ = units * 4;
  buffer_ = new_string_buffer(size_);
  data_ = buffer_->bytes;
  if (size_) std::memcpy(buffer_->bytes, text, size_);
}

String::String(const std::filesystem::path& p)
    : String(p.c_str(), std::strlen(p.c_str()), Charset::utf8) {
  QZ_TRACE;
}

String::String(const String& s, const char* begin, const char* end) {
  QZ_TRACE;
  QZ_ASSERT(begin <= end && begin >= s.data_ && end <= s.data_ + s.size_);
  s.buffer_->count.fetch_add(1);
  data_ = begin;
  charset_ = s.charset_;
  buffer_ = s.buffer_;
  size_ = static_cast<size_t>(end - begin);
}

String::String(const String& other) noexcept
    : data_(other.data_), charset_(other.charset_), buffer_(other.buffer_), size_(other.size_) {
  buffer_->count.fetch_add(1);
}

// The moved-from string is left as the empty binary string (never a null state).
String::String(String&& other) noexcept
    : data_(other.data_), charset_(other.charset_), buffer_(other.buffer_), size_(other.size_) {
  other.buffer_ = acquire_empty();
  other.data_ = empty_string_buffer.bytes;
  other.charset_ = Charset::binary;
  other.size_ = 0;
}

String& String::operator=(const String& other) noexcept {
  // The same buffer already held (a shared text assigned again): its count stays as it is.
  if (other.buffer_ != buffer_) {
    other.buffer_->count.fetch_add(1);
    release();
  }
  data_ = other.data_;
  charset_ = other.charset_;
  buffer_ = other.buffer_;
  size_ = other.size_;
  return *this;
}

// Swaps: the moved-from string holds the old value until it is destroyed or reassigned.
String& String::operator=(String&& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(charset_, other.charset_);
  std::swap(buffer_, other.buffer_);
  std::swap(size_, other.size_);
  return *this;
}

String::~String() { release(); }

void String::release() noexcept {
  if (buffer_->count.fetch_sub(1) == 1 && buffer_ != &empty_string_buffer) {
    delete[] buffer_->bytes;
    delete buffer_;
  }
}

String String::fromBytes(const char* bytes, size_t n, const Charset* cs) {
  QZ_TRACE;
  return String(bytes, n, cs);
}

String String::fromBytes(const char* text, const Charset* cs) {
  QZ_TRACE;
  return String(text, std::strlen(text), cs);
}

String String::create_from_scan_string(const scan_string_st& s) {
  QZ_TRACE;
  return String(s.begin, s.size, s.charset);
}

String String::create_from_path(const std::filesystem::path& p, const Charset* cs) {
  QZ_TRACE;
  const auto& native = p.native();
  return String(native.data(), native.size(), cs);
}

// ---------------------------------------------------------------------------------------------
// Access
// ---------------------------------------------------------------------------------------------

char* String::write() {
  if (buffer_->count.load() > 1) do_copy_on_write();
  QZ_ASSERT(buffer_->count.load() == 1);
  return const_cast<char*>(data_);
}

void String::do_copy_on_write() {
  QZ_TRACE;
  string_buffer_st* fresh = new_string_buffer(buffer_->capacity);
  if (buffer_->capacity) std::memcpy(fresh->bytes, buffer_->bytes, buffer_->capacity);
  const char* data = fresh->bytes + (data_ - buffer_->bytes);
  release();
  buffer_ = fresh;
  data_ = data;
}

void String::resize(size_t n) {
  size_t room = buffer_->capacity - static_cast<size_t>(data_ - buffer_->bytes);
  if (n > room) throw std::runtime_error("string resize heap overflow");
  size_ = n;
}

size_t String::length() const {
  QZ_TRACE;
  if (charset_->is_fixed_width()) return size_ / charset_->min_bytes();
  return charset_->count_chars(data_, data_ + size_);
}

size_t String::align(size_t n) {
  QZ_TRACE;
  if (charset_->is_fixed_width()) {
    size_t w = charset_->min_bytes();
    if (n >= (size_ + w - 1) / w) return size_ / w;  // n * w >= size, without overflow
    size_ = n * w;
    return n;
  }
  const char* p = data_;
  const char* end = data_ + size_;
  size_t taken = 0;
  while (taken < n && p < end) {
    if (!charset_->scan(&p, end)) break;  // a U+FFFD stops the scan; it stays but is not counted
    ++taken;
  }
  size_ = static_cast<size_t>(p - data_);
  return taken;
}

String String::substr(size_t start, size_t count) const {
  QZ_TRACE;
  const char* end = data_ + size_;
  size_t w = charset_->min_bytes();
  // Byte offset of k characters of the minimum width, clamped to the size (no overflow).
  auto clamp = [w](size_t k, size_t limit) {
    return k > limit / w ? limit : std::min(k * w, limit);
  };
  if (charset_->is_fixed_width()) {
    const char* begin = data_ + clamp(start, size_);
    const char* stop = begin + clamp(count, static_cast<size_t>(end - begin));
    return String(*this, begin, stop);
  }
  if (clamp(start, size_) >= size_) return String(*this, end, end);
  // One character forward; a UTF-8 byte below 0x80 is one character without the decoder.
  const bool ascii_runs = is_utf8_charset(charset_);
  auto step = [&](const char** q) {
    if (ascii_runs && static_cast<unsigned char>(**q) < 0x80) {
      ++*q;
    } else {
      charset_->scan(q, end);
    }
  };
  const char* p = data_;
  for (size_t i = 0; i < start && p < end; ++i) step(&p);
  const char* begin = p;
  size_t rest = static_cast<size_t>(end - p);
  if (clamp(count, rest) >= rest) return String(*this, begin, end);
  for (size_t i = 0; i < count && p < end; ++i) step(&p);
  return String(*this, begin, p);
}

// ---------------------------------------------------------------------------------------------
// Conversion
// ---------------------------------------------------------------------------------------------

void String::convert(const Charset* target, int flags, CstranRecovery rec) {
  QZ_TRACE;
  bool terminate = (flags & CON_TERMINATE) != 0;
  bool terminated = terminate && is_terminated(data_ + size_, buffer_, charset_->min_bytes());
  if ((!terminate || terminated) && charset_ == target &&
      (!(flags & CON_UNSHARE) || buffer_->count.load() < 2)) {
    return;
  }

  // Toward binary: a relabel; no terminator is added.
  if (is_binary_charset(target)) {
    charset_ = target;
    return;
  }

  // From binary: relabel the raw bytes after checking them.
  if (is_binary_charset(charset_)) {
    size_t valid_bytes = 0, valid_chars = 0, invalid_chars = 0, first_invalid = 0;
    target->verify(data_, size_, &valid_bytes, &valid_chars, &invalid_chars, &first_invalid);
    if (invalid_chars != 0 && rec == 1) throw string_buffer_invalid_exception{first_invalid};
    charset_ = target;
    size_t bom = target->bom_length();
    if (bom != 0 && size_ > bom && std::memcmp(data_, target->bom(), bom) == 0) {
      data_ += bom;
      size_ -= bom;
    }
    return;
  }

  // A real conversion into exactly one fresh buffer.
  size_t term = terminate ? target->min_bytes() : 0;
  size_t estimate;
  bool exact = (flags & CON_EXACT) != 0;
  if (exact || charset_ == target) {
    // Exactly sized (flag 4); the same charset (terminating or unsharing) is a copy of the bytes.
    if (!bytes_in(data_, data_ + size_, charset_, target, &estimate, rec))
      throw cstran_chars_lost();
    exact = true;
  } else {
    estimate = (size_ / charset_->min_bytes()) * target->max_bytes();
  }

  for (;;) {
    // An estimate gets room beyond it (one widest character, at least the terminator): that tells
    // a complete conversion from one that filled the buffer. An exact size needs none.
    size_t slack = exact ? term : std::max(term, target->max_bytes());
    String out(estimate + slack, target);
    char* base = out.write();
    const char* src = data_;
    char* dst = base;
    int r =
        convert_bytes(charset_, &src, data_ + size_, &dst, base + estimate + slack, target, rec);
    if (r == 1) throw cstran_chars_lost();
    if (r != 0 || src != data_ + size_ || dst > base + estimate) {
      // The estimate was too small: size the output exactly and convert again.
      if (exact) throw cstran_chars_lost();
      if (!bytes_in(data_, data_ + size_, charset_, target, &estimate, rec))
        throw cstran_chars_lost();
      exact = true;
      continue;
    }
    out.resize(static_cast<size_t>(dst - base));
    if (term) std::memset(dst, 0, term);
    *this = std::move(out);
    return;
  }
}

String::operator std::filesystem::path() const {
  QZ_TRACE;
  String copy(*this);
  copy.convert(Charset::utf8, CON_TERMINATE, 0);
  if (std::memchr(copy.read(), 0, copy.size()) != nullptr) {
    // An embedded zero would silently cut the name: refuse it.
    throw RuntimeError(202, *this);
  }
  return std::filesystem::path(std::string(copy.read(), copy.size()));
}

CstranError String::strcpy(char* dst, size_t dstsize, const Charset* target,
                           CstranRecovery rec) const {
  QZ_TRACE;
  size_t term = target->min_bytes();
  QZ_ASSERT(dstsize >= term);
  const char* src = data_;
  char* out = dst;
  CstranError r =
      convert_bytes(charset_, &src, data_ + size_, &out, dst + dstsize - term, target, rec);
  std::memset(out, 0, term);
  return r;
}

// ---------------------------------------------------------------------------------------------
// Joining two strings
// ---------------------------------------------------------------------------------------------

void String::add(const String* other) {
  QZ_TRACE;
  add(String(*other));
}

void String::add(String other) {
  QZ_TRACE;
  const Charset* left = charset_;
  const Charset* right = other.charset_;

  auto raw_join = [&](const Charset* cs) {
    String out(size_ + other.size_, cs);
    char* p = out.write();
    if (size_) std::memcpy(p, data_, size_);
    if (other.size_) std::memcpy(p + size_, other.data_, other.size_);
    *this = std::move(out);
  };

  if (left == right || left->is_flagged()) {
    if (buffer_ != &empty_string_buffer && buffer_->count.load() == 1) {
      // Nothing else holds the buffer: append in place, growing it geometrically, so a text built
      // by repeated appends costs linear time instead of a full copy per append.
      size_t offset = static_cast<size_t>(data_ - buffer_->bytes);
      size_t need = size_ + other.size_;
      if (offset + need > buffer_->capacity) {
        size_t capacity = need;
        if (need < kMaxStringSize) capacity = std::min(std::max(need * 2, size_t{32}), kMaxStringSize);
        string_buffer_st* fresh = new_string_buffer(capacity);
        if (size_) std::memcpy(fresh->bytes, data_, size_);
        release();
        buffer_ = fresh;
        data_ = fresh->bytes;
      }
      if (other.size_) std::memcpy(const_cast<char*>(data_) + size_, other.data_, other.size_);
      size_ = need;
      return;
    }
    raw_join(left);
    return;
  }
  if (right->is_flagged()) {
    const Charset* flagged = get_charset_by_csid((left->csid() & 0xFFFF) | kCharsetFlaggedBit);
    QZ_ASSERT(flagged != nullptr);
    raw_join(flagged);
    return;
  }

  const Charset* candidates[3] = {left, right, Charset::utf8};
  for (const Charset* cs : candidates) {
    size_t a = 0, b = 0;
    if (!bytes_in(data_, data_ + size_, left, cs, &a)) continue;
    if (!bytes_in(other.data_, other.data_ + other.size_, right, cs, &b)) continue;
    String out(a + b, cs);
    char* base = out.write();
    char* dst = base;
    const char* src = data_;
    if (convert_bytes(left, &src, data_ + size_, &dst, base + a + b, cs, 1) != 0) continue;
    src = other.data_;
    if (convert_bytes(right, &src, other.data_ + other.size_, &dst, base + a + b, cs, 1) != 0)
      continue;
    out.resize(static_cast<size_t>(dst - base));
    *this = std::move(out);
    return;
  }
  throw cstran_chars_lost();
}

// ---------------------------------------------------------------------------------------------
// Concat
// ---------------------------------------------------------------------------------------------

Concat::Concat() : charset_(nullptr), count_(0), estimate_(0) {
  QZ_TRACE;
}

Concat::Concat(const Charset* cs) : charset_(cs), count_(0), estimate_(0) {
  QZ_TRACE;
}

Concat::~Concat() = default;

void Concat::append(const String& piece) {
  QZ_TRACE;
  pieces_.push_back(piece);
  ++count_;
  const Charset* cs = piece.get_charset();
  if (charset_ == nullptr || charset_ == cs) {
    estimate_ += piece.size();
    charset_ = cs;
  } else if (is_binary_charset(charset_)) {
    estimate_ += piece.size();
  } else {
    estimate_ += (piece.size() / cs->min_bytes()) * charset_->max_bytes();
  }
}

void Concat::append(const Concat& other) {
  QZ_TRACE;
  if (&other == this) {
    std::list<String> copy(pieces_);
    for (const String& piece : copy) append(piece);
    return;
  }
  for (const String& piece : other.pieces_) append(piece);
}

// Exact bytes of every piece in cs (recovery 1); false when some piece cannot be converted.
bool Concat::exact_total(const Charset* cs, size_t* total) const {
  QZ_TRACE;
  size_t sum = 0;
  for (const String& piece : pieces_) {
    size_t n = 0;
    if (!bytes_in(piece.read(), piece.end(), piece.get_charset(), cs, &n)) return false;
    sum += n;
  }
  *total = sum;
  return true;
}

String Concat::to_string(bool terminate) const {
  QZ_TRACE;
  if (pieces_.empty()) {
    const Charset* cs = charset_ ? charset_ : Charset::ascii;
    if (!terminate) return String(0, cs);
    String out(cs->min_bytes(), cs);
    std::memset(out.write(), 0, cs->min_bytes());
    out.resize(0);
    return out;
  }

  if (count_ == 1 && pieces_.front().get_charset() == charset_) {
    const String& piece = pieces_.front();
    size_t term = charset_->min_bytes();
    if (!terminate || is_terminated(piece.end(), piece.buffer(), term)) return piece;
    // The piece lacks the promised terminator: copy it into a fresh, terminated buffer.
    String out(piece.size() + term, charset_);
    char* p = out.write();
    if (piece.size()) std::memcpy(p, piece.read(), piece.size());
    std::memset(p + piece.size(), 0, term);
    out.resize(piece.size());
    return out;
  }

  for (int attempt = 0;; ++attempt) {
    const Charset* cs = charset_;
    // Room beyond the estimate (at least one widest character) tells a complete conversion from
    // one that filled the buffer; it also holds the terminator.
    size_t slack = std::max(cs->max_bytes(), cs->min_bytes());
    String out(estimate_ + slack, cs);
    char* base = out.write();
    char* limit = base + estimate_;
    char* cap_end = base + estimate_ + slack;
    char* dst = base;
    const String* failed = nullptr;
    bool lost = false;
    for (const String& piece : pieces_) {
      const Charset* pcs = piece.get_charset();
      if (pcs == cs || is_binary_charset(pcs) || is_binary_charset(cs)) {
        if (piece.size() > static_cast<size_t>(limit - dst)) {
          failed = &piece;
          break;
        }
        if (piece.size()) std::memcpy(dst, piece.read(), piece.size());
        dst += piece.size();
        continue;
      }
      const char* src = piece.read();
      int r = pcs->convert(&src, piece.end(), &dst, cap_end, cs, 1);
      if (r == 1) {
        failed = &piece;
        lost = true;
        break;
      }
      if (r != 0 || src != piece.end() || dst > limit) {
        failed = &piece;
        break;
      }
    }
    if (failed == nullptr) {
      out.resize(static_cast<size_t>(dst - base));
      if (terminate) std::memset(dst, 0, cs->min_bytes());
      return out;
    }
    if (attempt >= 4) throw cstran_chars_lost();
    // Re-estimate: after a lost character, for the failing piece's charset, then UTF-16LE; after
    // an output that outgrew the estimate, first exactly for the current charset.
    const Charset* next_candidates[3] = {lost ? nullptr : cs, failed->get_charset(),
                                         Charset::utf16le};
    bool found = false;
    for (const Charset* candidate : next_candidates) {
      size_t total = 0;
      if (candidate != nullptr && exact_total(candidate, &total)) {
        estimate_ = total;
        charset_ = candidate;
        found = true;
        break;
      }
    }
    if (!found) throw cstran_chars_lost();
  }
}

// Binary pieces, on a Concat in Charset::binary only.
namespace {
Concat& append_raw(Concat& c, const void* bytes, size_t n) {
  QZ_ASSERT(c.charset() == nullptr || is_binary_charset(c.charset()));
  c.append(String(static_cast<const char*>(bytes), n, Charset::binary));
  return c;
}
}  // namespace

Concat& operator<<(Concat& c, uint8_t v) {
  QZ_TRACE;
  return append_raw(c, &v, 1);
}

Concat& operator<<(Concat& c, bool v) {
  QZ_TRACE;
  uint8_t b = v ? 1 : 0;
  return append_raw(c, &b, 1);
}

Concat& operator<<(Concat& c, uint32_t v) {
  QZ_TRACE;
  return append_raw(c, &v, 4);
}

Concat& operator<<(Concat& c, uint64_t v) {
  QZ_TRACE;
  return append_raw(c, &v, 8);
}

Concat& operator<<(Concat& c, int64_t v) {
  QZ_TRACE;
  return append_raw(c, &v, 8);
}

Concat& operator<<(Concat& c, const String& v) {
  QZ_TRACE;
  const char* name = v.get_charset()->name();
  append_raw(c, name, std::strlen(name));
  c << static_cast<uint64_t>(v.size());
  String bytes(v);
  bytes.convert(Charset::binary, CON_NONE, 1);  // a relabel: the buffer stays shared
  c.append(bytes);
  return c;
}

// ---------------------------------------------------------------------------------------------
// StringBuilder
// ---------------------------------------------------------------------------------------------

StringBuilder::StringBuilder() : Concat() {
  QZ_TRACE;
}

StringBuilder::StringBuilder(const Charset* cs) : Concat(cs) {
  QZ_TRACE;
}

StringBuilder::~StringBuilder() = default;

StringBuilder& StringBuilder::operator<<(int32_t v) {
  QZ_TRACE;
  char text[128];
  int n = std::snprintf(text, sizeof text, "%i", v);
  append(String(text, static_cast<size_t>(n), Charset::utf8));
  return *this;
}

StringBuilder& StringBuilder::operator<<(const char* text) {
  QZ_TRACE;
  append(String(text, std::strlen(text), Charset::utf8));
  return *this;
}

StringBuilder& StringBuilder::operator<<(const String& s) {
  QZ_TRACE;
  append(s);
  return *this;
}

// ---------------------------------------------------------------------------------------------
// Checked copies
// ---------------------------------------------------------------------------------------------

void strcpy_checked(char* dst, size_t n, const char* src) {
  QZ_TRACE;
  size_t len = std::strlen(src);
  if (len + 1 > n) throw copy_buffer_too_small();
  std::memcpy(dst, src, len + 1);
}

void memcpy_checked(void* dst, size_t dstsize, const void* src, size_t n) {
  QZ_TRACE;
  if (n > dstsize) throw copy_buffer_too_small();
  if (n) std::memcpy(dst, src, n);
}

}  // namespace qzbase
