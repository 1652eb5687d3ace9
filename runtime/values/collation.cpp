// collation.cpp - the collation kinds: character compares, the two-string compares
// under the three end-of-string policies, FNV-1a hashing and the index keys.
//
// compare (strings) and create_char_key are separate paths on purpose: string comparison in the
// language uses the unicode kinds only; the code-page kinds only build keys.
#include "values/collation.h"

#include <unicode/uchar.h>

#include <cstring>
#include <memory>

#include "values/charset_registry.h"
#include "values/string_internal.h"

namespace qzbase {

Collation* Collation::unicode_machine = nullptr;
Collation* Collation::unicode_machine_ci = nullptr;

Collation::Collation(const collation_st* record, const Charset* charset, char pad, size_t width_factor)
    : record_(record),
      colid_(record->colid),
      name_(record->name),
      codepage_(record->codepage),
      group_(record->group),
      charset_(charset),
      pad_(pad),
      width_factor_(width_factor) {
  QZ_TRACE;
}

Collation::~Collation() {
  QZ_TRACE;
}
Unicode_Machine::~Unicode_Machine() {
  QZ_TRACE;
}
Unicode_Machine_CI::~Unicode_Machine_CI() {
  QZ_TRACE;
}
Generic_Machine_Coll::~Generic_Machine_Coll() {
  QZ_TRACE;
}
Debug_Collation::~Debug_Collation() {
  QZ_TRACE;
}
Mapped_Collation::~Mapped_Collation() {
  QZ_TRACE;
}

int Collation::compare(char32_t, char32_t) const {
  QZ_TRACE;
  throw collation_not_impl();
}

size_t Collation::create_char_key(const char*, size_t, bool, char*, size_t) const {
  QZ_TRACE;
  throw collation_not_impl();
}

namespace {

constexpr uint32_t kFnvBasis = 0x811C9DC5u;
constexpr uint32_t kFnvPrime = 16777619u;

// u_toupper, with ASCII answered here: keyword maps are hashed at start-up, and ICU's case tables
// are not worth mapping in for them.
inline char32_t upper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  return static_cast<char32_t>(u_toupper(static_cast<UChar32>(c)));
}

template <bool Upper>
unsigned int fnv1a(const char* p, const char* end, const Charset* cs) {
  uint32_t h = kFnvBasis;
  if (is_utf8_charset(cs)) {
    // ASCII bytes decode to themselves: skip the virtual call for them.
    while (p < end) {
      auto b = static_cast<unsigned char>(*p);
      char32_t c;
      if (b < 0x80) {
        c = b;
        ++p;
      } else {
        c = cs->next(&p, end);
      }
      if (Upper) c = upper(c);
      h = (h ^ static_cast<uint32_t>(c)) * kFnvPrime;
    }
    return h;
  }
  while (p < end) {
    char32_t c = cs->next(&p, end);
    if (Upper) c = upper(c);
    h = (h ^ static_cast<uint32_t>(c)) * kFnvPrime;
  }
  return h;
}

// --- The two-string compare (compare_internal) -----------------------------------------------

// Charsets whose characters can be found again inside a common byte prefix without decoding from
// the start: after the first differing byte, decoding may restart at `resync`'s result, and every
// character before that point is identical on both sides.
enum class Resync { NONE, BYTE, UTF8, UTF16LE, UTF32LE };

Resync resync_kind(const Charset* cs) {
  uint64_t id = cs->csid() & 0xFFFF;
  if (id == 2) return Resync::BYTE;  // binary: one byte per character
  if (id == 36 || id == 59) return Resync::UTF8;
  if (id == 37 || id == 60) return Resync::UTF16LE;
  if (id == 39 || id == 62) return Resync::UTF32LE;
  // Single-byte code pages decode one byte at a time (UTF-7 and the DBCS pages excluded).
  if (cs->min_bytes() == 1 && cs->max_bytes() == 1 && id != 35) return Resync::BYTE;
  return Resync::NONE;
}

// Length of the common prefix of a and b (n bytes each at most), eight bytes at a time.
size_t common_prefix(const char* a, const char* b, size_t n) {
  size_t i = 0;
  while (i + 8 <= n) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return i + static_cast<size_t>(__builtin_ctzll(x ^ y) >> 3);
    i += 8;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// A position <= i (i = the length of the common prefix of the two texts that start at base) at
// which both decodings have a character boundary and every earlier character was decoded from
// the common bytes alone.
size_t resync_point(Resync kind, const char* base, size_t i) {
  switch (kind) {
    case Resync::BYTE:
      return i;
    case Resync::UTF8: {
      // A byte outside 80..BF always starts a character (the decoder never takes it as a trail);
      // the character before it ended at it. Without one within four bytes, start over.
      for (size_t k = 0; k < 4 && k < i; ++k) {
        size_t p = i - 1 - k;
        auto b = static_cast<unsigned char>(base[p]);
        if (b < 0x80 || b > 0xBF) return p;
      }
      return 0;
    }
    case Resync::UTF16LE: {
      size_t p = i & ~static_cast<size_t>(1);
      // Step back over a unit that may be the lead surrogate of a pair split by the difference.
      if (p >= 2) {
        auto hi = static_cast<unsigned char>(base[p - 1]);
        if (hi >= 0xD8 && hi <= 0xDB) p -= 2;
      }
      // The unit before p may itself pair with p - 2 .. p; a lead before a lead is a lone lead,
      // so one step back always lands on a boundary of both decodings unless p - 2 is a trail that
      // belongs to a pair starting at p - 4, which ends before p: still a boundary.
      return p;
    }
    case Resync::UTF32LE:
      return i & ~static_cast<size_t>(3);
    case Resync::NONE:
      return 0;
  }
  return 0;
}

enum class Policy { PLAIN, EXACT_ON, EXACT_OFF };

template <Policy P>
int compare_internal(const Collation* coll, const char* l, const char* le, const Charset* lcs, const char* r,
                     const char* re, const Charset* rcs) {
  bool binary = is_binary_charset(lcs) || is_binary_charset(rcs);
  if (binary) lcs = rcs = Charset::binary;
  // Fast path: the same charset on both sides: skip the common byte prefix with a word-wise
  // memcmp, then decode from a character boundary before the first difference. Identical bytes
  // decode to identical code points, which every collation orders as equal.
  if (lcs == rcs) {
    Resync kind = resync_kind(lcs);
    if (kind != Resync::NONE) {
      size_t ln = static_cast<size_t>(le - l), rn = static_cast<size_t>(re - r);
      size_t n = ln < rn ? ln : rn;
      size_t i = common_prefix(l, r, n);
      if (i == ln && ln == rn) return 0;  // identical texts
      size_t start = resync_point(kind, l, i);
      l += start;
      r += start;
    }
  }
  // UTF-8 bytes below 0x80 are their own code points: no decoder call for them.
  bool lu8 = is_utf8_charset(lcs), ru8 = is_utf8_charset(rcs);
  while (l < le && r < re) {
    char32_t a, b;
    if (lu8 && static_cast<unsigned char>(*l) < 0x80)
      a = static_cast<unsigned char>(*l++);
    else
      a = lcs->next(&l, le);
    if (ru8 && static_cast<unsigned char>(*r) < 0x80)
      b = static_cast<unsigned char>(*r++);
    else
      b = rcs->next(&r, re);
    int c = coll->compare(a, b);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  bool left_done = l >= le, right_done = r >= re;
  if (P == Policy::PLAIN) {
    if (left_done && right_done) return 0;
    return left_done ? -1 : 1;
  }
  if (P == Policy::EXACT_OFF) {
    if (right_done) return 0;
    return -1;
  }
  // EXACT ON: the rest of the longer side must be blanks (NUL for binary text).
  if (left_done && right_done) return 0;
  const char* p = left_done ? r : l;
  const char* e = left_done ? re : le;
  const Charset* cs = left_done ? rcs : lcs;
  while (p < e) {
    char32_t c = cs->next(&p, e);
    bool blank = binary ? c == 0 : u_isblank(static_cast<UChar32>(c)) != 0;
    if (!blank) return left_done ? -1 : 1;
  }
  return 0;
}

}  // namespace

unsigned int Collation::hash(const char* begin, const char* end, const Charset* cs) const {
  QZ_TRACE;
  return fnv1a<false>(begin, end, cs);
}

int Collation::compare(const char* left, const char* left_end, const Charset* left_cs, const char* right,
                       const char* right_end, const Charset* right_cs) const {
  QZ_TRACE;
  return compare_internal<Policy::PLAIN>(this, left, left_end, left_cs, right, right_end, right_cs);
}

int Collation::compare_exact_on(const char* left, const char* left_end, const Charset* left_cs,
                                const char* right, const char* right_end, const Charset* right_cs) const {
  QZ_TRACE;
  return compare_internal<Policy::EXACT_ON>(this, left, left_end, left_cs, right, right_end, right_cs);
}

int Collation::compare_exact_off(const char* left, const char* left_end, const Charset* left_cs,
                                 const char* right, const char* right_end, const Charset* right_cs) const {
  QZ_TRACE;
  return compare_internal<Policy::EXACT_OFF>(this, left, left_end, left_cs, right, right_end, right_cs);
}

size_t Collation::create_char_key(const String& text, bool pad, char* key, size_t keylen) const {
  QZ_TRACE;
  const Charset* cs = text.get_charset();
  // The text's own bytes: in the collation's charset (either instance of its record), binary, or a
  // unicode kind (no charset: the virtual operation throws).
  if (charset_ == nullptr || is_binary_charset(cs) || cs == charset_ ||
      (cs->csid() & 0xFFFF) == (charset_->csid() & 0xFFFF)) {
    return create_char_key(text.read(), text.size(), pad, key, keylen);
  }
  char buffer[256];
  const char* src = text.read();
  char* dst = buffer;
  int rc = cs->convert(&src, text.end(), &dst, buffer + sizeof buffer, charset_, 1);
  if (rc == 1) throw collation_not_impl();
  return create_char_key(buffer, static_cast<size_t>(dst - buffer), pad, key, keylen);
}

// --- Unicode_Machine_CI ------------------------------------------------------------------------

int Unicode_Machine_CI::compare(char32_t a, char32_t b) const {
  QZ_TRACE;
  if ((a | b) < 0x80) {  // ASCII: the same as u_toupper, without the call
    if (a >= 'a' && a <= 'z') a -= 32;
    if (b >= 'a' && b <= 'z') b -= 32;
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  auto ua = static_cast<char32_t>(u_toupper(static_cast<UChar32>(a)));
  auto ub = static_cast<char32_t>(u_toupper(static_cast<UChar32>(b)));
  return ua < ub ? -1 : (ua > ub ? 1 : 0);
}

unsigned int Unicode_Machine_CI::hash(const char* begin, const char* end, const Charset* cs) const {
  QZ_TRACE;
  return fnv1a<true>(begin, end, cs);
}

// --- Raw-byte keys -----------------------------------------------------------------------------

namespace {

size_t raw_key(const char* src, size_t len, bool pad, char* key, size_t keylen, char pad_byte) {
  size_t m = len < keylen ? len : keylen;
  if (m) std::memcpy(key, src, m);
  if (len < keylen && pad) {
    std::memset(key + m, static_cast<unsigned char>(pad_byte), keylen - m);
    return keylen;
  }
  return m;
}

}  // namespace

size_t Generic_Machine_Coll::create_char_key(const char* src, size_t len, bool pad, char* key,
                                             size_t keylen) const {
  QZ_TRACE;
  return raw_key(src, len, pad, key, keylen, this->pad());
}

size_t Debug_Collation::create_char_key(const char* src, size_t len, bool pad, char* key, size_t keylen) const {
  QZ_TRACE;
  return raw_key(src, len, pad, key, keylen, this->pad());
}

// --- Mapped_Collation --------------------------------------------------------------------------

Mapped_Collation::Mapped_Collation(const collation_st* record, const Charset* cs, const collation_entry_st* table,
                                   size_t n)
    : Collation(record, cs, 0, 2) {
  QZ_TRACE;
  QZ_ASSERT(n > 0);
  bool seen[256] = {};
  size_t singles = 0;
  std::memset(chars_, 0, sizeof chars_);
  for (size_t i = 0; i < n; ++i) {
    const collation_entry_st& e = table[i];
    if (e.kind == COLL_DIGRAPH || e.kind == COLL_DIGRAPH_SEC || e.kind == COLL_TRIGRAPH) continue;
    QZ_ASSERT(!seen[e.c1]);
    seen[e.c1] = true;
    chars_[e.c1] = e;
    chars_[e.c1].flags[0] = chars_[e.c1].flags[1] = 0;
    ++singles;
  }
  QZ_ASSERT(singles == 256);
  for (size_t i = 0; i < n; ++i) {
    const collation_entry_st& e = table[i];
    if (e.kind == COLL_DIGRAPH || e.kind == COLL_DIGRAPH_SEC) {
      chars_[e.c1].flags[0] = 1;
      two_[static_cast<uint32_t>(e.c1) * 256u + e.c2] = e;
    } else if (e.kind == COLL_TRIGRAPH) {
      chars_[e.c1].flags[1] = 1;
      three_[static_cast<uint32_t>(e.c1) * 65536u + static_cast<uint32_t>(e.c2) * 256u + e.c3] = e;
    }
  }
}

void Mapped_Collation::map_single_character(const uint8_t* src, size_t* pos, size_t len, KeyOut* out,
                                            int depth) const {
  QZ_TRACE;
  uint8_t c = src[*pos];
  const collation_entry_st& ce = chars_[c];
  if (ce.flags[1] && len - *pos >= 3) {
    uint32_t k = static_cast<uint32_t>(c) * 65536u + static_cast<uint32_t>(src[*pos + 1]) * 256u + src[*pos + 2];
    auto it = three_.find(k);
    if (it != three_.end()) {
      out->pri(it->second.w1);
      *pos += 3;
      return;
    }
  }
  if (ce.flags[0] && len - *pos >= 2) {
    uint32_t k = static_cast<uint32_t>(c) * 256u + src[*pos + 1];
    auto it = two_.find(k);
    if (it != two_.end()) {
      out->pri(it->second.w1);
      if (it->second.kind == COLL_DIGRAPH_SEC) out->sec(it->second.s1);
      *pos += 2;
      return;
    }
  }
  *pos += 1;
  switch (ce.kind) {
    case COLL_ONE:
      out->pri(ce.w1);
      break;
    case COLL_ONE_SEC:
      out->pri(ce.w1);
      out->sec(ce.s1);
      break;
    case COLL_EXPAND: {
      // The two expansion characters as a text of their own (they may form a digraph). A table
      // whose expansions expand again is cut after a few levels instead of recursing forever.
      if (depth >= 4) break;
      const uint8_t pair[2] = {ce.w1, ce.w2};
      size_t p = 0;
      map_single_character(pair, &p, 2, out, depth + 1);
      if (p == 1) {
        size_t q = 0;
        map_single_character(pair + 1, &q, 1, out, depth + 1);
      }
      break;
    }
    case COLL_TWO_PRI:
      out->pri(ce.w1);
      out->pri(ce.w2);
      break;
    case COLL_TWO_PRI_SEC:
      out->pri(ce.w1);
      out->pri(ce.w2);
      out->sec(ce.s1);
      break;
    case COLL_TWO_TWO:
      out->pri(ce.w1);
      out->pri(ce.w2);
      out->sec(ce.s1);
      out->sec(ce.s2);
      break;
    default:
      break;
  }
}

size_t Mapped_Collation::create_char_key(const char* src, size_t len, bool pad, char* key, size_t keylen) const {
  QZ_TRACE;
  const auto* s = reinterpret_cast<const uint8_t*>(src);
  size_t n = len;
  while (n > 0 && s[n - 1] == ' ') --n;
  size_t half = keylen / 2;
  size_t m = n < half ? n : half;
  // Every write is bounded: primaries by keylen, secondaries by a buffer of keylen bytes (an
  // expansion can emit more weights than the source has bytes).
  uint8_t small[256];
  std::unique_ptr<uint8_t[]> large;
  uint8_t* secondary = small;
  if (keylen > sizeof small) {
    large.reset(new uint8_t[keylen]);
    secondary = large.get();
  }
  KeyOut out{key, 0, keylen, secondary, 0, keylen};
  size_t pos = 0;
  // Plain characters (kinds 0 and 1, starting no multi-character entry) are mapped inline with the
  // counts in registers; the rest goes through map_single_character.
  size_t p = 0, sc = 0;
  while (pos < m && p < keylen) {
    const collation_entry_st& e = chars_[s[pos]];
    if (e.kind <= COLL_ONE_SEC && (e.flags[0] | e.flags[1]) == 0) {
      key[p++] = static_cast<char>(e.w1);
      if (sc < keylen) {  // branch-free on the kind: write always, count only for kind 1
        secondary[sc] = e.s1;
        sc += e.kind;
      }
      ++pos;
      continue;
    }
    out.p = p;
    out.s = sc;
    map_single_character(s, &pos, m, &out, 0);
    p = out.p;
    sc = out.s;
  }
  out.p = p;
  out.s = sc;
  if (n < half && !pad) return out.p;
  size_t room = keylen - out.p;
  size_t take = out.s < room ? out.s : room;
  if (take) std::memcpy(key + out.p, secondary, take);
  size_t used = out.p + take;
  if (used < keylen) std::memset(key + used, static_cast<unsigned char>(this->pad()), keylen - used);
  return keylen;
}

}  // namespace qzbase
