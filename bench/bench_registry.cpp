// Registration cost of the built-in library (a runtime made and released) and function lookups.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include "builtins/library.h"

using namespace qzbase;

static void BM_CreateReleaseRuntime(benchmark::State& state) {
  NullScreen screen;
  for (auto _ : state) {
    Runtime* rt = CreateRuntime(&screen);
    benchmark::DoNotOptimize(rt);
    ReleaseRuntime(rt);
  }
}
BENCHMARK(BM_CreateReleaseRuntime);

static void lookup(benchmark::State& state, const char* name) {
  NullScreen screen;
  Runtime* rt = CreateRuntime(&screen);
  Library* lib = rt->builtin_library();
  String key(name);
  for (auto _ : state) benchmark::DoNotOptimize(lib->find_function(key));
  ReleaseRuntime(rt);
}

static void BM_LookupFullName(benchmark::State& state) { lookup(state, "SUBSTR"); }
BENCHMARK(BM_LookupFullName);

static void BM_LookupAbbreviation(benchmark::State& state) { lookup(state, "subs"); }
BENCHMARK(BM_LookupAbbreviation);

BENCHMARK_MAIN();
