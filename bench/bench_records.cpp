// Records and memos of a DbfFile: appends (exclusive and shared), a sequential scan at several
// read-ahead sizes, random positioning, memo store and load, and how much a memo file grows when
// one field is rewritten over and over. Beside them, plain pwrite/pread of the same bytes, as the
// floor the file layer works above.
//
// Counters: items_per_second is records (or memo values) per second; bytes_per_second is memo
// bytes; growth is memo-file bytes added per byte of value rewritten.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <qzbase.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tables/dbf_file.h"
#include "tables/fpt_file.h"
#include "table_bench_loops.h"

using namespace qzbase;

namespace {

fielddef_st def(const char* name, uint8_t type, size_t length = 0) { return bench_field(name, type, length); }

struct Dir {
  std::filesystem::path path;
  Dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qz_bench_records_XXXXXX").native();
    path = mkdtemp(pattern.data());
  }
  ~Dir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

// ID I, SEQ I, NAME C(40), AMOUNT N(12): a 61-byte record. NOTE M when memo.
std::unique_ptr<DbfFile> create(const std::filesystem::path& p, bool memo = false) {
  std::vector<fielddef_st> defs = {def("ID", FIELDINFO_INTEGER), def("SEQ", FIELDINFO_INTEGER),
                                   def("NAME", FIELDINFO_CHAR, 40), def("AMOUNT", FIELDINFO_NUMERIC, 12)};
  if (memo) defs.push_back(def("NOTE", FIELDINFO_MEMO));
  createopts_st o{};
  o.codepage = 1252;
  o.blocksize = 64;
  return std::unique_ptr<DbfFile>(DbfFile::create(create_file(String(p), 0), &o, defs.data(), defs.size()));
}

void fill(DbfFile* d, int64_t i) {
  d->begin_append();
  d->set_integer(0, integer_type_st{i});
  d->set_integer(1, integer_type_st{i * 7});
  d->set_string(2, String("a name of some length"));
  d->set_numeric(3, numeric_type_st{static_cast<double>(i) / 4, 2});
  d->update(nullptr);
}

void BM_Append(benchmark::State& state) {
  Dir dir;
  auto p = dir.path / "a.dbf";
  create(p);
  auto d = open_dbf_file(String(p), state.range(0) ? OPEN_WRITE | OPEN_SHARED : OPEN_WRITE);
  int64_t i = 0;
  for (auto _ : state) fill(d.get(), ++i);
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) ? "shared" : "exclusive");
}
BENCHMARK(BM_Append)->Arg(0)->Arg(1)->Iterations(1000000)->Unit(benchmark::kMillisecond);

// The floor: one record and the header written with pwrite.
void BM_RawAppendPwrite(benchmark::State& state) {
  Dir dir;
  int fd = ::open((dir.path / "raw").c_str(), O_CREAT | O_RDWR | O_TRUNC, 0600);
  char record[61] = {}, header[32] = {};
  off_t at = 32 * 6 + 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(::pwrite(fd, record, sizeof record, at));
    at += sizeof record;
    benchmark::DoNotOptimize(::pwrite(fd, header, sizeof header, 0));
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawAppendPwrite)->Iterations(1000000)->Unit(benchmark::kMillisecond);

constexpr int64_t kScanRecords = 200000;

struct ScanTable {
  Dir dir;
  std::filesystem::path path;
  ScanTable() : path(dir.path / "s.dbf") {
    auto d = create(path);
    for (int64_t i = 1; i <= kScanRecords; ++i) fill(d.get(), i);
  }
};

ScanTable& scan_table() {
  static ScanTable t;
  return t;
}

// range(0): records in the read-ahead buffer (0: the default, 64 KiB exclusive, 4096 bytes shared);
// range(1): open shared.
void BM_ScanSequential(benchmark::State& state) {
  auto d = open_dbf_file(String(scan_table().path), state.range(1) ? static_cast<int>(OPEN_SHARED) : 0);
  d->set_readahead_records(static_cast<size_t>(state.range(0)));
  int64_t seen = 0;
  for (auto _ : state) {
    for (d->go_top(); !d->eof; d->go_next()) ++seen;
  }
  state.SetItemsProcessed(seen);
  state.counters["buffer_records"] = static_cast<double>(d->readahead_capacity());
}
BENCHMARK(BM_ScanSequential)
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({256, 0})
    ->Args({4096, 0})
    ->Args({16384, 0})
    ->Unit(benchmark::kMillisecond);

// The floor: the same bytes read with pread in 64 KiB pieces.
void BM_RawScanPread(benchmark::State& state) {
  int fd = ::open(scan_table().path.c_str(), O_RDONLY);
  std::vector<char> buffer(65536);
  for (auto _ : state) {
    off_t at = 0;
    ssize_t n;
    while ((n = ::pread(fd, buffer.data(), buffer.size(), at)) > 0) at += n;
    benchmark::DoNotOptimize(at);
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations() * kScanRecords);
}
BENCHMARK(BM_RawScanPread)->Unit(benchmark::kMillisecond);

void BM_GoToRandom(benchmark::State& state) {
  auto d = open_dbf_file(String(scan_table().path), 0);
  std::mt19937 random(1);
  for (auto _ : state) d->go_to_in_file(1 + random() % kScanRecords);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GoToRandom);

// range(0): value bytes.
void BM_MemoStore(benchmark::State& state) {
  Dir dir;
  auto d = create(dir.path / "m.dbf", true);
  FptFile* fpt = d->memo_file();
  std::string bytes(static_cast<size_t>(state.range(0)), 'x');
  String value(bytes.data(), bytes.size(), d->charset());
  for (auto _ : state) benchmark::DoNotOptimize(fpt->store(value, d->charset(), 1));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MemoStore)->Arg(100)->Arg(4096)->Arg(65536);

void BM_MemoLoad(benchmark::State& state) {
  Dir dir;
  auto d = create(dir.path / "m.dbf", true);
  FptFile* fpt = d->memo_file();
  std::string bytes(static_cast<size_t>(state.range(0)), 'x');
  std::vector<uint32_t> blocks;
  for (int i = 0; i < 1000; ++i) blocks.push_back(fpt->store(String(bytes.data(), bytes.size(), d->charset()), d->charset(), 1));
  size_t i = 0;
  int type;
  for (auto _ : state) {
    String v = fpt->load(blocks[i++ % blocks.size()], d->charset(), &type);
    benchmark::DoNotOptimize(v.size());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MemoLoad)->Arg(100)->Arg(4096)->Arg(65536);

// 10^5 rewrites of one memo field of range(0) bytes, through the record and its write-back.
void BM_MemoRewriteGrowth(benchmark::State& state) {
  double growth = 0, file_bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Dir dir;
    auto d = create(dir.path / "g.dbf", true);
    fill(d.get(), 1);
    d->go_top();
    uint64_t before = d->memo_file()->file()->get_size();
    std::string bytes(static_cast<size_t>(state.range(0)), 'y');
    String value(bytes.data(), bytes.size(), d->charset());
    state.ResumeTiming();
    for (int i = 0; i < 100000; ++i) {
      d->set_string(4, value);
      d->update(nullptr);
    }
    state.PauseTiming();
    uint64_t after = d->memo_file()->file()->get_size();
    growth = static_cast<double>(after - before) / (100000.0 * static_cast<double>(bytes.size()));
    file_bytes = static_cast<double>(after);
    d.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 100000);
  state.counters["growth"] = growth;
  state.counters["memo_file_MB"] = file_bytes / 1e6;
}
BENCHMARK(BM_MemoRewriteGrowth)->Arg(10)->Arg(100)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
