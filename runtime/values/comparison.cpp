// comparison.cpp - Variant comparison. The faults it guards against are listed in comparison.h.
#include "values/comparison.h"

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "values/session_settings.h"

namespace qzbase {

int cmp_double_with_tollerance(double a, double b) {
  QZ_TRACE;
  return cmp_double_inline(a, b);
}

int cmp_money_to_int_exact(const money_type_st& m, int64_t i) {
  QZ_TRACE;
  const __int128 raw = m.value;
  const __int128 scaled = static_cast<__int128>(i) * 10000;
  return (raw > scaled) - (raw < scaled);
}

int cmp_int_to_money_exact(int64_t i, const money_type_st& m) {
  QZ_TRACE;
  return -cmp_money_to_int_exact(m, i);
}

namespace {

using CmpOp = int (*)(const Variant* a, const Variant* b, bool* null_out, const VmStack* stack);

struct CmpTable {
  CmpOp f[256];
};

constexpr int key(int a, int b) { return a * 16 + b; }

template <class T>
inline int three_way(T a, T b) {
  return (a > b) - (a < b);
}

[[noreturn]] __attribute__((cold, noinline)) void cmp_mismatch_throw() { throw RuntimeError(107); }

int cmp_mismatch(const Variant*, const Variant*, bool*, const VmStack*) { cmp_mismatch_throw(); }
int cmp_equal(const Variant*, const Variant*, bool*, const VmStack*) { return 0; }
int cmp_less(const Variant*, const Variant*, bool*, const VmStack*) { return -1; }
int cmp_greater(const Variant*, const Variant*, bool*, const VmStack*) { return 1; }
int cmp_null(const Variant*, const Variant*, bool* null_out, const VmStack*) {
  *null_out = true;
  return 0;
}

int cmp_II(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return three_way(a->integer.value, b->integer.value);
}
int cmp_IN(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return cmp_double_with_tollerance(static_cast<double>(a->integer.value), b->numeric.value);
}
int cmp_NI(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return cmp_double_with_tollerance(a->numeric.value, static_cast<double>(b->integer.value));
}
int cmp_NN(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return cmp_double_with_tollerance(a->numeric.value, b->numeric.value);
}
int cmp_IY(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return cmp_int_to_money_exact(a->integer.value, b->money);
}
int cmp_YI(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return cmp_money_to_int_exact(a->money, b->integer.value);
}
// Money as a double: |raw| < 2^127, so the quotient is always finite.
inline double money_as_double(const Variant* v) { return static_cast<double>(v->money.value) / 10000; }
int cmp_NY(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return cmp_double_with_tollerance(a->numeric.value, money_as_double(b));
}
int cmp_YN(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return cmp_double_with_tollerance(money_as_double(a), b->numeric.value);
}
int cmp_YY(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return three_way<__int128>(a->money.value, b->money.value);
}
int cmp_DD(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return three_way(a->date.day, b->date.day);
}
int cmp_TT(const Variant* a, const Variant* b, bool*, const VmStack*) {
  if (a->datetime.day != b->datetime.day) return three_way(a->datetime.day, b->datetime.day);
  return three_way(a->datetime.ms, b->datetime.ms);
}
int cmp_SS(const Variant* a, const Variant* b, bool*, const VmStack* stack) {
  const String& l = a->string;
  const String& r = b->string;
  const Collation* c = Collation::unicode_machine;
  if (stack == nullptr) {
    return c->compare(l.read(), l.end(), l.get_charset(), r.read(), r.end(), r.get_charset());
  }
  if (current_settings(stack).exact) {
    return c->compare_exact_on(l.read(), l.end(), l.get_charset(), r.read(), r.end(), r.get_charset());
  }
  return c->compare_exact_off(l.read(), l.end(), l.get_charset(), r.read(), r.end(), r.get_charset());
}
int cmp_OO(const Variant* a, const Variant* b, bool*, const VmStack*) {
  return three_way(reinterpret_cast<uintptr_t>(a->object.object), reinterpret_cast<uintptr_t>(b->object.object));
}

constexpr CmpTable make_cmp_table() {
  CmpTable t{};
  for (CmpOp& f : t.f) f = cmp_mismatch;
  t.f[key(VT_FALSE, VT_FALSE)] = cmp_equal;
  t.f[key(VT_TRUE, VT_TRUE)] = cmp_equal;
  t.f[key(VT_FALSE, VT_TRUE)] = cmp_less;
  t.f[key(VT_TRUE, VT_FALSE)] = cmp_greater;
  for (int b : {VT_FALSE, VT_NULL, VT_TRUE, VT_INTEGER, VT_NUMERIC, VT_MONEY, VT_DATE, VT_DATETIME, VT_STRING,
                VT_OBJECT, VT_ARRAY, VT_REFERENCE}) {
    t.f[key(VT_NULL, b)] = cmp_null;
  }
  for (int a : {VT_FALSE, VT_TRUE, VT_INTEGER, VT_NUMERIC, VT_MONEY, VT_DATE, VT_DATETIME, VT_STRING, VT_OBJECT,
                VT_ARRAY}) {
    t.f[key(a, VT_NULL)] = cmp_null;
  }
  t.f[key(VT_INTEGER, VT_INTEGER)] = cmp_II;
  t.f[key(VT_INTEGER, VT_NUMERIC)] = cmp_IN;
  t.f[key(VT_NUMERIC, VT_INTEGER)] = cmp_NI;
  t.f[key(VT_NUMERIC, VT_NUMERIC)] = cmp_NN;
  t.f[key(VT_INTEGER, VT_MONEY)] = cmp_IY;
  t.f[key(VT_MONEY, VT_INTEGER)] = cmp_YI;
  t.f[key(VT_NUMERIC, VT_MONEY)] = cmp_NY;
  t.f[key(VT_MONEY, VT_NUMERIC)] = cmp_YN;
  t.f[key(VT_MONEY, VT_MONEY)] = cmp_YY;
  t.f[key(VT_DATE, VT_DATE)] = cmp_DD;
  t.f[key(VT_DATETIME, VT_DATETIME)] = cmp_TT;
  t.f[key(VT_STRING, VT_STRING)] = cmp_SS;
  t.f[key(VT_OBJECT, VT_OBJECT)] = cmp_OO;
  return t;
}

constexpr CmpTable kCmp = make_cmp_table();

}  // namespace

int variant_cmp(const Variant* a, const Variant* b, bool* null_out, const VmStack* stack) {
  QZ_TRACE;
  if ((a->tag | b->tag) >= 16) throw_assert_failed();
  return kCmp.f[key(a->tag, b->tag)](a, b, null_out, stack);
}

bool variant_tags_comparable(uint8_t a, uint8_t b) {
  QZ_TRACE;
  if ((a | b) >= 16) return false;
  return kCmp.f[key(a, b)] != cmp_mismatch;
}

}  // namespace qzbase
