// Variant arithmetic: money, integer overflow, decimals, dates and datetimes,
// strings, the error cases, and the mended faults (numeric_scale overflow, ROUND with negative
// places, tiny quotients, 64-bit date arithmetic).
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "values/arithmetic.h"
#include "values/julian.h"
#include "vm/vm_stack.h"
#include "runtime_errors.h"

using namespace qzbase;

namespace {

Variant I(int64_t v) {
  Variant x;
  x.set(integer_type_st{v});
  return x;
}
Variant N(double v, uint64_t decimals) {
  Variant x;
  x.set_float(v, decimals);
  return x;
}
Variant NF(double v) { return N(v, free_decimals); }
// Money from its raw value (amount x 10000).
Variant Y(int64_t raw) {
  Variant x;
  x.set(money_type_st{raw});
  return x;
}
Variant D(int y, unsigned m, unsigned d) {
  date_st day{};
  EXPECT_EQ(serial_julian_date(y, m, d, &day), 0);
  Variant x;
  x.set(day);
  return x;
}
Variant T(int y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s) {
  datetime_st t{};
  EXPECT_EQ(serial_julian_date(y, mo, d, h, mi, s, &t), 0);
  Variant x;
  x.set(t);
  return x;
}
Variant S(const char* text) {
  Variant x;
  x.set_string(String::fromBytes(text, Charset::utf8));
  return x;
}
Variant Null() {
  Variant x;
  x.set_null();
  return x;
}
Variant True() {
  Variant x;
  x.set_true();
  return x;
}

std::string text(const Variant& v) { return std::string(v.string.read(), v.string.size()); }

using testing_errors::error_code;

using Op = void (*)(Variant*, const Variant*);

Variant apply(Op op, Variant l, const Variant& r) {
  op(&l, &r);
  return l;
}
int op_error(Op op, Variant l, const Variant& r) {
  return error_code([&] { op(&l, &r); });
}

void expect_money(const Variant& v, int64_t raw) {
  ASSERT_EQ(v.tag, VT_MONEY);
  EXPECT_EQ(static_cast<int64_t>(v.money.value), raw);
}
void expect_integer(const Variant& v, int64_t value) {
  ASSERT_EQ(v.tag, VT_INTEGER);
  EXPECT_EQ(v.integer.value, value);
}
void expect_numeric(const Variant& v, double value, uint64_t decimals) {
  ASSERT_EQ(v.tag, VT_NUMERIC);
  EXPECT_EQ(v.numeric.value, value);
  EXPECT_EQ(v.numeric.decimals, decimals);
}
void expect_date(const Variant& v, int y, int m, int d) {
  ASSERT_EQ(v.tag, VT_DATE);
  int yy, mm, dd;
  unserial_julian_date(v.date, &yy, &mm, &dd);
  EXPECT_EQ(yy, y);
  EXPECT_EQ(mm, m);
  EXPECT_EQ(dd, d);
}
void expect_datetime(const Variant& v, int y, int mo, int d, int h, int mi, int s) {
  ASSERT_EQ(v.tag, VT_DATETIME);
  int yy, mm, dd, hh, mn, ss, ms;
  unserial_julian_date(v.datetime, &yy, &mm, &dd, &hh, &mn, &ss, &ms);
  EXPECT_EQ(yy, y);
  EXPECT_EQ(mm, mo);
  EXPECT_EQ(dd, d);
  EXPECT_EQ(hh, h);
  EXPECT_EQ(mn, mi);
  EXPECT_EQ(ss, s);
  EXPECT_EQ(ms, 0);
}

constexpr int64_t kMoneyMax = INT64_MAX;  //  922337203685477.5807
constexpr int64_t kMoneyMin = INT64_MIN;  // -922337203685477.5808

}  // namespace

// ---------------------------------------------------------------------------------------------
// Money
// ---------------------------------------------------------------------------------------------

struct MoneyCase {
  const char* what;
  Op op;
  int64_t left_raw;
  int64_t right_raw;
  int64_t expected_raw;  // or the error when error != 0
  int error;
};

TEST(MoneyTable, ProductsQuotientsAndRange) {
  const MoneyCase cases[] = {
      {"1 + 2.5", variant_add, 10000, 25000, 35000, 0},
      {"1 - 2.5", variant_sub, 10000, 25000, -15000, 0},
      {"1.2345 x 1.0001 = 1.23462345 -> 1.2346", variant_mul, 12345, 10001, 12346, 0},
      {"-1.2345 x 1.0001", variant_mul, -12345, 10001, -12346, 0},
      {"0.5 x 0.0001: half rounds away from zero", variant_mul, 5000, 1, 1, 0},
      {"-0.5 x 0.0001", variant_mul, -5000, 1, -1, 0},
      {"0.4999 x 0.0001 rounds to 0", variant_mul, 4999, 1, 0, 0},
      {"1 / 3", variant_div, 10000, 30000, 3333, 0},
      {"2 / 3", variant_div, 20000, 30000, 6667, 0},
      {"-2 / 3", variant_div, -20000, 30000, -6667, 0},
      {"2 / -3", variant_div, 20000, -30000, -6667, 0},
      {"0.0001 / 2: half away", variant_div, 1, 20000, 1, 0},
      {"-0.0001 / 2", variant_div, -1, 20000, -1, 0},
      {"x / 0", variant_div, 10000, 0, 0, 1988},
      {"max + 0", variant_add, kMoneyMax, 0, kMoneyMax, 0},
      {"max + 0.0001", variant_add, kMoneyMax, 1, 0, 1988},
      {"min - 0.0001", variant_sub, kMoneyMin, 1, 0, 1988},
      {"min + 0", variant_add, kMoneyMin, 0, kMoneyMin, 0},
      {"min x 1", variant_mul, kMoneyMin, 10000, kMoneyMin, 0},
      {"max x 1.0001", variant_mul, kMoneyMax, 10001, 0, 1988},
      {"min / -1 leaves the range", variant_div, kMoneyMin, -10000, 0, 1988},
      {"max / 1", variant_div, kMoneyMax, 10000, kMoneyMax, 0},
      {"max / 0.5", variant_div, kMoneyMax, 5000, 0, 1988},
      {"10^10 x 10^10 leaves the range", variant_mul, 100000000000000LL, 100000000000000LL, 0, 1988},
  };
  for (const MoneyCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.error != 0) {
      EXPECT_EQ(op_error(c.op, Y(c.left_raw), Y(c.right_raw)), c.error);
    } else {
      expect_money(apply(c.op, Y(c.left_raw), Y(c.right_raw)), c.expected_raw);
    }
  }
}

TEST(MoneyTable, MixedWithIntegers) {
  expect_money(apply(variant_add, I(2), Y(5000)), 25000);
  expect_money(apply(variant_add, Y(5000), I(2)), 25000);
  expect_money(apply(variant_sub, I(2), Y(5000)), 15000);
  expect_money(apply(variant_sub, Y(5000), I(2)), -15000);
  expect_money(apply(variant_mul, I(3), Y(12345)), 37035);
  expect_money(apply(variant_mul, Y(12345), I(-3)), -37035);
  // Y / I and I / Y round half away from zero.
  expect_money(apply(variant_div, Y(10000), I(3)), 3333);
  expect_money(apply(variant_div, Y(5), I(2)), 3);
  expect_money(apply(variant_div, Y(-5), I(2)), -3);
  expect_money(apply(variant_div, I(1), Y(30000)), 3333);
  expect_money(apply(variant_div, I(2), Y(30000)), 6667);
  EXPECT_EQ(op_error(variant_div, Y(10000), I(0)), 1988);
  EXPECT_EQ(op_error(variant_div, I(1), Y(0)), 1988);
  // The integer part of the range: 922337203685477 + 0.5807 is the largest money value.
  expect_money(apply(variant_add, I(922337203685477LL), Y(5807)), kMoneyMax);
  EXPECT_EQ(op_error(variant_add, I(922337203685477LL), Y(5808)), 1988);
  EXPECT_EQ(op_error(variant_add, I(922337203685478LL), Y(0)), 1988);
  expect_money(apply(variant_sub, I(-922337203685477LL), Y(5808)), kMoneyMin);
  EXPECT_EQ(op_error(variant_sub, I(-922337203685477LL), Y(5809)), 1988);
  // 0.0001 x 2^62 fits; 1 x 2^62 does not.
  expect_money(apply(variant_mul, Y(1), I(int64_t{1} << 62)), int64_t{1} << 62);
  EXPECT_EQ(op_error(variant_mul, Y(10000), I(int64_t{1} << 62)), 1988);
  EXPECT_EQ(op_error(variant_mul, I(INT64_MAX), Y(kMoneyMax)), 1988);
}

TEST(MoneyTable, MixedWithNumerics) {
  // Numerics become money rounded at min(decimals, 4) places, exactly.
  expect_money(apply(variant_add, N(1.23456, 5), Y(0)), 12346);
  expect_money(apply(variant_add, N(1.23455, 5), Y(0)), 12346);  // the exact step: 123455 -> 12346
  expect_money(apply(variant_add, N(2.675, 3), Y(0)), 26750);
  expect_money(apply(variant_add, NF(1.23456), Y(0)), 12346);
  expect_money(apply(variant_add, N(1.26, 1), Y(0)), 13000);  // held at 1 decimal: 1.3
  expect_money(apply(variant_add, Y(10000), N(0.5, 1)), 15000);
  expect_money(apply(variant_sub, Y(10000), N(0.25, 2)), 7500);
  expect_money(apply(variant_mul, Y(100000), N(0.5, 1)), 50000);
  expect_money(apply(variant_mul, N(0.5, 1), Y(100000)), 50000);
  expect_money(apply(variant_div, Y(10000), N(3.0, 0)), 3333);
  expect_money(apply(variant_div, N(1.0, 0), Y(30000)), 3333);
  EXPECT_EQ(op_error(variant_div, Y(10000), N(0.00001, 5)), 1988);  // 0.00001 rounds to money 0
  EXPECT_EQ(op_error(variant_add, N(std::nan(""), 2), Y(0)), 1988);
  EXPECT_EQ(op_error(variant_add, NF(INFINITY), Y(0)), 1988);
  EXPECT_EQ(op_error(variant_add, NF(1e25), Y(0)), 1988);
}

TEST(MoneySteps, NinetySixBitIntermediateLimit) {
  money_wide p = 0;
  const money_wide two47 = static_cast<money_wide>(1) << 47;
  EXPECT_TRUE(money_mul_checked(two47, two47, &p));  // 2^94
  EXPECT_EQ(p, static_cast<money_wide>(1) << 94);
  EXPECT_FALSE(money_mul_checked(two47 * 2, two47, &p));  // 2^95: one beyond
  EXPECT_TRUE(money_mul_checked(-(two47 * 2), two47, &p));  // -2^95 fits
  EXPECT_FALSE(money_mul_checked(-(two47 * 4), two47, &p));
  // A product beyond 127 bits (what a 256-bit product would show) is refused, not wrapped.
  EXPECT_FALSE(money_mul_checked(static_cast<money_wide>(1) << 100, static_cast<money_wide>(1) << 100, &p));
  EXPECT_EQ(error_code([] { money_mul(static_cast<money_wide>(1) << 50, static_cast<money_wide>(1) << 50); }), 1988);
  EXPECT_EQ(error_code([] { money_mul_int(static_cast<money_wide>(1) << 40, int64_t{1} << 56); }), 1988);
  // numeric_to_money: 3e24 scales to 3e28 < 2^95, 4e24 to 4e28 > 2^95.
  money_wide raw = 0;
  EXPECT_TRUE(numeric_to_money_checked(free_decimals, 3e24, &raw));
  EXPECT_EQ(raw, static_cast<money_wide>(3e28));
  EXPECT_FALSE(numeric_to_money_checked(free_decimals, 4e24, &raw));
  EXPECT_FALSE(numeric_to_money_checked(0, -4e24, &raw));
  // Y / Y multiplies the dividend by 10000 within 96 bits: the largest dividend still fits.
  expect_money(apply(variant_div, Y(kMoneyMax), Y(kMoneyMax)), 10000);
  EXPECT_EQ(op_error(variant_mul, Y(int64_t{1} << 40), I(int64_t{1} << 56)), 1988);
}

TEST(MoneySteps, CountDigits) {
  EXPECT_EQ(count_digits_int128(0, 2), 0);
  EXPECT_EQ(count_digits_int128(1, 2), 1);
  EXPECT_EQ(count_digits_int128(INT64_MAX, 2), 63);
  EXPECT_EQ(count_digits_int128(INT64_MIN, 2), 63);  // counts -1 - value
  EXPECT_EQ(count_digits_int128(static_cast<money_wide>(INT64_MAX) + 1, 2), 64);
  EXPECT_EQ(count_digits_int128(static_cast<money_wide>(INT64_MIN) - 1, 2), 64);
  EXPECT_EQ(count_digits_int128(-1, 2), 0);
  EXPECT_EQ(count_digits_int128(999, 10), 3);
  EXPECT_EQ(count_digits_int128(1000, 10), 4);
}

TEST(MoneyUnary, RoundFloorCeilNegate) {
  Variant v = Y(12345);
  variant_round(&v, 2);
  expect_money(v, 12300);
  v = Y(12350);
  variant_round(&v, 2);
  expect_money(v, 12400);
  v = Y(-12350);
  variant_round(&v, 2);
  expect_money(v, -12400);
  v = Y(12345);
  variant_round(&v, 4);
  expect_money(v, 12345);
  v = Y(12345678);  // 1234.5678
  variant_round(&v, -2);
  expect_money(v, 12000000);
  v = Y(12345678);
  variant_round(&v, -40);
  expect_money(v, 0);
  v = Y(kMoneyMax);
  EXPECT_EQ(error_code([&] { variant_round(&v, 0); }), 1988);  // rounds up out of the range

  v = Y(-15000);
  variant_floor(&v);
  expect_money(v, -20000);
  v = Y(15000);
  variant_floor(&v);
  expect_money(v, 10000);
  v = Y(10001);
  variant_ceil(&v);
  expect_money(v, 20000);
  v = Y(-15000);
  variant_ceil(&v);
  expect_money(v, -10000);
  v = Y(kMoneyMin);
  EXPECT_EQ(error_code([&] { variant_floor(&v); }), 1988);
  v = Y(kMoneyMax);
  EXPECT_EQ(error_code([&] { variant_ceil(&v); }), 1988);

  Variant dst;
  Variant max = Y(kMoneyMax);
  variant_val_negative(&max, nullptr, &dst);
  expect_money(dst, -kMoneyMax);
  Variant min = Y(kMoneyMin), dst2;
  EXPECT_EQ(error_code([&] { variant_val_negative(&min, nullptr, &dst2); }), 1988);
}

// ---------------------------------------------------------------------------------------------
// Integers and numerics
// ---------------------------------------------------------------------------------------------

TEST(IntegerArithmetic, OverflowGivesNumericWithZeroDecimals) {
  expect_numeric(apply(variant_add, I(INT64_MAX), I(1)), 9223372036854775808.0, 0);
  Variant v = I(INT64_MAX);
  Variant one = I(1);
  inline_variant_add(&v, &one);
  expect_numeric(v, 9223372036854775808.0, 0);
  expect_numeric(apply(variant_sub, I(INT64_MIN), I(1)), -9223372036854775808.0, 0);
  expect_numeric(apply(variant_mul, I(INT64_MAX), I(2)), 18446744073709551614.0, 0);
  expect_numeric(apply(variant_mul, I(INT64_MIN), I(-1)), 9223372036854775808.0, 0);
  expect_integer(apply(variant_add, I(INT64_MAX - 1), I(1)), INT64_MAX);
  expect_integer(apply(variant_mul, I(-3), I(7)), -21);
  Variant neg;
  Variant min = I(INT64_MIN);
  variant_val_negative(&min, nullptr, &neg);
  expect_numeric(neg, 9223372036854775808.0, 0);
  Variant neg2;
  Variant five = I(5);
  variant_val_negative(&five, nullptr, &neg2);
  expect_integer(neg2, -5);
}

TEST(IntegerArithmetic, InlineAddMatchesTable) {
  Variant a = I(40), b = I(2);
  inline_variant_add(&a, &b);
  expect_integer(a, 42);
  Variant n = N(1.5, 1);
  inline_variant_add(&n, &b);
  expect_numeric(n, 3.5, 1);
}

TEST(NumericDecimals, MaxSumAndFreeRules) {
  expect_numeric(apply(variant_add, N(1.25, 2), N(1.125, 3)), 2.375, 3);
  expect_numeric(apply(variant_add, N(0.1, 1), N(0.2, 1)), 0.3, 1);
  expect_numeric(apply(variant_add, N(1.234, 2), I(1)), 1.234 + 1, 2);  // no rounding
  expect_numeric(apply(variant_add, I(1), N(1.5, 3)), 2.5, 3);
  expect_numeric(apply(variant_add, N(1.5, 2), NF(0.25)), 1.75, free_decimals);
  expect_numeric(apply(variant_sub, N(0.3, 1), N(0.1, 1)), 0.2, 1);
  expect_numeric(apply(variant_sub, I(1), N(0.25, 2)), 0.75, 2);
  expect_numeric(apply(variant_sub, N(1.25, 2), I(1)), 0.25, 2);
  expect_numeric(apply(variant_mul, N(1.5, 2), N(1.5, 3)), 2.25, 5);
  expect_numeric(apply(variant_mul, N(1.5, 10), N(1.5, 6)), 2.25, free_decimals);
  expect_numeric(apply(variant_mul, N(1.5, 8), N(1.5, 7)), 2.25, 15);
  expect_numeric(apply(variant_mul, NF(1.5), N(1.5, 1)), 2.25, free_decimals);
  expect_numeric(apply(variant_mul, I(3), N(1.5, 1)), 4.5, 1);
  expect_numeric(apply(variant_mul, N(1.5, 1), I(3)), 4.5, 1);
}

TEST(NumericDivision, IntegersWhenIntegral) {
  expect_numeric(apply(variant_div, I(7), I(2)), 3.5, free_decimals);
  expect_integer(apply(variant_div, I(6), I(3)), 2);
  expect_integer(apply(variant_div, N(7.5, 1), N(2.5, 1)), 3);
  expect_integer(apply(variant_div, N(0.3, 1), N(0.1, 1)), 3);  // 2.9999999999999996 within tolerance
  expect_integer(apply(variant_div, I(9), N(3.0, 0)), 3);
  expect_integer(apply(variant_div, N(9.0, 0), I(-3)), -3);
  Variant inf = apply(variant_div, I(1), I(0));
  ASSERT_EQ(inf.tag, VT_NUMERIC);
  EXPECT_TRUE(std::isinf(inf.numeric.value));
  Variant nan = apply(variant_div, I(0), I(0));
  ASSERT_EQ(nan.tag, VT_NUMERIC);
  EXPECT_TRUE(std::isnan(nan.numeric.value));
  expect_numeric(apply(variant_div, I(INT64_MIN), I(-1)), 9223372036854775808.0, free_decimals);
  expect_numeric(apply(variant_div, NF(1e300), NF(1e-10)), INFINITY, free_decimals);
}

TEST(NumericDivision, TinyQuotientStaysNumeric) {
  // Fault: any quotient within 4.44e-16 of 0 became the integer 0.
  expect_numeric(apply(variant_div, I(1), NF(1e20)), 1e-20, free_decimals);
  expect_numeric(apply(variant_div, N(-1.0, 0), I(INT64_MAX)), -1.0 / 9223372036854775807.0, free_decimals);
  expect_integer(apply(variant_div, I(0), NF(5.0)), 0);
  expect_integer(apply(variant_div, NF(0.0), I(5)), 0);
  expect_integer(apply(variant_div, NF(-0.0), I(5)), 0);
}

TEST(NumericScale, ExactRoundingAndNoOverflowThrow) {
  EXPECT_EQ(numeric_scaled(2.675, 3, 2), 268.0);   // exact: 2675 / 10 half away
  EXPECT_EQ(numeric_scaled(1.005, free_decimals, 2), 100.0);  // 100.49999999999999
  EXPECT_EQ(numeric_scaled(1.005, 3, 2), 101.0);             // exact: 1005 / 10 half away
  EXPECT_EQ(numeric_scaled(-2.5, 1, 0), -3.0);
  EXPECT_EQ(numeric_scaled(1.005, 1, 2), std::round(1.005 * 100));  // fewer decimals than d
  // Fault: beyond 2^52 the exact step used to throw std::overflow_error.
  EXPECT_NO_THROW(numeric_scaled(50000000000001.0, 2, 2));
  EXPECT_EQ(numeric_scaled(50000000000001.0, 2, 2), 5000000000000100.0);
  EXPECT_NO_THROW(numeric_scaled(1e300, 2, 2));
  EXPECT_NO_THROW(numeric_scaled(DBL_MAX, 10, 10));
  numeric_type_st n{1e300, 2};
  numeric_round(&n, 2);
  EXPECT_EQ(n.value, 1e300);
  n = {DBL_MAX, 5};
  numeric_round(&n, 5);
  EXPECT_EQ(n.value, DBL_MAX);
  n = {INFINITY, 2};
  numeric_round(&n, 2);
  EXPECT_EQ(n.value, INFINITY);
  n = {std::nan(""), 2};
  numeric_round(&n, 2);
  EXPECT_TRUE(std::isnan(n.value));
  n = {1.5, 2};
  numeric_round(&n, 30);  // no digits left to round at 10^30: the value stays
  EXPECT_EQ(n.value, 1.5);
  EXPECT_EQ(n.decimals, 30u);
}

TEST(NumericScale, LargeTwoDecimalSumsDoNotEndTheProcess) {
  expect_numeric(apply(variant_add, N(50000000000000.00, 2), N(1.00, 2)), 50000000000001.0, 2);
  // Just below 2^52 once scaled: the exact step is out of reach, the scaled value is rounded.
  expect_numeric(apply(variant_add, N(45035996273704.95, 2), N(0.01, 2)),
                 std::round((45035996273704.95 + 0.01) * 100) / 100, 2);
  expect_numeric(apply(variant_sub, N(-50000000000000.00, 2), N(1.00, 2)), -50000000000001.0, 2);
  expect_numeric(apply(variant_add, N(1e300, 2), N(1e300, 2)), 2e300, 2);
  // Below the limit the exact step still rounds to the decimals.
  expect_numeric(apply(variant_add, N(450359962737.0, 2), N(0.004, 2)), 450359962737.0, 2);
  expect_numeric(apply(variant_add, N(450359962737.0, 2), N(0.005, 3)), 450359962737.005, 3);
}

TEST(NumericUnary, Round) {
  Variant v = N(2.5, 1);
  variant_round(&v, 0);
  expect_integer(v, 3);
  v = N(-2.5, 1);
  variant_round(&v, 0);
  expect_integer(v, -3);
  v = N(2.675, 3);
  variant_round(&v, 2);
  expect_numeric(v, 2.68, 2);
  v = NF(1.005);
  variant_round(&v, 2);
  expect_numeric(v, 1.0, 2);  // free: round(100.49999999999999)
  v = N(1.005, 3);
  variant_round(&v, 2);
  expect_numeric(v, 1.01, 2);  // held at 3 decimals: exactly 1005 -> 101
  v = I(17);
  variant_round(&v, 2);
  expect_integer(v, 17);
  v = NF(1e300);
  variant_round(&v, 0);
  expect_numeric(v, 1e300, 0);  // beyond 64 bits: stays numeric
  v = NF(INFINITY);
  variant_round(&v, 0);
  expect_numeric(v, INFINITY, 0);
  v = N(123456789012345.67, 2);
  EXPECT_NO_THROW(variant_round(&v, 5));
  expect_numeric(v, 123456789012345.67, 5);
  EXPECT_EQ(error_code([] {
              Variant s = S("x");
              variant_round(&s, 1);
            }),
            107);
}

TEST(NumericUnary, RoundWithNegativePlaces) {
  // Fault: a negative place count became a huge decimals count and overflowed.
  Variant v = N(1234.5, 1);
  variant_round(&v, -2);
  expect_integer(v, 1200);
  v = N(1250.0, 0);
  variant_round(&v, -2);
  expect_integer(v, 1300);
  v = N(-1250.0, 0);
  variant_round(&v, -2);
  expect_integer(v, -1300);
  v = N(1249.6, 1);
  variant_round(&v, -2);
  expect_integer(v, 1200);
  v = NF(0.3);
  variant_round(&v, -400);
  expect_integer(v, 0);
  v = NF(5e300);
  variant_round(&v, -300);
  expect_numeric(v, 5e300, 0);
  v = NF(DBL_MAX);
  EXPECT_EQ(error_code([&] { variant_round(&v, -308); }), 39);  // rounds up past the double range

  v = I(1249);
  variant_round(&v, -2);
  expect_integer(v, 1200);
  v = I(1250);
  variant_round(&v, -2);
  expect_integer(v, 1300);
  v = I(-1250);
  variant_round(&v, -2);
  expect_integer(v, -1300);
  v = I(INT64_MAX);
  variant_round(&v, -1);
  expect_numeric(v, 9223372036854775810.0, 0);
  v = I(5000000000000000000LL);
  variant_round(&v, -19);
  expect_numeric(v, 1e19, 0);
  v = I(4999999999999999999LL);
  variant_round(&v, -19);
  expect_integer(v, 0);
  v = I(INT64_MIN);
  variant_round(&v, -25);
  expect_integer(v, 0);
  v = I(123);
  variant_round(&v, INT64_MIN);
  expect_integer(v, 0);
  v = NF(123.0);
  variant_round(&v, INT64_MIN);
  expect_integer(v, 0);
  v = Y(12345678);
  variant_round(&v, INT64_MIN);
  expect_money(v, 0);
}

TEST(NumericUnary, FloorCeilSqrt) {
  Variant v = N(-1.5, 1);
  variant_floor(&v);
  expect_integer(v, -2);
  v = N(2.999, 2);  // held at 2 decimals: 3.00
  variant_floor(&v);
  expect_integer(v, 3);
  v = NF(2.999);
  variant_floor(&v);
  expect_integer(v, 2);
  v = N(1.2, 1);
  variant_ceil(&v);
  expect_integer(v, 2);
  v = N(1.0001, 2);  // ceil of the stored value, no rounding first
  variant_ceil(&v);
  expect_integer(v, 2);
  v = NF(1e300);
  variant_floor(&v);
  expect_numeric(v, 1e300, 0);
  v = NF(-INFINITY);
  variant_ceil(&v);
  expect_numeric(v, -INFINITY, 0);
  v = I(5);
  variant_floor(&v);
  expect_integer(v, 5);
  EXPECT_EQ(error_code([] {
              Variant d = D(2000, 1, 1);
              variant_floor(&d);
            }),
            107);
  EXPECT_EQ(error_code([] {
              Variant d = D(2000, 1, 1);
              variant_ceil(&d);
            }),
            107);

  v = I(16);
  variant_sqrt(&v);
  expect_integer(v, 4);
  v = I(2);
  variant_sqrt(&v);
  expect_numeric(v, std::sqrt(2.0), free_decimals);
  v = I(0);
  variant_sqrt(&v);
  expect_integer(v, 0);
  v = I(3037000499LL * 3037000499LL);
  variant_sqrt(&v);
  expect_integer(v, 3037000499LL);
  v = I(INT64_MAX);
  variant_sqrt(&v);
  expect_numeric(v, std::sqrt(9223372036854775807.0), free_decimals);
  v = NF(6.25);
  variant_sqrt(&v);
  expect_numeric(v, 2.5, free_decimals);
  v = Y(62500);
  variant_sqrt(&v);
  expect_numeric(v, 2.5, free_decimals);
  EXPECT_EQ(error_code([] {
              Variant x = I(-1);
              variant_sqrt(&x);
            }),
            61);
  EXPECT_EQ(error_code([] {
              Variant x = NF(-0.5);
              variant_sqrt(&x);
            }),
            61);
  EXPECT_EQ(error_code([] {
              Variant x = Y(-1);
              variant_sqrt(&x);
            }),
            61);
  EXPECT_EQ(error_code([] {
              Variant x = S("4");
              variant_sqrt(&x);
            }),
            11);
  // A reference is followed and its target changes.
  Variant target = I(81), ref;
  target.ref(nullptr, &ref, nullptr);
  variant_sqrt(&ref);
  expect_integer(target, 9);
  EXPECT_EQ(ref.tag, VT_REFERENCE);
}

TEST(NumericUnary, Negation) {
  Variant dst;
  Variant n = N(1.25, 2);
  variant_val_negative(&n, nullptr, &dst);
  expect_numeric(dst, -1.25, 2);
  Variant s = S("a"), dst2;
  EXPECT_EQ(error_code([&] { variant_val_negative(&s, nullptr, &dst2); }), 11);
}

TEST(Power, Results) {
  expect_numeric(apply(variant_pow, I(2), I(10)), 1024.0, free_decimals);
  expect_numeric(apply(variant_pow, Y(40000), N(0.5, 1)), 2.0, free_decimals);
  expect_numeric(apply(variant_pow, I(0), I(-1)), INFINITY, free_decimals);  // infinities pass
  EXPECT_EQ(op_error(variant_pow, I(-8), NF(1.0 / 3)), 78);
  EXPECT_EQ(op_error(variant_pow, S("2"), I(2)), 11);
  EXPECT_EQ(op_error(variant_pow, I(2), Null()), 11);
}

TEST(Modulus, SignFollowsDivisor) {
  VmStack stack;
  auto mod = [&](const Variant& a, const Variant& b) {
    Variant r;
    variant_mod(&stack, &a, &b, &r);
    return r;
  };
  expect_integer(mod(I(-7), I(3)), 2);
  expect_integer(mod(I(7), I(-3)), -2);
  expect_integer(mod(I(7), I(3)), 1);
  expect_integer(mod(I(6), I(3)), 0);
  Variant m = mod(N(7.5, 1), I(2));
  expect_numeric(m, 1.5, 1);
  expect_money(mod(Y(75000), I(2)), 15000);
  Variant z = mod(I(7), I(0));  // left to the implementer: a NaN numeric, no error
  ASSERT_EQ(z.tag, VT_NUMERIC);
  EXPECT_TRUE(std::isnan(z.numeric.value));
  Variant r;
  Variant s = S("x");
  EXPECT_EQ(error_code([&] { variant_mod(&stack, &s, &s, &r); }), 11);
  EXPECT_TRUE(r.empty());
}

// ---------------------------------------------------------------------------------------------
// Strings, nulls, references and type errors
// ---------------------------------------------------------------------------------------------

TEST(StringArithmetic, ConcatenationAndTrailingBlanks) {
  Variant v = apply(variant_add, S("ab"), S("cd"));
  ASSERT_EQ(v.tag, VT_STRING);
  EXPECT_EQ(text(v), "abcd");
  // The left string's trailing blanks are dropped, not moved to the end.
  v = apply(variant_sub, S("ab  "), S("cd"));
  EXPECT_EQ(text(v), "abcd");
  v = apply(variant_sub, S("ab"), S("cd  "));
  EXPECT_EQ(text(v), "abcd  ");
  // The same Variant on both sides.
  Variant x = S("x ");
  variant_sub(&x, &x);
  EXPECT_EQ(text(x), "xx ");
  Variant y = S("yz");
  variant_add(&y, &y);
  EXPECT_EQ(text(y), "yzyz");
  // Different charsets meet in one.
  Variant w = S("h\xC3\xA9");
  Variant u16;
  u16.set_string(String(U"llo"));
  variant_add(&w, &u16);
  EXPECT_EQ(w.string.u8str(), "h\xC3\xA9llo");
}

// A charset that converts nothing (the base Charset's out and in refuse every character): text
// in it can meet text of another charset in no common charset.
class NoConversionCharset : public Charset {
 public:
  NoConversionCharset() : Charset(record(), false) {}
  char32_t next(const char** p, const char*) const override { return static_cast<unsigned char>(*(*p)++); }

 private:
  static const charset_st& record() {
    static const charset_st r{0xFFF0, "test-no-conversion", 0, 0, nullptr, 1, 1, 0, nullptr, nullptr, 0};
    return r;
  }
};

TEST(StringArithmetic, TranslationFailureIs9011) {
  static const NoConversionCharset nothing;
  for (Op op : {variant_add, variant_sub}) {
    Variant left;
    left.set_string(String::fromBytes("ab", 2, &nothing));
    Variant right = S("cd");
    int code = 0;
    std::string detail;
    try {
      op(&left, &right);
    } catch (const RuntimeError& e) {
      code = e.code;
      detail = e.detail.u8str();
    }
    EXPECT_EQ(code, 9011);
    EXPECT_EQ(detail, "test-no-conversion");
  }
}

TEST(NullArithmetic, AdditionGivesNullSubtractionDoesNot) {
  EXPECT_EQ(apply(variant_add, Null(), I(5)).tag, VT_NULL);
  EXPECT_EQ(apply(variant_add, I(5), Null()).tag, VT_NULL);
  EXPECT_EQ(apply(variant_add, Null(), Null()).tag, VT_NULL);
  EXPECT_EQ(apply(variant_add, N(1.5, 1), Null()).tag, VT_NULL);
  EXPECT_EQ(apply(variant_add, Y(1), Null()).tag, VT_NULL);
  EXPECT_EQ(apply(variant_add, D(2000, 1, 1), Null()).tag, VT_NULL);
  EXPECT_EQ(apply(variant_add, T(2000, 1, 1, 0, 0, 0), Null()).tag, VT_NULL);
  EXPECT_EQ(apply(variant_add, Null(), S("a")).tag, VT_NULL);
  Variant s = S("text");
  const string_buffer_st* buffer = s.string.buffer();
  Variant keep = s;  // the buffer stays alive through the copy
  EXPECT_EQ(buffer->count.load(), 2u);
  Variant null = Null();
  variant_add(&s, &null);
  EXPECT_EQ(s.tag, VT_NULL);
  EXPECT_EQ(buffer->count.load(), 1u);  // the left string was released
  EXPECT_EQ(op_error(variant_sub, Null(), I(5)), 107);
  EXPECT_EQ(op_error(variant_sub, I(5), Null()), 107);
  EXPECT_EQ(op_error(variant_add, Null(), True()), 107);
  EXPECT_EQ(op_error(variant_mul, Null(), I(5)), 11);
  EXPECT_EQ(op_error(variant_div, I(5), Null()), 11);
}

TEST(ReferenceArithmetic, AppliesToTheTarget) {
  Variant target = I(40), ref;
  target.ref(nullptr, &ref, nullptr);
  Variant two = I(2);
  variant_add(&ref, &two);
  expect_integer(target, 42);
  variant_sub(&ref, &two);
  expect_integer(target, 40);
  EXPECT_EQ(ref.tag, VT_REFERENCE);
  Variant t = True();
  EXPECT_EQ(error_code([&] { variant_add(&ref, &t); }), 107);
  EXPECT_EQ(error_code([&] { variant_add(&ref, &ref); }), 107);
  EXPECT_EQ(error_code([&] { variant_mul(&ref, &two); }), 11);
  EXPECT_EQ(op_error(variant_add, I(1), ref), 107);
}

TEST(TypeErrors, AdditionSubtractionMultiplicationDivision) {
  EXPECT_EQ(op_error(variant_add, True(), I(1)), 107);
  EXPECT_EQ(op_error(variant_add, I(1), S("a")), 107);
  EXPECT_EQ(op_error(variant_add, D(2000, 1, 1), D(2000, 1, 1)), 107);
  EXPECT_EQ(op_error(variant_add, D(2000, 1, 1), Y(10000)), 107);
  EXPECT_EQ(op_error(variant_add, S("a"), I(1)), 107);
  EXPECT_EQ(op_error(variant_sub, I(1), D(2000, 1, 1)), 107);
  EXPECT_EQ(op_error(variant_sub, D(2000, 1, 1), T(2000, 1, 1, 0, 0, 0)), 107);
  EXPECT_EQ(op_error(variant_sub, T(2000, 1, 1, 0, 0, 0), T(2000, 1, 1, 0, 0, 0)), 107);
  EXPECT_EQ(op_error(variant_mul, S("a"), I(2)), 11);
  EXPECT_EQ(op_error(variant_mul, D(2000, 1, 1), I(2)), 11);
  EXPECT_EQ(op_error(variant_div, D(2000, 1, 1), I(2)), 11);
  EXPECT_EQ(op_error(variant_div, S("a"), S("b")), 11);
}

TEST(TypeErrors, TagsOf16AndAboveAreBrokenInvariants) {
  Variant bad = I(1);
  bad.tag = 16;
  Variant one = I(1);
  EXPECT_THROW(variant_add(&one, &bad), assert_failed_exception);
  EXPECT_THROW(variant_mul(&bad, &one), assert_failed_exception);
  bad.tag = VT_INTEGER;
}

// ---------------------------------------------------------------------------------------------
// Dates and datetimes
// ---------------------------------------------------------------------------------------------

TEST(DateArithmetic, DaysAndDifferences) {
  expect_date(apply(variant_add, D(2000, 1, 1), I(1)), 2000, 1, 2);
  expect_date(apply(variant_add, D(2000, 3, 1), I(-1)), 2000, 2, 29);
  expect_date(apply(variant_add, D(1582, 10, 14), I(1)), 1582, 10, 15);
  expect_date(apply(variant_sub, D(2000, 1, 1), I(1)), 1999, 12, 31);
  expect_date(apply(variant_add, D(2000, 1, 1), N(1.9, 1)), 2000, 1, 2);  // truncated
  expect_date(apply(variant_add, D(2000, 1, 1), N(-1.9, 1)), 1999, 12, 31);
  expect_date(apply(variant_sub, D(2000, 1, 1), N(1.9, 1)), 1999, 12, 31);
  Variant empty;
  empty.set(date_st{0});
  Variant e = apply(variant_add, empty, I(1));
  ASSERT_EQ(e.tag, VT_DATE);
  EXPECT_EQ(e.date.day, 0u);
  EXPECT_EQ(apply(variant_sub, empty, I(1)).date.day, 0u);
  EXPECT_EQ(apply(variant_add, empty, NF(INFINITY)).date.day, 0u);
  expect_integer(apply(variant_sub, D(2000, 1, 1), D(2000, 1, 31)), -30);
  expect_integer(apply(variant_sub, D(2000, 3, 1), D(2000, 2, 1)), 29);
  expect_integer(apply(variant_sub, D(2000, 3, 1), empty), 0);
  expect_integer(apply(variant_sub, empty, D(2000, 3, 1)), 0);
}

TEST(DateArithmetic, RangeIs2034In64Bits) {
  const Variant d = D(2000, 1, 1);
  // Fault: D + I used the low 32 bits only, so d + 4294967296 was d.
  EXPECT_EQ(op_error(variant_add, d, I(4294967296LL)), 2034);
  EXPECT_EQ(op_error(variant_add, d, I(INT64_MAX)), 2034);
  EXPECT_EQ(op_error(variant_add, d, I(INT64_MIN)), 2034);
  EXPECT_EQ(op_error(variant_sub, d, I(INT64_MIN)), 2034);
  EXPECT_EQ(op_error(variant_sub, d, I(2451545)), 2034);  // would be the empty date
  expect_date(apply(variant_sub, d, I(2451544)), -4713, 11, 25);  // day 1
  // Fault: arithmetic ran on past 9999-12-31 (and wrapped in the display): it ends there.
  const Variant last = D(9999, 12, 31);
  EXPECT_EQ(op_error(variant_add, last, I(1)), 2034);
  EXPECT_EQ(op_error(variant_sub, D(9999, 1, 1), I(-365)), 2034);
  EXPECT_EQ(apply(variant_add, last, I(0)).date.day, static_cast<uint32_t>(kMaxDateDay));
  expect_date(apply(variant_sub, last, I(1)), 9999, 12, 30);
  expect_date(apply(variant_add, D(9999, 1, 1), I(364)), 9999, 12, 31);
  EXPECT_EQ(op_error(variant_add, d, NF(1e20)), 2034);
  EXPECT_EQ(op_error(variant_add, d, NF(5e9)), 2034);
  EXPECT_EQ(op_error(variant_add, d, NF(std::nan(""))), 2034);
  EXPECT_EQ(op_error(variant_sub, d, NF(-1e300)), 2034);
  EXPECT_EQ(op_error(variant_sub, d, NF(3e6)), 2034);
}

TEST(DatetimeArithmetic, SecondsMoveTheDay) {
  expect_datetime(apply(variant_add, T(2000, 1, 1, 23, 59, 59), I(1)), 2000, 1, 2, 0, 0, 0);
  expect_datetime(apply(variant_sub, T(2000, 1, 2, 0, 0, 0), I(86401)), 1999, 12, 31, 23, 59, 59);
  expect_datetime(apply(variant_add, T(2000, 1, 2, 0, 0, 0), I(-86401)), 1999, 12, 31, 23, 59, 59);
  expect_datetime(apply(variant_add, T(2000, 1, 1, 12, 0, 0), I(86400 * 366)), 2001, 1, 1, 12, 0, 0);
  expect_datetime(apply(variant_add, T(2000, 1, 1, 12, 0, 0), N(1.5, 1)), 2000, 1, 1, 12, 0, 2);  // half away
  expect_datetime(apply(variant_sub, T(2000, 1, 1, 12, 0, 0), N(1.5, 1)), 2000, 1, 1, 11, 59, 58);
  expect_datetime(apply(variant_add, T(2000, 1, 1, 12, 0, 0), N(-1.4, 1)), 2000, 1, 1, 11, 59, 59);
  Variant empty;
  empty.set(datetime_st{0, 0});
  Variant e = apply(variant_add, empty, I(5));
  ASSERT_EQ(e.tag, VT_DATETIME);
  EXPECT_EQ(e.datetime.day, 0u);
  EXPECT_EQ(e.datetime.ms, 0);
  EXPECT_EQ(apply(variant_sub, empty, NF(std::nan(""))).datetime.day, 0u);
}

TEST(DatetimeArithmetic, RangeIs2034) {
  const Variant t = T(2000, 1, 1, 0, 0, 0);
  EXPECT_EQ(op_error(variant_add, t, I(INT64_MAX)), 2034);
  EXPECT_EQ(op_error(variant_add, t, I(INT64_MIN)), 2034);
  EXPECT_EQ(op_error(variant_sub, t, I(INT64_MIN)), 2034);
  EXPECT_EQ(op_error(variant_sub, t, I(int64_t{2451545} * 86400)), 2034);  // before day 1
  EXPECT_EQ(op_error(variant_add, t, NF(1e300)), 2034);
  EXPECT_EQ(op_error(variant_add, t, NF(INFINITY)), 2034);
  const Variant last = T(9999, 12, 31, 23, 59, 59);
  EXPECT_EQ(op_error(variant_add, last, I(1)), 2034);
  expect_datetime(apply(variant_sub, last, I(86400)), 9999, 12, 30, 23, 59, 59);
  Variant first;
  first.set(datetime_st{1, 0});
  EXPECT_EQ(op_error(variant_sub, first, I(1)), 2034);
  datetime_st out{};
  EXPECT_TRUE(datetime_normalize(5, -1, &out));
  EXPECT_EQ(out.day, 4u);
  EXPECT_EQ(out.ms, 86399999);
  EXPECT_TRUE(datetime_normalize(5, 86400000 * 3 + 7, &out));
  EXPECT_EQ(out.day, 8u);
  EXPECT_EQ(out.ms, 7);
  EXPECT_FALSE(datetime_normalize(1, -1, &out));
  EXPECT_FALSE(datetime_normalize(0xFFFFFFFFll, 86400000, &out));
}
