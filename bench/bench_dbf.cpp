// DBF field codecs: one read (into a Variant) and one write per field type on a record buffer,
// beside a plain copy of the field's bytes; and opening a table of 255 fields.
#include <benchmark/benchmark.h>
#include <qzbase.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tables/dbf_file.h"

using namespace qzbase;

namespace {

fielddef_st def(const char* name, uint8_t type, size_t length = 0, size_t decimals = 0) {
  fielddef_st f{};
  std::strncpy(f.name, name, sizeof f.name - 1);
  f.type = type;
  f.length = length;
  f.length_omitted = length == 0;
  f.decimals = decimals;
  f.decimals_omitted = decimals == 0 && type != FIELDINFO_NUMERIC;
  return f;
}

struct Table {
  std::filesystem::path dir;
  std::unique_ptr<DbfFile> dbf;
  Table() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qz_bench_dbf_XXXXXX").native();
    dir = mkdtemp(pattern.data());
    std::vector<fielddef_st> defs = {def("C", FIELDINFO_CHAR, 10),  def("N", FIELDINFO_NUMERIC, 10, 2),
                                     def("B", FIELDINFO_DOUBLE),    def("I", FIELDINFO_INTEGER),
                                     def("Y", FIELDINFO_CURRENCY),  def("D", FIELDINFO_DATE),
                                     def("T", FIELDINFO_DATETIME),  def("L", FIELDINFO_LOGICAL),
                                     def("V", FIELDINFO_VARCHAR, 10), def("Q", FIELDINFO_VARBINARY, 10),
                                     def("M", FIELDINFO_MEMO),      def("NN", FIELDINFO_NUMERIC, 10, 2)};
    defs.back().null_mode = FIELDINFO_NULL;
    createopts_st o{};
    o.codepage = 1252;
    dbf.reset(DbfFile::create(create_file(String(dir / "b.dbf"), 0), &o, defs.data(), defs.size()));
    DbfField* m = dbf->fields[10];
    m->active.set_string(dbf.get(), m, dbf->current_record.get(), String("a memo of some thirty bytes...."));
  }
  ~Table() {
    dbf.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Table& table() {
  static Table t;
  return t;
}

void read_field(benchmark::State& state, size_t index) {
  DbfFile* d = table().dbf.get();
  DbfField* f = d->fields[index];
  const char* r = d->current_record.get();
  for (auto _ : state) {
    Variant v;
    f->get_variant(d, f, r, &v);
    benchmark::DoNotOptimize(v);
    v.release(nullptr);
  }
}

template <class Write>
void write_field(benchmark::State& state, size_t index, Write write) {
  DbfFile* d = table().dbf.get();
  DbfField* f = d->fields[index];
  char* r = d->current_record.get();
  for (auto _ : state) {
    write(d, f, r);
    benchmark::ClobberMemory();
  }
}

void BM_CopyBytes(benchmark::State& state) {
  DbfFile* d = table().dbf.get();
  char* r = d->current_record.get();
  char out[16];
  for (auto _ : state) {
    std::memcpy(out, r + 1, 8);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_CopyBytes);

const char* const kReadNames[] = {"C", "N", "B", "I", "Y", "D", "T", "L", "V", "Q", "M", "N_nullable"};

void register_benchmarks() {
  for (size_t i = 0; i < 12; ++i) {
    benchmark::RegisterBenchmark((std::string("BM_Read/") + kReadNames[i]).c_str(),
                                 [i](benchmark::State& s) { read_field(s, i); });
  }
  String text("abcdefgh", 8, Charset::utf8);
  String bytes("abcdefgh", 8, Charset::binary);
  benchmark::RegisterBenchmark("BM_Write/C", [text](benchmark::State& s) {
    write_field(s, 0, [&](DbfFile* d, DbfField* f, char* r) { f->active.set_string(d, f, r, text); });
  });
  benchmark::RegisterBenchmark("BM_Write/N", [](benchmark::State& s) {
    write_field(s, 1, [](DbfFile* d, DbfField* f, char* r) { f->active.set_numeric(d, f, r, numeric_type_st{1234.5, 1}); });
  });
  benchmark::RegisterBenchmark("BM_Write/B", [](benchmark::State& s) {
    write_field(s, 2, [](DbfFile* d, DbfField* f, char* r) { f->active.set_numeric(d, f, r, numeric_type_st{1234.5, 1}); });
  });
  benchmark::RegisterBenchmark("BM_Write/I", [](benchmark::State& s) {
    write_field(s, 3, [](DbfFile* d, DbfField* f, char* r) { f->active.set_integer(d, f, r, integer_type_st{123456}); });
  });
  benchmark::RegisterBenchmark("BM_Write/Y", [](benchmark::State& s) {
    write_field(s, 4, [](DbfFile* d, DbfField* f, char* r) {
      money_type_st m;
      m.value = 123456;
      f->active.set_money(d, f, r, m);
    });
  });
  benchmark::RegisterBenchmark("BM_Write/D", [](benchmark::State& s) {
    write_field(s, 5, [](DbfFile* d, DbfField* f, char* r) { f->active.set_date(d, f, r, date_st{2460000}); });
  });
  benchmark::RegisterBenchmark("BM_Write/T", [](benchmark::State& s) {
    write_field(s, 6, [](DbfFile* d, DbfField* f, char* r) { f->active.set_datetime(d, f, r, datetime_st{2460000, 5000}); });
  });
  benchmark::RegisterBenchmark("BM_Write/L", [](benchmark::State& s) {
    write_field(s, 7, [](DbfFile* d, DbfField* f, char* r) { f->active.set_logical(d, f, r, true); });
  });
  benchmark::RegisterBenchmark("BM_Write/V", [text](benchmark::State& s) {
    write_field(s, 8, [&](DbfFile* d, DbfField* f, char* r) { f->active.set_string(d, f, r, text); });
  });
  benchmark::RegisterBenchmark("BM_Write/Q", [bytes](benchmark::State& s) {
    write_field(s, 9, [&](DbfFile* d, DbfField* f, char* r) { f->active.set_string(d, f, r, bytes); });
  });
  benchmark::RegisterBenchmark("BM_Write/N_nullable", [](benchmark::State& s) {
    write_field(s, 11, [](DbfFile* d, DbfField* f, char* r) { f->active.set_numeric(d, f, r, numeric_type_st{1234.5, 1}); });
  });
}

// Opening (header, 255 descriptors, checks, codecs, buffers) and closing a read-only table.
void BM_Open255Fields(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "qz_bench_dbf_XXXXXX").native();
  std::filesystem::path dir = mkdtemp(pattern.data());
  std::vector<fielddef_st> defs;
  for (int i = 0; i < 255; ++i) defs.push_back(def(("F" + std::to_string(i)).c_str(), FIELDINFO_NUMERIC, 5, 0));
  createopts_st o{};
  o.codepage = 1252;
  String name(dir / "wide.dbf");
  delete DbfFile::create(create_file(name, 0), &o, defs.data(), defs.size());
  for (auto _ : state) {
    std::unique_ptr<DbfFile> dbf = open_dbf_file(name, 0);
    benchmark::DoNotOptimize(dbf.get());
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_Open255Fields);

}  // namespace

int main(int argc, char** argv) {
  register_benchmarks();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
