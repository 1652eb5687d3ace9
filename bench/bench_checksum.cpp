// Throughput of the CRCs, and of SHA-256 for scale.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include <random>
#include <vector>

#include "values/checksum.h"

namespace {

const std::vector<unsigned char>& data() {
  static const std::vector<unsigned char> d = [] {
    std::vector<unsigned char> v(16u << 20);
    std::mt19937 rng(42);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
  }();
  return d;
}

template <unsigned (*F)(unsigned, const unsigned char*, unsigned)>
void BM_Crc(benchmark::State& state) {
  const unsigned n = static_cast<unsigned>(state.range(0));
  const unsigned char* p = data().data() + 1;  // deliberately misaligned by one byte
  unsigned crc = 0;
  for (auto _ : state) {
    crc = F(crc, p, n);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}

unsigned crc16(unsigned seed, const unsigned char* p, unsigned n) {
  return calculate_crc16(static_cast<unsigned short>(seed | 1), p, n);
}

BENCHMARK(BM_Crc<calculate_crc32>)
    ->Name("BM_CRC32")
    ->Arg(64)
    ->Arg(4096)
    ->Arg(1 << 20)
    ->Arg((16 << 20) - 1);
BENCHMARK(BM_Crc<calculate_crc32_bytewise>)->Name("BM_CRC32_bytewise")->Arg(1 << 20);
BENCHMARK(BM_Crc<calculate_crc32c>)
    ->Name("BM_CRC32C")
    ->Arg(64)
    ->Arg(4096)
    ->Arg(1 << 20)
    ->Arg((16 << 20) - 1);
BENCHMARK(BM_Crc<calculate_crc32c_portable>)
    ->Name("BM_CRC32C_slicing8")
    ->Arg(64)
    ->Arg(4096)
    ->Arg(1 << 20);
BENCHMARK(BM_Crc<calculate_crc32c_bytewise>)->Name("BM_CRC32C_bytewise")->Arg(1 << 20);
BENCHMARK(BM_Crc<crc16>)->Name("BM_CRC16")->Arg(1 << 20);

void BM_HashSHA256(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  unsigned char out[32];
  for (auto _ : state) {
    qzbase::HashSHA256(data().data(), n, out, sizeof out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_HashSHA256)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
