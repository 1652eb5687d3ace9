// The table base over an in-memory table: the binding guard alone, a field read by name through
// the interpreter, and GO TOP plus SKIP to the end without and with a filter (per record).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "../tests/tables/table_double.h"
#include "compiler/build_input.h"
#include "tables/data_session.h"
#include "vm/execute.h"

namespace qzbase {
namespace {

class NullOut : public Screen {
 public:
  void internal_out(const String&) override {}
  void internal_err(const String&) override {}
};

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
  const Program* built = nullptr;
  build_expression_in_frame(f.stack, String("N"), &built);
  std::unique_ptr<const Program> program(built);
  for (auto _ : state) {
    Variant r;
    execute_expression(f.stack, program.get(), &r);
    benchmark::DoNotOptimize(r.integer.value);
    r.release(f.stack);
  }
}
BENCHMARK(BM_FieldReadByName);

// GO TOP, then SKIP 1 until EOF; per record. Argument 1: with the filter N <> 3.
void BM_TopAndSkipToEnd(benchmark::State& state) {
  const size_t n = 1000000;
  Fixture f(n);
  if (state.range(0) != 0) f.table->set_filter_to(f.stack, String("N <> 3"));
  for (auto _ : state) {
    f.table->movefirst(f.stack);
    while (!f.table->eof()) f.table->movenext(f.stack, 1);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_TopAndSkipToEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qzbase

BENCHMARK_MAIN();
