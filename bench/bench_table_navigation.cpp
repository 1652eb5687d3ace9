// The table base over an in-memory table: the binding guard alone, a field read by name through
// the interpreter, and GO TOP plus SKIP to the end without and with a filter (per record).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "../tests/tables/table_double.h"
#include "tables/data_session.h"
#include "table_bench_loops.h"

namespace qzbase {
namespace {

struct Fixture {
  explicit Fixture(size_t records) : runtime(CreateRuntime(&screen)) {
    GetMainStack(runtime, &stack);
    std::vector<testing_tables::MemRecord> r(records);
    for (size_t i = 0; i < records; ++i) r[i] = {"k", static_cast<int64_t>(i % 7)};
    table = new testing_tables::MemTable(stack, std::move(r));
    stack->current_data_session->assign(ObjectPointer(table), stack->symtable, String("t"), 1, false);
  }
  ~Fixture() {
    stack->current_data_session->close_all();
    ReleaseRuntime(runtime);
  }
  NullOut screen;
  Runtime* runtime;
  VmStack* stack = nullptr;
  testing_tables::MemTable* table = nullptr;
};

void BM_CurrentTableGuard(benchmark::State& state) {
  Fixture f(1);
  for (auto _ : state) {
    Current_Table_Guard guard(f.stack, f.table);
    benchmark::DoNotOptimize(f.stack->bound_table);
  }
}
BENCHMARK(BM_CurrentTableGuard);

// A field read by name in an expression (the interpreter's cached lookup, then the table).
void BM_FieldReadByName(benchmark::State& state) {
  Fixture f(1);
  field_read_by_name_loop(state, f);
}
BENCHMARK(BM_FieldReadByName);

// GO TOP, then SKIP 1 until EOF; per record. Argument 1: with the filter N <> 3.
void BM_TopAndSkipToEnd(benchmark::State& state) {
  const size_t n = 1000000;
  Fixture f(n);
  top_and_skip_loop(state, f, n, state.range(0) != 0);
}
BENCHMARK(BM_TopAndSkipToEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qzbase

BENCHMARK_MAIN();
