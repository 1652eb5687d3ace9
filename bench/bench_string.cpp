// String throughput: copies, slices and substr share the buffer (no byte copies); Concat joins.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include <string>

using namespace qzbase;

namespace {

String make_text(size_t n) {
  std::string s;
  while (s.size() < n) s += "abc \xC3\xA9\xE2\x82\xAC xyz ";
  s.resize(n);
  return String(s.data(), s.size(), Charset::utf8);
}

void BM_StringCopy(benchmark::State& state) {
  String text = make_text(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    String copy(text);
    benchmark::DoNotOptimize(copy.read());
  }
}
BENCHMARK(BM_StringCopy)->Arg(16)->Arg(1 << 16);

void BM_StringSlice(benchmark::State& state) {
  String text = make_text(1 << 12);
  for (auto _ : state) {
    String slice(text, text.read() + 10, text.read() + 100);
    benchmark::DoNotOptimize(slice.size());
  }
}
BENCHMARK(BM_StringSlice);

void BM_SubstrUtf8(benchmark::State& state) {
  String text = make_text(1 << 12);
  for (auto _ : state) {
    String sub = text.substr(static_cast<size_t>(state.range(0)), 16);
    benchmark::DoNotOptimize(sub.size());
  }
}
BENCHMARK(BM_SubstrUtf8)->Arg(0)->Arg(1000);

void BM_SubstrUtf32(benchmark::State& state) {
  String text(L"the quick brown fox jumps over the lazy dog, again and again and again");
  for (auto _ : state) {
    String sub = text.substr(20, 16);
    benchmark::DoNotOptimize(sub.size());
  }
}
BENCHMARK(BM_SubstrUtf32);

void BM_EmptyString(benchmark::State& state) {
  for (auto _ : state) {
    String empty(0, Charset::utf8);
    benchmark::DoNotOptimize(empty.read());
  }
}
BENCHMARK(BM_EmptyString);

void BM_ConcatSameCharset(benchmark::State& state) {
  String piece = make_text(64);
  for (auto _ : state) {
    Concat c;
    for (int i = 0; i < 16; ++i) c.append(piece);
    String s = c.to_string(true);
    benchmark::DoNotOptimize(s.read());
  }
  state.SetBytesProcessed(state.iterations() * 16 * 64);
}
BENCHMARK(BM_ConcatSameCharset);

void BM_ConcatMixed(benchmark::State& state) {
  String piece = make_text(64);
  String wide(L"wide text piece");
  for (auto _ : state) {
    Concat c;
    for (int i = 0; i < 8; ++i) {
      c.append(piece);
      c.append(wide);
    }
    String s = c.to_string(false);
    benchmark::DoNotOptimize(s.read());
  }
}
BENCHMARK(BM_ConcatMixed);

void BM_StringBuilder(benchmark::State& state) {
  for (auto _ : state) {
    StringBuilder b;
    b << "row " << 12345 << " of " << 67890;
    String s = b.to_string(false);
    benchmark::DoNotOptimize(s.read());
  }
}
BENCHMARK(BM_StringBuilder);

}  // namespace

BENCHMARK_MAIN();
