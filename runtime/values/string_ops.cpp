// string_ops.cpp - the text operations on String: scanning for needles, strstr,
// replacing, splitting, trimming, case mapping, comparing under a collation, character search,
// conversion to standard strings, identifiers and hexadecimal rendering.
//
// Positions and counts are characters of the searched string's charset (scan reports character
// positions). Binary text is never sent through the UTF-16 pivot, which cannot
// carry it: strmultitran copies a binary side byte for byte, and upper/lower map binary text byte
// for byte.
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "values/charset_registry.h"
#include "values/collation.h"
#include "values/string_internal.h"

namespace qzbase {

namespace {


// One unit of min_bytes bytes per character (the fixed-width fast path of scan).
inline bool fixed_width(const Charset* cs) { return cs->is_fixed_width(); }

// A needle decoded once into code points.
struct Needle {
  const char* begin;
  const char* end;
  const Charset* cs;
  std::u32string cps;
};

// UTF-8 text without a malformed sequence and without U+FFFD: a byte match of such a needle in
// UTF-8 text is exactly a code-point match at a character boundary.
bool clean_utf8(const char* p, const char* end, const Charset* cs) {
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    if (cs->next(&p, end) == 0xFFFD) return false;
  }
  return true;
}

// The needle scan over [data, end) of s. Count: whether char_pos is maintained (the
// internal users that do not read it skip the counting).
template <bool Count>
int scan_impl(const String& s, const const_string_st* needles, size_t n, size_t& char_pos, String::scan_callback cb,
              void* ctx, bool single) {
  const char* text = s.read();
  const char* end = s.end();
  const Charset* cs = s.get_charset();
  if (n == 0 || text == end) return 0;
  int hits = 0;
  auto report = [&](const char* hb, const char* he, size_t index, size_t hit_chars) {
    ++hits;
    return cb(s, hb, he, char_pos, single ? 1 : index, hit_chars, ctx);
  };

  bool same = true;
  for (size_t i = 0; i < n; ++i)
    if (needles[i].charset != cs) same = false;

  // 1. Fixed width, every needle in the same charset object: compare units directly.
  if (same && fixed_width(cs)) {
    size_t w = cs->min_bytes();
    bool stop = false;
    if (w == 1) {
      // A byte map of the needles' first bytes lets the scan skip with one test per byte.
      bool first[256] = {};
      bool any = false;
      for (size_t i = 0; i < n; ++i)
        if (needles[i].end > needles[i].begin) {
          first[static_cast<unsigned char>(*needles[i].begin)] = true;
          any = true;
        }
      if (!any) return 0;
      const char* p = text;
      while (p < end && !stop) {
        if (!first[static_cast<unsigned char>(*p)]) {
          ++p;
          if (Count) ++char_pos;
          continue;
        }
        size_t matched = n;
        for (size_t i = 0; i < n; ++i) {
          size_t len = static_cast<size_t>(needles[i].end - needles[i].begin);
          if (len == 0 || len > static_cast<size_t>(end - p)) continue;
          if (std::memcmp(p, needles[i].begin, len) == 0) {
            matched = i;
            break;
          }
        }
        if (matched == n) {
          ++p;
          if (Count) ++char_pos;
          continue;
        }
        size_t len = static_cast<size_t>(needles[matched].end - needles[matched].begin);
        if (!report(p, p + len, matched, len)) stop = true;
        p += len;
        if (Count) char_pos += len;
      }
    } else {
      const char* p = text;
      while (p + w <= end && !stop) {
        size_t matched = n;
        for (size_t i = 0; i < n; ++i) {
          size_t len = static_cast<size_t>(needles[i].end - needles[i].begin) / w * w;
          if (len == 0 || len > static_cast<size_t>(end - p)) continue;
          if (std::memcmp(p, needles[i].begin, len) == 0) {
            matched = i;
            break;
          }
        }
        if (matched == n) {
          p += w;
          if (Count) ++char_pos;
          continue;
        }
        size_t len = static_cast<size_t>(needles[matched].end - needles[matched].begin) / w * w;
        if (!report(p, p + len, matched, len / w)) stop = true;
        p += len;
        if (Count) char_pos += len / w;
      }
    }
    return hits;
  }

  // 2. UTF-8 text and needles in the same charset, every needle well formed without U+FFFD: byte
  //    matching is code-point matching (a needle's first byte is never a trail byte, so a byte match
  //    starts at a character boundary). The characters skipped are counted by decoding them.
  if (same && is_utf8_charset(cs)) {
    bool clean = true;
    bool first[256] = {};
    bool any = false;
    for (size_t i = 0; i < n && clean; ++i) {
      if (!clean_utf8(needles[i].begin, needles[i].end, cs)) clean = false;
      if (needles[i].end > needles[i].begin) {
        first[static_cast<unsigned char>(*needles[i].begin)] = true;
        any = true;
      }
    }
    if (clean) {
      if (!any) return 0;
      const char* p = text;
      const char* counted = text;  // characters before `counted` are in char_pos
      bool stop = false;
      while (p < end && !stop) {
        if (!first[static_cast<unsigned char>(*p)]) {
          ++p;
          continue;
        }
        size_t matched = n;
        for (size_t i = 0; i < n; ++i) {
          size_t len = static_cast<size_t>(needles[i].end - needles[i].begin);
          if (len == 0 || len > static_cast<size_t>(end - p)) continue;
          if (std::memcmp(p, needles[i].begin, len) == 0) {
            matched = i;
            break;
          }
        }
        if (matched == n) {
          ++p;
          continue;
        }
        size_t len = static_cast<size_t>(needles[matched].end - needles[matched].begin);
        if (Count) {
          char_pos += cs->count_chars(counted, p);
        }
        size_t hit_chars = cs->count_chars(p, p + len);
        if (!report(p, p + len, matched, hit_chars)) stop = true;
        p += len;
        if (Count) char_pos += hit_chars;
        counted = p;
      }
      if (Count && !stop && counted < end) char_pos += cs->count_chars(counted, end);
      return hits;
    }
  }

  // 3. General path: decode text and needles with their own charsets, compare code points.
  std::vector<Needle> ns(n);
  for (size_t i = 0; i < n; ++i) {
    ns[i].begin = needles[i].begin;
    ns[i].end = needles[i].end;
    ns[i].cs = needles[i].charset;
    const char* q = needles[i].begin;
    while (q < needles[i].end) ns[i].cps.push_back(needles[i].charset->next(&q, needles[i].end));
  }
  const char* p = text;
  while (p < end) {
    const char* after_first = p;
    char32_t c0 = cs->next(&after_first, end);
    size_t matched = n;
    const char* hit_end = nullptr;
    for (size_t i = 0; i < n; ++i) {
      const std::u32string& cps = ns[i].cps;
      if (cps.empty() || cps[0] != c0) continue;
      const char* q = after_first;
      size_t k = 1;
      while (k < cps.size() && q < end && cs->next(&q, end) == cps[k]) ++k;
      // k counts the characters matched; a mismatch or the end of the text stops it short.
      if (k == cps.size()) {
        matched = i;
        hit_end = q;
        break;
      }
    }
    if (matched == n) {
      p = after_first;
      if (Count) ++char_pos;
      continue;
    }
    size_t hit_chars = ns[matched].cps.size();
    bool go_on = report(p, hit_end, matched, hit_chars);
    p = hit_end;
    if (Count) char_pos += hit_chars;
    if (!go_on) break;
  }
  return hits;
}

// Bytes the text [b, e) in cs takes in target with recovery 0; a binary side or the same charset
// counts the bytes as they are.
size_t size_in(const char* b, const char* e, const Charset* cs, const Charset* target) {
  if (cs == target || is_binary_charset(cs) || is_binary_charset(target)) return static_cast<size_t>(e - b);
  size_t out = 0;
  cs->calculate(b, e, target, &out, 0);
  return out;
}

// Writes [b, e) in cs into [*dst, dst_end) in target (recovery 0); raw when either side is binary
// or the charsets are the same.
void write_in(const char* b, const char* e, const Charset* cs, const Charset* target, char** dst,
              const char* dst_end) {
  if (cs == target || is_binary_charset(cs) || is_binary_charset(target)) {
    size_t len = static_cast<size_t>(e - b);
    size_t room = static_cast<size_t>(dst_end - *dst);
    if (len > room) len = room;
    if (len) std::memcpy(*dst, b, len);
    *dst += len;
    return;
  }
  cs->convert(&b, e, dst, dst_end, target, 0);
}

inline bool is_blank(char32_t c) { return u_isblank(static_cast<UChar32>(c)) != 0; }
inline bool is_white(char32_t c) { return u_isspace(static_cast<UChar32>(c)) != 0; }

char32_t fold_ci(char32_t c) {
  return static_cast<char32_t>(u_tolower(u_toupper(static_cast<UChar32>(c))));
}

template <bool Upper>
String case_map(const String& s) {
  const Charset* cs = s.get_charset();
  if (is_binary_charset(cs)) {
    // Binary text: byte for byte, ASCII letters only (a byte of 0x80 or more decodes as a negative
    // value, which has no case); the size stays.
    String out(s.size(), cs);
    char* w = s.size() ? out.write() : nullptr;
    const char* r = s.read();
    for (size_t i = 0; i < s.size(); ++i) {
      unsigned char b = static_cast<unsigned char>(r[i]);
      if (Upper && b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
      if (!Upper && b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b + 32);
      w[i] = static_cast<char>(b);
    }
    return out;
  }
  if (is_utf8_charset(cs)) {
    // UTF-8 straight back to UTF-8, without the UTF-32 copy and the converter: ASCII bytes map
    // by arithmetic, other characters through ICU. A mapping may change a character's length
    // (U+0250 has two bytes, its upper case three), so the size is counted first.
    auto map = [](UChar32 c) { return Upper ? u_toupper(c) : u_tolower(c); };
    const char* b = s.read();
    const char* e = s.end();
    size_t size = 0;
    for (const char* p = b; p < e;) {
      if (static_cast<unsigned char>(*p) < 0x80) {
        ++size;
        ++p;
      } else {
        UChar32 m = map(static_cast<UChar32>(cs->next(&p, e)));  // the macro reads it more than once
        size += static_cast<size_t>(U8_LENGTH(m));
      }
    }
    String out(size, cs);
    auto* w = reinterpret_cast<uint8_t*>(size ? out.write() : nullptr);
    size_t i = 0;
    for (const char* p = b; p < e;) {
      auto x = static_cast<unsigned char>(*p);
      if (x < 0x80) {
        if (Upper && x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (!Upper && x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        w[i++] = x;
        ++p;
      } else {
        UChar32 m = map(static_cast<UChar32>(cs->next(&p, e)));  // the macro reads it more than once
        U8_APPEND_UNSAFE(w, i, m);
      }
    }
    return out;
  }
  size_t n = s.length();
  String u32(n * 4, Charset::utf32le);
  char* w = n ? u32.write() : nullptr;
  const char* p = s.read();
  const char* e = s.end();
  size_t i = 0;
  while (p < e && i < n) {
    char32_t c = cs->next(&p, e);
    auto m = static_cast<char32_t>(Upper ? u_toupper(static_cast<UChar32>(c)) : u_tolower(static_cast<UChar32>(c)));
    std::memcpy(w + 4 * i, &m, 4);
    ++i;
  }
  u32.resize(i * 4);
  u32.convert(cs, CON_NONE, 0);
  return u32;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scanning
// ---------------------------------------------------------------------------------------------

int String::scan(const const_string_st* needles, size_t n, size_t& char_pos, scan_callback cb, void* ctx) const {
  QZ_TRACE;
  return scan_impl<true>(*this, needles, n, char_pos, cb, ctx, false);
}

int String::scan(const const_string_st& needle, size_t& char_pos, scan_callback cb, void* ctx) const {
  QZ_TRACE;
  return scan_impl<true>(*this, &needle, 1, char_pos, cb, ctx, true);
}

bool String::strstr(const String& needle, size_t* char_pos, size_t* byte_begin, size_t* byte_end,
                    size_t skip) const {
  QZ_TRACE;
  struct Ctx {
    size_t skip;
    bool found;
    size_t pos, b, e;
    const char* base;
  } c{skip, false, 0, 0, 0, read()};
  const_string_st ns{needle.read(), needle.end(), needle.get_charset()};
  size_t pos = 0;
  scan(
      ns, pos,
      [](const String&, const char* hb, const char* he, size_t cp, size_t, size_t, void* v) {
        auto* c = static_cast<Ctx*>(v);
        if (c->skip > 0) {
          --c->skip;
          return true;
        }
        c->found = true;
        c->pos = cp;
        c->b = static_cast<size_t>(hb - c->base);
        c->e = static_cast<size_t>(he - c->base);
        return false;
      },
      &c);
  if (!c.found) return false;
  if (char_pos) *char_pos = c.pos;
  if (byte_begin) *byte_begin = c.b;
  if (byte_end) *byte_end = c.e;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Replacing and splitting
// ---------------------------------------------------------------------------------------------

String String::strmultitran(const const_string_st* search, size_t n, const const_string_st* replace) const {
  QZ_TRACE;
  const Charset* cs = charset_;
  // Replacement sizes in this string's charset: up to 16 without allocation.
  size_t small[16];
  std::unique_ptr<size_t[]> large;
  size_t* sizes = small;
  if (n > 16) {
    large.reset(new size_t[n]);
    sizes = large.get();
  }
  for (size_t i = 0; i < n; ++i) sizes[i] = size_in(replace[i].begin, replace[i].end, replace[i].charset, cs);

  struct Pass1 {
    const size_t* sizes;
    long long diff;
  } p1{sizes, 0};
  size_t pos = 0;
  int hits = scan_impl<false>(
      *this, search, n, pos,
      [](const String&, const char* hb, const char* he, size_t, size_t idx, size_t, void* v) {
        auto* c = static_cast<Pass1*>(v);
        c->diff += static_cast<long long>(c->sizes[idx]) - static_cast<long long>(he - hb);
        return true;
      },
      &p1, false);
  if (hits == 0) return String(read(), size(), cs);

  size_t total = static_cast<size_t>(static_cast<long long>(size_) + p1.diff);
  String out(total, cs);
  char* base = total ? out.write() : nullptr;
  struct Pass2 {
    const const_string_st* replace;
    const Charset* cs;
    const char* prev;  // end of the previous hit in the source
    char* dst;
    const char* dst_end;
  } p2{replace, cs, read(), base, base + total};
  pos = 0;
  scan_impl<false>(
      *this, search, n, pos,
      [](const String&, const char* hb, const char* he, size_t, size_t idx, size_t, void* v) {
        auto* c = static_cast<Pass2*>(v);
        size_t keep = static_cast<size_t>(hb - c->prev);
        size_t room = static_cast<size_t>(c->dst_end - c->dst);
        if (keep > room) keep = room;
        if (keep) std::memcpy(c->dst, c->prev, keep);
        c->dst += keep;
        const const_string_st& r = c->replace[idx];
        write_in(r.begin, r.end, r.charset, c->cs, &c->dst, c->dst_end);
        c->prev = he;
        return true;
      },
      &p2, false);
  size_t rest = static_cast<size_t>(end() - p2.prev);
  size_t room = static_cast<size_t>(p2.dst_end - p2.dst);
  if (rest > room) rest = room;
  if (rest) std::memcpy(p2.dst, p2.prev, rest);
  p2.dst += rest;
  out.resize(static_cast<size_t>(p2.dst - base));
  return out;
}

String String::strtran(String search, String replace) const {
  QZ_TRACE;
  const_string_st s{search.read(), search.end(), search.get_charset()};
  const_string_st r{replace.read(), replace.end(), replace.get_charset()};
  return strmultitran(&s, 1, &r);
}

void String::explode(const const_string_st* separators, size_t n, bool keep_separator,
                     std::list<String>* out) const {
  QZ_TRACE;
  struct Ctx {
    const String* s;
    const char* prev;
    bool keep;
    std::list<String>* out;
  } c{this, read(), keep_separator, out};
  size_t pos = 0;
  scan_impl<false>(
      *this, separators, n, pos,
      [](const String&, const char* hb, const char* he, size_t, size_t, size_t, void* v) {
        auto* c = static_cast<Ctx*>(v);
        c->out->push_back(String(*c->s, c->prev, c->keep ? he : hb));
        c->prev = he;
        return true;
      },
      &c, false);
  if (c.prev < end()) out->push_back(String(*this, c.prev, end()));
}

// ---------------------------------------------------------------------------------------------
// Case mapping, comparing, conversions
// ---------------------------------------------------------------------------------------------

String String::upper() const {
  QZ_TRACE;
  return case_map<true>(*this);
}

String String::lower() const {
  QZ_TRACE;
  return case_map<false>(*this);
}

int String::cmp(const String* other, const Collation* coll) const {
  QZ_TRACE;
  return coll->compare(read(), end(), charset_, other->read(), other->end(), other->charset_);
}

int String::cmp(const String& other, const Collation* coll) const {
  QZ_TRACE;
  return cmp(&other, coll);
}

bool String::is_empty() const {
  QZ_TRACE;
  const char* p = end();
  const char* b = read();
  while (p > b) {
    if (!is_white(charset_->prev(&p, b))) return false;
  }
  return true;
}

std::string String::u8str() const {
  QZ_TRACE;
  String copy(*this);
  copy.convert(Charset::utf8, CON_NONE, 0);
  return std::string(copy.read(), copy.size());
}

std::u16string String::u16str() const {
  QZ_TRACE;
  String copy(*this);
  copy.convert(Charset::utf16le, CON_NONE, 0);
  std::u16string r(copy.size() / 2, u'\0');
  if (!r.empty()) std::memcpy(r.data(), copy.read(), r.size() * 2);
  return r;
}

// ---------------------------------------------------------------------------------------------
// Trims (move data and size only)
// ---------------------------------------------------------------------------------------------

String& String::rtrim(char_qualifies_callback pred) {
  QZ_TRACE;
  const char* b = data_;
  const char* p = data_ + size_;
  while (p > b) {
    const char* q = p;
    if (!pred(charset_->prev(&q, b))) break;
    p = q;
  }
  size_ = static_cast<size_t>(p - data_);
  return *this;
}

String& String::ltrim(char_qualifies_callback pred) {
  QZ_TRACE;
  const char* p = data_;
  const char* e = data_ + size_;
  while (p < e) {
    const char* q = p;
    if (!pred(charset_->next(&q, e))) break;
    p = q;
  }
  size_ -= static_cast<size_t>(p - data_);
  data_ = p;
  return *this;
}

String& String::rtrim() {
  QZ_TRACE;
  return rtrim(&is_blank);
}
String& String::ltrim() {
  QZ_TRACE;
  return ltrim(&is_blank);
}

String& String::alltrim() {
  QZ_TRACE;
  ltrim();
  return rtrim();
}

String& String::ltrim_classic_space() {
  QZ_TRACE;
  return ltrim([](char32_t c) { return c == U' '; });
}
String& String::ltrim_classic_tab() {
  QZ_TRACE;
  return ltrim([](char32_t c) { return c == U'\t'; });
}
String& String::ltrim_classic_space_or_tab() {
  QZ_TRACE;
  return ltrim([](char32_t c) { return c == U' ' || c == U'\t'; });
}

String& String::rtrim_endl() {
  QZ_TRACE;
  rtrim();
  const char* b = data_;
  const char* p = data_ + size_;
  if (p == b) return *this;
  const char* q1 = p;
  char32_t last = charset_->prev(&q1, b);
  if (last != U'\r' && last != U'\n') return *this;
  const char* cut = q1;
  if (q1 > b) {
    const char* q2 = q1;
    char32_t before = charset_->prev(&q2, b);
    if ((before == U'\r' && last == U'\n') || (before == U'\n' && last == U'\r')) cut = q2;
  }
  size_ = static_cast<size_t>(cut - data_);
  return *this;
}

String& String::rtrim(const Collation* coll, enum_first_callback first, enum_next_callback next, void* ctx) {
  QZ_TRACE;
  const char* b = data_;
  for (;;) {
    bool removed = false;
    for (const String* t = first(ctx); t != nullptr; t = next(ctx)) {
      if (t->size() == 0) continue;
      const char* tb = t->read();
      const char* tp = t->end();
      const char* p = data_ + size_;
      bool match = true;
      while (tp > tb) {
        if (p <= b) {
          match = false;
          break;
        }
        char32_t tc = t->get_charset()->prev(&tp, tb);
        char32_t c = charset_->prev(&p, b);
        if (coll->compare(c, tc) != 0) {
          match = false;
          break;
        }
      }
      if (match) {
        size_ = static_cast<size_t>(p - data_);
        removed = true;
        break;
      }
    }
    if (!removed) return *this;
  }
}

String& String::ltrim(const Collation* coll, enum_first_callback first, enum_next_callback next, void* ctx) {
  QZ_TRACE;
  for (;;) {
    bool removed = false;
    const char* e = data_ + size_;
    for (const String* t = first(ctx); t != nullptr; t = next(ctx)) {
      if (t->size() == 0) continue;
      const char* tp = t->read();
      const char* te = t->end();
      const char* p = data_;
      bool match = true;
      while (tp < te) {
        if (p >= e) {
          match = false;
          break;
        }
        char32_t tc = t->get_charset()->next(&tp, te);
        char32_t c = charset_->next(&p, e);
        if (coll->compare(c, tc) != 0) {
          match = false;
          break;
        }
      }
      if (match) {
        size_ -= static_cast<size_t>(p - data_);
        data_ = p;
        removed = true;
        break;
      }
    }
    if (!removed) return *this;
  }
}

String& String::ltrim(const String& prefix) {
  QZ_TRACE;
  if (prefix.size() == 0) return *this;
  size_t bytes = size_in(prefix.read(), prefix.end(), prefix.get_charset(), charset_);
  if (bytes == 0) return *this;
  const Collation* coll = Collation::unicode_machine;
  while (size_ > 0 &&
         coll->compare_exact_off(data_, data_ + size_, charset_, prefix.read(), prefix.end(), prefix.get_charset()) == 0) {
    size_t cut = bytes < size_ ? bytes : size_;
    data_ += cut;
    size_ -= cut;
  }
  return *this;
}

// ---------------------------------------------------------------------------------------------
// Character search, identifiers, hexadecimal
// ---------------------------------------------------------------------------------------------

namespace {

template <bool Fold>
bool char_search(const String& s, char32_t c, int* index, size_t* byte_begin, size_t* byte_end) {
  const Charset* cs = s.get_charset();
  const char* b = s.read();
  const char* p = b;
  const char* e = s.end();
  char32_t want = Fold ? fold_ci(c) : c;
  int i = 0;
  while (p < e) {
    const char* start = p;
    char32_t x = cs->next(&p, e);
    if ((Fold ? fold_ci(x) : x) == want) {
      *index = i;
      *byte_begin = static_cast<size_t>(start - b);
      *byte_end = static_cast<size_t>(p - b);
      return true;
    }
    ++i;
  }
  *index = 0;
  *byte_begin = 0;
  return false;
}

}  // namespace

bool String::chrstr(char32_t c, int* index, size_t* byte_begin, size_t* byte_end) const {
  QZ_TRACE;
  return char_search<false>(*this, c, index, byte_begin, byte_end);
}

bool String::christr(char32_t c, int* index, size_t* byte_begin, size_t* byte_end) const {
  QZ_TRACE;
  return char_search<true>(*this, c, index, byte_begin, byte_end);
}

String String::symbolify(String text, bool* changed, const Charset* target) {
  QZ_TRACE;
  constexpr size_t kMax = 255;
  *changed = false;
  std::u32string out;
  const Charset* cs = text.get_charset();
  const char* p = text.read();
  const char* e = text.end();
  while (p < e && out.size() < kMax) {
    char32_t c = cs->next(&p, e);
    if (!u_isalnum(static_cast<UChar32>(c)) && c != U'_') {
      c = U'_';
      *changed = true;
    }
    out.push_back(c);
  }
  char32_t first = out.empty() ? 0 : out[0];
  if (!u_isalpha(static_cast<UChar32>(first)) && first != U'_') {
    *changed = true;
    if (!out.empty()) out[0] = U'_';
  }
  String r(reinterpret_cast<const char*>(out.data()), out.size() * 4, Charset::utf32le);
  r.convert(target, CON_NONE, 0);
  return r;
}

String stringToEncodedHexBinary(String s) {
  QZ_TRACE;
  static const char digits[] = "0123456789ABCDEF";
  String out(s.size() * 2, Charset::utf8);
  char* w = s.size() ? out.write() : nullptr;
  const char* r = s.read();
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(r[i]);
    w[2 * i] = digits[b >> 4];
    w[2 * i + 1] = digits[b & 15];
  }
  return out;
}

}  // namespace qzbase
