// arithmetic.h - Variant arithmetic.
//
// Binary operations work in place: the left operand receives the result, the right operand is
// only read (it may be the same Variant as the left). Each dispatches through a 256-entry table
// of handlers indexed by left tag x 16 + right tag; both tags must be below 16 (broken invariant
// otherwise). Errors are RuntimeErrors only: 11 and 107 for operand types, 1988 for money out of
// range or a zero money divisor, 2034 for dates and datetimes out of range, 61 for a negative
// square root, 78 for a NaN power, 9011 for a failed charset translation in a concatenation,
// 39 for a rounding whose result leaves the double range.
//
// The binary and unary operations are free functions (variant_sub, variant_mul, ...) rather than
// members of Variant, so that the class in qzbase.h does not have to change; members can forward
// to them.
//
// Faults guarded against:
// - numeric_scale never throws for a finite value. When |value x 10^d| reaches 2^52 there are no
//   digits left to round at that scale and the exact step is skipped (throwing
//   std::overflow_error there, which nothing catches, ended the process: "50000000000000.00 + 1.00" ended the process).
//   numeric_round leaves such a value as it is (and any NaN or infinity).
// - variant_round takes a signed place count: ROUND(x, -n) rounds to a multiple of 10^n.
// - Division gives the integer 0 only for a quotient that is exactly 0; a quotient within the
//   zero tolerance but not 0 (1 / 1e20) stays numeric.
// - Dates and datetimes move in 64 bits: D + I uses the whole integer, D +- N truncates the
//   value to 64 bits, and any result outside 1 .. 0xFFFFFFFF (a non-empty date never becomes
//   the empty one) raises 2034.
// Choices made: an integer result that leaves 64 bits
// (negation of the smallest integer, its division by -1, ROUND/FLOOR/CEILING of a numeric beyond
// 2^63 or not finite) becomes a numeric with 0 decimals, like integer overflow in + - x;
// date - numeric out of range raises 2034; SQRT of an integer gives round(r) rather than r
// truncated (equal within the tolerance, and never one below an integer r).
#pragma once

#include <qzbase.h>

#include <cmath>

#include "values/money.h"

namespace qzbase {

// ---------------------------------------------------------------------------------------------
// Powers of ten
// ---------------------------------------------------------------------------------------------

inline constexpr double kPow10Table[20] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                           1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
inline constexpr int64_t kPow10Int[19] = {1LL,
                                          10LL,
                                          100LL,
                                          1000LL,
                                          10000LL,
                                          100000LL,
                                          1000000LL,
                                          10000000LL,
                                          100000000LL,
                                          1000000000LL,
                                          10000000000LL,
                                          100000000000LL,
                                          1000000000000LL,
                                          10000000000000LL,
                                          100000000000000LL,
                                          1000000000000000LL,
                                          10000000000000000LL,
                                          100000000000000000LL,
                                          1000000000000000000LL};

// 10^d as a double: the table for 0 to 19, pow(10, d) beyond (an infinity from 309 on).
inline double pow10_double(uint64_t d) { return d < 20 ? kPow10Table[d] : std::pow(10.0, static_cast<double>(d)); }

// 2^52: from here on every double is an integer, so there is nothing left to round.
inline constexpr double kTwo52 = 4503599627370496.0;
// The limit of the exact rounding step (2^52 - 1).
inline constexpr double kNumericExactLimit = 4503599627370495.0;

// ---------------------------------------------------------------------------------------------
// Numeric steps (exact, allocation-free, never throwing)
// ---------------------------------------------------------------------------------------------

// value x 10^d rounded half away from zero, for a numeric held at `decimals`. Free decimals, or
// fewer than d: round(value x 10^d). Otherwise exactly: i = value x 10^decimals rounded to an
// integer, then i / 10^(decimals - d) rounded half away from zero. When the exact step is out of
// reach (|value x 10^decimals| > 2^52 - 1) it is skipped; when |value x 10^d| >= 2^52 (or not
// finite) the product itself is returned.
double numeric_scaled(double value, uint64_t decimals, uint64_t d);
// In place: n->value := numeric_scaled(n->value, n->decimals, d).
void numeric_scale(numeric_type_st* n, uint64_t d);
// Rounds to d places and holds the result at d decimals. A value with no digits left at that
// scale (|value x 10^d| >= 2^52), a NaN and an infinity keep their value.
void numeric_round(numeric_type_st* n, uint64_t d);
// numeric_round to its own decimals when they are fixed.
inline void numeric_normalize(numeric_type_st* n) {
  if (n->decimals != free_decimals) numeric_round(n, n->decimals);
}

// A datetime from a day number and milliseconds that may lie outside the day: whole days move
// into the day number so that 0 <= ms < 86400000. False (out untouched) when the day number
// leaves 1 .. 0xFFFFFFFF.
bool datetime_normalize(int64_t day, int64_t ms, datetime_st* out);

// ---------------------------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------------------------

void variant_add(Variant* left, const Variant* right);
void variant_sub(Variant* left, const Variant* right);
void variant_mul(Variant* left, const Variant* right);
void variant_div(Variant* left, const Variant* right);
void variant_pow(Variant* left, const Variant* right);
// result = a - b x floor(a / b) on temporaries released with the stack; result must be empty.
void variant_mod(VmStack* stack, const Variant* a, const Variant* b, Variant* result);
// ROUND: places may be negative (rounds to 10^-places).
void variant_round(Variant* v, int64_t places);
void variant_floor(Variant* v);
void variant_ceil(Variant* v);
void variant_sqrt(Variant* v);
// Writes -v into the empty dst.
void variant_val_negative(const Variant* v, VmStack* stack, Variant* dst);

// The interpreter's addition: integer + integer without a call, every other pair through the
// table.
inline void inline_variant_add(Variant* left, const Variant* right) {
  if (left->tag == VT_INTEGER && right->tag == VT_INTEGER) {
    int64_t sum;
    if (!__builtin_add_overflow(left->integer.value, right->integer.value, &sum)) {
      left->integer.value = sum;
      return;
    }
  }
  variant_add(left, right);
}

}  // namespace qzbase
