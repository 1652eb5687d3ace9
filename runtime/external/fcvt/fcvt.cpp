// fcvt.cpp - ecvt/fcvt into a caller buffer, numeric DBF fields, digit truncation.
#include "external/fcvt/fcvt.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace qzbase {

namespace {

// value / 10^e without overflowing the power (e is at most 309) and without a subnormal factor.
double scale_down(double value, int e) {
  if (e > 0) {
    if (e > 300) return value / std::pow(10.0, 300) / std::pow(10.0, e - 300);
    return value / std::pow(10.0, e);
  }
  if (e < 0) return value * std::pow(10.0, -e);  // -e is at most 307: a normal power
  return value;
}

// snprintf(buf, size, "%<width>.<decimals>lf", value) without the general conversion, for the
// values whose decimal expansion ends within the decimals: value × 10^decimals is then an
// integer, and its digits are the text. The product is exact in a long double for up to four
// decimals (5^4 needs 10 bits beside the 53 of the double). -1 for every other value.
int print_exact_fixed(char* buf, size_t size, size_t width, size_t decimals, double value) {
  static constexpr long double kScale[] = {1.0L, 10.0L, 100.0L, 1000.0L, 10000.0L};
  if (decimals >= sizeof kScale / sizeof kScale[0] || !std::isfinite(value) || size == 0) return -1;
  if (value == 0 && std::signbit(value)) return -1;  // "-0.00"
  long double scaled = static_cast<long double>(value) * kScale[decimals];
  const bool negative = scaled < 0;
  if (negative) scaled = -scaled;
  if (!(scaled < 9007199254740992.0L) || scaled != std::truncl(scaled)) return -1;
  uint64_t n = static_cast<uint64_t>(scaled);
  char digits[24];  // least significant first
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (count < decimals + 1) digits[count++] = '0';
  char text[32];
  size_t length = 0;
  if (negative) text[length++] = '-';
  for (size_t i = count; i-- > 0;) {
    text[length++] = digits[i];
    if (i == decimals && decimals > 0) text[length++] = '.';
  }
  const size_t pad = width > length ? width - length : 0;
  const size_t printed = pad + length;
  const size_t kept = printed < size - 1 ? printed : size - 1;
  for (size_t i = 0; i < kept; ++i) buf[i] = i < pad ? ' ' : text[i - pad];
  buf[kept] = 0;
  return static_cast<int>(printed);
}

}  // namespace

char* convert(char* buf, size_t bufsize, double value, int ndigits, int* decpt, int* sign,
              int fmode, size_t* len) {
  QZ_TRACE;
  *sign = std::signbit(value) ? 1 : 0;
  value = std::fabs(value);

  if (std::isinf(value) || std::isnan(value)) {
    const char* text = std::isnan(value) ? (*sign ? "-nan" : "nan") : (*sign ? "-inf" : "inf");
    size_t n = std::strlen(text);
    if (bufsize < n + 1) throw std::exception();
    std::memcpy(buf, text, n + 1);
    *len = n;
    *sign = 0;
    *decpt = 0;
    return buf;
  }

  int e;
  double x;
  if (value == 0) {
    e = fmode ? 0 : 1;
    x = 0;
  } else {
    e = static_cast<int>(std::ceil(std::log10(value)));
    if (e < -307) e = -307;
    x = scale_down(value, e);
    while (x < 0.1) {
      x *= 10;
      --e;
    }
    while (x >= 1) {
      x /= 10;
      ++e;
    }
  }

  long long n = fmode ? static_cast<long long>(ndigits) + e : ndigits;
  if (n < 0) {
    if (bufsize < 1) throw std::exception();
    buf[0] = 0;
    *len = 0;
    *decpt = fmode ? -ndigits : e;
    return buf;
  }
  *decpt = e;
  if (bufsize < static_cast<unsigned long long>(n) + 2) throw std::exception();

  const long long m = n < 16 ? n : 16;
  for (long long i = 1; i <= m; ++i) {
    x *= 10;
    double ip;
    x = std::modf(x, &ip);
    if (ip >= 10) {  // x was within an ulp of 1: the digit is 9 and the rest rounds up
      ip = 9;
      x = 1.0 - DBL_EPSILON / 2;
    }
    buf[i] = static_cast<char>('0' + static_cast<int>(ip));
  }

  // An ecvt result of no digits has nothing to round into.
  if (x >= 0.5 && (fmode || n > 0)) {
    long long i = m;
    while (i >= 1 && buf[i] == '9') buf[i--] = '0';
    if (i >= 1) {
      ++buf[i];
    } else {
      // The carry ran out of the first digit: "1" and zeros, from buf[0].
      ++*decpt;
      if (fmode) ++n;
      buf[0] = '1';
      if (n > 1) std::memset(buf + 1, '0', static_cast<size_t>(n - 1));
      buf[n] = 0;
      *len = static_cast<size_t>(n);
      return buf;
    }
  }
  if (n > m) std::memset(buf + 1 + m, '0', static_cast<size_t>(n - m));
  buf[n + 1] = 0;
  *len = static_cast<size_t>(n);
  return buf + 1;
}

char* ecvt_cross(char* buf, size_t bufsize, double value, int ndigits, int* decpt, int* sign,
                 size_t* len) {
  QZ_TRACE;
  return convert(buf, bufsize, value, ndigits, decpt, sign, 0, len);
}

char* fcvt_cross(char* buf, size_t bufsize, double value, int ndigits, int* decpt, int* sign,
                 size_t* len) {
  QZ_TRACE;
  return convert(buf, bufsize, value, ndigits, decpt, sign, 1, len);
}

void format_numeric_field(bool retry_rounded, char* dst, size_t width, size_t decimals,
                          double value) {
  QZ_TRACE;
  char format[64];
  format[0] = 0;
  // Room for width + 1 characters and the terminator (a 100-byte buffer for width up to 98).
  char local[100];
  std::string wide;
  char* buf = local;
  if (width + 2 > sizeof local) {
    wide.resize(width + 2);
    buf = wide.data();
  }
  for (;;) {
    int printed = print_exact_fixed(buf, width + 2, width, decimals, value);
    if (printed < 0) {
      if (format[0] == 0) {
        std::snprintf(format, sizeof format, "%%%lu.%lulf", static_cast<unsigned long>(width),
                      static_cast<unsigned long>(decimals));
      }
      printed = std::snprintf(buf, width + 2, format, value);
    }
    if (printed < 0) throw RuntimeError(39);
    const char* text = buf;
    size_t length = static_cast<size_t>(printed);
    if (text[0] == '0') {
      ++text;
      --length;
    }
    size_t excess = length > width ? length - width : 0;
    if (decimals > 0 ? excess > decimals + 1 : excess >= 1) throw RuntimeError(39);
    size_t kept = length < width ? length : width;
    if (retry_rounded) {
      const void* dot = std::memchr(text, '.', kept);
      if (!dot || dot == text + kept - 1) {
        retry_rounded = false;
        value = std::round(value);
        continue;
      }
    }
    // The leading "0" of a text that filled the field leaves it one short: pad on the left, so
    // that every byte of the field is written.
    size_t pad = width - kept;
    if (pad) std::memset(dst, ' ', pad);
    std::memcpy(dst + pad, text, kept);
    return;
  }
}

}  // namespace qzbase

extern "C" void trunc_insignificant_digits(uint32_t* value, size_t n) {
  QZ_TRACE;
  if (n == 0) return;
  uint32_t v = *value;
  for (size_t i = 0; i < n; ++i) v /= 10;
  for (size_t i = 0; i < n; ++i) v *= 10;
  *value = v;
}
