// The loops the table benchmarks share, over any fixture with a `stack` and an open `table`
// holding an integer field N.
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "compiler/build_input.h"
#include "vm/execute.h"

namespace qzbase {

// A column of a table the benchmarks create: length 0 leaves the type's own length.
inline fielddef_st bench_field(const char* name, uint8_t type, size_t length = 0) {
  fielddef_st f{};
  std::strncpy(f.name, name, sizeof f.name - 1);
  f.type = type;
  f.length = length;
  f.length_omitted = length == 0;
  f.decimals_omitted = 1;
  return f;
}

class NullOut : public Screen {
 public:
  void internal_out(const String&) override {}
  void internal_err(const String&) override {}
};

// A field read by name in an expression: the interpreter's cached lookup, then the table.
template <typename Fixture>
void field_read_by_name_loop(benchmark::State& state, Fixture& f) {
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

// GO TOP, then SKIP 1 until EOF over n records; per record. With filter set: N <> 3.
template <typename Fixture>
void top_and_skip_loop(benchmark::State& state, Fixture& f, size_t n, bool filter) {
  if (filter) f.table->set_filter_to(f.stack, String("N <> 3"));
  for (auto _ : state) {
    f.table->movefirst(f.stack);
    while (!f.table->eof()) f.table->movenext(f.stack, 1);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

}  // namespace qzbase
