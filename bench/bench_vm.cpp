// Virtual machine: symbol lookups and variable lookups.
#include <benchmark/benchmark.h>

#include <qzbase.h>

#include <memory>
#include <string>
#include <vector>

#include "vm/program.h"
#include "vm/runtime_vm.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace {

using namespace qzbase;

// A symbol table holding the predefined names and 5000 more.
Symtable& filled_table() {
  static Symtable* table = [] {
    auto* t = new Symtable();
    for (int i = 0; i < 5000; ++i) t->symbolize(("variable_" + std::to_string(i)).c_str());
    return t;
  }();
  return *table;
}

void BM_SymbolizeExistingChars(benchmark::State& state) {
  Symtable& t = filled_table();
  for (auto _ : state) benchmark::DoNotOptimize(t.symbolize("Variable_2500"));
}
BENCHMARK(BM_SymbolizeExistingChars)->ThreadRange(1, 8)->UseRealTime();

void BM_SymbolizeExistingString(benchmark::State& state) {
  Symtable& t = filled_table();
  String name("CUSTOMER_NAME");
  t.symbolize(name);
  for (auto _ : state) benchmark::DoNotOptimize(t.symbolize(name));
}
BENCHMARK(BM_SymbolizeExistingString);

void BM_SymbolizeExistingNonAscii(benchmark::State& state) {
  Symtable& t = filled_table();
  String name("größe_des_kunden");
  t.symbolize(name);
  for (auto _ : state) benchmark::DoNotOptimize(t.symbolize(name));
}
BENCHMARK(BM_SymbolizeExistingNonAscii);

void BM_SymbolizePredefined(benchmark::State& state) {
  Symtable& t = filled_table();
  for (auto _ : state) benchmark::DoNotOptimize(t.symbolize("this"));
}
BENCHMARK(BM_SymbolizePredefined);

void BM_Resolve(benchmark::State& state) {
  Symtable& t = filled_table();
  symbol_id_type id = t.symbolize("variable_100");
  for (auto _ : state) benchmark::DoNotOptimize(t.resolve(id));
}
BENCHMARK(BM_Resolve);

// A stack on a runtime, a frame of a program with 16 compiled locals, 16 PRIVATEs bound in the
// memory-variable map and 16 LOCALs in the frame's own map.
struct StackFixture {
  StackFixture() : runtime(&screen) {
    state = find_runtime_vm(&runtime);
    if (state == nullptr) {
      own = std::make_unique<RuntimeVmState>();
      attach_runtime_vm(&runtime, own.get());
      state = own.get();
    }
    stack = std::make_unique<VmStack>(&runtime, 65536, 8192);
    local_offset_map offsets;
    for (int i = 0; i < 16; ++i) offsets[sym("local_" + std::to_string(i))] = i + 1;
    program = std::make_unique<Program>(String("P"), nullptr, 0, 0, offsets, nullptr, nullptr);
    stack->enter_frame(&frame, program.get(), 0, false);
    for (int i = 0; i < 16; ++i) {
      stack->declare_local_offset(i + 1, sym("local_" + std::to_string(i)));
      Memvar* m;
      stack->alloc_undefined_memvar(sym("private_" + std::to_string(i)), &m);
      m->value.set_integer(i);
      stack->declare_local(sym("named_" + std::to_string(i)));
    }
  }
  ~StackFixture() {
    stack->end_frame(&frame);
    stack.reset();
    if (own) detach_runtime_vm(&runtime);
  }
  symbol_id_type sym(const std::string& name) { return state->symtable.symbolize(name.c_str()); }

  NullScreen screen;
  Runtime runtime;
  std::unique_ptr<RuntimeVmState> own;
  RuntimeVmState* state = nullptr;
  std::unique_ptr<VmStack> stack;
  std::unique_ptr<Program> program;
  VmFrame frame{};
};

void BM_MemvarLookupCompiledLocal(benchmark::State& state) {
  StackFixture f;
  symbol_id_type s = f.sym("local_7");
  Memvar* m;
  for (auto _ : state) benchmark::DoNotOptimize(f.stack->get_memvar(s, &m));
}
BENCHMARK(BM_MemvarLookupCompiledLocal);

void BM_MemvarLookupPrivate(benchmark::State& state) {
  StackFixture f;
  symbol_id_type s = f.sym("private_7");
  Memvar* m;
  for (auto _ : state) benchmark::DoNotOptimize(f.stack->get_memvar(s, &m));
}
BENCHMARK(BM_MemvarLookupPrivate);

void BM_MemvarLookupFrameLocal(benchmark::State& state) {
  StackFixture f;
  symbol_id_type s = f.sym("named_7");
  Memvar* m;
  for (auto _ : state) benchmark::DoNotOptimize(f.stack->get_memvar(s, &m));
}
BENCHMARK(BM_MemvarLookupFrameLocal);

void BM_MemvarLookupMissing(benchmark::State& state) {
  StackFixture f;
  symbol_id_type s = f.sym("nowhere");
  Memvar* m;
  for (auto _ : state) benchmark::DoNotOptimize(f.stack->get_memvar(s, &m));
}
BENCHMARK(BM_MemvarLookupMissing);

void BM_AssignToUnboundNameAndFrameEnd(benchmark::State& state) {
  StackFixture f;
  symbol_id_type s = f.sym("fresh");
  for (auto _ : state) {
    VmFrame inner;
    f.stack->enter_frame(&inner, f.program.get(), 0, false);
    Memvar* m;
    f.stack->alloc_undefined_memvar(s, &m);
    m->value.set_integer(1);
    f.stack->end_frame(&inner);
  }
}
BENCHMARK(BM_AssignToUnboundNameAndFrameEnd);

}  // namespace

BENCHMARK_MAIN();
