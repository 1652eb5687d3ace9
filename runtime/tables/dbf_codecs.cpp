// dbf_codecs.cpp - the field codecs: per type, the operations that read and write a field's bytes
// inside a record buffer, chosen once per field at open; the widths of new fields; read-only
// slots.
//
// Nullable fields get their codecs wrapped at setup (a template around the plain codec), so a
// field access is always one indirect call. Fixed-width types never allocate.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "external/fcvt/fcvt.h"
#include "tables/dbf_file.h"
#include "tables/fpt_file.h"
#include "values/arithmetic.h"
#include "values/julian.h"
#include "values/money.h"
#include "values/value_text.h"

namespace qzbase {

namespace {

inline char* at(char* record, const DbfField* f) { return record + f->displacement; }
inline const char* at(const char* record, const DbfField* f) { return record + f->displacement; }

inline uint32_t get_u32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // the library runs on little-endian x86-64 only
}
inline void put_u32(char* p, uint32_t v) { std::memcpy(p, &v, 4); }

[[noreturn]] void overflow(bool negative) {
  throw std::overflow_error(negative ? "negative overflow" : "positive overflow");
}

// --- defaults and read-only slots ---

void no_null(DbfFile*, DbfField* f, char*) { throw dbf_error_field_no_null_support(f); }
void no_variant(DbfFile*, DbfField*, const char*, Variant*) { throw dbf_error_field_incompatible(); }
size_t no_memo_size(DbfFile*, DbfField* f, const char*) { throw dbf_error_field_type_conflict(f); }
void no_logical(DbfFile*, DbfField* f, char*, bool) { throw dbf_error_field_type_conflict(f); }
void no_integer(DbfFile*, DbfField* f, char*, const integer_type_st&) { throw dbf_error_field_type_conflict(f); }
void no_numeric(DbfFile*, DbfField* f, char*, const numeric_type_st&) { throw dbf_error_field_type_conflict(f); }
void no_money(DbfFile*, DbfField* f, char*, const money_type_st&) { throw dbf_error_field_type_conflict(f); }
void no_string(DbfFile*, DbfField* f, char*, const String&) { throw dbf_error_field_type_conflict(f); }
void no_date(DbfFile*, DbfField* f, char*, const date_st&) { throw dbf_error_field_type_conflict(f); }
void no_datetime(DbfFile*, DbfField* f, char*, const datetime_st&) { throw dbf_error_field_type_conflict(f); }
void ro_integer(DbfFile*, DbfField* f, char*, const integer_type_st&) { throw dbf_error_field_readonly(f); }
void ro_numeric(DbfFile*, DbfField* f, char*, const numeric_type_st&) { throw dbf_error_field_readonly(f); }
void ro_money(DbfFile*, DbfField* f, char*, const money_type_st&) { throw dbf_error_field_readonly(f); }
void blank_zeros(DbfFile*, DbfField* f, char* r) { std::memset(at(r, f), 0, f->width); }
void blank_spaces(DbfFile*, DbfField* f, char* r) { std::memset(at(r, f), ' ', f->width); }

constexpr field_writers_st kNoWriters{&no_null,   &no_logical, &no_integer, &no_numeric,
                                      &no_money,  &no_string,  &no_date,    &no_datetime};

// Copies text into the caller's buffer; dbf_error_buffer_overflow when it does not fit.
size_t copy_out(const char* bytes, size_t n, char* buffer, size_t size) {
  if (n > size) throw dbf_error_buffer_overflow();
  if (n) std::memcpy(buffer, bytes, n);
  return n;
}

// The text of a String in the wanted charset (null: the table's, reported back).
size_t string_out(DbfFile* d, String text, char* buffer, size_t size, const Charset** charset) {
  if (*charset == nullptr) *charset = d->charset();
  if (text.get_charset() != *charset && text.get_charset() != Charset::binary && *charset != Charset::binary) {
    try {
      text.convert(*charset, CON_NONE, 1);
    } catch (const cstran_chars_lost&) {
      throw dbf_error_cptrans_char_lost();
    }
  }
  return copy_out(text.read(), text.size(), buffer, size);
}

// Generic text: the value's fixed text.
size_t generic_chars(DbfFile* d, DbfField* f, const char* r, char* buffer, size_t size, const Charset** charset) {
  Variant v;
  f->get_variant(d, f, r, &v);
  return string_out(d, variant_to_string(v), buffer, size, charset);
}

// Converts value into [dst, dst + cap) as target; returns the bytes written. A value longer than
// the room is cut at a character boundary; a character target cannot hold raises
// dbf_error_cptrans_char_lost.
size_t convert_into(const String& value, const Charset* target, char* dst, size_t cap) {
  const Charset* source = value.get_charset();
  if (source == target || source == Charset::binary || target == Charset::binary) {
    size_t n = value.size() < cap ? value.size() : cap;
    std::memcpy(dst, value.read(), n);
    return n;
  }
  const char* src = value.read();
  char* out = dst;
  int rc = source->convert(&src, value.end(), &out, dst + cap, target, 1);
  if (rc > 0) throw dbf_error_cptrans_char_lost();
  return static_cast<size_t>(out - dst);
}

// --- C ---

void c_get_fixed(DbfFile* d, DbfField* f, const char* r, Variant* out) {
  out->set_string(String(at(r, f), f->width, d->charset()));
}
void c_get_binary(DbfFile* d, DbfField* f, const char* r, Variant* out) {
  out->set_string(String(at(r, f), f->width, d->binary_charset()));
}
// The bytes of whole characters in [p, p + bytes), at most width / maximum bytes of them.
size_t c_variable_length(const Charset* cs, const char* p, size_t bytes, size_t width) {
  const char* q = p;
  const char* end = p + bytes;
  size_t limit = width / cs->max_bytes();
  for (size_t i = 0; i < limit && q < end; ++i) {
    const char* before = q;
    cs->next(&q, end);
    if (q > end || q == before) {
      q = before;
      break;
    }
  }
  return static_cast<size_t>(q - p);
}
void c_get_variable(DbfFile* d, DbfField* f, const char* r, Variant* out) {
  const char* p = at(r, f);
  out->set_string(String(p, c_variable_length(d->charset(), p, f->width, f->width), d->charset()));
}
void c_set_binary(DbfFile*, DbfField* f, char* r, const String& v) {
  char* p = at(r, f);
  size_t n = v.size() < f->width ? v.size() : f->width;
  std::memcpy(p, v.read(), n);
  std::memset(p + n, ' ', f->width - n);
}
void c_set_fixed(DbfFile* d, DbfField* f, char* r, const String& v) {
  char* p = at(r, f);
  size_t n = convert_into(v, d->charset(), p, f->width);
  std::memset(p + n, ' ', f->width - n);
}
void c_set_variable(DbfFile* d, DbfField* f, char* r, const String& v) {
  char* p = at(r, f);
  size_t n = convert_into(v, d->charset(), p, f->width);
  n = c_variable_length(d->charset(), p, n, f->width);
  std::memset(p + n, ' ', f->width - n);
}
size_t c_chars(DbfFile* d, DbfField* f, const char* r, char* buffer, size_t size, const Charset** charset) {
  Variant v;
  f->get_variant(d, f, r, &v);
  return string_out(d, v.string, buffer, size, charset);
}

// --- V and Q ---

size_t varlen_length(const DbfField* f, const char* r) {
  if ((static_cast<unsigned char>(r[f->varlen_byte]) & f->varlen_mask) == 0) return f->width;
  size_t n = static_cast<unsigned char>(at(r, f)[f->width - 1]);
  return n < f->width ? n : f->width - 1;
}
void set_varlen(DbfField* f, char* r, size_t n) {
  if (n >= f->width) {
    r[f->varlen_byte] = static_cast<char>(r[f->varlen_byte] & ~f->varlen_mask);
  } else {
    r[f->varlen_byte] = static_cast<char>(r[f->varlen_byte] | f->varlen_mask);
    at(r, f)[f->width - 1] = static_cast<char>(n);
  }
}
void v_get(DbfFile* d, DbfField* f, const char* r, Variant* out) {
  out->set_string(String(at(r, f), varlen_length(f, r), f->binary ? d->binary_charset() : d->charset()));
}
void v_set(DbfFile* d, DbfField* f, char* r, const String& v) {
  char* p = at(r, f);
  std::memset(p, ' ', f->width);
  size_t n = f->binary ? convert_into(v, Charset::binary, p, f->width) : convert_into(v, d->charset(), p, f->width);
  set_varlen(f, r, n);
}
void v_blank(DbfFile*, DbfField* f, char* r) {
  std::memset(at(r, f), f->binary ? 0 : ' ', f->width);
  set_varlen(f, r, 0);
}
void q_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  out->set_string(String(at(r, f), varlen_length(f, r), Charset::binary));
}
void q_set(DbfFile*, DbfField* f, char* r, const String& v) {
  char* p = at(r, f);
  std::memset(p, 0, f->width);
  size_t n = v.size() < f->width ? v.size() : f->width;
  std::memcpy(p, v.read(), n);
  set_varlen(f, r, n);
}
void q_blank(DbfFile*, DbfField* f, char* r) {
  std::memset(at(r, f), 0, f->width);
  set_varlen(f, r, 0);
}

// --- N and F ---

void n_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  const char* p = at(r, f);
  const char* end = p + f->width;
  while (p < end && (*p == ' ' || *p == 0)) ++p;
  if (p < end && *p == '+') ++p;
  double value = 0;
  std::from_chars(p, end, value);
  out->set_float(value, f->decimals);
}
void n_set_integer(DbfFile*, DbfField* f, char* r, const integer_type_st& v) {
  format_numeric_field(false, at(r, f), f->width, f->decimals, static_cast<double>(v.value));
}
void n_set_numeric(DbfFile*, DbfField* f, char* r, const numeric_type_st& v) {
  format_numeric_field(true, at(r, f), f->width, f->decimals, v.value);
}
double money_as_double(const money_type_st& v) {
  double d = static_cast<double>(v.value) / 10000.0;
  if (d > 1.7976931348623157e308 || d < -1.7976931348623157e308) overflow(d < 0);
  return d;
}
void n_set_money(DbfFile*, DbfField* f, char* r, const money_type_st& v) {
  format_numeric_field(true, at(r, f), f->width, f->decimals, money_as_double(v));
}

// --- B ---

void b_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  double v;
  std::memcpy(&v, at(r, f), 8);
  out->set_float(v, f->decimals);
}
void b_put(DbfField* f, char* r, double v) { std::memcpy(at(r, f), &v, 8); }
void b_set_integer(DbfFile*, DbfField* f, char* r, const integer_type_st& v) {
  b_put(f, r, static_cast<double>(v.value));
}
void b_set_numeric(DbfFile*, DbfField* f, char* r, const numeric_type_st& v) { b_put(f, r, v.value); }
void b_set_money(DbfFile*, DbfField* f, char* r, const money_type_st& v) { b_put(f, r, money_as_double(v)); }

// --- I ---

void i_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  int32_t v;
  std::memcpy(&v, at(r, f), 4);
  out->set_integer(v);
}
void i_put(DbfField* f, char* r, int64_t v) {
  if (v > INT32_MAX || v < INT32_MIN) overflow(v < 0);
  int32_t n = static_cast<int32_t>(v);
  std::memcpy(at(r, f), &n, 4);
}
void i_set_integer(DbfFile*, DbfField* f, char* r, const integer_type_st& v) { i_put(f, r, v.value); }
void i_set_numeric(DbfFile*, DbfField* f, char* r, const numeric_type_st& v) {
  numeric_type_st n = v;
  numeric_round(&n, 0);
  // A double outside the 32-bit range (or NaN) has no integer to store.
  if (!(n.value >= -2147483648.0 && n.value <= 2147483647.0)) overflow(n.value < 0);
  i_put(f, r, static_cast<int64_t>(n.value));
}
void i_set_money(DbfFile*, DbfField* f, char* r, const money_type_st& v) {
  money_wide x = v.value;
  x += x < 0 ? -5000 : 5000;
  static constexpr money_wide kLow = -static_cast<money_wide>(21474836489999LL);
  static constexpr money_wide kHigh = 21474836479999LL;
  if (x < kLow || x > kHigh) overflow(x < 0);
  i_put(f, r, static_cast<int64_t>(x / 10000));
}

// --- Y ---

void y_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  int64_t v;
  std::memcpy(&v, at(r, f), 8);
  money_type_st m;
  m.value = v;
  out->set(m);
}
void y_set_money(DbfFile*, DbfField* f, char* r, const money_type_st& v) {
  if (v.value > INT64_MAX || v.value < INT64_MIN) overflow(v.value < 0);
  int64_t n = static_cast<int64_t>(v.value);
  std::memcpy(at(r, f), &n, 8);
}
void y_set_integer(DbfFile* d, DbfField* f, char* r, const integer_type_st& v) {
  if (v.value > INT64_MAX / 10000 || v.value < INT64_MIN / 10000) overflow(v.value < 0);
  money_type_st m;
  m.value = static_cast<money_wide>(v.value) * 10000;
  y_set_money(d, f, r, m);
}
void y_set_numeric(DbfFile* d, DbfField* f, char* r, const numeric_type_st& v) {
  money_wide raw;
  if (!numeric_to_money_checked(v.decimals, v.value, &raw)) overflow(v.value < 0);
  money_type_st m;
  m.value = raw;
  y_set_money(d, f, r, m);
}
// Four decimals always; integer digits only when the integer part is not zero.
size_t y_chars(DbfFile* d, DbfField* f, const char* r, char* buffer, size_t size, const Charset** charset) {
  int64_t v;
  std::memcpy(&v, at(r, f), 8);
  bool negative = v < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char text[32];
  int n;
  if (magnitude / 10000 != 0) {
    n = std::snprintf(text, sizeof text, "%s%llu.%04llu", negative ? "-" : "",
                      static_cast<unsigned long long>(magnitude / 10000), static_cast<unsigned long long>(magnitude % 10000));
  } else {
    n = std::snprintf(text, sizeof text, "%s.%04llu", negative ? "-" : "", static_cast<unsigned long long>(magnitude));
  }
  return string_out(d, String(text, static_cast<size_t>(n), Charset::ascii), buffer, size, charset);
}

// --- D ---

void d_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  const char* p = at(r, f);
  date_st date{0};
  if (std::memcmp(p, "        ", 8) != 0) {
    int year = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
    int month = (p[4] - '0') * 10 + (p[5] - '0');
    int day = (p[6] - '0') * 10 + (p[7] - '0');
    if (year > 0 && month > 0 && day > 0) serial_julian_date(year, static_cast<unsigned>(month), static_cast<unsigned>(day), &date);
  }
  out->set(date);
}
void d_put(DbfField* f, char* r, uint32_t day) {
  char* p = at(r, f);
  if (day == 0) {
    std::memset(p, ' ', 8);
    return;
  }
  int year, month, mday;
  unserial_julian_date(date_st{day}, &year, &month, &mday);
  // Eight digits hold years 1 to 9999 only.
  if (year < 1 || year > 9999) overflow(year < 1);
  const int parts[3][2] = {{year, 4}, {month, 2}, {mday, 2}};
  for (const auto& [value, digits] : parts) {
    int v = value;
    for (int i = digits - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
    p += digits;
  }
}
void d_set_date(DbfFile*, DbfField* f, char* r, const date_st& v) { d_put(f, r, v.day); }
void d_set_datetime(DbfFile*, DbfField* f, char* r, const datetime_st& v) { d_put(f, r, v.day); }

// --- T ---

void t_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  uint32_t day = get_u32(at(r, f));
  int64_t ms = get_u32(at(r, f) + 4);
  int64_t rest = ms % 1000;
  ms -= rest;
  if (rest >= 501) ms += 1000;
  datetime_st dt{0, 0};
  // Rounding may reach midnight: that is the next day, never 86,400,000 ms of this one.
  if (day != 0 && !datetime_normalize(day, ms, &dt)) dt = datetime_st{0, 0};
  out->set(dt);
}
void t_put(DbfField* f, char* r, uint32_t day, int32_t ms) {
  put_u32(at(r, f), day);
  put_u32(at(r, f) + 4, static_cast<uint32_t>(ms));
}
void t_set_date(DbfFile*, DbfField* f, char* r, const date_st& v) { t_put(f, r, v.day, 0); }
void t_set_datetime(DbfFile*, DbfField* f, char* r, const datetime_st& v) { t_put(f, r, v.day, v.ms); }

// --- L ---

void l_get(DbfFile*, DbfField* f, const char* r, Variant* out) {
  char c = *at(r, f);
  out->set_bool(c == 'T' || c == 't' || c == 'Y' || c == 'y');
}
void l_set(DbfFile*, DbfField* f, char* r, bool v) { *at(r, f) = v ? 'T' : 'F'; }
void l_blank(DbfFile*, DbfField* f, char* r) { *at(r, f) = ' '; }

// --- M, W, G: the block pointer and the memo ---

void block_write_binary(DbfField* f, char* r, uint32_t block) { put_u32(at(r, f), block); }
uint32_t block_read_binary(DbfField* f, const char* r) { return get_u32(at(r, f)); }
void block_write_text(DbfField* f, char* r, uint32_t block) {
  if (block == 0) {
    std::memset(at(r, f), ' ', f->width);
    return;
  }
  format_numeric_field(false, at(r, f), f->width, 0, static_cast<double>(block));
}
uint32_t block_read_text(DbfField* f, const char* r) {
  if (f->width > 50) throw dbf_error_buffer_underrun();
  char text[51];
  std::memcpy(text, at(r, f), f->width);
  text[f->width] = 0;
  long v = std::strtol(text, nullptr, 10);
  return v < 0 || v > static_cast<long>(UINT32_MAX) ? 0 : static_cast<uint32_t>(v);
}

const Charset* memo_read_charset(DbfFile* d, DbfField* f) {
  if (f->type == 'M') return f->binary ? d->binary_charset() : d->charset();
  if (f->type == 'G' && f->binary && d->version() == 0x32) return d->charset();
  return Charset::binary;
}
void memo_get(DbfFile* d, DbfField* f, const char* r, Variant* out) {
  uint32_t block = f->read_block(f, r);
  const Charset* cs = memo_read_charset(d, f);
  if (block == 0 || d->memo_file() == nullptr) {
    out->set_string(String(static_cast<size_t>(0), cs));
    return;
  }
  int type = 0;
  out->set_string(d->memo_file()->load(block, cs, &type));
}
void memo_set(DbfFile* d, DbfField* f, char* r, const String& v) {
  if (d->memo_file() == nullptr) throw dbf_fpt_file_missing();
  const Charset* cs = f->type == 'M' && !f->binary ? d->charset() : Charset::binary;
  uint32_t block = d->memo_file()->store(v, cs, 1);
  f->write_block(f, r, block);
}
size_t memo_size(DbfFile* d, DbfField* f, const char* r) {
  uint32_t block = f->read_block(f, r);
  if (block == 0 || d->memo_file() == nullptr) return 0;
  return d->memo_file()->size_of(block);
}
void memo_blank(DbfFile*, DbfField* f, char* r) { std::memset(at(r, f), f->width == 4 ? 0 : ' ', f->width); }

// --- nullable wrapping ---

inline void clear_null(DbfField* f, char* r) { r[f->null_byte] = static_cast<char>(r[f->null_byte] & ~f->null_mask); }
void null_set(DbfFile*, DbfField* f, char* r) { r[f->null_byte] = static_cast<char>(r[f->null_byte] | f->null_mask); }

template <field_get_variant_fn F>
void null_get(DbfFile* d, DbfField* f, const char* r, Variant* out) {
  if (f->is_null(r)) {
    out->set_null();
    return;
  }
  F(d, f, r, out);
}
template <field_set_blank_fn F>
void null_blank(DbfFile* d, DbfField* f, char* r) {
  F(d, f, r);
  clear_null(f, r);
}
template <class V, void (*F)(DbfFile*, DbfField*, char*, V)>
void null_write(DbfFile* d, DbfField* f, char* r, V v) {
  F(d, f, r, v);
  clear_null(f, r);
}

// Installs the codecs of one type, wrapped when the field has a null bit.
struct Installer {
  DbfFile* d;
  DbfField* f;
  bool nullable() const { return f->null_byte >= 0; }

  template <field_get_variant_fn F>
  void get() {
    f->get_variant = nullable() ? &null_get<F> : F;
  }
  template <field_set_blank_fn F>
  void blank() {
    f->set_blank = nullable() ? &null_blank<F> : F;
  }
  template <field_set_logical_fn F>
  void logical() {
    f->configured.set_logical = nullable() ? &null_write<bool, F> : F;
  }
  template <field_set_integer_fn F>
  void integer() {
    f->configured.set_integer = nullable() ? &null_write<const integer_type_st&, F> : F;
  }
  template <field_set_numeric_fn F>
  void numeric() {
    f->configured.set_numeric = nullable() ? &null_write<const numeric_type_st&, F> : F;
  }
  template <field_set_money_fn F>
  void money() {
    f->configured.set_money = nullable() ? &null_write<const money_type_st&, F> : F;
  }
  template <field_set_string_fn F>
  void string() {
    f->configured.set_string = nullable() ? &null_write<const String&, F> : F;
  }
  template <field_set_date_fn F>
  void date() {
    f->configured.set_date = nullable() ? &null_write<const date_st&, F> : F;
  }
  template <field_set_datetime_fn F>
  void datetime() {
    f->configured.set_datetime = nullable() ? &null_write<const datetime_st&, F> : F;
  }
};

}  // namespace

void setup_field_codecs(DbfFile* d, DbfField* f) {
  QZ_TRACE;
  f->set_blank = &blank_zeros;
  f->get_chars = &generic_chars;
  f->get_variant = &no_variant;
  f->get_memo_size = &no_memo_size;
  f->configured = kNoWriters;
  f->write_block = nullptr;
  f->read_block = nullptr;
  if (f->null_byte >= 0) f->configured.set_null = &null_set;
  Installer in{d, f};
  const Charset* cs = d->charset();
  switch (f->type) {
    case 'C':
      f->get_chars = &c_chars;
      if (f->binary) {
        in.get<&c_get_binary>();
        in.string<&c_set_binary>();
        in.blank<&blank_zeros>();
      } else if (cs->min_bytes() == cs->max_bytes()) {
        in.get<&c_get_fixed>();
        in.string<&c_set_fixed>();
        in.blank<&blank_spaces>();
      } else {
        in.get<&c_get_variable>();
        in.string<&c_set_variable>();
        in.blank<&blank_spaces>();
      }
      break;
    case 'V':
      in.get<&v_get>();
      in.string<&v_set>();
      in.blank<&v_blank>();
      break;
    case 'Q':
      in.get<&q_get>();
      in.string<&q_set>();
      in.blank<&q_blank>();
      break;
    case 'N':
    case 'F':
      in.get<&n_get>();
      in.integer<&n_set_integer>();
      in.numeric<&n_set_numeric>();
      in.money<&n_set_money>();
      in.blank<&blank_spaces>();
      break;
    case 'B':
      in.get<&b_get>();
      in.integer<&b_set_integer>();
      in.numeric<&b_set_numeric>();
      in.money<&b_set_money>();
      in.blank<&blank_zeros>();
      break;
    case 'I':
      in.get<&i_get>();
      in.integer<&i_set_integer>();
      in.numeric<&i_set_numeric>();
      in.money<&i_set_money>();
      in.blank<&blank_zeros>();
      break;
    case 'Y':
      f->get_chars = &y_chars;
      in.get<&y_get>();
      in.integer<&y_set_integer>();
      in.numeric<&y_set_numeric>();
      in.money<&y_set_money>();
      in.blank<&blank_zeros>();
      break;
    case 'D':
      in.get<&d_get>();
      in.date<&d_set_date>();
      in.datetime<&d_set_datetime>();
      in.blank<&blank_spaces>();
      break;
    case 'T':
      in.get<&t_get>();
      in.date<&t_set_date>();
      in.datetime<&t_set_datetime>();
      in.blank<&blank_zeros>();
      break;
    case 'L':
      in.get<&l_get>();
      in.logical<&l_set>();
      in.blank<&l_blank>();
      break;
    case 'M':
    case 'W':
    case 'G':
      if (f->width == 4) {
        f->write_block = &block_write_binary;
        f->read_block = &block_read_binary;
      } else {
        f->write_block = &block_write_text;
        f->read_block = &block_read_text;
      }
      in.get<&memo_get>();
      if (!(f->type == 'G' && f->binary)) in.string<&memo_set>();
      in.blank<&memo_blank>();
      f->get_memo_size = &memo_size;
      break;
    default:  // the _NullFlags field: zeros, no reader
      break;
  }
  f->active = f->configured;
}

// --- read-only slots ---

void DbfFile::set_fields_readwrite() {
  QZ_TRACE;
  for (auto& f : all_fields) f->active = f->configured;
}

void DbfFile::set_field_readwrite(DbfField* field) {
  QZ_TRACE;
  field->active = field->configured;
}

void DbfFile::set_field_readonly(DbfField* field) {
  QZ_TRACE;
  field->active = field_writers_st{&no_null,  &no_logical, &ro_integer, &ro_numeric,
                                   &ro_money, &no_string,  &no_date,    &no_datetime};
}

void DbfFile::set_field_readonly(size_t index) {
  QZ_TRACE;
  if (index >= fields.size()) throw dbf_error_invalid_field_number();
  set_field_readonly(fields[index]);
}

void DbfFile::set_autoinc_fields_readonly() {
  QZ_TRACE;
  for (DbfField* f : autoinc_fields) set_field_readonly(f);
}

void DbfFile::set_autoinc_fields_readwrite() {
  QZ_TRACE;
  for (DbfField* f : autoinc_fields) set_field_readwrite(f);
}

// --- auto-increment ---

void DbfFile::autoinc_assign(char* record) {
  QZ_TRACE;
  for (DbfField* f : autoinc_fields) {
    Variant value;
    f->get_variant(this, f, record, &value);
    read_dbf_field_header(f);
    if (value.tag == VT_INTEGER && value.integer.value != 0) {
      if (value.integer.value >= static_cast<int64_t>(f->autoinc_next)) {
        f->autoinc_next = static_cast<uint32_t>(value.integer.value + 1);
        write_dbf_field_header(f);
      }
      continue;
    }
    // Through the configured writer: a read-only field takes its value all the same. A next
    // value beyond the integer range raises the overflow error here and is never stored.
    f->configured.set_integer(this, f, record, integer_type_st{f->autoinc_next});
    f->autoinc_next += f->autoinc_step;
    write_dbf_field_header(f);
  }
}

void DbfFile::autoinc_verify(const char* old_values, const char* new_values) {
  QZ_TRACE;
  for (DbfField* f : autoinc_fields) {
    Variant before, after;
    f->get_variant(this, f, old_values, &before);
    f->get_variant(this, f, new_values, &after);
    if (before.tag != VT_INTEGER || after.tag != VT_INTEGER || after.integer.value <= before.integer.value) continue;
    read_dbf_field_header(f);
    if (after.integer.value >= static_cast<int64_t>(f->autoinc_next)) {
      f->autoinc_next = static_cast<uint32_t>(after.integer.value + 1);
      write_dbf_field_header(f);
    }
  }
}

// --- widths of new fields ---

void create_field_layout(const Charset* cs, const fielddef_st& def, bool clamp, DbfField* f) {
  QZ_TRACE;
  auto limit = [clamp](size_t value, size_t max) -> size_t {
    if (value <= max) return value;
    if (!clamp) throw RuntimeError(1731);
    return max;
  };
  f->type = fieldinfo_letter(def.type);
  f->decimals = 0;
  f->binary = false;
  f->autoinc = false;
  size_t max_bytes = cs->max_bytes();
  switch (def.type) {
    case FIELDINFO_BLOB:
    case FIELDINFO_GENERAL:  // a binary memo, as the extended tables read it
      f->width = 4;
      break;
    case FIELDINFO_CHAR:
    case FIELDINFO_VARCHAR: {
      size_t length = def.length_omitted ? 1 : def.length;
      if (length == 0) throw RuntimeError(1731);
      size_t width = length > 254 ? 255 : length * max_bytes;  // no overflow of the product
      // Clamped to whole characters, so that the width stays a multiple of the character size.
      f->width = static_cast<uint32_t>(limit(width, 254 - 254 % max_bytes));
      f->binary = def.binary != 0;
      break;
    }
    case FIELDINFO_INTEGER:
      f->width = 4;
      f->binary = true;
      if (def.autoinc) {
        size_t step = def.autoinc_step_given ? def.autoinc_step : 1;
        size_t next = def.autoinc_next_given ? def.autoinc_next : 1;
        // The descriptor holds the step in one byte and the next value as a positive integer.
        if (step < 1 || step > 255 || next > 2147483647) throw RuntimeError(1731);
        f->autoinc = true;
        f->autoinc_step = static_cast<uint32_t>(step);
        f->autoinc_next = static_cast<uint32_t>(next);
      }
      break;
    case FIELDINFO_CURRENCY:
      f->width = 8;
      f->decimals = 4;
      break;
    case FIELDINFO_DATE:
      f->width = 8;
      break;
    case FIELDINFO_DATETIME:
      f->width = 8;
      f->binary = true;
      break;
    case FIELDINFO_DOUBLE:
      f->width = 8;
      f->decimals = def.decimals_omitted ? 2 : static_cast<uint32_t>(limit(def.decimals, 18));
      f->binary = true;
      break;
    case FIELDINFO_LOGICAL:
      f->width = 1;
      break;
    case FIELDINFO_MEMO:
      f->width = 4;
      f->binary = def.binary != 0;
      break;
    case FIELDINFO_NUMERIC:
    case FIELDINFO_FLOAT: {
      size_t width = def.length_omitted ? 10 : def.length;
      if (width == 0) throw RuntimeError(1731);
      width = limit(width, 20);
      size_t decimals = def.decimals_omitted ? 0 : def.decimals;
      if (decimals >= 256) throw RuntimeError(39);
      if (decimals >= width) {
        if (!clamp) throw RuntimeError(1731);
        decimals = width;
      }
      f->width = static_cast<uint32_t>(width);
      f->decimals = static_cast<uint32_t>(decimals);
      break;
    }
    case FIELDINFO_VARBINARY: {
      size_t length = def.length_omitted ? 1 : def.length;
      if (length == 0) throw RuntimeError(1731);
      f->width = static_cast<uint32_t>(limit(length, 254));
      break;
    }
    default:
      throw dbf_error_field_name_dup_or_inv();
  }
}

}  // namespace qzbase
