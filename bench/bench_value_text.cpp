// Value text and the sequential reader: to_string and
// to_string_regional per call for integers, numerics, money, dates and datetimes; fgets over a
// 100 MB file through the buffered fast path and through the character-wise path.
#include <benchmark/benchmark.h>
#include <qzbase.h>
#include <unicode/uloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/file_handle.h"
#include "values/session_settings.h"
#include "values/julian.h"
#include "values/value_text.h"

using namespace qzbase;

namespace {

Variant make_integer() {
  Variant v;
  v.set_integer(-1234567890L);
  return v;
}
Variant make_numeric(uint64_t decimals) {
  Variant v;
  v.set(numeric_type_st{12345.6789, decimals});
  return v;
}
Variant make_money() {
  Variant v;
  money_type_st m;
  m.value = 123456789;
  v.set(m);
  return v;
}
Variant make_date() {
  date_st d{};
  serial_julian_date(2020, 1, 15, &d);
  Variant v;
  v.set(d);
  return v;
}
Variant make_datetime() {
  datetime_st d{};
  serial_julian_date(2020, 1, 15, 10, 30, 45, &d);
  Variant v;
  v.set(d);
  return v;
}

template <class Make>
void fixed(benchmark::State& state, Make make) {
  Variant v = make();
  for (auto _ : state) {
    String s = variant_to_string(v);
    benchmark::DoNotOptimize(s.read());
  }
}

void BM_ToString_Integer(benchmark::State& s) { fixed(s, make_integer); }
void BM_ToString_NumericFixed(benchmark::State& s) { fixed(s, [] { return make_numeric(2); }); }
void BM_ToString_NumericFree(benchmark::State& s) { fixed(s, [] { return make_numeric(free_decimals); }); }
void BM_ToString_Money(benchmark::State& s) { fixed(s, make_money); }
void BM_ToString_Date(benchmark::State& s) { fixed(s, make_date); }
void BM_ToString_Datetime(benchmark::State& s) { fixed(s, make_datetime); }
BENCHMARK(BM_ToString_Integer);
BENCHMARK(BM_ToString_NumericFixed);
BENCHMARK(BM_ToString_NumericFree);
BENCHMARK(BM_ToString_Money);
BENCHMARK(BM_ToString_Date);
BENCHMARK(BM_ToString_Datetime);

template <class Make>
void regional(benchmark::State& state, Make make, uint32_t style) {
  UErrorCode st = U_ZERO_ERROR;
  uloc_setDefault("en_US", &st);
  Runtime rt(nullptr);
  SessionSettings settings = default_session_settings();
  settings.date_format = style;
  settings.century = true;
  std::strcpy(settings.decimal_point, ",");
  settings.decimal_point_code = U',';
  Variant v = make();
  for (auto _ : state) {
    String s = variant_to_string_regional(v, settings, &rt);
    benchmark::DoNotOptimize(s.read());
  }
}

void BM_ToStringRegional_Integer(benchmark::State& s) { regional(s, make_integer, DATE_AMERICAN); }
void BM_ToStringRegional_NumericFixed(benchmark::State& s) { regional(s, [] { return make_numeric(2); }, DATE_AMERICAN); }
void BM_ToStringRegional_NumericFree(benchmark::State& s) {
  regional(s, [] { return make_numeric(free_decimals); }, DATE_AMERICAN);
}
void BM_ToStringRegional_DateAmerican(benchmark::State& s) { regional(s, make_date, DATE_AMERICAN); }
void BM_ToStringRegional_DateLong(benchmark::State& s) { regional(s, make_date, DATE_LONG); }
void BM_ToStringRegional_DatetimeAmerican(benchmark::State& s) { regional(s, make_datetime, DATE_AMERICAN); }
BENCHMARK(BM_ToStringRegional_Integer);
BENCHMARK(BM_ToStringRegional_NumericFixed);
BENCHMARK(BM_ToStringRegional_NumericFree);
BENCHMARK(BM_ToStringRegional_DateAmerican);
BENCHMARK(BM_ToStringRegional_DateLong);
BENCHMARK(BM_ToStringRegional_DatetimeAmerican);

// ---------------------------------------------------------------------------------------------
// fgets over a 100 MB file
// ---------------------------------------------------------------------------------------------

const std::string& big_file(bool utf8) {
  static std::string paths[2];
  std::string& path = paths[utf8];
  if (path.empty()) {
    char name[] = "/tmp/qz_bench_fgets_XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    path = name;
    std::ofstream out(path, std::ios::binary);
    // Lines of 20 to 140 bytes; the UTF-8 file mixes in two- and three-byte characters.
    std::string line;
    size_t total = 0;
    unsigned k = 1;
    while (total < 100u * 1000u * 1000u) {
      line.clear();
      size_t len = 20 + (k * 2654435761u) % 120;
      while (line.size() < len) line += utf8 ? (line.size() % 17 == 3 ? "\xC3\xA9" : line.size() % 29 == 5 ? "\xE2\x82\xAC" : "x") : "x";
      line += (k % 3 == 0) ? "\r\n" : "\n";
      out << line;
      total += line.size();
      ++k;
    }
    std::atexit([] {
      for (auto& p : paths)
        if (!p.empty()) unlink(p.c_str());
    });
  }
  return path;
}

class CharacterWiseFileBuffer : public FileBuffer {
 public:
  using FileBuffer::FileBuffer;

 protected:
  bool fgets_fast(String*, size_t*) override { return false; }
};

template <class Handle>
void read_all_lines(benchmark::State& state, const Charset* cs, bool utf8) {
  const std::string& path = big_file(utf8);
  size_t bytes = 0;
  for (auto _ : state) {
    Handle h(cs, std::filesystem::path(path));
    String line;
    size_t lines = 0;
    while (h.fgets(&line) != 0) {
      bytes += line.size() + 1;
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_Fgets100MB_Fast_Utf8(benchmark::State& s) { read_all_lines<FileBuffer>(s, Charset::utf8, true); }
void BM_Fgets100MB_Fast_Windows1252(benchmark::State& s) {
  read_all_lines<FileBuffer>(s, GetCharsetByWindowsCodepage(1252), false);
}
void BM_Fgets100MB_CharacterWise_Utf8(benchmark::State& s) {
  read_all_lines<CharacterWiseFileBuffer>(s, Charset::utf8, true);
}
void BM_Fgets100MB_CharacterWise_Windows1252(benchmark::State& s) {
  read_all_lines<CharacterWiseFileBuffer>(s, GetCharsetByWindowsCodepage(1252), false);
}
BENCHMARK(BM_Fgets100MB_Fast_Utf8)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Fgets100MB_Fast_Windows1252)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Fgets100MB_CharacterWise_Utf8)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Fgets100MB_CharacterWise_Windows1252)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
