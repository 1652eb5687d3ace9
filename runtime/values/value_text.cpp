// value_text.cpp - Variant casts and text.
#include "values/value_text.h"

#include <unicode/ucal.h>
#include <unicode/ustring.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "values/date_format.h"
#include "values/arithmetic.h"
#include "values/julian.h"
#include "values/session_settings.h"

namespace qzbase {

// ---------------------------------------------------------------------------------------------
// Conversion steps
// ---------------------------------------------------------------------------------------------

numeric_type_st money_to_numeric(money_wide raw) {
  QZ_TRACE;
  return numeric_type_st{static_cast<double>(raw) / 10000.0, 4};
}

money_wide integer_to_money(int64_t value) {
  QZ_TRACE;
  money_wide raw = static_cast<money_wide>(value) * 10000;
  if (!money_in_range(raw)) throw_money_range();
  return raw;
}

money_wide numeric_to_money_truncated(double value) {
  QZ_TRACE;
  double scaled = std::trunc(value * 10000.0);
  // 2^95: the first magnitude that leaves a signed 96-bit integer (NaN fails the test too).
  if (!(std::fabs(scaled) < 39614081257132168796771975168.0)) throw_money_range();
  return static_cast<money_wide>(scaled);
}

int64_t money_to_int64(money_wide raw) {
  QZ_TRACE;
  money_wide units = raw / 10000;
  if (units > INT64_MAX || units < INT64_MIN) throw_money_range();
  return static_cast<int64_t>(units);
}

int64_t money_to_int64_rounded(money_wide raw) {
  QZ_TRACE;
  money_wide units = (raw < 0 ? raw - 5000 : raw + 5000) / 10000;
  if (units > INT64_MAX || units < INT64_MIN) throw_money_range();
  return static_cast<int64_t>(units);
}

uint64_t count_decimals(double x) {
  QZ_TRACE;
  if (!std::isfinite(x)) return 0;
  for (uint64_t d = 0; d < 340; ++d) {
    double p = pow10_double(d);
    if (std::round(x * p) / p == x) return d;
  }
  return 340;
}

// ---------------------------------------------------------------------------------------------
// Checked conversions
// ---------------------------------------------------------------------------------------------

bool variant_to_bool(const Variant& v) {
  QZ_TRACE;
  if (v.tag == VT_FALSE) return false;
  if (v.tag == VT_TRUE) return true;
  throw RuntimeError(107);
}

integer_type_st variant_to_integer(const Variant& v) {
  QZ_TRACE;
  return static_cast<integer_type_st>(v);
}

unsigned int variant_to_uint(const Variant& v) {
  QZ_TRACE;
  return static_cast<unsigned int>(static_cast<uint64_t>(variant_to_integer(v).value));
}

unsigned long variant_to_ulong(const Variant& v) {
  QZ_TRACE;
  return static_cast<unsigned long>(variant_to_integer(v).value);
}

numeric_type_st variant_to_numeric(const Variant& v) {
  QZ_TRACE;
  switch (v.tag) {
    case VT_INTEGER:
      return integer_to_numeric(v.integer.value);
    case VT_NUMERIC:
      return v.numeric;
    case VT_MONEY:
      return money_to_numeric(v.money.value);
    default:
      throw RuntimeError(107);
  }
}

double variant_to_double(const Variant& v) {
  QZ_TRACE;
  return variant_to_numeric(v).value;
}

money_type_st variant_to_money(const Variant& v) {
  QZ_TRACE;
  money_type_st m;
  switch (v.tag) {
    case VT_MONEY:
      return v.money;
    case VT_INTEGER:
      m.value = integer_to_money(v.integer.value);
      return m;
    case VT_NUMERIC:
      m.value = numeric_to_money_truncated(v.numeric.value);
      return m;
    default:
      throw RuntimeError(107);
  }
}

date_st variant_to_date(const Variant& v) {
  QZ_TRACE;
  if (v.tag != VT_DATE) throw RuntimeError(107);
  return v.date;
}

datetime_st variant_to_datetime(const Variant& v) {
  QZ_TRACE;
  if (v.tag != VT_DATETIME) throw RuntimeError(107);
  return v.datetime;
}

namespace {

const Variant& follow(const Variant& v) { return v.tag == VT_REFERENCE ? *v.reference.target : v; }
Variant& follow(Variant& v) { return v.tag == VT_REFERENCE ? *v.reference.target : v; }

}  // namespace

void variant_cast(const Variant& v, integer_type_st* out) {
  QZ_TRACE;
  *out = variant_to_integer(v);
}
void variant_cast(const Variant& v, numeric_type_st* out) {
  QZ_TRACE;
  *out = variant_to_numeric(v);
}
void variant_cast(const Variant& v, money_type_st* out) {
  QZ_TRACE;
  *out = variant_to_money(v);
}

void variant_cast(const Variant& v, String* out) {
  QZ_TRACE;
  const Variant& t = follow(v);
  if (t.tag != VT_STRING) throw RuntimeError(11);
  *out = t.string;
}

void variant_cast(Variant& v, String** out) {
  QZ_TRACE;
  Variant& t = follow(v);
  if (t.tag != VT_STRING) throw RuntimeError(11);
  *out = &t.string;
}

void variant_cast(Variant& v, Array** out) {
  QZ_TRACE;
  Variant& t = follow(v);
  if (t.tag != VT_ARRAY) throw RuntimeError(11);
  *out = &t.array;
}

void variant_cast(const Variant& v, date_st* out) {
  QZ_TRACE;
  const Variant& t = follow(v);
  if (t.tag == VT_DATE) {
    *out = t.date;
  } else if (t.tag == VT_DATETIME) {
    out->day = t.datetime.day;
  } else {
    throw RuntimeError(11);
  }
}

void variant_cast(const Variant& v, datetime_st* out) {
  QZ_TRACE;
  const Variant& t = follow(v);
  if (t.tag == VT_DATETIME) {
    *out = t.datetime;
  } else if (t.tag == VT_DATE) {
    out->day = t.date.day;
    out->ms = 0;
  } else {
    throw RuntimeError(11);
  }
}

// ---------------------------------------------------------------------------------------------
// Implicit casts
// ---------------------------------------------------------------------------------------------

namespace {

struct cast_rule_st {
  uint8_t tag;
  uint8_t code;
  ImplicitCast kind;
};

// The implicit-cast matrix, row by row: the codes that leave the value unchanged, then the
// conversions. Every pair not listed raises 11.
constexpr cast_rule_st kImplicitCastRules[] = {
    // 0 false
    {0, 0, CAST_KEEP}, {0, 1, CAST_KEEP}, {0, 16, CAST_KEEP}, {0, 17, CAST_KEEP},
    // 1 null
    {1, 0, CAST_KEEP}, {1, 4, CAST_KEEP}, {1, 16, CAST_KEEP}, {1, 17, CAST_KEEP}, {1, 20, CAST_KEEP},
    {1, 21, CAST_KEEP}, {1, 22, CAST_KEEP}, {1, 23, CAST_KEEP}, {1, 24, CAST_KEEP}, {1, 25, CAST_KEEP},
    {1, 26, CAST_KEEP}, {1, 27, CAST_KEEP}, {1, 28, CAST_KEEP}, {1, 29, CAST_KEEP},
    // 2 true
    {2, 0, CAST_KEEP}, {2, 1, CAST_KEEP}, {2, 16, CAST_KEEP}, {2, 17, CAST_KEEP},
    // 3 integer
    {3, 0, CAST_KEEP}, {3, 5, CAST_KEEP}, {3, 16, CAST_KEEP}, {3, 21, CAST_KEEP},
    {3, 6, CAST_INTEGER_TO_NUMERIC}, {3, 22, CAST_INTEGER_TO_NUMERIC},
    {3, 7, CAST_INTEGER_TO_MONEY}, {3, 23, CAST_INTEGER_TO_MONEY},
    // 4 numeric
    {4, 0, CAST_KEEP}, {4, 6, CAST_KEEP}, {4, 16, CAST_KEEP}, {4, 22, CAST_KEEP},
    {4, 5, CAST_NUMERIC_TO_INTEGER}, {4, 21, CAST_NUMERIC_TO_INTEGER},
    {4, 7, CAST_NUMERIC_TO_MONEY}, {4, 23, CAST_NUMERIC_TO_MONEY},
    // 5 money
    {5, 0, CAST_KEEP}, {5, 7, CAST_KEEP}, {5, 16, CAST_KEEP}, {5, 23, CAST_KEEP},
    {5, 6, CAST_MONEY_TO_NUMERIC}, {5, 22, CAST_MONEY_TO_NUMERIC},
    {5, 5, CAST_MONEY_TO_INTEGER}, {5, 21, CAST_MONEY_TO_INTEGER},
    // 6 date
    {6, 0, CAST_KEEP}, {6, 8, CAST_KEEP}, {6, 16, CAST_KEEP}, {6, 24, CAST_KEEP},
    {6, 9, CAST_DATE_TO_DATETIME}, {6, 25, CAST_DATE_TO_DATETIME},
    // 7 datetime
    {7, 0, CAST_KEEP}, {7, 9, CAST_KEEP}, {7, 16, CAST_KEEP}, {7, 25, CAST_KEEP},
    {7, 8, CAST_DATETIME_TO_DATE}, {7, 24, CAST_DATETIME_TO_DATE},
    // 10 string
    {10, 0, CAST_KEEP}, {10, 10, CAST_KEEP}, {10, 16, CAST_KEEP}, {10, 26, CAST_KEEP},
    // 11 object
    {11, 0, CAST_KEEP}, {11, 11, CAST_KEEP}, {11, 16, CAST_KEEP}, {11, 27, CAST_KEEP},
    // 12 array
    {12, 0, CAST_KEEP}, {12, 13, CAST_KEEP}, {12, 16, CAST_KEEP}, {12, 29, CAST_KEEP},
    // 13 reference
    {13, 0, CAST_KEEP}, {13, 12, CAST_KEEP}, {13, 16, CAST_KEEP}, {13, 28, CAST_KEEP},
};

struct ImplicitCastMatrix {
  ImplicitCast kind[32 * 32];
  constexpr ImplicitCastMatrix() : kind{} {
    for (const cast_rule_st& r : kImplicitCastRules) kind[r.tag * 32 + r.code] = r.kind;
  }
};

constexpr ImplicitCastMatrix kImplicitCasts;

}  // namespace

ImplicitCast implicit_cast_kind(unsigned tag, unsigned code) {
  QZ_TRACE;
  if (tag > 31 || code > 31) throw_assert_failed();
  return kImplicitCasts.kind[tag * 32 + code];
}

void variant_cast_implicitly(Variant* v, unsigned code) {
  QZ_TRACE;
  switch (implicit_cast_kind(v->tag, code)) {
    case CAST_KEEP:
      return;
    case CAST_INTEGER_TO_NUMERIC:
      v->numeric = integer_to_numeric(v->integer.value);
      v->tag = VT_NUMERIC;
      return;
    case CAST_INTEGER_TO_MONEY:
      v->money.value = integer_to_money(v->integer.value);
      v->tag = VT_MONEY;
      return;
    case CAST_NUMERIC_TO_INTEGER: {
      integer_type_st i = static_cast<integer_type_st>(*v);  // truncated; saturates beyond 64 bits
      v->integer = i;
      v->tag = VT_INTEGER;
      return;
    }
    case CAST_NUMERIC_TO_MONEY: {
      money_wide raw = numeric_to_money_truncated(v->numeric.value);
      if (!money_in_range(raw)) throw_money_range();
      v->money.value = raw;
      v->tag = VT_MONEY;
      return;
    }
    case CAST_MONEY_TO_NUMERIC:
      v->numeric = money_to_numeric(v->money.value);
      v->tag = VT_NUMERIC;
      return;
    case CAST_MONEY_TO_INTEGER: {
      int64_t i = money_to_int64(v->money.value);
      v->integer.value = i;
      v->tag = VT_INTEGER;
      return;
    }
    case CAST_DATE_TO_DATETIME: {
      uint32_t day = v->date.day;
      v->datetime.day = day;
      v->datetime.ms = 0;
      v->tag = VT_DATETIME;
      return;
    }
    case CAST_DATETIME_TO_DATE: {
      uint32_t day = v->datetime.day;
      v->raw_[0] = 0;
      v->date.day = day;
      v->tag = VT_DATE;
      return;
    }
    case CAST_ERROR:
    default:
      throw RuntimeError(11);
  }
}

// ---------------------------------------------------------------------------------------------
// Text to numbers
// ---------------------------------------------------------------------------------------------

int string_to_money(const char* text, size_t size, const Charset* cs, money_type_st* out, char32_t point,
                    char32_t /*separator*/) {
  QZ_TRACE;
  const char* p = text;
  const char* end = text + size;
  char32_t c = 0;
  bool have = false;
  auto advance = [&]() {
    have = p < end;
    c = have ? cs->next(&p, end) : 0;
  };
  advance();
  while (have && c == U' ') advance();
  bool negative = false;
  if (have && c == U'-') {
    negative = true;
    advance();
    while (have && c == U' ') advance();
  }
  money_wide raw = 0;
  auto append_digit = [&](char32_t digit) {
    money_wide next = raw * 10 + static_cast<int>(digit - U'0');
    if (!fits_int96(next)) return false;
    raw = next;
    return true;
  };
  while (have && c >= U'0' && c <= U'9') {
    if (!append_digit(c)) return 1988;
    advance();
  }
  int fraction_digits = 0;
  if (have && c == point) {
    advance();
    while (have && c >= U'0' && c <= U'9' && fraction_digits < 5) {
      if (!append_digit(c)) return 1988;
      ++fraction_digits;
      if (fraction_digits == 5) {
        raw = div_round_half_away(raw, 10);  // the fifth digit rounds; later digits are not read
        break;
      }
      advance();
    }
  }
  int scale = fraction_digits >= 4 ? 0 : 4 - fraction_digits;
  for (int i = 0; i < scale; ++i) {
    if (!append_digit(U'0')) return 1988;
  }
  if (negative) raw = -raw;
  if (!money_in_range(raw)) return 1988;
  out->value = raw;
  return 0;
}

void Decimal::to_numeric(numeric_type_st* out) const {
  QZ_TRACE;
  // The decimal text "integer.fraction", the fraction zero-padded to its digit count, read back
  // correctly rounded (no printf round trip, no locale). Like the 128-byte text it replaces, it
  // keeps at most 127 characters.
  char text[128];
  constexpr size_t kMax = sizeof text - 1;
  size_t n = 0;
  if (negative) text[n++] = '-';
  n = static_cast<size_t>(std::to_chars(text + n, text + kMax, static_cast<long>(integer)).ptr - text);
  if (n < kMax) text[n++] = '.';
  char digits_text[24];
  size_t length = static_cast<size_t>(std::to_chars(digits_text, digits_text + sizeof digits_text,
                                                    static_cast<long>(fraction)).ptr - digits_text);
  for (int64_t pad = static_cast<int64_t>(digits) - static_cast<int64_t>(length); pad > 0 && n < kMax; --pad) {
    text[n++] = '0';
  }
  for (size_t i = 0; i < length && n < kMax; ++i) text[n++] = digits_text[i];
  double value = 0;
  if (std::from_chars(text, text + n, value).ec != std::errc()) value = 0;
  out->value = value;
  out->decimals = static_cast<uint64_t>(digits);
}

void Decimal::to_money(money_type_st* out) const {
  QZ_TRACE;
  money_wide f = fraction;
  for (int32_t d = digits; d > 4; --d) f /= 10;
  for (int32_t d = digits; d < 4; ++d) f *= 10;
  money_wide raw = static_cast<money_wide>(integer) * 10000 + f;
  if (negative) raw = -raw;
  if (!money_in_range(raw)) throw_money_range();
  out->value = raw;
}

// ---------------------------------------------------------------------------------------------
// Formatting steps
// ---------------------------------------------------------------------------------------------

namespace {

// A bounded writer: every byte is checked against the capacity (one byte kept for a NUL).
struct Writer {
  char* p;
  char* end;  // last usable byte + 1 (excluding the terminator's byte)
  char* begin;
  Writer(char* buffer, size_t size) : p(buffer), end(buffer + (size ? size - 1 : 0)), begin(buffer) {
    if (size == 0) throw std::length_error("format buffer too small");
  }
  void put(char c) {
    if (p >= end) throw std::length_error("format buffer too small");
    *p++ = c;
  }
  void put(const char* s, size_t n) {
    if (static_cast<size_t>(end - p) < n) throw std::length_error("format buffer too small");
    std::memcpy(p, s, n);
    p += n;
  }
  void repeat(char c, size_t n) {
    if (static_cast<size_t>(end - p) < n) throw std::length_error("format buffer too small");
    std::memset(p, c, n);
    p += n;
  }
  // A code point in UTF-8.
  void put_utf8(char32_t cp) {
    char b[4];
    size_t n;
    if (cp < 0x80) {
      b[0] = static_cast<char>(cp);
      n = 1;
    } else if (cp < 0x800) {
      b[0] = static_cast<char>(0xC0 | (cp >> 6));
      b[1] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      b[0] = static_cast<char>(0xE0 | (cp >> 12));
      b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      b[2] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      b[0] = static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
      b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      b[3] = static_cast<char>(0x80 | (cp & 0x3F));
      n = 4;
    }
    put(b, n);
  }
  size_t finish() {
    *p = '\0';
    return static_cast<size_t>(p - begin);
  }
};

// Significant digits copied from fcvt's digit string; later positions are written as "0".
constexpr size_t kSignificantDigits = 16;
// fcvt_r gives no more fraction digits than this (glibc's limit), whatever is asked.
constexpr int kMaxFcvtDigits = 17;

}  // namespace

size_t format_integer(int64_t value, char* buffer, size_t size) {
  QZ_TRACE;
  int n = std::snprintf(buffer, size, "%ld", static_cast<long>(value));
  if (n < 0 || static_cast<size_t>(n) >= size) throw std::length_error("format buffer too small");
  return static_cast<size_t>(n);
}

size_t format_numeric(uint64_t decimals, char* buffer, size_t size, char32_t point, int default_digits, bool trim,
                      double value) {
  QZ_TRACE;
  if (std::isinf(value)) {
    // The sign stays: -1/0 must not print as if it were +1/0.
    Writer w(buffer, size);
    if (value < 0) w.put("-", 1);
    w.put("inf", 3);
    return w.finish();
  }
  if (std::isnan(value)) {
    Writer w(buffer, size);
    w.put("NaN", 3);
    return w.finish();
  }
  if (value != 0.0 && std::fabs(std::floor(std::log10(std::fabs(value)))) > 15) {
    int n = std::snprintf(buffer, size, "%lE", value);
    if (n < 0 || static_cast<size_t>(n) >= size) throw std::length_error("format buffer too small");
    return static_cast<size_t>(n);
  }

  int ndigits;
  if (decimals == free_decimals) {
    ndigits = default_digits < 0 ? 0 : default_digits;
  } else {
    numeric_type_st n{value, decimals};
    numeric_round(&n, decimals);
    value = n.value;
    ndigits = decimals > static_cast<uint64_t>(kMaxFcvtDigits) ? kMaxFcvtDigits : static_cast<int>(decimals);
  }
  if (ndigits > kMaxFcvtDigits) ndigits = kMaxFcvtDigits;

  char digits[128];
  int position = 0, sign = 0;
  if (fcvt_r(value, ndigits, &position, &sign, digits, sizeof digits) != 0) {
    throw std::length_error("fcvt_r buffer too small");
  }
  size_t count = std::strlen(digits);
  // Only the first 16 digits are significant; later positions are written as "0".
  for (size_t i = kSignificantDigits; i < count; ++i) digits[i] = '0';

  // The digits after the point: from `position` on (all of them when position <= 0).
  size_t fraction_begin = position > 0 ? static_cast<size_t>(position) : 0;
  if (fraction_begin > count) fraction_begin = count;
  bool drop_fraction = false;
  if (trim) {
    drop_fraction = true;
    for (size_t i = fraction_begin; i < count; ++i) {
      if (digits[i] != '0') {
        drop_fraction = false;
        break;
      }
    }
  }

  Writer w(buffer, size);
  if (value < 0) w.put('-');
  if (position <= 0) {
    if (drop_fraction) {
      w.put('0');
    } else {
      w.put('0');
      w.put_utf8(point);
      w.repeat('0', static_cast<size_t>(-position));
      w.put(digits, count);
    }
  } else {
    size_t int_digits = static_cast<size_t>(position);
    if (int_digits <= count) {
      w.put(digits, int_digits);
    } else {
      w.put(digits, count);
      w.repeat('0', int_digits - count);
    }
    if (!drop_fraction) {
      w.put_utf8(point);
      if (int_digits < count) w.put(digits + int_digits, count - int_digits);
    }
  }
  return w.finish();
}

size_t format_money(money_wide raw, char* buffer, size_t size, char32_t point, char32_t separator) {
  QZ_TRACE;
  Writer w(buffer, size);
  unsigned __int128 magnitude = raw < 0 ? -static_cast<unsigned __int128>(raw) : static_cast<unsigned __int128>(raw);
  if (raw < 0) w.put('-');
  unsigned __int128 whole = magnitude / 10000;
  unsigned frac = static_cast<unsigned>(magnitude % 10000);
  char rev[48];
  size_t n = 0;
  do {
    rev[n++] = static_cast<char>('0' + static_cast<int>(whole % 10));
    whole /= 10;
  } while (whole != 0);
  for (size_t i = n; i-- > 0;) {
    w.put(rev[i]);
    if (separator != 0 && i != 0 && i % 3 == 0) w.put_utf8(separator);
  }
  w.put_utf8(point);
  char f[5];
  std::snprintf(f, sizeof f, "%04u", frac);
  w.put(f, 4);
  return w.finish();
}

size_t format_date_iso(date_st date, char* buffer, size_t size) {
  QZ_TRACE;
  int n;
  if (date.day == 0) {
    n = std::snprintf(buffer, size, "0000-00-00");
  } else {
    int y, m, d;
    unserial_julian_date(date, &y, &m, &d);
    n = y < 0 ? std::snprintf(buffer, size, "-%04d-%02d-%02d", -y, m, d)
              : std::snprintf(buffer, size, "%04d-%02d-%02d", y, m, d);
  }
  if (n < 0 || static_cast<size_t>(n) >= size) throw std::length_error("format buffer too small");
  return static_cast<size_t>(n);
}

size_t format_datetime_iso(datetime_st dt, char* buffer, size_t size) {
  QZ_TRACE;
  int n;
  if (dt.day == 0 && dt.ms == 0) {
    n = std::snprintf(buffer, size, "0000-00-00 00:00:00");
  } else {
    int y, mo, d, h, mi, s, ms;
    unserial_julian_date(dt, &y, &mo, &d, &h, &mi, &s, &ms);
    n = y < 0 ? std::snprintf(buffer, size, "-%04d-%02d-%02d %02d:%02d:%02d", -y, mo, d, h, mi, s)
              : std::snprintf(buffer, size, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  }
  if (n < 0 || static_cast<size_t>(n) >= size) throw std::length_error("format buffer too small");
  return static_cast<size_t>(n);
}

namespace {

// A Gregorian calendar of the default zone and locale with a proleptic Gregorian change. The
// Part opens and closes one per call (about 3 us, four fifths of a date's display); here each
// thread keeps one and opens it again only when the default time zone has changed.
class ThreadCalendar {
 public:
  ~ThreadCalendar() {
    if (cal_) ucal_close(cal_);
  }
  // The calendar, cleared; RuntimeError 1001 when none opens.
  UCalendar* get() {
    UChar zone[128];
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = ucal_getDefaultTimeZone(zone, 128, &status);
    bool same_zone = U_SUCCESS(status) && len == zone_len_ && std::memcmp(zone, zone_, sizeof(UChar) * len) == 0;
    if (cal_ == nullptr || !same_zone) {
      if (cal_) ucal_close(cal_);
      cal_ = nullptr;
      zone_len_ = -1;
      status = U_ZERO_ERROR;
      UCalendar* cal = ucal_open(nullptr, -1, nullptr, UCAL_GREGORIAN, &status);
      if (U_FAILURE(status) || cal == nullptr) {
        if (cal) ucal_close(cal);
        throw RuntimeError(1001);
      }
      make_proleptic(cal);
      cal_ = cal;
      UErrorCode zs = U_ZERO_ERROR;
      int32_t n = ucal_getDefaultTimeZone(zone_, 128, &zs);
      if (U_SUCCESS(zs) && n < 128) zone_len_ = n;
    }
    ucal_clear(cal_);
    return cal_;
  }

 private:
  UCalendar* cal_ = nullptr;
  UChar zone_[128];
  int32_t zone_len_ = -1;
};

thread_local ThreadCalendar thread_calendar;

// UTF-16 to a UTF-8 String; U+202F becomes a blank when narrow_nbsp_to_blank.
String utf16_text(const std::u16string& text, bool narrow_nbsp_to_blank) {
  String out(text.size() * 3 + 1, Charset::utf8);
  char* p = out.write();
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (narrow_nbsp_to_blank && c == 0x202F) c = U' ';
    if (c < 0x80) {
      p[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
      p[n++] = static_cast<char>(0xC0 | (c >> 6));
      p[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      p[n++] = static_cast<char>(0xE0 | (c >> 12));
      p[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      p[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      p[n++] = static_cast<char>(0xF0 | (c >> 18));
      p[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      p[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      p[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(n);
  return out;
}

}  // namespace

String format_date_regional(date_st date, const date_format_st& format) {
  QZ_TRACE;
  if (date.day == 0) return format.empty;
  int y, m, d;
  unserial_julian_date(date, &y, &m, &d);
  UCalendar* cal = thread_calendar.get();
  UErrorCode status = U_ZERO_ERROR;
  ucal_setDate(cal, y, m - 1, d, &status);
  if (U_FAILURE(status)) throw RuntimeError(11);
  thread_local std::u16string text;
  if (U_FAILURE(format_date_calendar(format, cal, &text))) throw RuntimeError(11);
  return utf16_text(text, false);
}

String format_datetime_regional(datetime_st dt, const date_format_st& format) {
  QZ_TRACE;
  if (dt.day == 0) return format.empty;
  int y, mo, d, h, mi, s, ms;
  unserial_julian_date(dt, &y, &mo, &d, &h, &mi, &s, &ms);
  UCalendar* cal = thread_calendar.get();
  UErrorCode status = U_ZERO_ERROR;
  ucal_setDateTime(cal, y, mo - 1, d, h, mi, s, &status);
  if (U_FAILURE(status)) throw RuntimeError(11);
  thread_local std::u16string text;
  if (U_FAILURE(format_date_calendar(format, cal, &text))) throw RuntimeError(11);
  return utf16_text(text, true);
}

// ---------------------------------------------------------------------------------------------
// Value to text
// ---------------------------------------------------------------------------------------------

namespace {

String cut(String s, size_t n) {
  s.resize(n);
  return s;
}

String integer_text(int64_t value) {
  String s(32, Charset::ascii);
  return cut(s, format_integer(value, s.write(), 32));
}

String numeric_text(const numeric_type_st& n, char32_t point, int default_digits, bool trim) {
  String s(128, Charset::utf8);
  return cut(s, format_numeric(n.decimals, s.write(), 128, point, default_digits, trim, n.value));
}

String money_text(money_wide raw, char32_t point) {
  String s(64, Charset::utf8);
  return cut(s, format_money(raw, s.write(), 64, point, 0));
}

String object_text(const Variant& v) {
  return String(v.is_empty_object_reference() ? "null" : "object", v.is_empty_object_reference() ? 4 : 6,
                Charset::ascii);
}

String ascii(const char* text) { return String(text, std::strlen(text), Charset::ascii); }

}  // namespace

String variant_to_string(const Variant& v, bool trim) {
  QZ_TRACE;
  switch (v.tag) {
    case VT_FALSE:
      return ascii("false");
    case VT_NULL:
      return ascii("null");
    case VT_TRUE:
      return ascii("true");
    case VT_INTEGER:
      return integer_text(v.integer.value);
    case VT_NUMERIC:
      return numeric_text(v.numeric, U'.', 15, trim);
    case VT_MONEY:
      return money_text(v.money.value, U'.');
    case VT_DATE: {
      String s(36, Charset::ascii);
      return cut(s, format_date_iso(v.date, s.write(), 36));
    }
    case VT_DATETIME: {
      String s(72, Charset::ascii);
      return cut(s, format_datetime_iso(v.datetime, s.write(), 72));
    }
    case VT_STRING:
      return v.string;
    case VT_OBJECT:
      return object_text(v);
    case VT_ARRAY:
      return ascii("array");
    case VT_REFERENCE:
      return variant_to_string(*v.reference.target, trim);
    default:
      throw RuntimeError(1001);
  }
}

String variant_to_string_regional(const Variant& v, const SessionSettings& settings, Runtime* runtime, bool trim) {
  QZ_TRACE;
  switch (v.tag) {
    case VT_NUMERIC:
      return numeric_text(v.numeric, settings.decimal_point_code, static_cast<int>(settings.decimals), trim);
    case VT_MONEY:
      return money_text(v.money.value, settings.decimal_point_code);
    case VT_DATE: {
      if (runtime == nullptr) throw RuntimeError(1001);
      date_format_st f = runtime->dateFormat(static_cast<DateTimeFormat>(settings.date_format), settings.century,
                                             settings.mark);
      return format_date_regional(v.date, f);
    }
    case VT_DATETIME: {
      if (runtime == nullptr) throw RuntimeError(1001);
      date_format_st f = runtime->dateTimeFormat(static_cast<DateTimeFormat>(settings.date_format), settings.century,
                                                 settings.mark, static_cast<int>(settings.hours), settings.seconds,
                                                 ", ", ":");
      return format_datetime_regional(v.datetime, f);
    }
    case VT_REFERENCE:
      return variant_to_string_regional(*v.reference.target, settings, runtime, trim);
    case VT_FALSE:
    case VT_NULL:
    case VT_TRUE:
    case VT_INTEGER:
    case VT_STRING:
    case VT_OBJECT:
    case VT_ARRAY:
      return variant_to_string(v, trim);
    default:
      throw RuntimeError(1001);
  }
}

String variant_to_string_regional(const Variant& v, VmStack* stack, Runtime* runtime, bool trim) {
  QZ_TRACE;
  return variant_to_string_regional(v, current_settings(stack), runtime, trim);
}

String variant_to_string_regional(const Variant& v, VmStack* stack, bool trim) {
  QZ_TRACE;
  return variant_to_string_regional(v, current_settings(stack), stack ? stack_runtime_hook(stack) : nullptr, trim);
}

}  // namespace qzbase
