// Variant comparison: the pair table, tolerance, exact money, nulls, strings under
// EXACT, and the mended faults (NaN never asserts; the zero tolerance is symmetric).
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

#include "fake_object.h"
#include "tables/session_settings.h"
#include "values/arithmetic.h"
#include "values/comparison.h"
#include "values/julian.h"
#include "vm/vm_stack.h"

using namespace qzbase;

namespace {

Variant I(int64_t v) {
  Variant x;
  x.set(integer_type_st{v});
  return x;
}
Variant NF(double v) {
  Variant x;
  x.set_float(v, free_decimals);
  return x;
}
Variant Y(int64_t raw) {
  Variant x;
  x.set(money_type_st{raw});
  return x;
}
Variant Dd(uint32_t day) {
  Variant x;
  x.set(date_st{day});
  return x;
}
Variant Tt(uint32_t day, int32_t ms) {
  Variant x;
  x.set(datetime_st{day, ms});
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
Variant Bool(bool b) {
  Variant x;
  x.set_bool(b);
  return x;
}

int cmp(const Variant& a, const Variant& b, const VmStack* stack = nullptr) {
  bool null_flag = false;
  int r = variant_cmp(&a, &b, &null_flag, stack);
  EXPECT_FALSE(null_flag);
  return r;
}

int cmp_error(const Variant& a, const Variant& b) {
  bool null_flag = false;
  try {
    variant_cmp(&a, &b, &null_flag, nullptr);
  } catch (const RuntimeError& e) {
    return e.code;
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tolerance
// ---------------------------------------------------------------------------------------------

TEST(Tolerance, TypicalExamples) {
  EXPECT_EQ(cmp_double_with_tollerance(0.1 + 0.2, 0.3), 0);
  EXPECT_EQ(cmp_double_with_tollerance(1e-16, 0), 0);
  EXPECT_EQ(cmp_double_with_tollerance(1e-15, 0), 1);
  EXPECT_EQ(cmp_double_with_tollerance(-1e-15, 0), -1);
  EXPECT_EQ(cmp(I(3), NF(3.0000000000000004)), 0);
  EXPECT_EQ(cmp(NF(3.0000000000000004), I(3)), 0);
  EXPECT_EQ(cmp(NF(1.0), NF(1.000000000000001)), -1);
  EXPECT_EQ(cmp(NF(-2.0), NF(2.0)), -1);
  EXPECT_EQ(cmp_double_with_tollerance(INFINITY, INFINITY), 0);
  EXPECT_EQ(cmp_double_with_tollerance(-INFINITY, DBL_MAX), -1);
  EXPECT_EQ(cmp_double_with_tollerance(INFINITY, DBL_MAX), 1);
}

TEST(Tolerance, ZeroRuleIsSymmetric) {
  // Fault: only a zero on the right got the absolute tolerance, so 1e-20 = 0 but not 0 = 1e-20.
  EXPECT_EQ(cmp_double_with_tollerance(1e-20, 0), 0);
  EXPECT_EQ(cmp_double_with_tollerance(0, 1e-20), 0);
  EXPECT_EQ(cmp_double_with_tollerance(0, -1e-20), 0);
  EXPECT_EQ(cmp_double_with_tollerance(0, 1e-15), -1);
  EXPECT_EQ(cmp_double_with_tollerance(0, -1e-15), 1);
  EXPECT_EQ(cmp_double_with_tollerance(-0.0, 0.0), 0);
  EXPECT_EQ(cmp_double_with_tollerance(0.0, -0.0), 0);
  EXPECT_EQ(cmp(I(0), NF(1e-20)), 0);
  EXPECT_EQ(cmp(NF(1e-20), I(0)), 0);
  EXPECT_EQ(cmp(I(0), NF(-1e-15)), 1);
}

TEST(Tolerance, AntisymmetricForEveryPair) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exp(-330, 330);
  std::uniform_int_distribution<int> ulps(-4, 4);
  for (int i = 0; i < 200000; ++i) {
    double a = std::ldexp(unit(rng), exp(rng) / 1);
    double b;
    switch (i % 4) {
      case 0:  // a few ulps away: right at the tolerance boundary
        b = a;
        for (int k = ulps(rng); k != 0; k += k > 0 ? -1 : 1) b = std::nextafter(b, k > 0 ? INFINITY : -INFINITY);
        break;
      case 1:
        b = a * (1 + unit(rng) * 1e-15);
        break;
      case 2:
        b = 0.0;
        a = unit(rng) * 1e-15;
        break;
      default:
        b = std::ldexp(unit(rng), exp(rng));
    }
    const int ab = cmp_double_with_tollerance(a, b);
    const int ba = cmp_double_with_tollerance(b, a);
    ASSERT_EQ(ab, -ba) << a << " " << b;
    ASSERT_EQ(cmp_double_with_tollerance(a, a), 0);
  }
}

TEST(Tolerance, NaNIsUnorderedAndNeverAsserts) {
  const double nan = std::nan("");
  EXPECT_EQ(cmp_double_with_tollerance(nan, 1.0), kCmpUnordered);
  EXPECT_EQ(cmp_double_with_tollerance(1.0, nan), kCmpUnordered);
  EXPECT_EQ(cmp_double_with_tollerance(nan, 0.0), kCmpUnordered);
  EXPECT_EQ(cmp_double_with_tollerance(0.0, nan), kCmpUnordered);
  EXPECT_EQ(cmp_double_with_tollerance(nan, nan), kCmpUnordered);
  EXPECT_EQ(cmp_double_with_tollerance(nan, INFINITY), kCmpUnordered);

  // NaN is reachable: 0 / 0 of numerics.
  Variant zero_by_zero = NF(0.0);
  Variant z = NF(0.0);
  variant_div(&zero_by_zero, &z);
  ASSERT_EQ(zero_by_zero.tag, VT_NUMERIC);
  for (const Variant& other : {I(1), NF(1.0), Y(10000), I(0), NF(0.0)}) {
    int r = 0;
    EXPECT_NO_THROW(r = cmp(zero_by_zero, other));
    EXPECT_EQ(r, kCmpUnordered);
    EXPECT_FALSE(cmp_eq(r) || cmp_lt(r) || cmp_gt(r) || cmp_le(r) || cmp_ge(r));
    EXPECT_TRUE(cmp_ne(r));
    EXPECT_EQ(cmp(other, zero_by_zero), kCmpUnordered);
  }
  EXPECT_EQ(cmp(zero_by_zero, zero_by_zero), kCmpUnordered);
}

TEST(Tolerance, Predicates) {
  EXPECT_TRUE(cmp_lt(-1) && cmp_le(-1) && cmp_ne(-1) && !cmp_gt(-1) && !cmp_ge(-1) && !cmp_eq(-1));
  EXPECT_TRUE(cmp_eq(0) && cmp_le(0) && cmp_ge(0) && !cmp_ne(0) && !cmp_lt(0) && !cmp_gt(0));
  EXPECT_TRUE(cmp_gt(1) && cmp_ge(1) && cmp_ne(1) && !cmp_lt(1) && !cmp_le(1) && !cmp_eq(1));
}

// ---------------------------------------------------------------------------------------------
// Money against integers and numerics
// ---------------------------------------------------------------------------------------------

TEST(MoneyComparison, ExactAgainstIntegers) {
  EXPECT_EQ(cmp(Y(10000), I(1)), 0);
  EXPECT_EQ(cmp(I(1), Y(10000)), 0);
  EXPECT_EQ(cmp(Y(1), I(0)), 1);
  EXPECT_EQ(cmp(I(0), Y(1)), -1);
  EXPECT_EQ(cmp(Y(-1), I(0)), -1);
  // 461168601842738.7905 against 461168601842738: a double would not tell them apart.
  EXPECT_EQ(cmp(Y((int64_t{1} << 62) + 1), I(461168601842738LL)), 1);
  EXPECT_EQ(cmp(Y(4611686018427380000LL), I(461168601842738LL)), 0);
  // Integers beyond the money range (their x 10000 leaves 64 bits) still compare exactly.
  EXPECT_EQ(cmp(Y(INT64_MAX), I(922337203685478LL)), -1);
  EXPECT_EQ(cmp(Y(INT64_MAX), I(INT64_MAX)), -1);
  EXPECT_EQ(cmp(Y(INT64_MIN), I(INT64_MIN)), 1);
  EXPECT_EQ(cmp(I(INT64_MIN), Y(INT64_MIN)), -1);
  EXPECT_EQ(cmp_money_to_int_exact(money_type_st{INT64_MAX}, 922337203685477LL), 1);
  EXPECT_EQ(cmp_int_to_money_exact(922337203685477LL, money_type_st{9223372036854770000LL}), 0);
}

TEST(MoneyComparison, AgainstNumericsAndMoney) {
  EXPECT_EQ(cmp(Y(15000), NF(1.5)), 0);
  EXPECT_EQ(cmp(NF(1.5), Y(15000)), 0);
  EXPECT_EQ(cmp(NF(1.4999), Y(15000)), -1);
  EXPECT_EQ(cmp(Y(INT64_MIN), Y(INT64_MAX)), -1);
  EXPECT_EQ(cmp(Y(5), Y(5)), 0);
  EXPECT_EQ(cmp(Y(6), Y(5)), 1);
}

// ---------------------------------------------------------------------------------------------
// The pair table
// ---------------------------------------------------------------------------------------------

TEST(PairTable, LogicalsIntegersDates) {
  EXPECT_EQ(cmp(Bool(false), Bool(false)), 0);
  EXPECT_EQ(cmp(Bool(true), Bool(true)), 0);
  EXPECT_EQ(cmp(Bool(false), Bool(true)), -1);
  EXPECT_EQ(cmp(Bool(true), Bool(false)), 1);
  EXPECT_EQ(cmp(I(-5), I(3)), -1);
  EXPECT_EQ(cmp(I(INT64_MAX), I(INT64_MIN)), 1);
  EXPECT_EQ(cmp(Dd(0), Dd(1)), -1);  // the empty date orders first
  EXPECT_EQ(cmp(Dd(0xFFFFFFFFu), Dd(1)), 1);
  EXPECT_EQ(cmp(Dd(7), Dd(7)), 0);
  EXPECT_EQ(cmp(Tt(5, 999), Tt(6, 0)), -1);
  EXPECT_EQ(cmp(Tt(6, 1), Tt(6, 0)), 1);
  EXPECT_EQ(cmp(Tt(6, 1), Tt(6, 1)), 0);
  EXPECT_EQ(cmp(Tt(0x80000000u, 0), Tt(1, 0)), 1);  // day numbers are unsigned
}

TEST(PairTable, MismatchesRaise107) {
  EXPECT_EQ(cmp_error(Dd(2451545), Tt(2451545, 0)), 107);  // a date never meets a datetime
  EXPECT_EQ(cmp_error(Tt(2451545, 0), Dd(2451545)), 107);
  EXPECT_EQ(cmp_error(Bool(false), I(0)), 107);
  EXPECT_EQ(cmp_error(I(0), Bool(true)), 107);
  EXPECT_EQ(cmp_error(S("1"), I(1)), 107);
  EXPECT_EQ(cmp_error(Y(1), Dd(1)), 107);
  Variant arr;
  arr.dimension(nullptr, 1, 0);
  EXPECT_EQ(cmp_error(arr, arr), 107);
  Variant target = I(1), ref;
  target.ref(nullptr, &ref, nullptr);
  EXPECT_EQ(cmp_error(ref, I(1)), 107);  // references are not followed
  EXPECT_EQ(cmp_error(I(1), ref), 107);
  EXPECT_EQ(cmp_error(ref, Null()), 107);
  arr.release(nullptr);
}

TEST(PairTable, NullsSetTheFlagAndKeepIt) {
  Variant target = I(1), ref;
  target.ref(nullptr, &ref, nullptr);
  Variant arr;
  arr.dimension(nullptr, 1, 0);
  const Variant null = Null();
  const Variant others[] = {Bool(false), Bool(true), I(1), NF(1), Y(1), Dd(1), Tt(1, 0), S("a"), Null()};
  for (const Variant& o : others) {
    bool flag = false;
    EXPECT_EQ(variant_cmp(&null, &o, &flag, nullptr), 0);
    EXPECT_TRUE(flag);
    flag = false;
    EXPECT_EQ(variant_cmp(&o, &null, &flag, nullptr), 0);
    EXPECT_TRUE(flag);
  }
  bool flag = false;
  EXPECT_EQ(variant_cmp(&null, &ref, &flag, nullptr), 0);  // a reference on the right meets null
  EXPECT_TRUE(flag);
  flag = false;
  EXPECT_EQ(variant_cmp(&arr, &null, &flag, nullptr), 0);
  EXPECT_TRUE(flag);
  // The flag is never cleared by a later comparison.
  const Variant one = I(1), two = I(2);
  EXPECT_EQ(variant_cmp(&one, &two, &flag, nullptr), -1);
  EXPECT_TRUE(flag);
  EXPECT_EQ(inline_variant_cmp(&one, &two, &flag, nullptr), -1);
  EXPECT_TRUE(flag);
  arr.release(nullptr);
}

TEST(PairTable, InlineMatchesTable) {
  const Variant pairs[][2] = {{I(1), I(2)}, {I(2), I(1)}, {I(3), I(3)}, {I(1), NF(1.0)}, {S("a"), S("b")}};
  for (const auto& p : pairs) {
    bool f1 = false, f2 = false;
    EXPECT_EQ(inline_variant_cmp(&p[0], &p[1], &f1, nullptr), variant_cmp(&p[0], &p[1], &f2, nullptr));
  }
}

TEST(PairTable, BrokenTagsAssert) {
  Variant bad = I(1);
  bad.tag = 20;
  Variant one = I(1);
  bool flag = false;
  EXPECT_THROW(variant_cmp(&bad, &one, &flag, nullptr), assert_failed_exception);
  bad.tag = VT_INTEGER;
}

using ObjectComparison = qzbase::testing_fakes::FakeObjectTest;

TEST_F(ObjectComparison, SameObjectEqualOthersStable) {
  Variant a, b;
  a.set_new_object(new qzbase::testing_fakes::FakeObject(&log, "a"));
  b.set_new_object(new qzbase::testing_fakes::FakeObject(&log, "b"));
  Variant a2 = a;
  EXPECT_EQ(cmp(a, a2), 0);
  const int ab = cmp(a, b);
  EXPECT_NE(ab, 0);
  EXPECT_EQ(cmp(b, a), -ab);
  EXPECT_EQ(cmp(a, b), ab);
  a.release(&stack);
  a2.release(&stack);
  b.release(&stack);
}

// ---------------------------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------------------------

TEST(StringComparison, PlainWithoutStack) {
  EXPECT_EQ(cmp(S("abc"), S("abc")), 0);
  EXPECT_EQ(cmp(S("abc"), S("abd")), -1);
  EXPECT_EQ(cmp(S("abc"), S("abc  ")), -1);  // a proper prefix orders first
  EXPECT_EQ(cmp(S("abcd"), S("abc")), 1);
  EXPECT_EQ(cmp(S("B"), S("a")), -1);  // code points: "B" (66) before "a" (97)
  EXPECT_EQ(cmp(S("\xC3\xA9"), S("z")), 1);  // U+00E9 after "z"
  EXPECT_EQ(cmp(S(""), S("")), 0);
}

TEST(StringComparison, ExactOnAndOffFromTheSession) {
  VmStack stack;  // a fresh stack's session: EXACT OFF
  SessionSettings* const saved = stack.session_settings;
  EXPECT_FALSE(current_settings(&stack).exact);
  EXPECT_EQ(cmp(S("abcd"), S("abc"), &stack), 0);  // equal once the right side is exhausted
  EXPECT_EQ(cmp(S("abc"), S("abcd"), &stack), -1);
  EXPECT_EQ(cmp(S("abc"), S(""), &stack), 0);
  EXPECT_EQ(cmp(S("abd"), S("abc"), &stack), 1);

  SessionSettings settings;
  settings.exact = true;
  stack.session_settings = &settings;
  EXPECT_EQ(cmp(S("abc"), S("abc   "), &stack), 0);  // trailing blanks ignored
  EXPECT_EQ(cmp(S("abc  "), S("abc"), &stack), 0);
  EXPECT_EQ(cmp(S("abcd"), S("abc"), &stack), 1);
  EXPECT_EQ(cmp(S("abc"), S("abcd"), &stack), -1);
  EXPECT_EQ(cmp(S("B"), S("a"), &stack), -1);  // still code points

  settings.exact = false;
  EXPECT_EQ(cmp(S("abcd"), S("abc"), &stack), 0);
  stack.session_settings = nullptr;  // no session record: the defaults (EXACT OFF)
  EXPECT_EQ(cmp(S("abcd"), S("abc"), &stack), 0);
  stack.session_settings = saved;
}

TEST(SessionSettingsDefaults, InitialValues) {
  const SessionSettings& d = current_settings(nullptr);
  EXPECT_STREQ(d.decimal_point, ".");
  EXPECT_EQ(d.decimal_point_code, U'.');
  EXPECT_TRUE(d.point_is_ascii);
  EXPECT_EQ(d.separator, U',');
  EXPECT_EQ(d.decimals, 2u);
  EXPECT_EQ(d.date_format, kSetDateAmerican);
  EXPECT_STREQ(d.mark, "/");
  EXPECT_FALSE(d.century);
  EXPECT_EQ(d.hours, 12u);
  EXPECT_TRUE(d.seconds);
  EXPECT_FALSE(d.exact);
  EXPECT_FALSE(d.near);
  EXPECT_TRUE(d.exclusive);
  EXPECT_FALSE(d.deleted);
  EXPECT_EQ(d.blocksize, 64u);
  EXPECT_EQ(&d, &default_session_settings());
  VmStack stack;
  SessionSettings* const saved = stack.session_settings;
  stack.session_settings = nullptr;
  EXPECT_EQ(&current_settings(&stack), &default_session_settings());
  SessionSettings mine;
  mine.decimals = 5;
  stack.session_settings = &mine;
  EXPECT_EQ(current_settings(&stack).decimals, 5u);
  EXPECT_EQ(&current_settings(&stack), &mine);
  stack.session_settings = saved;
}
