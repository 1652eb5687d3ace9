// money.h - the exact steps of money arithmetic, shared with the money conversions.
//
// A money value is a signed 128-bit raw value = amount x 10000. Results of operations must fit
// 63 bits plus sign (the money range, RuntimeError 1988 otherwise); intermediate values and
// products must fit a signed 96-bit integer. Products are formed exactly: a 128 x 128-bit product
// that overflows 127 bits certainly leaves 96 bits, so __builtin_mul_overflow on __int128 decides
// the 96-bit limit exactly as a 256-bit product would.
//
// Each step comes in two forms: `_checked` returns false on overflow and throws nothing; the
// plain form throws RuntimeError 1988. No std::overflow_error is ever
// thrown: nothing in the language would catch it.
#pragma once

#include <qzbase.h>

namespace qzbase {

using money_wide = __int128;

inline constexpr money_wide kMoneyRawMin = INT64_MIN;  // -922337203685477.5808
inline constexpr money_wide kMoneyRawMax = INT64_MAX;  //  922337203685477.5807
inline constexpr money_wide kInt96Max = (static_cast<money_wide>(1) << 95) - 1;
inline constexpr money_wide kInt96Min = -(static_cast<money_wide>(1) << 95);

// 10^n for n 0 .. 38 (10^38 < 2^127).
inline constexpr int kPow10WideMax = 38;
money_wide pow10_wide(int n);

// The money range: at most 63 bits plus sign.
inline bool money_in_range(money_wide raw) { return raw >= kMoneyRawMin && raw <= kMoneyRawMax; }
// The intermediate limit: a signed 96-bit integer.
inline bool fits_int96(money_wide v) { return v >= kInt96Min && v <= kInt96Max; }

// Digits of value in radix (2 .. 36); 0 for 0; a negative value counts the digits of -1 - value.
int count_digits_int128(money_wide value, unsigned radix);

// n / q rounded half away from zero (q != 0): q/2 (truncated) is added when n and q have the
// same sign and subtracted otherwise, then the quotient is truncated. |n| + |q| / 2 must fit the
// type.
inline money_wide div_round_half_away(money_wide n, money_wide q) {
  const money_wide half = q / 2;
  return ((n < 0) == (q < 0) ? n + half : n - half) / q;
}
inline int64_t div_round_half_away_i64(int64_t n, int64_t q) {
  const int64_t half = q / 2;
  return ((n < 0) == (q < 0) ? n + half : n - half) / q;
}

// Exact product of two raw values, limited to 96 bits.
inline bool money_mul_checked(money_wide a, money_wide b, money_wide* out) {
  money_wide p;
  if (__builtin_mul_overflow(a, b, &p) || !fits_int96(p)) return false;
  *out = p;
  return true;
}
inline bool money_mul_int_checked(money_wide money, int64_t factor, money_wide* out) {
  return money_mul_checked(money, static_cast<money_wide>(factor), out);
}
money_wide money_mul(money_wide a, money_wide b);
money_wide money_mul_int(money_wide money, int64_t factor);

// Rounds the raw value to `decimals` places (half away from zero); decimals >= 4 leaves it, a
// negative count rounds to 10^-decimals units. False when the rounded value leaves 96 bits.
bool money_round_checked(money_wide* raw, int64_t decimals);
void money_round(money_wide* raw, int64_t decimals);

// The raw money value of a numeric {value, decimals}: rounded at min(decimals, 4) places (free
// decimals count as more than 4) through numeric_scale, then scaled to 4 places. False for NaN,
// an infinity, or a value beyond 96 bits.
bool numeric_to_money_checked(uint64_t decimals, double value, money_wide* out);
money_wide numeric_to_money(uint64_t decimals, double value);

// Raises RuntimeError 1988 ("Currency value is out of range.").
[[noreturn]] void throw_money_range();

// The money range check of every money result: RuntimeError 1988 outside 63 bits plus sign.
inline void store_money(Variant* v, money_wide raw) {
  if (!money_in_range(raw)) throw_money_range();
  v->money.value = raw;
  v->tag = VT_MONEY;
}

}  // namespace qzbase
