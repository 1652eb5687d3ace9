// numeric_functions.cpp - arithmetic, comparisons over several values, the null and empty tests,
// bit operations, money conversion, the financial formulas and the random numbers.
//
// Everything computes through the value layer's arithmetic and comparison; floating results
// carry free decimals, so that they print under the session's SET DECIMALS. A null argument of
// a nullable entry gives a null result. Mended beside the plain formulas:
// - ABS of the smallest integer is its positive value as a numeric with 0 decimals (the same
//   overflow rule as integer negation), not the negative integer.
// - FV at a zero rate is its limit, payment x periods (the formula divides 0 by 0), and PAYMENT
//   over 0 periods raises 11 instead of dividing by zero. A rate too small to change 1 + rate
//   takes the zero-rate form as well, where the formulas would divide by 0.
#include <cmath>
#include <cstdint>

#include "builtins/random_numbers.h"
#include "builtins/text_arguments.h"
#include "builtins/value_functions.h"
#include "values/arithmetic.h"
#include "values/comparison.h"
#include "values/money.h"
#include "values/value_text.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

double double_argument(VmStack* stack, size_t n) {
  const Variant* v = argument_value(stack, n);
  switch (v->tag) {
    case VT_NUMERIC:
      return v->numeric.value;
    case VT_INTEGER:
      return static_cast<double>(v->integer.value);
    case VT_MONEY:
      return static_cast<double>(v->money.value) / 10000.0;
    default:
      throw RuntimeError(11);
  }
}

void set_double(Variant* result, double value) { result->set_float(value, free_decimals); }

// f of a "N" argument.
void unary_math(VmStack* stack, Variant* result, double (*f)(double)) {
  set_double(result, f(double_argument(stack, 1)));
}

// f of a "N?" argument.
void nullable_math(VmStack* stack, size_t argc, Variant* result, double (*f)(double)) {
  if (null_result(stack, argc, 1, 1, result)) return;
  unary_math(stack, result, f);
}

// The argument copied into the result, then changed in place by op.
void in_place(VmStack* stack, size_t argc, Variant* result, void (*op)(Variant*)) {
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_variant(argument_value(stack, 1));
  op(result);
}

// MIN and MAX: the first argument wins ties; any null in a comparison gives null.
void extreme(VmStack* stack, size_t argc, Variant* result, bool (*better)(int)) {
  if (argc < 2) throw RuntimeError(11);
  const Variant* choice = argument_value(stack, 1);
  for (size_t i = 2; i <= argc; ++i) {
    const Variant* next = argument_value(stack, i);
    bool null = false;
    const int r = variant_cmp(next, choice, &null, stack);
    if (null) {
      result->set_null();
      return;
    }
    if (better(r)) choice = next;
  }
  result->set_variant(choice);
}

// The bit number or shift count of argument n: 0 .. 63, else 11.
unsigned bit_number(VmStack* stack, size_t n) {
  const int64_t b = integer_argument(stack, n);
  if (b < 0 || b > 63) throw RuntimeError(11);
  return static_cast<unsigned>(b);
}

uint64_t bits_of(VmStack* stack, size_t n) { return static_cast<uint64_t>(integer_argument(stack, n)); }

void set_bits(Variant* result, uint64_t bits) { result->set_integer(static_cast<long>(static_cast<int64_t>(bits))); }

// BITAND, BITOR, BITXOR: folded left to right over every argument.
void bit_fold(VmStack* stack, size_t argc, Variant* result, uint64_t (*op)(uint64_t, uint64_t)) {
  if (null_result(stack, argc, 2, argc, result)) return;
  uint64_t acc = bits_of(stack, 1);
  for (size_t i = 2; i <= argc; ++i) acc = op(acc, bits_of(stack, i));
  set_bits(result, acc);
}

// The two-argument bit operations: value and bit number (or shift count).
void bit_pair(VmStack* stack, size_t argc, Variant* result, uint64_t (*op)(uint64_t, unsigned)) {
  if (null_result(stack, argc, 2, 2, result)) return;
  const uint64_t value = bits_of(stack, 1);
  set_bits(result, op(value, bit_number(stack, 2)));
}

// A rate that leaves 1 + rate at 1: the formulas would divide 0 by 0.
bool vanishing_rate(double rate) { return 1.0 + rate == 1.0; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------------------------

void bi_abs(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const Variant* v = argument_value(stack, 1);
  bool negative = false;
  switch (v->tag) {
    case VT_INTEGER:
      negative = v->integer.value < 0;
      break;
    case VT_NUMERIC:
      negative = std::signbit(v->numeric.value) && !std::isnan(v->numeric.value);  // -0 becomes 0
      break;
    case VT_MONEY:
      negative = v->money.value < 0;
      break;
    default:
      throw RuntimeError(11);
  }
  if (negative) {
    variant_val_negative(v, stack, result);
  } else {
    result->set_variant(v);
  }
}

void bi_round(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  const int64_t places = integer_argument(stack, 2);
  result->set_variant(argument_value(stack, 1));
  variant_round(result, places);
}

void bi_floor(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  in_place(stack, argc, result, variant_floor);
}

void bi_ceiling(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  in_place(stack, argc, result, variant_ceil);
}

void bi_sqrt(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  in_place(stack, argc, result, variant_sqrt);
}

void bi_int(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(static_cast<long>(integer_argument(stack, 1)));
}

void bi_mod(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  variant_mod(stack, argument_value(stack, 1), argument_value(stack, 2), result);
}

void bi_exp(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  unary_math(stack, result, [](double x) { return std::exp(x); });
}

void bi_log(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  unary_math(stack, result, [](double x) { return std::log(x); });
}

void bi_log10(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  unary_math(stack, result, [](double x) { return std::log10(x); });
}

void bi_sin(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  nullable_math(stack, argc, result, [](double x) { return std::sin(x); });
}

void bi_cos(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  nullable_math(stack, argc, result, [](double x) { return std::cos(x); });
}

void bi_tan(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  nullable_math(stack, argc, result, [](double x) { return std::tan(x); });
}

void bi_asin(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  nullable_math(stack, argc, result, [](double x) { return std::asin(x); });
}

void bi_acos(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  nullable_math(stack, argc, result, [](double x) { return std::acos(x); });
}

void bi_atan(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  nullable_math(stack, argc, result, [](double x) { return std::atan(x); });
}

void bi_atn2(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  set_double(result, std::atan2(double_argument(stack, 1), double_argument(stack, 2)));
}

void bi_pi(VmStack*, size_t, Variant* result) {
  QZ_TRACE;
  set_double(result, 3.141592653589793);
}

void bi_rtod(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  nullable_math(stack, argc, result, [](double x) { return x * 57.29577951308232; });
}

// ---------------------------------------------------------------------------------------------
// Comparisons and tests
// ---------------------------------------------------------------------------------------------

void bi_min(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  extreme(stack, argc, result, cmp_lt);
}

void bi_max(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  extreme(stack, argc, result, cmp_gt);
}

void bi_between(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 3) throw RuntimeError(11);
  const Variant* v = argument_value(stack, 1);
  bool null = false;
  const int low = variant_cmp(v, argument_value(stack, 2), &null, stack);
  const int high = variant_cmp(v, argument_value(stack, 3), &null, stack);
  if (null) {
    result->set_null();
  } else {
    result->set_bool(cmp_ge(low) && cmp_le(high));
  }
}

void bi_inlist(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 1, result)) return;
  const Variant* v = argument_value(stack, 1);
  bool any_null = false;
  for (size_t i = 2; i <= argc; ++i) {
    bool null = false;
    const int r = variant_cmp(v, argument_value(stack, i), &null, stack);
    if (null) {
      any_null = true;
    } else if (cmp_eq(r)) {
      result->set_true();
      return;
    }
  }
  if (any_null) {
    result->set_null();
  } else {
    result->set_false();
  }
}

void bi_evl(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 1, result)) return;
  const Variant* a = argument_value(stack, 1);
  result->set_variant(a->is_empty() ? argument_value(stack, 2) : a);
}

void bi_nvl(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  result->set_variant(is_null_argument(Param(stack, 1)) ? argument_value(stack, 2) : argument_value(stack, 1));
}

void bi_empty(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_bool(argument_value(stack, 1)->is_empty());
}

// ---------------------------------------------------------------------------------------------
// Bits
// ---------------------------------------------------------------------------------------------

void bi_bitand(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  bit_fold(stack, argc, result, [](uint64_t a, uint64_t b) { return a & b; });
}

void bi_bitor(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  bit_fold(stack, argc, result, [](uint64_t a, uint64_t b) { return a | b; });
}

void bi_bitxor(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  bit_fold(stack, argc, result, [](uint64_t a, uint64_t b) { return a ^ b; });
}

void bi_bitnot(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  set_bits(result, ~bits_of(stack, 1));
}

void bi_bitlshift(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  bit_pair(stack, argc, result, [](uint64_t v, unsigned n) { return v << n; });
}

void bi_bitrshift(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  // Arithmetic: the sign is kept.
  bit_pair(stack, argc, result,
           [](uint64_t v, unsigned n) { return static_cast<uint64_t>(static_cast<int64_t>(v) >> n); });
}

void bi_bitset(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  bit_pair(stack, argc, result, [](uint64_t v, unsigned n) { return v | (uint64_t{1} << n); });
}

void bi_bitclear(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  bit_pair(stack, argc, result, [](uint64_t v, unsigned n) { return v & ~(uint64_t{1} << n); });
}

void bi_bittest(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 2, 2, result)) return;
  const uint64_t value = bits_of(stack, 1);
  result->set_bool(((value >> bit_number(stack, 2)) & 1) != 0);
}

// ---------------------------------------------------------------------------------------------
// Money
// ---------------------------------------------------------------------------------------------

void bi_ntom(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const Variant* v = argument_value(stack, 1);
  if (v->tag != VT_NUMERIC) throw RuntimeError(11);
  store_money(result, numeric_to_money(v->numeric.decimals, v->numeric.value));
}

void bi_mton(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const Variant* v = argument_value(stack, 1);
  if (v->tag != VT_MONEY) throw RuntimeError(11);
  result->set(money_to_numeric(v->money.value));
}

// ---------------------------------------------------------------------------------------------
// Financial formulas
// ---------------------------------------------------------------------------------------------

double payment_per_period(double principal, double rate, double periods) {
  QZ_TRACE;
  if (periods == 0) throw RuntimeError(11);
  if (rate == 0 || vanishing_rate(rate)) return std::ceil(principal * 100) / periods / 100;
  const double growth = std::pow(1 + rate, periods);
  return rate * principal * std::pow(1 + rate, periods - 1) * (1 + rate) / (growth - 1);
}

double future_value(double payment, double rate, int64_t periods) {
  QZ_TRACE;
  if (rate == 0 || vanishing_rate(rate)) return payment * static_cast<double>(periods);
  return payment / rate * (std::pow(1 + rate, static_cast<double>(periods)) - 1);
}

void bi_payment(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  set_double(result, payment_per_period(double_argument(stack, 1), double_argument(stack, 2),
                                        double_argument(stack, 3)));
}

void bi_fv(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  set_double(result, future_value(double_argument(stack, 1), double_argument(stack, 2), integer_argument(stack, 3)));
}

// ---------------------------------------------------------------------------------------------
// Random numbers
// ---------------------------------------------------------------------------------------------

void bi_rand(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  RandomNumbers& engines = process_random_numbers();
  set_double(result, argc >= 1 ? engines.next(double_argument(stack, 1)) : engines.next());
}

void bi_srand(VmStack*, size_t, Variant* result) {
  QZ_TRACE;
  set_double(result, process_random_numbers().next_separate());
}

}  // namespace qzbase
