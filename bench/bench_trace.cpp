// Cost of the call-trace guard on a tight call, against the same call without it.
#include <benchmark/benchmark.h>
#include <qzbase.h>

namespace {

__attribute__((noinline)) int plain_call(int x) {
  benchmark::DoNotOptimize(x);
  return x + 1;
}

__attribute__((noinline)) int traced_call(int x) {
  QZ_TRACE;
  benchmark::DoNotOptimize(x);
  return x + 1;
}

void BM_CallPlain(benchmark::State& state) {
  int x = 0;
  for (auto _ : state) x = plain_call(x);
  benchmark::DoNotOptimize(x);
}
BENCHMARK(BM_CallPlain);

void BM_CallTraced(benchmark::State& state) {
  int x = 0;
  for (auto _ : state) x = traced_call(x);
  benchmark::DoNotOptimize(x);
}
BENCHMARK(BM_CallTraced);

}  // namespace

BENCHMARK_MAIN();
