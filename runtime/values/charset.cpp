// charset.cpp - the kinds of character set.
//
// Faults guarded against:
// - ICU `in` reports a full destination as -1 (with 0 the pivot would drop the rest).
// - The pivot never splits a surrogate pair between two chunks: a chunk that ends in a lead
//   surrogate while source remains keeps that unit for the next chunk, and an ICU target is
//   flushed only at the true end of the text.
// - `prev` accepts the candidate whose decoding ends exactly at the old position (stepping
//   back while the result is U+FFFD would walk over a genuine U+FFFD).
// - The per-thread clones are keyed by a serial number that is never reused, so a charset created
//   at the address of a destroyed one never meets the old one's clone; conversions that run after
//   the thread's clone map is destroyed (exit handlers) use a small trivially destructible table.
// - A pivot that stops early (destination full, unrepresentable character) resets the thread's
//   clones of both charsets, so no half-converted state leaks into the next conversion.
#include "values/charset.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "values/string_internal.h"

namespace qzbase {

const Charset* Charset::ascii = nullptr;
const Charset* Charset::binary = nullptr;
const Charset* Charset::utf8 = nullptr;
const Charset* Charset::utf16le = nullptr;
const Charset* Charset::utf32le = nullptr;

namespace {

constexpr char32_t kReplacement = 0xFFFD;

inline bool is_lead_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool is_trail_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// ---- per-thread ICU clones ----

enum CallbackMode : int8_t { MODE_UNSET = -1, MODE_SUBSTITUTE = 0, MODE_STOP = 1 };

struct CloneEntry {
  UConverter* cnv = nullptr;
  int8_t to_mode = MODE_UNSET;    // to-Unicode callback currently installed
  int8_t from_mode = MODE_UNSET;  // from-Unicode callback currently installed
  // False while the converter may hold from-Unicode state (a pending surrogate, bytes that did not
  // fit): the Unicode kinds then let ICU finish rather than encode the next units themselves.
  bool from_clean = true;
};

// State of the calling thread's clone map: 0 not built yet, 1 alive, 2 destroyed (the thread is
// ending, or the process is exiting and its main thread's thread-locals are gone). Trivially
// destructible, so it can be read at any time.
thread_local int t_clones_state = 0;

struct ThreadClones {
  std::unordered_map<uint64_t, CloneEntry> map;  // charset serial -> clone (nodes never move)
  uint64_t last_serial = 0;
  CloneEntry* last = nullptr;

  ThreadClones() { t_clones_state = 1; }
  ~ThreadClones() {
    t_clones_state = 2;
    for (auto& kv : map) ucnv_close(kv.second.cnv);
    map.clear();
    last = nullptr;
    last_serial = 0;
  }

  CloneEntry* find(uint64_t serial) {
    if (serial == last_serial && last) return last;
    auto it = map.find(serial);
    if (it == map.end()) return nullptr;
    last_serial = serial;
    last = &it->second;
    return last;
  }

  void erase(uint64_t serial) {
    auto it = map.find(serial);
    if (it == map.end()) return;
    ucnv_close(it->second.cnv);
    map.erase(it);
    if (last_serial == serial) {
      last = nullptr;
      last_serial = 0;
    }
  }
};

thread_local ThreadClones t_clones;
std::atomic<uint64_t> g_next_serial{1};

// After the thread's map is destroyed (conversions from destructors that run at exit), clones live
// in this small trivially destructible table; they are closed with their charset, or not at all
// when the process ends first.
struct LateClone {
  uint64_t serial;
  CloneEntry entry;
};
constexpr int kLateClones = 8;
thread_local LateClone t_late[kLateClones] = {};

CloneEntry* find_clone(uint64_t serial) {
  if (t_clones_state == 1) return t_clones.find(serial);
  if (t_clones_state == 2) {
    for (LateClone& l : t_late)
      if (l.serial == serial) return &l.entry;
  }
  return nullptr;
}

void erase_clone(uint64_t serial) {
  if (t_clones_state == 1) {
    t_clones.erase(serial);
  } else if (t_clones_state == 2) {
    for (LateClone& l : t_late) {
      if (l.serial == serial) {
        ucnv_close(l.entry.cnv);
        l = LateClone{};
      }
    }
  }
}

CloneEntry& clone_entry(uint64_t serial, UConverter* shared) {
  if (t_clones_state != 2) {
    if (CloneEntry* e = t_clones.find(serial)) return *e;  // builds the map on first use
  } else if (CloneEntry* e = find_clone(serial)) {
    return *e;
  }
  UErrorCode status = U_ZERO_ERROR;
  UConverter* c;
  {
    // Cloning copies the shared converter's memory; ICU does not promise that concurrent
    // clones of one converter are safe, and this runs once per thread and charset only.
    static std::mutex clone_mutex;
    std::lock_guard<std::mutex> lock(clone_mutex);
    c = ucnv_clone(shared, &status);
  }
  if (U_FAILURE(status) || !c) {
    if (c) ucnv_close(c);
    throw_assert_failed();
  }
  if (t_clones_state == 2) {
    LateClone* slot = nullptr;
    for (LateClone& l : t_late) {
      if (l.serial == 0) {
        slot = &l;
        break;
      }
    }
    if (!slot) {  // the table is full: the oldest entry makes room
      slot = &t_late[0];
      ucnv_close(slot->entry.cnv);
    }
    *slot = LateClone{serial, CloneEntry{}};
    slot->entry.cnv = c;
    return slot->entry;
  }
  CloneEntry& e = t_clones.map[serial];
  e.cnv = c;
  t_clones.last_serial = serial;
  t_clones.last = &e;
  return e;
}

void set_to_mode(CloneEntry& e, int8_t mode) {
  if (e.to_mode == mode) return;
  UErrorCode status = U_ZERO_ERROR;
  if (mode == MODE_STOP)
    ucnv_setToUCallBack(e.cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  else
    ucnv_setToUCallBack(e.cnv, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &status);
  QZ_ASSERT(U_SUCCESS(status));
  e.to_mode = mode;
}

void set_from_mode(CloneEntry& e, int8_t mode) {
  if (e.from_mode == mode) return;
  UErrorCode status = U_ZERO_ERROR;
  if (mode == MODE_STOP)
    ucnv_setFromUCallBack(e.cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  else
    ucnv_setFromUCallBack(e.cnv, UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &status);
  QZ_ASSERT(U_SUCCESS(status));
  e.from_mode = mode;
}

// ---- encoding into the Unicode kinds ----

// Encodes [*src, end) into UTF-8, UTF-16LE or UTF-32LE (width 8, 16, 32) and stops before the
// first unit that needs the converter: an unpaired surrogate (which the recovery decides on), a
// lead surrogate at the end (its trail may come with the next chunk), or a character that does not
// wholly fit. What it writes is what the converter would write for the same units.
void encode_utf(int width, const char16_t** src, const char16_t* end, char** dst, const char* dst_end) {
  const char16_t* s = *src;
  unsigned char* d = reinterpret_cast<unsigned char*>(*dst);
  const unsigned char* limit = reinterpret_cast<const unsigned char*>(dst_end);
  if (width == 8) {
    while (s < end && d < limit && *s < 0x80) *d++ = static_cast<unsigned char>(*s++);  // the usual text
  }
  while (s < end) {
    char32_t c = *s;
    size_t units = 1;
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (!is_lead_surrogate(static_cast<char16_t>(c)) || end - s < 2 || !is_trail_surrogate(s[1])) break;
      c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
      units = 2;
    }
    size_t room = static_cast<size_t>(limit - d);
    if (width == 8) {
      if (c < 0x80) {
        if (room < 1) break;
        *d++ = static_cast<unsigned char>(c);
      } else if (c < 0x800) {
        if (room < 2) break;
        *d++ = static_cast<unsigned char>(0xC0 | (c >> 6));
        *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        if (room < 3) break;
        *d++ = static_cast<unsigned char>(0xE0 | (c >> 12));
        *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      } else {
        if (room < 4) break;
        *d++ = static_cast<unsigned char>(0xF0 | (c >> 18));
        *d++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      }
    } else if (width == 16) {
      if (room < units * 2) break;
      for (size_t i = 0; i < units; ++i) {
        *d++ = static_cast<unsigned char>(s[i] & 0xFF);
        *d++ = static_cast<unsigned char>(s[i] >> 8);
      }
    } else {
      if (room < 4) break;
      *d++ = static_cast<unsigned char>(c & 0xFF);
      *d++ = static_cast<unsigned char>((c >> 8) & 0xFF);
      *d++ = static_cast<unsigned char>((c >> 16) & 0xFF);
      *d++ = static_cast<unsigned char>(c >> 24);
    }
    s += units;
  }
  *src = s;
  *dst = reinterpret_cast<char*>(d);
}

// ---- pivot helpers ----

const _ICUConverterCharset* as_icu(const Charset* cs) { return dynamic_cast<const _ICUConverterCharset*>(cs); }

// Resets the thread clones of the charsets of a pivot that are ICU kinds.
void reset_pivot(const _ICUConverterCharset* a, const _ICUConverterCharset* b) {
  if (a) a->reset_thread_converter();
  if (b && b != a) b->reset_thread_converter();
}

// The target's `in` for one chunk; flush only for the last chunk (ICU targets keep their state).
CstranError pivot_in(const Charset* target, const _ICUConverterCharset* icu_target, const char16_t** src,
                     const char16_t* end, char** dst, const char* dst_end, CstranRecovery rec, bool flush) {
  if (icu_target) return icu_target->in_chunk(src, end, dst, dst_end, rec, flush);
  return target->in(src, end, dst, dst_end, rec);
}

// Fills chunk[carry..] from the source. Returns the result of `out` and sets *units to the number of
// units ready for the target and *carry_out to 1 when the last unit, a lead surrogate, must wait for
// the next chunk (source remains). A result above 0 is a stop.
struct ChunkState {
  char16_t chunk[kPivotChunkUnits];
  size_t carry = 0;     // units carried from the previous chunk (0 or 1)
  int last_out = 0;     // the previous result of `out` (-1: more output pending)
};

int fill_chunk(const Charset* source, ChunkState& st, const char** src, const char* end, size_t* units,
               bool* more) {
  char16_t* u = st.chunk + st.carry;
  const char* before = *src;
  int r = source->out(src, end, &u, st.chunk + kPivotChunkUnits);
  if (r > 0) return r;
  size_t n = static_cast<size_t>(u - st.chunk);
  if (r == -1 && n == st.carry && *src == before) return 1;  // no progress: a broken source kind
  *more = (*src < end) || r == -1;
  st.last_out = r;
  size_t carry = 0;
  if (*more && n > 0 && is_lead_surrogate(st.chunk[n - 1])) {
    carry = 1;
    --n;
  }
  st.carry = carry;
  *units = n;
  return 0;
}

}  // namespace

// =============================================================================================
// Charset
// =============================================================================================

Charset::Charset(const charset_st& record, bool flagged)
    : record_(record), fixed_width_(record.min_bytes == record.max_bytes), flagged_(flagged) {
  QZ_TRACE;
}

Charset::~Charset() {
  QZ_TRACE;
}

int Charset::calculate(const char* src, const char* end, const Charset* target, size_t* out_bytes,
                       CstranRecovery rec) const {
  QZ_TRACE;
  *out_bytes = 0;
  const _ICUConverterCharset* icu_src = as_icu(this);
  const _ICUConverterCharset* icu_dst = as_icu(target);
  reset_pivot(icu_src, icu_dst);
  ChunkState st;
  char scratch[kPivotScratchBytes];
  int result = 0;
  while (src < end || st.last_out == -1) {
    size_t n = 0;
    bool more = false;
    result = fill_chunk(this, st, &src, end, &n, &more);
    if (result > 0) break;
    const char16_t* s = st.chunk;
    for (;;) {
      char* d = scratch;
      const char16_t* s_before = s;
      result = pivot_in(target, icu_dst, &s, st.chunk + n, &d, scratch + kPivotScratchBytes, rec, !more);
      *out_bytes += static_cast<size_t>(d - scratch);
      if (result == -1) {
        if (d == scratch && s == s_before) {  // no progress into an empty scratch area
          result = 1;
          break;
        }
        continue;
      }
      break;
    }
    if (result != 0) break;
    if (st.carry) st.chunk[0] = st.chunk[n];
  }
  if (result != 0) reset_pivot(icu_src, icu_dst);
  return result;
}

int Charset::convert(const char** src, const char* end, char** dst, const char* dst_end, const Charset* target,
                     CstranRecovery rec) const {
  QZ_TRACE;
  const _ICUConverterCharset* icu_src = as_icu(this);
  const _ICUConverterCharset* icu_dst = as_icu(target);
  reset_pivot(icu_src, icu_dst);
  ChunkState st;
  int result = 0;
  while (*src < end || st.last_out == -1) {
    size_t n = 0;
    bool more = false;
    result = fill_chunk(this, st, src, end, &n, &more);
    if (result > 0) break;
    const char16_t* s = st.chunk;
    result = pivot_in(target, icu_dst, &s, st.chunk + n, dst, dst_end, rec, !more);
    if (result != 0) break;  // -1: the destination is full; 1: stopped
    if (st.carry) st.chunk[0] = st.chunk[n];
  }
  if (result != 0) reset_pivot(icu_src, icu_dst);
  return result;
}

void Charset::verify(const char*, size_t size, size_t*, size_t*, size_t* invalid_chars,
                     size_t* first_invalid) const {
  QZ_TRACE;
  *invalid_chars += size;
  if (size > 0 && *first_invalid == 0) *first_invalid = 1;
}

CstranError Charset::out(const char**, const char*, char16_t**, const char16_t*) const {
  QZ_TRACE;
  return 1;
}

CstranError Charset::in(const char16_t**, const char16_t*, char**, const char*, CstranRecovery) const {
  QZ_TRACE;
  return 1;
}

int Charset::convert(const char* src, const char* end, char* dst, const char* dst_end, const Charset* target,
                     CstranRecovery rec) const {
  QZ_TRACE;
  return convert(&src, end, &dst, dst_end, target, rec);
}

size_t Charset::count_chars(const char* begin, const char* end) const {
  QZ_TRACE;
  if (fixed_width_) return static_cast<size_t>(end - begin) / record_.min_bytes;
  size_t n = 0;
  const bool ascii_runs = is_utf8_charset(this);
  while (begin < end) {
    if (ascii_runs && static_cast<unsigned char>(*begin) < 0x80) {
      ++begin;
    } else {
      next(&begin, end);
    }
    ++n;
  }
  return n;
}

char32_t Charset::peek_next(const char* p, const char* end) const {
  QZ_TRACE;
  return next(&p, end);
}

bool Charset::scan(const char** p, const char* end) const {
  QZ_TRACE;
  return next(p, end) != kReplacement;
}

char32_t Charset::prev(const char** p, const char* begin) const {
  QZ_TRACE;
  const char* q = *p;
  QZ_ASSERT(q > begin);
  size_t avail = static_cast<size_t>(q - begin);
  if (fixed_width_) {
    // Characters start at begin + k * width; a trailing partial character is one character.
    size_t width = record_.min_bytes;
    size_t step = avail % width;
    if (step == 0) step = width;
    const char* c = q - step;
    const char* t = c;
    char32_t ch = next(&t, q);
    *p = c;
    return ch;
  }
  size_t window = record_.max_bytes < avail ? record_.max_bytes : avail;
  if (window == 0) window = 1;
  // The nearest candidate whose decoding is a real character ending exactly at q wins. When every
  // candidate that ends at q decodes to U+FFFD, the furthest one is taken: a genuine U+FFFD (EF BF BD)
  // or a truncated sequence, which a forward decoding reads as one character too.
  const char* fffd = nullptr;
  for (size_t k = 1; k <= window; ++k) {
    const char* c = q - k;
    const char* t = c;
    char32_t ch = next(&t, q);
    if (t != q) continue;
    if (ch != kReplacement) {
      *p = c;
      return ch;
    }
    fffd = c;
  }
  *p = fffd ? fffd : q - 1;
  return kReplacement;
}

// =============================================================================================
// Binary
// =============================================================================================

Binary::Binary(const charset_st& record, bool flagged) : Charset(record, flagged) {
  QZ_TRACE;
}
Binary::~Binary() {
  QZ_TRACE;
}

int Binary::calculate(const char* src, const char* end, const Charset*, size_t* out_bytes, CstranRecovery) const {
  QZ_TRACE;
  *out_bytes = static_cast<size_t>(end - src);
  return 0;
}

int Binary::convert(const char** src, const char* end, char** dst, const char* dst_end, const Charset*,
                    CstranRecovery) const {
  QZ_TRACE;
  size_t n = static_cast<size_t>(end - *src);
  size_t room = static_cast<size_t>(dst_end - *dst);
  if (room < n) n = room;
  if (n) memmove(*dst, *src, n);
  *src += n;
  *dst += n;
  return 0;
}

char32_t Binary::next(const char** p, const char* end) const {
  QZ_TRACE;
  QZ_ASSERT(*p < end);
  char32_t c = static_cast<char32_t>(static_cast<int32_t>(static_cast<int8_t>(**p)));
  ++*p;
  return c;
}

void Binary::verify(const char*, size_t size, size_t* valid_bytes, size_t* valid_chars, size_t*, size_t*) const {
  QZ_TRACE;
  *valid_bytes += size;
  *valid_chars += size;
}

// =============================================================================================
// Manual_SBCSCharset
// =============================================================================================

Manual_SBCSCharset::Manual_SBCSCharset(const charset_st& record, bool flagged, const uint16_t* map,
                                       uint8_t substitution)
    : Charset(record, flagged), map_(map), substitution_(substitution) {
  QZ_TRACE;
  for (int b = 0; b < 256; ++b) {
    char16_t u = map_[b];
    if (u == kReplacement) continue;
    std::unique_ptr<int16_t[]>& page = reverse_[u >> 8];
    if (!page) {
      page.reset(new int16_t[256]);
      for (int i = 0; i < 256; ++i) page[i] = -1;
    }
    if (page[u & 0xFF] < 0) page[u & 0xFF] = static_cast<int16_t>(b);
  }
}

Manual_SBCSCharset::~Manual_SBCSCharset() {
  QZ_TRACE;
}

char32_t Manual_SBCSCharset::next(const char** p, const char* end) const {
  QZ_TRACE;
  QZ_ASSERT(*p < end);
  char32_t c = map_[static_cast<uint8_t>(**p)];
  ++*p;
  return c;
}

void Manual_SBCSCharset::verify(const char* data, size_t size, size_t* valid_bytes, size_t* valid_chars,
                                size_t* invalid_chars, size_t* first_invalid) const {
  QZ_TRACE;
  size_t valid = 0;
  for (size_t i = 0; i < size; ++i) {
    if (map_[static_cast<uint8_t>(data[i])] == kReplacement) {
      ++*invalid_chars;
      if (*first_invalid == 0) *first_invalid = i + 1;
    } else {
      ++valid;
    }
  }
  *valid_bytes += valid;
  *valid_chars += valid;
}

CstranError Manual_SBCSCharset::out(const char** src, const char* end, char16_t** dst,
                                    const char16_t* dst_end) const {
  QZ_TRACE;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(*src);
  const uint8_t* e = reinterpret_cast<const uint8_t*>(end);
  char16_t* d = *dst;
  while (s < e && d < dst_end) *d++ = map_[*s++];
  *src = reinterpret_cast<const char*>(s);
  *dst = d;
  return s < e ? -1 : 0;
}

CstranError Manual_SBCSCharset::in(const char16_t** src, const char16_t* end, char** dst, const char* dst_end,
                                   CstranRecovery rec) const {
  QZ_TRACE;
  const char16_t* s = *src;
  char* d = *dst;
  while (s < end) {
    if (d >= dst_end) {
      *src = s;
      *dst = d;
      return -1;
    }
    int b = reverse(*s);
    if (b < 0) {
      if (rec != 0) return 1;  // progress not stored: both pointers keep their entry values
      b = substitution_;
    }
    *d++ = static_cast<char>(b);
    ++s;
  }
  *src = s;
  *dst = d;
  return 0;
}

// =============================================================================================
// _ICUConverterCharset
// =============================================================================================

_ICUConverterCharset::_ICUConverterCharset(const charset_st& record, bool flagged)
    : Charset(record, flagged), serial_(g_next_serial.fetch_add(1)) {
  QZ_TRACE;
  QZ_ASSERT(record.icu_name != nullptr);
  std::call_once(opened_, [this] { open_shared(); });
}

_ICUConverterCharset::_ICUConverterCharset(const charset_st& record, bool flagged, int utf_width)
    : Charset(record, flagged), utf_width_(utf_width), serial_(g_next_serial.fetch_add(1)) {
  QZ_TRACE;
  QZ_ASSERT(record.icu_name != nullptr);
}

_ICUConverterCharset::~_ICUConverterCharset() {
  QZ_TRACE;
  // Clones of other threads are closed when those threads end; their serial is never reused.
  erase_clone(serial_);
  if (UConverter* shared = shared_.load(std::memory_order_acquire)) ucnv_close(shared);
}

void _ICUConverterCharset::open_shared() const {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* shared = ucnv_open(record().icu_name, &status);
  if (U_FAILURE(status) || !shared) {
    if (shared) ucnv_close(shared);
    throw_assert_failed();  // call_once lets the next caller try again
  }
  shared_.store(shared, std::memory_order_release);
}

UConverter* _ICUConverterCharset::shared_converter() const {
  QZ_TRACE;
  UConverter* shared = shared_.load(std::memory_order_acquire);
  if (__builtin_expect(shared == nullptr, 0)) {
    std::call_once(opened_, [this] { open_shared(); });
    shared = shared_.load(std::memory_order_acquire);
  }
  return shared;
}

UConverter* _ICUConverterCharset::thread_converter() const {
  QZ_TRACE;
  return clone_entry(serial_, shared_converter()).cnv;
}

void _ICUConverterCharset::reset_thread_converter() const {
  QZ_TRACE;
  if (CloneEntry* e = find_clone(serial_)) {
    ucnv_reset(e->cnv);
    e->from_clean = true;
  }
}

char32_t _ICUConverterCharset::next(const char** p, const char* end) const {
  QZ_TRACE;
  QZ_ASSERT(*p < end);
  CloneEntry& e = clone_entry(serial_, shared_converter());
  set_to_mode(e, MODE_STOP);
  const char* start = *p;
  UErrorCode status = U_ZERO_ERROR;
  UChar32 c = ucnv_getNextUChar(e.cnv, p, end, &status);
  if (*p <= start) *p = start + 1;  // never stand still
  if (U_FAILURE(status)) {
    ucnv_resetToUnicode(e.cnv);
    return kReplacement;
  }
  return static_cast<char32_t>(c);
}

void _ICUConverterCharset::verify(const char* data, size_t size, size_t* valid_bytes, size_t* valid_chars,
                                  size_t* invalid_chars, size_t* first_invalid) const {
  QZ_TRACE;
  CloneEntry& e = clone_entry(serial_, shared_converter());
  set_to_mode(e, MODE_STOP);
  ucnv_resetToUnicode(e.cnv);
  const char* p = data;
  const char* end = data + size;
  while (p < end) {
    const char* start = p;
    UErrorCode status = U_ZERO_ERROR;
    UChar32 c = ucnv_getNextUChar(e.cnv, &p, end, &status);
    if (status == U_INDEX_OUTOFBOUNDS_ERROR) break;
    if (p <= start) p = start + 1;
    if (U_FAILURE(status) || c == static_cast<UChar32>(kReplacement)) {
      if (U_FAILURE(status)) ucnv_resetToUnicode(e.cnv);
      ++*invalid_chars;
      if (*first_invalid == 0) *first_invalid = static_cast<size_t>(start - data) + 1;
    } else {
      ++*valid_chars;
      *valid_bytes += static_cast<size_t>(p - start);
    }
  }
  ucnv_resetToUnicode(e.cnv);
}

CstranError _ICUConverterCharset::out(const char** src, const char* end, char16_t** dst,
                                      const char16_t* dst_end) const {
  QZ_TRACE;
  CloneEntry& e = clone_entry(serial_, shared_converter());
  set_to_mode(e, MODE_SUBSTITUTE);
  UErrorCode status = U_ZERO_ERROR;
  UChar* d = reinterpret_cast<UChar*>(*dst);
  ucnv_toUnicode(e.cnv, &d, reinterpret_cast<const UChar*>(dst_end), src, end, nullptr, true, &status);
  *dst = reinterpret_cast<char16_t*>(d);
  if (status == U_BUFFER_OVERFLOW_ERROR) return -1;
  if (U_FAILURE(status)) {
    ucnv_resetToUnicode(e.cnv);
    return 1;
  }
  return 0;
}

CstranError _ICUConverterCharset::in(const char16_t** src, const char16_t* end, char** dst, const char* dst_end,
                                     CstranRecovery rec) const {
  QZ_TRACE;
  return in_chunk(src, end, dst, dst_end, rec, true);
}

CstranError _ICUConverterCharset::in_chunk(const char16_t** src, const char16_t* end, char** dst,
                                           const char* dst_end, CstranRecovery rec, bool flush) const {
  QZ_TRACE;
  if (utf_width_ != 0) {
    CloneEntry* pending = find_clone(serial_);
    if (pending == nullptr || pending->from_clean) {
      encode_utf(utf_width_, src, end, dst, dst_end);
      if (*src == end) return 0;
    }
  }
  CloneEntry& e = clone_entry(serial_, shared_converter());
  set_from_mode(e, rec != 0 ? MODE_STOP : MODE_SUBSTITUTE);
  UErrorCode status = U_ZERO_ERROR;
  const UChar* s = reinterpret_cast<const UChar*>(*src);
  ucnv_fromUnicode(e.cnv, dst, dst_end, &s, reinterpret_cast<const UChar*>(end), nullptr, flush, &status);
  *src = reinterpret_cast<const char16_t*>(s);
  e.from_clean = flush && U_SUCCESS(status);
  if (status == U_BUFFER_OVERFLOW_ERROR) return -1;
  if (U_FAILURE(status)) {
    ucnv_resetFromUnicode(e.cnv);
    e.from_clean = true;
    return 1;
  }
  return 0;
}

GenericCharset::~GenericCharset() {
  QZ_TRACE;
}
UTF8::~UTF8() {
  QZ_TRACE;
}
UTF16LE::~UTF16LE() {
  QZ_TRACE;
}
UTF32LE::~UTF32LE() {
  QZ_TRACE;
}

// =============================================================================================
// Own decoders
// =============================================================================================

char32_t UTF8::next(const char** p, const char* end) const {
  QZ_TRACE;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(*p);
  const uint8_t* e = reinterpret_cast<const uint8_t*>(end);
  QZ_ASSERT(s < e);
  uint8_t b = *s;
  if (b < 0x80) {
    *p += 1;
    return b;
  }
  if (s + 1 == e || b < 0xC2 || b > 0xF4) {
    *p += 1;
    return kReplacement;
  }
  int need;
  char32_t cp;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b <= 0xDF) {
    need = 1;
    cp = b & 0x1F;
  } else if (b <= 0xEF) {
    need = 2;
    cp = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    else if (b == 0xED) hi = 0x9F;
  } else {
    need = 3;
    cp = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    else if (b == 0xF4) hi = 0x8F;
  }
  const uint8_t* q = s + 1;
  for (int i = 0; i < need; ++i) {
    if (q == e) {
      *p = end;
      return kReplacement;
    }
    uint8_t t = *q;
    if (t < lo || t > hi) {
      *p = reinterpret_cast<const char*>(q);
      return kReplacement;
    }
    cp = (cp << 6) | (t & 0x3F);
    ++q;
    lo = 0x80;
    hi = 0xBF;
  }
  *p = reinterpret_cast<const char*>(q);
  return cp;
}

char32_t UTF16LE::next(const char** p, const char* end) const {
  QZ_TRACE;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(*p);
  const uint8_t* e = reinterpret_cast<const uint8_t*>(end);
  QZ_ASSERT(s < e);
  if (e - s < 2) {
    *p = end;
    return kReplacement;
  }
  char16_t u = static_cast<char16_t>(s[0] | (s[1] << 8));
  if (u < 0xD800 || u > 0xDFFF) {
    *p += 2;
    return u;
  }
  if (is_lead_surrogate(u) && e - s >= 4) {
    char16_t u2 = static_cast<char16_t>(s[2] | (s[3] << 8));
    if (is_trail_surrogate(u2)) {
      *p += 4;
      return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (u2 - 0xDC00);
    }
  }
  *p += 2;
  return kReplacement;
}

char32_t UTF32LE::next(const char** p, const char* end) const {
  QZ_TRACE;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(*p);
  const uint8_t* e = reinterpret_cast<const uint8_t*>(end);
  QZ_ASSERT(s < e);
  if (e - s < 4) {
    *p = end;
    return kReplacement;
  }
  char32_t c = static_cast<char32_t>(s[0]) | (static_cast<char32_t>(s[1]) << 8) |
               (static_cast<char32_t>(s[2]) << 16) | (static_cast<char32_t>(s[3]) << 24);
  *p += 4;
  return c;
}

}  // namespace qzbase
