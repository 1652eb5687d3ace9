// number_format.cpp - numbers to fixed-width text and back: STR, TRANSFORM, VAL, and SET
// SYSFORMATS, which gives the current data session the formats of the runtime's locale.
//
// STR lays a number out right-aligned in a width of characters: the fixed notation with as many
// of the asked decimals as fit, then (numerics only) the exponent notation, then asterisks. The
// decimal point is the session's SET POINT text; the result is ASCII when that text is, else
// UTF-8.
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "builtins/text_arguments.h"
#include "builtins/text_functions.h"
#include "external/fcvt/ryu_printf.h"
#include "values/session_settings.h"
#include "values/arithmetic.h"
#include "values/string_internal.h"
#include "values/value_text.h"
#include "vm/vm_stack.h"
#include "external/fcvt/fcvt.h"

namespace qzbase {

namespace {

// A number that does not fit its width; never leaves STR.
struct str_overflow_exception {};

// The SET POINT text of the session (UTF-8) and whether it is ASCII.
struct PointText {
  const char* bytes;
  size_t size;
  bool ascii;
};

PointText point_of(const SessionSettings& settings) {
  return PointText{settings.decimal_point, std::strlen(settings.decimal_point), settings.point_is_ascii};
}

// Fraction digits beyond these are zeros for every double (its 16 significant digits end by the
// 340th place), so the digit generator is asked for at most this many and zeros pad the rest.
constexpr size_t kMaxGeneratedDecimals = 340;
// Room for the generator: 309 integer digits of the largest double, the decimals, its carry and
// terminator.
constexpr size_t kDigitBufferSize = kMaxGeneratedDecimals + 309 + 8;

// A number in fixed notation: integer digits, fraction digits and zeros after them.
struct FixedDigits {
  const char* integer = nullptr;
  size_t integer_count = 0;
  const char* fraction = nullptr;
  size_t fraction_count = 0;
  size_t fraction_zeros = 0;
  bool negative = false;

  size_t decimals() const { return fraction_count + fraction_zeros; }
  // Characters of the layout: sign, digits and the point.
  size_t needed() const { return integer_count + decimals() + (negative ? 1 : 0) + (decimals() > 0 ? 1 : 0); }
};

String asterisks(size_t width) {
  String out = allocate_text(width, Charset::ascii);
  if (width) std::memset(out.write(), '*', width);
  return out;
}

// Right-aligned in width characters: blanks, "-", the integer digits (a "0" when there are none
// and there is room), the point text and the fraction. No digits at all show as a lone "0".
String lay_out(const FixedDigits& g, size_t width, const PointText& point) {
  const Charset* cs = point.ascii ? Charset::ascii : Charset::utf8;
  if (g.integer_count == 0 && g.decimals() == 0) {
    if (width == 0) throw str_overflow_exception();
    String out = allocate_text(width, cs);
    char* w = out.write();
    std::memset(w, ' ', width - 1);
    w[width - 1] = '0';
    return out;
  }
  size_t needed = g.needed();
  QZ_ASSERT(needed <= width);
  bool zero = g.integer_count == 0 && needed < width;
  if (zero) ++needed;
  size_t blanks = width - needed;
  bool has_point = g.decimals() > 0;
  size_t bytes = width - (has_point ? 1 : 0) + (has_point ? point.size : 0);
  String out = allocate_text(bytes, cs);
  char* w = out.write();
  std::memset(w, ' ', blanks);
  w += blanks;
  if (g.negative) *w++ = '-';
  if (zero) *w++ = '0';
  if (g.integer_count) std::memcpy(w, g.integer, g.integer_count);
  w += g.integer_count;
  if (has_point) {
    std::memcpy(w, point.bytes, point.size);
    w += point.size;
    if (g.fraction_count) std::memcpy(w, g.fraction, g.fraction_count);
    w += g.fraction_count;
    std::memset(w, '0', g.fraction_zeros);
  }
  return out;
}

// The fitting loop shared by the three kinds: digits(d) gives the number at d decimals; while it
// is wider than the width the decimals shrink by the excess; without decimals left it overflows.
template <typename Digits>
String fit_fixed(size_t width, size_t decimals, const PointText& point, Digits digits) {
  // More decimals than the width never fit: starting at the width reaches the same count.
  size_t d = std::min(decimals, width);
  for (;;) {
    FixedDigits g = digits(d);
    size_t needed = g.needed();
    if (needed <= width) return lay_out(g, width, point);
    if (d == 0) throw str_overflow_exception();
    size_t excess = needed - width;
    d = excess >= d ? 0 : d - excess;
  }
}

String str_format_fixed(const numeric_type_st& value, size_t width, size_t decimals, const PointText& point) {
  char buffer[kDigitBufferSize];
  char shifted[kDigitBufferSize + kMaxGeneratedDecimals];
  return fit_fixed(width, decimals, point, [&](size_t d) {
    numeric_type_st rounded = value;
    numeric_round(&rounded, d);
    size_t generated = std::min(d, kMaxGeneratedDecimals);
    int exponent = 0;
    int sign = 0;
    size_t length = 0;
    const char* digits = fcvt_cross(buffer, sizeof buffer, rounded.value, static_cast<int>(generated), &exponent,
                                    &sign, &length);
    FixedDigits g;
    g.negative = rounded.value < 0;
    if (length == 0) return g;  // nothing at this scale: a lone "0"
    if (exponent < 0) {
      // Below 1: zeros in front make the exponent 0, so that all digits are fraction digits.
      size_t zeros = static_cast<size_t>(-exponent);
      std::memset(shifted, '0', zeros);
      std::memcpy(shifted + zeros, digits, length);
      digits = shifted;
      length += zeros;
      exponent = 0;
    }
    size_t integer = std::min(static_cast<size_t>(exponent), length);
    g.integer = digits;
    g.integer_count = integer;
    g.fraction = digits + integer;
    g.fraction_count = length - integer;
    g.fraction_zeros = d - generated;
    return g;
  });
}

// The exponent notation with as many digits after the point as fit; asterisks when even one
// does not.
String str_format_exponent(double value, size_t width, const PointText& point) {
  size_t sign = std::signbit(value) ? 1 : 0;
  if (width <= 6 + sign) return asterisks(width);
  // A finite value reaches this only for widths of a few hundred at most; a longer precision
  // adds nothing to a non-finite one.
  size_t p = std::min(width - 6 - sign, static_cast<size_t>(400));
  char text[1 + 309 + 1 + 400 + 16];
  for (;;) {
    size_t n = static_cast<size_t>(d2exp_buffered_n(value, static_cast<uint32_t>(p), text));
    if (n <= width) {
      const char* dot = static_cast<const char*>(std::memchr(text, '.', n));
      const Charset* cs = point.ascii ? Charset::ascii : Charset::utf8;
      size_t blanks = width - n;
      size_t bytes = width + (dot ? point.size - 1 : 0);
      String out = allocate_text(bytes, cs);
      char* w = out.write();
      std::memset(w, ' ', blanks);
      w += blanks;
      if (dot == nullptr) {
        std::memcpy(w, text, n);
      } else {
        size_t before = static_cast<size_t>(dot - text);
        std::memcpy(w, text, before);
        std::memcpy(w + before, point.bytes, point.size);
        std::memcpy(w + before + point.size, dot + 1, n - before - 1);
      }
      return out;
    }
    size_t excess = n - width;
    if (p <= 1 || excess >= p) return asterisks(width);
    p -= excess;
  }
}

String str_format_number(const numeric_type_st& value, size_t width, size_t decimals, const PointText& point) {
  if (!std::isfinite(value.value)) return str_format_exponent(value.value, width, point);
  try {
    return str_format_fixed(value, width, decimals, point);
  } catch (const str_overflow_exception&) {
    return str_format_exponent(value.value, width, point);
  }
}

// The decimal digits of an unsigned 128-bit magnitude into the end of buffer; returns where they
// begin (nothing for 0).
char* decimal_digits(unsigned __int128 magnitude, char* end) {
  char* p = end;
  while (magnitude != 0) {
    *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  }
  return p;
}

String str_format_integer(int64_t value, size_t width, size_t decimals, const PointText& point) {
  char buffer[24];
  char* end = buffer + sizeof buffer;
  unsigned __int128 magnitude = value < 0 ? -static_cast<unsigned __int128>(value) : value;
  char* begin = decimal_digits(magnitude, end);
  return fit_fixed(width, decimals, point, [&](size_t d) {
    FixedDigits g;
    g.negative = value < 0;
    g.integer = begin;
    g.integer_count = static_cast<size_t>(end - begin);
    g.fraction_zeros = d;
    return g;
  });
}

String str_format_money(money_wide raw, size_t width, size_t decimals, const PointText& point) {
  char buffer[48];
  return fit_fixed(width, decimals, point, [&](size_t d) {
    money_wide rounded = raw;
    money_round(&rounded, d > 4 ? 4 : static_cast<int64_t>(d));
    unsigned __int128 magnitude = rounded < 0 ? -static_cast<unsigned __int128>(rounded) : rounded;
    char* end = buffer + sizeof buffer;
    char* begin = decimal_digits(magnitude, end);
    while (end - begin < 4) *--begin = '0';  // at least the four fraction digits
    FixedDigits g;
    g.negative = rounded < 0;
    g.integer = begin;
    g.integer_count = static_cast<size_t>(end - begin) - 4;
    g.fraction = end - 4;
    g.fraction_count = std::min<size_t>(d, 4);
    g.fraction_zeros = d > 4 ? d - 4 : 0;
    return g;
  });
}

// ---------------------------------------------------------------------------------------------
// TRANSFORM pictures
// ---------------------------------------------------------------------------------------------

// A picture decoded into code points; short ones stay on the stack.
class Picture {
 public:
  explicit Picture(const String& text) {
    const Charset* cs = text.get_charset();
    size_t most = text.size() / cs->min_bytes();
    if (most > kInline) {
      heap_.reset(new char32_t[most]);
      data_ = heap_.get();
    }
    const char* p = text.read();
    const char* end = text.end();
    if (is_binary_charset(cs)) {
      while (p < end) data_[size_++] = static_cast<unsigned char>(*p++);  // raw bytes stay bytes
      return;
    }
    while (p < end) data_[size_++] = cs->next(&p, end);
  }
  char32_t* data() { return data_; }
  size_t size() const { return size_; }

 private:
  static constexpr size_t kInline = 128;
  char32_t inline_[kInline];
  std::unique_ptr<char32_t[]> heap_;
  char32_t* data_ = inline_;
  size_t size_ = 0;
};

bool is_digit_position(char32_t c) { return c == U'9' || c == U'#'; }

// Fills the picture [begin, end) with the integer value. Returns false on overflow.
bool fill_picture(char32_t* pic, size_t n, int64_t value, bool leading_zero) {
  // The last "." ends the integer positions; digit positions after it show zeros.
  size_t point = n;
  for (size_t i = n; i-- > 0;) {
    if (pic[i] == U'.') {
      point = i;
      break;
    }
  }
  bool any_integer_position = false;
  for (size_t i = 0; i < n; ++i) {
    if (!is_digit_position(pic[i])) continue;
    if (i > point) {
      pic[i] = U'0';
    } else {
      any_integer_position = true;
    }
  }
  bool negative = value < 0;
  if (!any_integer_position) return value == 0;
  char buffer[24];
  char* end = buffer + sizeof buffer;
  unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(value) : value;
  const char* digit = decimal_digits(magnitude, end);
  // The digits from the right into the integer positions.
  size_t first = point;  // the leftmost position written
  size_t i = point;
  while (end > digit) {
    while (i > 0 && !is_digit_position(pic[i - 1])) --i;
    if (i == 0) return false;  // digits left over
    pic[--i] = static_cast<char32_t>(*--end);
    first = i;
  }
  if (leading_zero) {
    size_t leftmost = n;
    for (size_t k = 0; k < first; ++k) {
      if (!is_digit_position(pic[k])) continue;
      pic[k] = U'0';
      if (leftmost == n) leftmost = k;
    }
    if (negative) {
      if (leftmost == n) return false;
      pic[leftmost] = U'-';
    }
    return true;
  }
  // Left of the first digit everything is blank: the digit positions, and the separators
  // between them (a separator with no digit position before it, such as a currency sign,
  // stays). The "-" takes the place just left of the first digit.
  bool digit_before = false;
  for (size_t k = 0; k < first; ++k) {
    if (is_digit_position(pic[k])) {
      pic[k] = U' ';
      digit_before = true;
    } else if (digit_before) {
      pic[k] = U' ';
    }
  }
  if (negative) {
    if (first == 0 || pic[first - 1] != U' ') return false;
    pic[first - 1] = U'-';
  }
  return true;
}

}  // namespace

// STR(value [, width [, decimals]]): width 10 and no decimals by default; a negative width or
// count of decimals is 11.
void bi_str(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const Variant* v = argument_value(stack, 1);
  int64_t width = argc >= 2 ? integer_argument(stack, 2) : 10;
  int64_t decimals = argc >= 3 ? integer_argument(stack, 3) : 0;
  if (width < 0 || decimals < 0) throw RuntimeError(11);
  size_t w = checked_text_size(static_cast<uint64_t>(width), 1);
  size_t d = static_cast<size_t>(decimals);
  PointText point = point_of(current_settings(stack));
  try {
    switch (v->tag) {
      case VT_INTEGER:
        result->set_string(str_format_integer(v->integer.value, w, d, point));
        return;
      case VT_NUMERIC:
        result->set_string(str_format_number(v->numeric, w, d, point));
        return;
      case VT_MONEY:
        result->set_string(str_format_money(v->money.value, w, d, point));
        return;
      default:
        throw RuntimeError(11);
    }
  } catch (const str_overflow_exception&) {
    result->set_string(asterisks(w));
  }
}

// TRANSFORM(value [, picture]): without a picture the regional text of the value. A picture
// applies to integers: "9" and "#" are digit positions, the last "." starts the decimals (shown as
// zeros), anything else is copied; "@L" in front fills with leading zeros. Digits that do not fit
// turn every digit position into "*". Other values give their plain text.
void bi_transform(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const Variant* v = argument_value(stack, 1);
  if (argc < 2 || is_null_argument(Param(stack, 2))) {
    result->set_string(variant_to_string_regional(*v, stack));
    return;
  }
  String picture_text = text_argument(stack, 2);
  Picture picture(picture_text);
  char32_t* pic = picture.data();
  size_t n = picture.size();
  bool leading_zero = false;
  if (n > 0 && pic[0] == U'@') {
    if (n < 2 || pic[1] != U'L') throw RuntimeError(1001);
    size_t skip = 2;
    while (skip < n && pic[skip] == U' ') ++skip;
    pic += skip;
    n -= skip;
    leading_zero = true;
  }
  if (v->tag != VT_INTEGER) {
    result->set_string(variant_to_string(*v));
    return;
  }
  if (!fill_picture(pic, n, v->integer.value, leading_zero)) {
    // Overflow: the picture as written, its digit positions starred.
    Picture original(picture_text);
    char32_t* again = original.data() + (pic - picture.data());
    for (size_t i = 0; i < n; ++i) {
      pic[i] = is_digit_position(again[i]) ? U'*' : again[i];
    }
  }
  // Back to the picture's charset; ASCII and UTF-8 pictures are written directly, raw bytes as
  // bytes.
  const Charset* cs = picture_text.get_charset();
  bool binary = is_binary_charset(cs);
  bool direct = binary || cs == Charset::utf8 || cs == Charset::ascii;
  String out = allocate_text(checked_text_size(n, 4), direct ? cs : Charset::utf8);
  auto* w = reinterpret_cast<uint8_t*>(n ? out.write() : nullptr);
  size_t size = 0;
  for (size_t i = 0; i < n; ++i) {
    if (binary) {
      w[size++] = static_cast<uint8_t>(pic[i]);
    } else {
      U8_APPEND_UNSAFE(w, size, pic[i]);
    }
  }
  out.resize(size);
  if (!direct) out.convert(cs, CON_NONE, 0);
  result->set_string(out);
}

// VAL(text): blanks, an optional "-" (blanks may follow it), digits, and after the session's
// decimal point further digits; anything else ends the number. An integer unless there are
// fraction digits; 0 when there are no digits. An integer part beyond 64 bits is 39.
void bi_val(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const String& s = text_argument(stack, 1);
  const Charset* cs = s.get_charset();
  const char32_t point = current_settings(stack).decimal_point_code;
  const char* p = s.read();
  const char* end = s.end();
  char32_t c = 0;
  auto advance = [&]() { c = p < end ? cs->next(&p, end) : 0; };
  advance();
  while (c == U' ') advance();
  bool negative = false;
  if (c == U'-') {
    negative = true;
    advance();
    while (c == U' ') advance();
  }
  int64_t integer = 0;
  while (c >= U'0' && c <= U'9') {
    if (__builtin_mul_overflow(integer, 10, &integer) ||
        __builtin_add_overflow(integer, static_cast<int64_t>(c - U'0'), &integer)) {
      throw RuntimeError(39);
    }
    advance();
  }
  // Fraction digits past those a 64-bit count holds are below what a double keeps: they are read
  // and dropped rather than reported as an overflow.
  constexpr int32_t kMaxFractionDigits = 18;
  int64_t fraction = 0;
  int32_t digits = 0;
  if (c == point && c != 0) {
    advance();
    while (c >= U'0' && c <= U'9') {
      if (digits < kMaxFractionDigits) {
        fraction = fraction * 10 + static_cast<int64_t>(c - U'0');
        ++digits;
      }
      advance();
    }
  }
  if (digits > 0) {
    Decimal decimal{integer, fraction, digits, negative};
    numeric_type_st n;
    decimal.to_numeric(&n);
    result->set(n);
    return;
  }
  result->set_integer(negative ? -integer : integer);
}

// SET SYSFORMATS ON: the point, separator, decimals and date settings the runtime read from the
// locale replace the current session's, and SET FDOW returns to the locale's first day. OFF does
// nothing; sessions made later start from the fixed defaults again.
void cmd_set_sysformats_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  if (argument_value(stack, 1)->tag != VT_TRUE) return;
  Runtime* runtime = stack->get_runtime();
  SessionSettings* settings = stack->session_settings;
  if (runtime == nullptr || settings == nullptr) return;
  runtime->read_locale_values();
  static_assert(sizeof settings->decimal_point == sizeof runtime->sys_point_text);
  static_assert(sizeof settings->mark == sizeof runtime->sys_mark);
  std::memcpy(settings->decimal_point, runtime->sys_point_text, sizeof settings->decimal_point);
  settings->decimal_point_code = static_cast<char32_t>(runtime->sys_point);
  settings->point_is_ascii = runtime->sys_point_ascii;
  settings->separator = static_cast<char32_t>(runtime->sys_separator);
  settings->decimals = runtime->sys_decimals;
  settings->date_format = runtime->sys_date_format;
  std::memcpy(settings->mark, runtime->sys_mark, sizeof settings->mark);
  settings->century = runtime->sys_century;
  settings->hours = runtime->sys_hours;
  settings->seconds = runtime->sys_seconds;
  runtime->fdow = runtime->sys_fdow;
}

}  // namespace qzbase
