// money.cpp - exact money steps.
#include "values/money.h"

#include <cmath>

#include "values/arithmetic.h"

namespace qzbase {

namespace {

struct Pow10Wide {
  money_wide v[kPow10WideMax + 1];
  constexpr Pow10Wide() : v{} {
    money_wide p = 1;
    for (int i = 0; i <= kPow10WideMax; ++i) {
      v[i] = p;
      if (i < kPow10WideMax) p *= 10;
    }
  }
};

constexpr Pow10Wide kPow10Wide;

// 2^95 as a double: the first magnitude that leaves a signed 96-bit integer.
constexpr double kTwo95 = 39614081257132168796771975168.0;

}  // namespace

money_wide pow10_wide(int n) {
  QZ_TRACE;
  QZ_ASSERT(n >= 0 && n <= kPow10WideMax);
  return kPow10Wide.v[n];
}

void throw_money_range() {
  QZ_TRACE;
  throw RuntimeError(1988);
}

int count_digits_int128(money_wide value, unsigned radix) {
  QZ_TRACE;
  QZ_ASSERT(radix >= 2 && radix <= 36);
  unsigned __int128 u = value < 0 ? static_cast<unsigned __int128>(-1 - value) : static_cast<unsigned __int128>(value);
  int digits = 0;
  while (u != 0) {
    u /= radix;
    ++digits;
  }
  return digits;
}

money_wide money_mul(money_wide a, money_wide b) {
  QZ_TRACE;
  money_wide p;
  if (!money_mul_checked(a, b, &p)) throw_money_range();
  return p;
}

money_wide money_mul_int(money_wide money, int64_t factor) {
  QZ_TRACE;
  money_wide p;
  if (!money_mul_int_checked(money, factor, &p)) throw_money_range();
  return p;
}

bool money_round_checked(money_wide* raw, int64_t decimals) {
  QZ_TRACE;
  if (decimals >= 4) return true;
  // 10^30 / 2 exceeds every 96-bit value: the value rounds to 0 from there on.
  if (decimals <= 4 - 30) {
    *raw = 0;
    return true;
  }
  const money_wide q = kPow10Wide.v[4 - decimals];
  if (!fits_int96(*raw)) return false;
  money_wide r = div_round_half_away(*raw, q);
  money_wide out;
  if (__builtin_mul_overflow(r, q, &out) || !fits_int96(out)) return false;
  *raw = out;
  return true;
}

void money_round(money_wide* raw, int64_t decimals) {
  QZ_TRACE;
  if (!money_round_checked(raw, decimals)) throw_money_range();
}

bool numeric_to_money_checked(uint64_t decimals, double value, money_wide* out) {
  QZ_TRACE;
  const uint64_t s = decimals < 4 ? decimals : 4;  // free decimals (all ones) count as above 4
  const double v = numeric_scaled(value, decimals, s);
  if (!(std::fabs(v) < kTwo95)) return false;  // NaN, an infinity, or beyond 96 bits
  // v is integer-valued: numeric_scaled rounds, and doubles from 2^52 on are integers.
  const money_wide raw = static_cast<money_wide>(v);
  return money_mul_checked(raw, kPow10Wide.v[4 - s], out);
}

money_wide numeric_to_money(uint64_t decimals, double value) {
  QZ_TRACE;
  money_wide out;
  if (!numeric_to_money_checked(decimals, value, &out)) throw_money_range();
  return out;
}

}  // namespace qzbase
