// Expression compiler: compiling parsed expressions (no folding) and the cost of one constant fold
// (build, link and run of a one-expression program).
#include <benchmark/benchmark.h>

#include <qzbase.h>

#include <memory>

#include "compiler/compiler_state.h"
#include "compiler/expression_parts.h"
#include "frontend/parser.h"
#include "vm/vm_stack.h"

namespace {

using namespace qzbase;

struct setup_st {
  setup_st() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 256, 64)) {}
  ~setup_st() {
    delete stack;
    ReleaseRuntime(runtime);
  }
  Operand* parse(const char* text) {
    source = String(text);
    token_list_type tokens;
    tokenize(source.read(), source.end(), source.get_charset(), &tokens);
    return parse_expression_tokens(tokens.cbegin(), tokens.cend());
  }
  NullScreen screen;
  Runtime* runtime;
  VmStack* stack;
  String source;
};

void BM_CompileExpression(benchmark::State& state) {
  setup_st s;
  std::unique_ptr<Operand> operand(s.parse("iif(a.b.c > 10 AND m.x <> 'abc', f(@y, z[1]), upper(name) $ 'XYZ')"));
  Compiler compiler(s.stack, COMPILE_KIND_PROGRAM);
  compiler.libraries = {builtin_library_of(compiler)};
  for (auto _ : state) {
    compiler_type_info_st type;
    compile_operand(operand.get(), false, true, &compiler.collection, compiler, &type);
    state.PauseTiming();
    compiler.collection.clear();
    compiler.reset(COMPILE_KIND_PROGRAM, false);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompileExpression);

void BM_FoldConstant(benchmark::State& state) {
  setup_st s;
  std::unique_ptr<Operand> simple(s.parse("(1 + 2) * 3"));
  Compiler compiler(s.stack, COMPILE_KIND_PROGRAM);
  compiler.libraries = {builtin_library_of(compiler)};
  for (auto _ : state) {
    compiler_type_info_st type;
    compiletime_compact_constexpr(simple.get(), &compiler.collection, compiler, &type);
    state.PauseTiming();
    compiler.collection.clear();
    compiler.reset(COMPILE_KIND_PROGRAM, false);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FoldConstant);

}  // namespace

BENCHMARK_MAIN();
