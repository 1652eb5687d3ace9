// ryu_printf.cpp - Ryu's d2fixed and d2exp through std::to_chars (libstdc++ implements the
// precision forms of to_chars with Ryu printf).
#include "external/fcvt/ryu_printf.h"

#include <qzbase.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Ryu's spelling of the special values.
int special(double d, char* result) {
  if (std::isnan(d)) {
    std::memcpy(result, "nan", 3);
    return 3;
  }
  int n = 0;
  if (std::signbit(d)) result[n++] = '-';
  std::memcpy(result + n, "Infinity", 8);
  return n + 8;
}

// The longest text either notation can need for a precision.
size_t bound(uint32_t precision) { return 1 + 309 + 1 + static_cast<size_t>(precision) + 8; }

}  // namespace

extern "C" int d2fixed_buffered_n(double d, uint32_t precision, char* result) {
  QZ_TRACE;
  if (!std::isfinite(d)) return special(d, result);
  auto r = std::to_chars(result, result + bound(precision), d, std::chars_format::fixed,
                         static_cast<int>(precision));
  return static_cast<int>(r.ptr - result);
}

extern "C" void d2fixed_buffered(double d, uint32_t precision, char* result) {
  QZ_TRACE;
  result[d2fixed_buffered_n(d, precision, result)] = 0;
}

extern "C" int d2exp_buffered_n(double d, uint32_t precision, char* result) {
  QZ_TRACE;
  if (!std::isfinite(d)) return special(d, result);
  auto r = std::to_chars(result, result + bound(precision), d, std::chars_format::scientific,
                         static_cast<int>(precision));
  return static_cast<int>(r.ptr - result);
}

extern "C" void d2exp_buffered(double d, uint32_t precision, char* result) {
  QZ_TRACE;
  result[d2exp_buffered_n(d, precision, result)] = 0;
}
