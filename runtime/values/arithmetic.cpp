// arithmetic.cpp - Variant arithmetic. The faults it guards against are listed in arithmetic.h.
#include "values/arithmetic.h"

#include <cfloat>
#include <cmath>

#include "values/comparison.h"
#include "values/julian.h"

namespace qzbase {

// ---------------------------------------------------------------------------------------------
// Numeric steps
// ---------------------------------------------------------------------------------------------

namespace {

// numeric_scaled with p = value x 10^d already formed and |p| < 2^52.
inline double scaled_in_reach(double value, uint64_t decimals, uint64_t d, double p) {
  if (decimals == free_decimals || decimals < d) return std::round(p);
  const double q = decimals == d ? p : value * pow10_double(decimals);
  if (!(std::fabs(q) <= kNumericExactLimit)) return std::round(p);  // the exact step is out of reach
  const int64_t i = static_cast<int64_t>(std::round(q));
  const uint64_t k = decimals - d;
  if (k == 0) return static_cast<double>(i);
  if (k > 18) return 0.0;  // |i| < 2^52 < 10^16 / 2: the quotient rounds to 0
  return static_cast<double>(div_round_half_away_i64(i, kPow10Int[k]));
}

}  // namespace

double numeric_scaled(double value, uint64_t decimals, uint64_t d) {
  QZ_TRACE;
  const double p = value * pow10_double(d);
  if (!(std::fabs(p) < kTwo52)) return p;  // integral already, or NaN / infinite
  return scaled_in_reach(value, decimals, d, p);
}

void numeric_scale(numeric_type_st* n, uint64_t d) {
  QZ_TRACE;
  n->value = numeric_scaled(n->value, n->decimals, d);
}

void numeric_round(numeric_type_st* n, uint64_t d) {
  QZ_TRACE;
  const double scale = pow10_double(d);
  const double p = n->value * scale;
  if (std::fabs(p) < kTwo52) n->value = scaled_in_reach(n->value, n->decimals, d, p) / scale;
  n->decimals = d;
}

bool datetime_normalize(int64_t day, int64_t ms, datetime_st* out) {
  QZ_TRACE;
  int64_t q = ms / 86400000;
  int64_t r = ms % 86400000;
  if (r < 0) {
    r += 86400000;
    q -= 1;
  }
  day += q;
  if (day < 1 || day > kMaxJulianDay) return false;
  out->day = static_cast<uint32_t>(day);
  out->ms = static_cast<int32_t>(r);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Helpers of the operations
// ---------------------------------------------------------------------------------------------

namespace {

[[noreturn]] __attribute__((cold, noinline)) void arith_error(int code) { throw RuntimeError(code); }

using BinaryOp = void (*)(Variant* left, const Variant* right);

struct OpTable {
  BinaryOp f[256];
};

constexpr int key(int left, int right) { return left * 16 + right; }

inline void check_tags(const Variant* left, const Variant* right) {
  if ((left->tag | right->tag) >= 16) throw_assert_failed();
}

inline void set_numeric(Variant* v, double value, uint64_t decimals) {
  v->numeric.value = value;
  v->numeric.decimals = decimals;
  v->tag = VT_NUMERIC;
}

inline void set_integer(Variant* v, int64_t value) {
  v->integer.value = value;
  v->tag = VT_INTEGER;
}

// 2^63 as a double: the first magnitude that leaves int64.
constexpr double kTwo63 = 9223372036854775808.0;

// An integer when the integral double fits int64; a numeric with 0 decimals otherwise (also for
// a NaN or an infinity).
inline void set_integral(Variant* v, double integral) {
  if (integral >= -kTwo63 && integral < kTwo63) {
    set_integer(v, static_cast<int64_t>(integral));
  } else {
    set_numeric(v, integral, 0);
  }
}

inline money_wide money_of_numeric(const Variant* v) {
  money_wide raw;
  if (!numeric_to_money_checked(v->numeric.decimals, v->numeric.value, &raw)) throw_money_range();
  return raw;
}

// The raw value of an integer, numeric or money operand of a money operation.
inline money_wide money_operand(const Variant* v) {
  switch (v->tag) {
    case VT_INTEGER:
      return static_cast<money_wide>(v->integer.value) * 10000;
    case VT_NUMERIC:
      return money_of_numeric(v);
    default:
      return v->money.value;
  }
}

inline void store_date(Variant* v, int64_t day) {
  if (day < 1 || day > kMaxJulianDay) arith_error(2034);
  v->date.day = static_cast<uint32_t>(day);
}

// A numeric day or second count as a 64-bit integer (truncated or rounded by the caller); 2034
// when it cannot move any date within range.
inline int64_t bounded_count(double v) {
  if (!(std::fabs(v) < 1e15)) arith_error(2034);  // also NaN
  return static_cast<int64_t>(v);
}

// The datetime moved by a signed number of seconds; an empty datetime stays.
void datetime_add_seconds(Variant* v, int64_t seconds, bool subtract) {
  if (v->datetime.day == 0) return;
  const int64_t q = seconds / 86400;
  const int64_t rem_ms = (seconds - q * 86400) * 1000;
  int64_t day = v->datetime.day;
  int64_t ms = v->datetime.ms;
  if (subtract) {
    day -= q;
    ms -= rem_ms;
  } else {
    day += q;
    ms += rem_ms;
  }
  if (!datetime_normalize(day, ms, &v->datetime)) arith_error(2034);
}

inline int64_t round_seconds(double v) { return bounded_count(std::round(v)); }

void release_to_null(Variant* v) {
  v->release(nullptr);
  v->tag = VT_NULL;
}

// ---------------------------------------------------------------------------------------------
// Addition
// ---------------------------------------------------------------------------------------------

void add_mismatch(Variant*, const Variant*) { arith_error(107); }
void keep_left(Variant*, const Variant*) {}
void left_to_null(Variant* l, const Variant*) { l->tag = VT_NULL; }
void string_to_null(Variant* l, const Variant*) { release_to_null(l); }

void add_II(Variant* l, const Variant* r) {
  const int64_t a = l->integer.value, b = r->integer.value;
  int64_t s;
  if (__builtin_add_overflow(a, b, &s)) {
    set_numeric(l, static_cast<double>(a) + static_cast<double>(b), 0);
  } else {
    l->integer.value = s;
  }
}
void add_IN(Variant* l, const Variant* r) {
  set_numeric(l, static_cast<double>(l->integer.value) + r->numeric.value, r->numeric.decimals);
}
void add_NI(Variant* l, const Variant* r) { l->numeric.value += static_cast<double>(r->integer.value); }
void add_NN(Variant* l, const Variant* r) {
  const numeric_type_st b = r->numeric;
  l->numeric.value += b.value;
  if (b.decimals > l->numeric.decimals) l->numeric.decimals = b.decimals;
  numeric_normalize(&l->numeric);
}
void add_money(Variant* l, const Variant* r) { store_money(l, money_operand(l) + money_operand(r)); }
void add_DI(Variant* l, const Variant* r) {
  if (l->date.day == 0) return;
  int64_t day;
  if (__builtin_add_overflow(static_cast<int64_t>(l->date.day), r->integer.value, &day)) arith_error(2034);
  store_date(l, day);
}
void add_DN(Variant* l, const Variant* r) {
  if (l->date.day == 0) return;
  store_date(l, static_cast<int64_t>(l->date.day) + bounded_count(std::trunc(r->numeric.value)));
}
void add_TI(Variant* l, const Variant* r) { datetime_add_seconds(l, r->integer.value, false); }
void add_TN(Variant* l, const Variant* r) {
  if (l->datetime.day == 0) return;
  datetime_add_seconds(l, round_seconds(r->numeric.value), false);
}
void add_SS(Variant* l, const Variant* r) {
  try {
    l->string.add(&r->string);
  } catch (const cstran_chars_lost&) {
    throw RuntimeError(9011, String(l->string.get_charset()->name()));
  }
}
void add_P(Variant* l, const Variant* r) { variant_add(l->reference.target, r); }

constexpr OpTable make_add_table() {
  OpTable t{};
  for (BinaryOp& f : t.f) f = add_mismatch;
  t.f[key(VT_INTEGER, VT_INTEGER)] = add_II;
  t.f[key(VT_INTEGER, VT_NUMERIC)] = add_IN;
  t.f[key(VT_INTEGER, VT_MONEY)] = add_money;
  t.f[key(VT_NUMERIC, VT_INTEGER)] = add_NI;
  t.f[key(VT_NUMERIC, VT_NUMERIC)] = add_NN;
  t.f[key(VT_NUMERIC, VT_MONEY)] = add_money;
  t.f[key(VT_MONEY, VT_INTEGER)] = add_money;
  t.f[key(VT_MONEY, VT_NUMERIC)] = add_money;
  t.f[key(VT_MONEY, VT_MONEY)] = add_money;
  t.f[key(VT_DATE, VT_INTEGER)] = add_DI;
  t.f[key(VT_DATE, VT_NUMERIC)] = add_DN;
  t.f[key(VT_DATETIME, VT_INTEGER)] = add_TI;
  t.f[key(VT_DATETIME, VT_NUMERIC)] = add_TN;
  t.f[key(VT_STRING, VT_STRING)] = add_SS;
  for (int r : {VT_INTEGER, VT_NUMERIC, VT_MONEY, VT_DATE, VT_DATETIME, VT_STRING, VT_NULL}) {
    t.f[key(VT_NULL, r)] = keep_left;
  }
  for (int l : {VT_INTEGER, VT_NUMERIC, VT_MONEY, VT_DATE, VT_DATETIME}) t.f[key(l, VT_NULL)] = left_to_null;
  t.f[key(VT_STRING, VT_NULL)] = string_to_null;
  for (int r = 0; r < 16; ++r) {
    if (r != VT_TRUE && r != VT_REFERENCE) t.f[key(VT_REFERENCE, r)] = add_P;
  }
  return t;
}

constexpr OpTable kAdd = make_add_table();

// ---------------------------------------------------------------------------------------------
// Subtraction
// ---------------------------------------------------------------------------------------------

void sub_II(Variant* l, const Variant* r) {
  const int64_t a = l->integer.value, b = r->integer.value;
  int64_t s;
  if (__builtin_sub_overflow(a, b, &s)) {
    set_numeric(l, static_cast<double>(a) - static_cast<double>(b), 0);
  } else {
    l->integer.value = s;
  }
}
void sub_IN(Variant* l, const Variant* r) {
  set_numeric(l, static_cast<double>(l->integer.value) - r->numeric.value, r->numeric.decimals);
}
void sub_NI(Variant* l, const Variant* r) { l->numeric.value -= static_cast<double>(r->integer.value); }
void sub_NN(Variant* l, const Variant* r) {
  const numeric_type_st b = r->numeric;
  l->numeric.value -= b.value;
  if (b.decimals > l->numeric.decimals) l->numeric.decimals = b.decimals;
  numeric_normalize(&l->numeric);
}
void sub_money(Variant* l, const Variant* r) { store_money(l, money_operand(l) - money_operand(r)); }
void sub_DI(Variant* l, const Variant* r) {
  if (l->date.day == 0) return;
  int64_t day;
  if (__builtin_sub_overflow(static_cast<int64_t>(l->date.day), r->integer.value, &day)) arith_error(2034);
  store_date(l, day);
}
void sub_DN(Variant* l, const Variant* r) {
  if (l->date.day == 0) return;
  store_date(l, static_cast<int64_t>(l->date.day) - bounded_count(std::trunc(r->numeric.value)));
}
void sub_DD(Variant* l, const Variant* r) {
  const uint32_t a = l->date.day, b = r->date.day;
  set_integer(l, (a == 0 || b == 0) ? 0 : static_cast<int64_t>(a) - static_cast<int64_t>(b));
}
void sub_TI(Variant* l, const Variant* r) { datetime_add_seconds(l, r->integer.value, true); }
void sub_TN(Variant* l, const Variant* r) {
  if (l->datetime.day == 0) return;
  datetime_add_seconds(l, round_seconds(r->numeric.value), true);
}
void sub_SS(Variant* l, const Variant* r) {
  const String right = r->string;  // r may be l itself, whose text the trim shortens
  l->string.rtrim();
  try {
    l->string.add(right);
  } catch (const cstran_chars_lost&) {
    throw RuntimeError(9011, String(l->string.get_charset()->name()));
  }
}
void sub_P(Variant* l, const Variant* r) { variant_sub(l->reference.target, r); }

constexpr OpTable make_sub_table() {
  OpTable t{};
  for (BinaryOp& f : t.f) f = add_mismatch;
  t.f[key(VT_INTEGER, VT_INTEGER)] = sub_II;
  t.f[key(VT_INTEGER, VT_NUMERIC)] = sub_IN;
  t.f[key(VT_INTEGER, VT_MONEY)] = sub_money;
  t.f[key(VT_NUMERIC, VT_INTEGER)] = sub_NI;
  t.f[key(VT_NUMERIC, VT_NUMERIC)] = sub_NN;
  t.f[key(VT_NUMERIC, VT_MONEY)] = sub_money;
  t.f[key(VT_MONEY, VT_INTEGER)] = sub_money;
  t.f[key(VT_MONEY, VT_NUMERIC)] = sub_money;
  t.f[key(VT_MONEY, VT_MONEY)] = sub_money;
  t.f[key(VT_DATE, VT_INTEGER)] = sub_DI;
  t.f[key(VT_DATE, VT_NUMERIC)] = sub_DN;
  t.f[key(VT_DATE, VT_DATE)] = sub_DD;
  t.f[key(VT_DATETIME, VT_INTEGER)] = sub_TI;
  t.f[key(VT_DATETIME, VT_NUMERIC)] = sub_TN;
  t.f[key(VT_STRING, VT_STRING)] = sub_SS;
  for (int r = 0; r < 16; ++r) t.f[key(VT_REFERENCE, r)] = sub_P;
  return t;
}

constexpr OpTable kSub = make_sub_table();

// ---------------------------------------------------------------------------------------------
// Multiplication
// ---------------------------------------------------------------------------------------------

void type_error(Variant*, const Variant*) { arith_error(11); }

void mul_II(Variant* l, const Variant* r) {
  const int64_t a = l->integer.value, b = r->integer.value;
  int64_t p;
  if (__builtin_mul_overflow(a, b, &p)) {
    set_numeric(l, static_cast<double>(a) * static_cast<double>(b), 0);
  } else {
    l->integer.value = p;
  }
}
void mul_IN(Variant* l, const Variant* r) {
  set_numeric(l, static_cast<double>(l->integer.value) * r->numeric.value, r->numeric.decimals);
}
void mul_NI(Variant* l, const Variant* r) { l->numeric.value *= static_cast<double>(r->integer.value); }
void mul_NN(Variant* l, const Variant* r) {
  const uint64_t a = l->numeric.decimals, b = r->numeric.decimals;
  l->numeric.value *= r->numeric.value;
  uint64_t d = free_decimals;
  if (a != free_decimals && b != free_decimals && a <= 15 && b <= 15 && a + b <= 15) d = a + b;
  l->numeric.decimals = d;
}
void mul_IY(Variant* l, const Variant* r) {
  money_wide p;
  if (!money_mul_checked(l->integer.value, r->money.value, &p)) throw_money_range();
  store_money(l, p);
}
void mul_YI(Variant* l, const Variant* r) {
  money_wide p;
  if (!money_mul_int_checked(l->money.value, r->integer.value, &p)) throw_money_range();
  store_money(l, p);
}
// N x Y, Y x N, Y x Y: the product of the raw values carries 8 decimals; back to 4, rounded.
void mul_money(Variant* l, const Variant* r) {
  money_wide p;
  if (!money_mul_checked(money_operand(l), money_operand(r), &p)) throw_money_range();
  store_money(l, (p >= 0 ? p + 5000 : p - 5000) / 10000);
}

constexpr OpTable make_mul_table() {
  OpTable t{};
  for (BinaryOp& f : t.f) f = type_error;
  t.f[key(VT_INTEGER, VT_INTEGER)] = mul_II;
  t.f[key(VT_INTEGER, VT_NUMERIC)] = mul_IN;
  t.f[key(VT_INTEGER, VT_MONEY)] = mul_IY;
  t.f[key(VT_NUMERIC, VT_INTEGER)] = mul_NI;
  t.f[key(VT_NUMERIC, VT_NUMERIC)] = mul_NN;
  t.f[key(VT_NUMERIC, VT_MONEY)] = mul_money;
  t.f[key(VT_MONEY, VT_INTEGER)] = mul_YI;
  t.f[key(VT_MONEY, VT_NUMERIC)] = mul_money;
  t.f[key(VT_MONEY, VT_MONEY)] = mul_money;
  return t;
}

constexpr OpTable kMul = make_mul_table();

// ---------------------------------------------------------------------------------------------
// Division
// ---------------------------------------------------------------------------------------------

// A double quotient: an integer when it is integral within the tolerance (and not a tiny
// non-zero value rounding to 0), a numeric with free decimals otherwise.
void set_quotient(Variant* l, double q) {
  const double rq = std::round(q);
  if ((rq != 0 || q == 0) && rq >= -kTwo63 && rq < kTwo63 && cmp_double_with_tollerance(q, rq) == 0) {
    set_integer(l, static_cast<int64_t>(rq));
  } else {
    set_numeric(l, q, free_decimals);
  }
}

void div_II(Variant* l, const Variant* r) {
  const int64_t a = l->integer.value, b = r->integer.value;
  if (b != 0 && !(b == -1 && a == INT64_MIN) && a % b == 0) {
    l->integer.value = a / b;
  } else {
    set_numeric(l, static_cast<double>(a) / static_cast<double>(b), free_decimals);
  }
}
void div_IN(Variant* l, const Variant* r) {
  set_quotient(l, static_cast<double>(l->integer.value) / r->numeric.value);
}
void div_NI(Variant* l, const Variant* r) {
  set_quotient(l, l->numeric.value / static_cast<double>(r->integer.value));
}
void div_NN(Variant* l, const Variant* r) { set_quotient(l, l->numeric.value / r->numeric.value); }
void div_IY(Variant* l, const Variant* r) {
  const money_wide d = r->money.value;
  if (d == 0) throw_money_range();
  store_money(l, div_round_half_away(static_cast<money_wide>(l->integer.value) * 100000000, d));
}
void div_YI(Variant* l, const Variant* r) {
  const int64_t d = r->integer.value;
  if (d == 0) throw_money_range();
  store_money(l, div_round_half_away(l->money.value, static_cast<money_wide>(d)));
}
void div_money(Variant* l, const Variant* r) {
  const money_wide a = money_operand(l);
  const money_wide d = money_operand(r);
  if (d == 0) throw_money_range();
  money_wide n;
  if (!money_mul_checked(a, 10000, &n)) throw_money_range();
  store_money(l, div_round_half_away(n, d));
}

constexpr OpTable make_div_table() {
  OpTable t{};
  for (BinaryOp& f : t.f) f = type_error;
  t.f[key(VT_INTEGER, VT_INTEGER)] = div_II;
  t.f[key(VT_INTEGER, VT_NUMERIC)] = div_IN;
  t.f[key(VT_INTEGER, VT_MONEY)] = div_IY;
  t.f[key(VT_NUMERIC, VT_INTEGER)] = div_NI;
  t.f[key(VT_NUMERIC, VT_NUMERIC)] = div_NN;
  t.f[key(VT_NUMERIC, VT_MONEY)] = div_money;
  t.f[key(VT_MONEY, VT_INTEGER)] = div_YI;
  t.f[key(VT_MONEY, VT_NUMERIC)] = div_money;
  t.f[key(VT_MONEY, VT_MONEY)] = div_money;
  return t;
}

constexpr OpTable kDiv = make_div_table();

// ---------------------------------------------------------------------------------------------
// Power
// ---------------------------------------------------------------------------------------------

inline double power_operand(const Variant* v) {
  switch (v->tag) {
    case VT_INTEGER:
      return static_cast<double>(v->integer.value);
    case VT_NUMERIC:
      return v->numeric.value;
    default:
      return static_cast<double>(v->money.value) / 10000.0;  // |raw| < 2^95: always finite
  }
}

void pow_numbers(Variant* l, const Variant* r) {
  const double p = std::pow(power_operand(l), power_operand(r));
  if (p != p) arith_error(78);
  set_numeric(l, p, free_decimals);
}

constexpr OpTable make_pow_table() {
  OpTable t{};
  for (BinaryOp& f : t.f) f = type_error;
  for (int a : {VT_INTEGER, VT_NUMERIC, VT_MONEY}) {
    for (int b : {VT_INTEGER, VT_NUMERIC, VT_MONEY}) t.f[key(a, b)] = pow_numbers;
  }
  return t;
}

constexpr OpTable kPow = make_pow_table();

// Releases a temporary with the given stack when it goes out of scope.
class StackTemp {
 public:
  explicit StackTemp(VmStack* stack) : stack_(stack) {}
  ~StackTemp() {
    try {
      value.release(stack_);
    } catch (...) {
      // Only a string can be here (arithmetic makes no object); its release does not throw.
    }
  }
  StackTemp(const StackTemp&) = delete;
  StackTemp& operator=(const StackTemp&) = delete;
  Variant value;

 private:
  VmStack* stack_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------------------------

void variant_add(Variant* left, const Variant* right) {
  QZ_TRACE;
  check_tags(left, right);
  kAdd.f[key(left->tag, right->tag)](left, right);
}

void variant_sub(Variant* left, const Variant* right) {
  QZ_TRACE;
  check_tags(left, right);
  kSub.f[key(left->tag, right->tag)](left, right);
}

void variant_mul(Variant* left, const Variant* right) {
  QZ_TRACE;
  check_tags(left, right);
  kMul.f[key(left->tag, right->tag)](left, right);
}

void variant_div(Variant* left, const Variant* right) {
  QZ_TRACE;
  check_tags(left, right);
  kDiv.f[key(left->tag, right->tag)](left, right);
}

void variant_pow(Variant* left, const Variant* right) {
  QZ_TRACE;
  check_tags(left, right);
  kPow.f[key(left->tag, right->tag)](left, right);
}

void variant_mod(VmStack* stack, const Variant* a, const Variant* b, Variant* result) {
  QZ_TRACE;
  if (!result->empty()) throw_assert_failed();
  StackTemp t(stack), u(stack);
  a->copy(&t.value);
  variant_div(&t.value, b);
  variant_floor(&t.value);
  b->copy(&u.value);
  variant_mul(&u.value, &t.value);
  t.value.release(stack);
  a->copy(&t.value);
  variant_sub(&t.value, &u.value);
  result->set_variant(&t.value);
}

void variant_round(Variant* v, int64_t places) {
  QZ_TRACE;
  switch (v->tag) {
    case VT_NUMERIC: {
      const double value = v->numeric.value;
      if (places > 0) {
        numeric_round(&v->numeric, static_cast<uint64_t>(places));
      } else if (places == 0) {
        set_integral(v, std::round(value));
      } else {
        // To a multiple of 10^-places. A unit beyond the double range rounds every value to 0.
        const double unit = pow10_double(static_cast<uint64_t>(-(places + 1)) + 1);
        const double r = std::isinf(unit) ? 0.0 : std::round(value / unit) * unit;
        if (std::isinf(r) && std::isfinite(value)) arith_error(39);
        set_integral(v, r);
      }
      return;
    }
    case VT_MONEY: {
      money_wide raw = v->money.value;
      if (!money_round_checked(&raw, places)) throw_money_range();
      store_money(v, raw);
      return;
    }
    case VT_INTEGER: {
      if (places >= 0) return;
      // |value| < 2^63 < 10^20 / 2: every unit from 10^20 on rounds to 0.
      if (places <= -20) {
        v->integer.value = 0;
        return;
      }
      const money_wide unit = pow10_wide(static_cast<int>(-places));
      const money_wide r = div_round_half_away(static_cast<money_wide>(v->integer.value), unit) * unit;
      if (r >= INT64_MIN && r <= INT64_MAX) {
        v->integer.value = static_cast<int64_t>(r);
      } else {
        set_numeric(v, static_cast<double>(r), 0);
      }
      return;
    }
    default:
      arith_error(107);
  }
}

void variant_floor(Variant* v) {
  QZ_TRACE;
  switch (v->tag) {
    case VT_NUMERIC: {
      numeric_type_st n = v->numeric;
      numeric_normalize(&n);
      set_integral(v, std::floor(n.value));
      return;
    }
    case VT_MONEY: {
      const money_wide raw = v->money.value;
      money_wide r = raw / 10000 * 10000;
      if (raw < 0 && r != raw) r -= 10000;
      store_money(v, r);
      return;
    }
    case VT_INTEGER:
      return;
    default:
      arith_error(107);
  }
}

void variant_ceil(Variant* v) {
  QZ_TRACE;
  switch (v->tag) {
    case VT_NUMERIC:
      set_integral(v, std::ceil(v->numeric.value));
      return;
    case VT_MONEY: {
      const money_wide raw = v->money.value;
      money_wide r = raw / 10000 * 10000;
      if (raw > 0 && r != raw) r += 10000;
      store_money(v, r);
      return;
    }
    case VT_INTEGER:
      return;
    default:
      arith_error(107);
  }
}

void variant_sqrt(Variant* v) {
  QZ_TRACE;
  while (v->tag == VT_REFERENCE) v = v->reference.target;
  switch (v->tag) {
    case VT_INTEGER: {
      if (v->integer.value < 0) arith_error(61);
      const double r = std::sqrt(static_cast<double>(v->integer.value));
      const double rr = std::round(r);
      if (cmp_double_with_tollerance(r, rr) == 0) {
        v->integer.value = static_cast<int64_t>(rr);  // r <= 2^31.5: always in range
      } else {
        set_numeric(v, r, free_decimals);
      }
      return;
    }
    case VT_NUMERIC:
      if (v->numeric.value < 0) arith_error(61);
      set_numeric(v, std::sqrt(v->numeric.value), free_decimals);
      return;
    case VT_MONEY:
      if (v->money.value < 0) arith_error(61);
      set_numeric(v, std::sqrt(static_cast<double>(v->money.value) / 10000.0), free_decimals);
      return;
    default:
      arith_error(11);
  }
}

void variant_val_negative(const Variant* v, VmStack*, Variant* dst) {
  QZ_TRACE;
  if (!dst->empty()) throw_assert_failed();
  switch (v->tag) {
    case VT_NUMERIC:
      set_numeric(dst, -v->numeric.value, v->numeric.decimals);
      return;
    case VT_MONEY:
      store_money(dst, -v->money.value);
      return;
    case VT_INTEGER:
      if (v->integer.value == INT64_MIN) {
        set_numeric(dst, kTwo63, 0);
      } else {
        set_integer(dst, -v->integer.value);
      }
      return;
    default:
      arith_error(11);
  }
}

}  // namespace qzbase
