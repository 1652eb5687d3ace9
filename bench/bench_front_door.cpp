// Front door: a whole module of 10^5 lines through preprocessor, parser, compiler, assembly and
// linking (time and peak resident memory), and one & macro line, which is compiled at every run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <qzbase.h>

#include <memory>
#include <string>

#include "compiler/build_input.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace {

using namespace qzbase;

long peak_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Ten-line blocks: a FUNCTION with a parameter, locals, a loop, a condition, a call and output.
std::string module_text(size_t lines) {
  std::string text = "total = 0\n";
  size_t blocks = lines / 10;
  for (size_t i = 0; i < blocks; ++i) {
    std::string n = std::to_string(i);
    text += "FUNCTION f" + n + "(a)\n";
    text += "LOCAL b, c\n";
    text += "b = a * 2 + " + n + "\n";
    text += "FOR c = 1 TO 3\n";
    text += "  IF b > c AND NOT EMPTY(a)\n";
    text += "    b = b - c\n";
    text += "  ENDIF\n";
    text += "ENDFOR\n";
    text += "? 'f" + n + "', b, at('x', 'abcx')\n";
    text += "RETURN b\n";
  }
  return text;
}

struct BenchRuntime {
  BenchRuntime() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 4096, 1024)) {}
  ~BenchRuntime() {
    delete stack;
    ReleaseRuntime(runtime);
  }
  NullScreen screen;
  Runtime* runtime;
  VmStack* stack;
};

void BM_BuildModule(benchmark::State& state) {
  const size_t lines = static_cast<size_t>(state.range(0));
  BenchRuntime rt;
  String text(module_text(lines));
  long before = peak_rss_kib();
  for (auto _ : state) {
    string_key_map<Module*> loaded;
    BuildInput input(rt.stack);
    Module* module = input.build_module(String("/bench/module.prg"), text, &loaded);
    benchmark::DoNotOptimize(module);
    for (auto& [name, m] : loaded) delete m;
  }
  state.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(lines) * static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
  state.counters["peak_rss_MiB"] = static_cast<double>(peak_rss_kib()) / 1024.0;
  state.counters["peak_growth_MiB"] = static_cast<double>(peak_rss_kib() - before) / 1024.0;
}
BENCHMARK(BM_BuildModule)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One & macro line run inside a program: its text is compiled again at every run.
void BM_MacroLine(benchmark::State& state) {
  BenchRuntime rt;
  BuildInput input(rt.stack);
  input.import_library(rt.runtime->builtin_library());
  std::unique_ptr<Program> setup(
      input.build_command(String("PUBLIC n, cmd\nn = 0\ncmd = 'n = n + at(\"b\", \"abc\")'\n"), nullptr));
  std::unique_ptr<Program> macro(input.build_command(String("&cmd\n"), nullptr));
  Variant result;
  execute_program(rt.stack, 0, false, setup.get(), &result);
  result.release(rt.stack);
  for (auto _ : state) {
    execute_program(rt.stack, 0, false, macro.get(), &result);
    result.release(rt.stack);
  }
}
BENCHMARK(BM_MacroLine);

}  // namespace

BENCHMARK_MAIN();
