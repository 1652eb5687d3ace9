// Interpreter: assembled programs side by side. Each benchmark reports ns per loop iteration
// (per call for fib), with the operation count per iteration as a counter.
#include <benchmark/benchmark.h>

#include <qzbase.h>

#include <memory>

#include "../tests/vm/assembler.h"
#include "vm/execute.h"
#include "vm/interpreter.h"
#include "vm/program.h"
#include "vm/runtime_vm.h"
#include "vm/vm_stack.h"

namespace {

using namespace qzbase;
using qzbase::testing_vm::Assembler;

struct Env {
  Env() : runtime(&screen) {
    if (find_runtime_vm(&runtime) == nullptr) attach_runtime_vm(&runtime, &vm);
    stack = std::make_unique<VmStack>(&runtime, 65536, 8192);
  }
  NullScreen screen;
  Runtime runtime;
  RuntimeVmState vm;
  std::unique_ptr<VmStack> stack;
};

Env& env() {
  static Env* e = new Env();
  return *e;
}

// for i = 1 to n: body; returns s (local 2). Locals: i = 1, s = 2, further as given.
Program* counted_loop(int64_t n, void (*body)(Assembler&), void (*prologue)(Assembler&) = nullptr) {
  Assembler a;
  a.local(1001, 1).local(1002, 2).local(1003, 3);
  a.op<VmOpDefLocalOffset>(1, 1001);
  a.op<VmOpDefLocalOffset>(2, 1002);
  a.op<VmOpDefLocalOffset>(3, 1003);
  a.op<VmOpReadConstInteger>(0);
  a.op<VmOpWriteMemvarByOffset>(2);
  if (prologue) prologue(a);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpWriteMemvarByOffset>(1);
  auto loop = a.new_label(), end = a.new_label();
  a.bind(loop);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadConstInteger>(n);
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.jump<VmOpForCondFalseJump>(end);
  body(a);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadAddWriteLocal>(1);
  a.jump<VmOpJump>(loop);
  a.bind(end);
  a.op<VmOpReadLocalMemvarByOffset>(2);
  a.op<VmOpReturnValue>();
  return a.build("LOOP");
}

void run_loop(benchmark::State& state, Program* p, int64_t n, double ops_per_iteration) {
  std::unique_ptr<Program> owner(p);
  VmStack* stack = env().stack.get();
  for (auto _ : state) {
    Variant r;
    execute_program(stack, 0, false, p, &r);
    benchmark::DoNotOptimize(r.raw_[0]);
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["ns_per_iteration"] =
      benchmark::Counter(static_cast<double>(state.iterations() * n), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["ns_per_op"] = benchmark::Counter(static_cast<double>(state.iterations() * n) * ops_per_iteration,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// s = s + i, 10^7 times: 8 operations per iteration (4 of the FOR test, 4 of the body... see below).
void BM_LoopAddLocals(benchmark::State& state) {
  const int64_t n = 10000000;
  Program* p = counted_loop(n, [](Assembler& a) {
    a.op<VmOpReadLocalMemvarByOffset>(2);
    a.op<VmOpReadLocalMemvarByOffset>(1);
    a.op<VmOpBinaryAdd>();
    a.op<VmOpWriteMemvarByOffset>(2);
  });
  // per iteration: 3 pushes + FOR test, 4 body, 2 increment, 1 jump = 11 operations
  run_loop(state, p, n, 11);
}
BENCHMARK(BM_LoopAddLocals)->Unit(benchmark::kMillisecond);

// fib(n) = n < 2 ? n : fib(n - 1) + fib(n - 2), recursive user calls.
void BM_Fib27(benchmark::State& state) {
  Assembler a;
  a.local(1001, 1).parameters(1);
  a.op<VmOpInitLocalParameters>(1);
  auto rec = a.new_label();
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.op<VmOpReadConstInteger>(2);
  a.op<VmOpBinaryLt>();
  a.jump<VmOpCondFalseOrNullJump>(rec);
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.op<VmOpReturnValue>();
  a.bind(rec);
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpBinarySub>();
  auto* c1 = a.op<VmOpCallSpecUser>(nullptr, 1);
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.op<VmOpReadConstInteger>(2);
  a.op<VmOpBinarySub>();
  auto* c2 = a.op<VmOpCallSpecUser>(nullptr, 1);
  a.op<VmOpBinaryAdd>();
  a.op<VmOpReturnValue>();
  UserFunction fib(a.build("FIB"));
  c1->function = &fib;
  c2->function = &fib;
  VmStack* stack = env().stack.get();
  int64_t calls = 0;
  for (auto _ : state) {
    stack->push()->value.set(integer_type_st{27});
    Variant r;
    fib.exec(stack, 1, false, &r);
    stack->pop();
    if (r.integer.value != 196418) state.SkipWithError("wrong fib");
    calls += 832039;  // calls of fib(27), the outer one included
  }
  state.counters["ns_per_call"] =
      benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Fib27)->Unit(benchmark::kMillisecond);

void native_add_one(VmStack* stack, size_t, Variant* result) {
  Variant* a = Param(stack, 1);
  result->set(integer_type_st{a->integer.value + 1});
}

// s = native(i), 10^6 times.
void BM_NativeCalls(benchmark::State& state) {
  const int64_t n = 1000000;
  Program* p = counted_loop(n, [](Assembler& a) {
    a.op<VmOpEspAlloc>();
    a.op<VmOpReadLocalMemvarByOffset>(1);
    a.op<VmOpCallSpecDo>(native_add_one, 1);
    a.op<VmOpWriteMemvarByOffset>(2);
  });
  run_loop(state, p, n, 11);
}
BENCHMARK(BM_NativeCalls)->Unit(benchmark::kMillisecond);

// a[j] = a[j] + 1 over a 100-element local array, 10^6 times (j = i % 100 + 1).
void BM_ArrayReadWrite(benchmark::State& state) {
  const int64_t n = 1000000;
  Program* p = counted_loop(
      n,
      [](Assembler& a) {
        // local 2 holds j: j = i % 100 + 1
        a.op<VmOpReadLocalMemvarByOffset>(1);
        a.op<VmOpReadConstInteger>(100);
        a.op<VmOpBinaryMod>();
        a.op<VmOpReadConstInteger>(1);
        a.op<VmOpBinaryAdd>();
        a.op<VmOpWriteMemvarByOffset>(2);
        // value: a[j] + 1
        a.op<VmOpEspAlloc>();
        a.op<VmOpReadLocalMemvarByOffset>(2);
        a.op<VmOpReadMemvarIndexLocal>(3, 1);
        a.op<VmOpReadConstInteger>(1);
        a.op<VmOpBinaryAdd>();
        a.op<VmOpReadLocalMemvarByOffset>(2);
        a.op<VmOpWriteArrayByOffset>(3, 1);
      },
      [](Assembler& a) {
        a.op<VmOpEspAlloc>();
        a.op<VmOpReadConstInteger>(100);
        a.op<VmOpCallSpecDo>(
            [](VmStack* stack, size_t, Variant* result) {
              Array* arr = result->dimension(stack, 100, 0);
              for (size_t k = 1; k <= 100; ++k) arr->write(stack, k)->set(integer_type_st{0});
            },
            1);
        a.op<VmOpWriteMemvarByOffset>(3);
      });
  run_loop(state, p, n, 20);
}
BENCHMARK(BM_ArrayReadWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
