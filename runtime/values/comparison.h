// comparison.h - Variant comparison.
//
// The three-way comparison returns -1 (a orders before b), 0 (equal) or 1 (after), and one more
// result: kCmpUnordered, when a NaN takes part. A NaN is neither equal to, less nor greater than
// anything (itself included), so the operators must test the result with the predicates below
// rather than by its sign: = is cmp_eq, <> is cmp_ne (true for unordered), < is cmp_lt, <= is
// cmp_le, > is cmp_gt and >= is cmp_ge (all four false for unordered). A sort must place
// unordered values itself (for instance NaNs last).
//
// A null operand sets *null_out and gives 0 (the caller clears the flag first; it is never
// cleared here). The stack, when given, supplies SET EXACT for string comparison (through its
// current data session's settings); strings always compare by code point, never by the
// session's collation.
//
// Faults guarded against:
// - A NaN operand never asserts: the result is kCmpUnordered.
// - The absolute tolerance against zero applies to either side: 1e-20 = 0 and 0 = 1e-20 are both
//   true. The relative test divides by the operand of larger magnitude, so that
//   cmp(a, b) == -cmp(b, a) for every pair (a plain 1 - a / b differs at the boundary).
// Choices made: money against an integer of any size compares
// exactly (128-bit arithmetic).
#pragma once

#include <qzbase.h>

#include <cfloat>
#include <cmath>

namespace qzbase {

inline constexpr int kCmpUnordered = 2;

// Twice the double epsilon: a relative bound and, against zero, an absolute one.
inline constexpr double kCmpTolerance = 4.440892098500626e-16;

inline bool cmp_eq(int r) { return r == 0; }
inline bool cmp_ne(int r) { return r != 0; }
inline bool cmp_lt(int r) { return r == -1; }
inline bool cmp_le(int r) { return r == -1 || r == 0; }
inline bool cmp_gt(int r) { return r == 1; }
inline bool cmp_ge(int r) { return r == 1 || r == 0; }

// -1, 0, 1, or kCmpUnordered when either is a NaN.
int cmp_double_with_tollerance(double a, double b);
// The same, inline, for the interpreter's loops.
inline int cmp_double_inline(double a, double b) {
  if (a != a || b != b) return kCmpUnordered;
  // Against zero the tolerance is absolute, whichever side the zero is on.
  if (b == 0) return a < -kCmpTolerance ? -1 : (a > kCmpTolerance ? 1 : 0);
  if (a == 0) return b > kCmpTolerance ? -1 : (b < -kCmpTolerance ? 1 : 0);
  const double fa = std::fabs(a), fb = std::fabs(b);
  if (fa <= DBL_MAX && fb <= DBL_MAX) {
    // Relative: the operand of larger magnitude divides, so both orders compute the same r.
    const double r = fa >= fb ? 1 - b / a : 1 - a / b;
    if (r >= -kCmpTolerance && r <= kCmpTolerance) return 0;
  }
  return a < b ? -1 : (a > b ? 1 : 0);
}
// The raw money value against i x 10000, exactly.
int cmp_money_to_int_exact(const money_type_st& m, int64_t i);
int cmp_int_to_money_exact(int64_t i, const money_type_st& m);

// The out-of-line comparison: every pair through the table.
int variant_cmp(const Variant* a, const Variant* b, bool* null_out, const VmStack* stack);
// False when variant_cmp raises 107 for values of these two tags, whatever the values are.
bool variant_tags_comparable(uint8_t a, uint8_t b);

// The interpreter's comparison: integer against integer without a call.
inline int inline_variant_cmp(const Variant* a, const Variant* b, bool* null_out, const VmStack* stack) {
  if (a->tag == VT_INTEGER && b->tag == VT_INTEGER) {
    return (a->integer.value > b->integer.value) - (a->integer.value < b->integer.value);
  }
  return variant_cmp(a, b, null_out, stack);
}

}  // namespace qzbase
