// Variant arithmetic and comparison: integer, numeric (2 decimals) and
// money addition and multiplication per operation, integer comparison, and string comparison
// plain, under EXACT ON and under EXACT OFF.
//
// Each arithmetic iteration copies the left operand into a fresh Variant (a plain 40-byte copy
// for these tags) and applies the operation, so every iteration does the same work.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include "values/session_settings.h"
#include "values/arithmetic.h"
#include "values/comparison.h"
#include "vm/vm_stack.h"

using namespace qzbase;

namespace {

Variant integer(int64_t v) {
  Variant x;
  x.set(integer_type_st{v});
  return x;
}
Variant numeric(double v, uint64_t decimals) {
  Variant x;
  x.set_float(v, decimals);
  return x;
}
Variant money(int64_t raw) {
  Variant x;
  x.set(money_type_st{raw});
  return x;
}
Variant text(const char* s) {
  Variant x;
  x.set_string(String::fromBytes(s, Charset::utf8));
  return x;
}

template <class Op>
void binary(benchmark::State& state, const Variant& left, const Variant& right, Op op) {
  for (auto _ : state) {
    Variant l;
    left.copy(&l);
    op(&l, &right);
    benchmark::DoNotOptimize(l);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Add_Integer(benchmark::State& s) { binary(s, integer(123456), integer(789), inline_variant_add); }
void BM_Add_IntegerOverflow(benchmark::State& s) { binary(s, integer(INT64_MAX), integer(1), inline_variant_add); }
void BM_Mul_Integer(benchmark::State& s) { binary(s, integer(123456), integer(789), variant_mul); }
void BM_Add_Numeric2(benchmark::State& s) { binary(s, numeric(1234.56, 2), numeric(78.9, 2), inline_variant_add); }
void BM_Mul_Numeric2(benchmark::State& s) { binary(s, numeric(1234.56, 2), numeric(78.91, 2), variant_mul); }
void BM_Add_Money(benchmark::State& s) { binary(s, money(12345678), money(7890000), inline_variant_add); }
void BM_Mul_Money(benchmark::State& s) { binary(s, money(12345678), money(7891234), variant_mul); }
void BM_Mul_MoneyInteger(benchmark::State& s) { binary(s, money(12345678), integer(37), variant_mul); }
void BM_Div_Money(benchmark::State& s) { binary(s, money(12345678), money(7891234), variant_div); }
void BM_Add_NumericMoney(benchmark::State& s) { binary(s, numeric(1234.56, 2), money(7890000), inline_variant_add); }

BENCHMARK(BM_Add_Integer);
BENCHMARK(BM_Add_IntegerOverflow);
BENCHMARK(BM_Mul_Integer);
BENCHMARK(BM_Add_Numeric2);
BENCHMARK(BM_Mul_Numeric2);
BENCHMARK(BM_Add_Money);
BENCHMARK(BM_Mul_Money);
BENCHMARK(BM_Mul_MoneyInteger);
BENCHMARK(BM_Div_Money);
BENCHMARK(BM_Add_NumericMoney);

void compare(benchmark::State& state, const Variant& a, const Variant& b, const VmStack* stack) {
  for (auto _ : state) {
    bool null_flag = false;
    int r = inline_variant_cmp(&a, &b, &null_flag, stack);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Cmp_Integer(benchmark::State& s) { compare(s, integer(5), integer(7), nullptr); }
void BM_Cmp_Numeric(benchmark::State& s) { compare(s, numeric(0.1 + 0.2, 1), numeric(0.3, 1), nullptr); }
void BM_Cmp_MoneyInteger(benchmark::State& s) { compare(s, money(10000), integer(1), nullptr); }

// Two 24-character strings that differ in the last character.
const char kLeft[] = "customer_name_0000000001";
const char kRight[] = "customer_name_0000000002";

void BM_Cmp_String_Plain(benchmark::State& s) { compare(s, text(kLeft), text(kRight), nullptr); }
void BM_Cmp_String_ExactOn(benchmark::State& s) {
  VmStack stack;
  SessionSettings settings;
  settings.exact = true;
  SessionSettings* const saved = stack.session_settings;
  stack.session_settings = &settings;
  compare(s, text("customer_name_0000000001     "), text(kLeft), &stack);
  stack.session_settings = saved;
}
void BM_Cmp_String_ExactOff(benchmark::State& s) {
  VmStack stack;  // defaults: EXACT OFF
  compare(s, text(kLeft), text(kRight), &stack);
}
void BM_Cmp_String_NonAscii(benchmark::State& s) {
  compare(s, text("gr\xC3\xBC\xC3\x9F" "e_aus_k\xC3\xB6ln_001"), text("gr\xC3\xBC\xC3\x9F" "e_aus_k\xC3\xB6ln_002"),
          nullptr);
}

BENCHMARK(BM_Cmp_Integer);
BENCHMARK(BM_Cmp_Numeric);
BENCHMARK(BM_Cmp_MoneyInteger);
BENCHMARK(BM_Cmp_String_Plain);
BENCHMARK(BM_Cmp_String_ExactOn);
BENCHMARK(BM_Cmp_String_ExactOff);
BENCHMARK(BM_Cmp_String_NonAscii);

}  // namespace

BENCHMARK_MAIN();
