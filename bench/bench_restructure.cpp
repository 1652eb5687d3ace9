// Whole-table rebuilds on a real file of 10^6 records with a memo field, without tags and with
// two: PACK, COPY TO (with its tags) and ALTER TABLE ADD COLUMN. Bytes are
// the table's and its memo file's sizes, so the rate reads as MB/s of table moved.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "tables/data_session.h"
#include "tables/dbf_file.h"
#include "tables/table_dbf.h"
#include "table_bench_loops.h"
#include "vm/vm_stack.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;

constexpr size_t kRecords = 1000000;

fielddef_st field(const char* name, uint8_t type, size_t length) { return bench_field(name, type, length); }

struct Fixture {
  explicit Fixture(bool with_tags) : runtime(CreateRuntime(&screen)) {
    std::string pattern = (fs::temp_directory_path() / "qz_bench_XXXXXX").native();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    dir = pattern;
    GetMainStack(runtime, &stack);
    createopts_st o{};
    o.codepage = 1252;
    o.blocksize = 64;
    fielddef_st defs[] = {field("NAME", FIELDINFO_CHAR, 10), field("N", FIELDINFO_INTEGER, 0),
                          field("NOTE", FIELDINFO_MEMO, 0)};
    ObjectPointer made = Table_Object::create(stack, String((dir / "bench.dbf").native()), &o, defs, 3);
    table = static_cast<Table_Object_QzDbf*>(made.get());
    stack->current_data_session->assign(std::move(made), stack->symtable, String("t"), 1, false);
    DbfFile* dbf = table->dbf();
    for (size_t i = 0; i < kRecords; ++i) {
      dbf->begin_append();
      dbf->set_string(0, String(std::to_string(i % 1000).insert(0, 1, 'k')));
      dbf->set_integer(1, integer_type_st{static_cast<int64_t>(i % 7)});
      dbf->set_string(2, String("memo text of record " + std::to_string(i)));
      dbf->update(stack);
    }
    createopts_st none{};
    for (const char* key : {"N", "NAME"}) {
      if (!with_tags) break;
      internal_indexdef_st def;
      def.tag_name = String(key);
      def.key_expression = String(key);
      table->create_index(stack, &none, &def);
    }
    tags = table->cnt_indizes();
  }
  ~Fixture() {
    stack->current_data_session->close_all();
    ReleaseRuntime(runtime);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  int64_t table_bytes() const {
    std::error_code ec;
    int64_t n = static_cast<int64_t>(fs::file_size(dir / "bench.dbf", ec));
    n += static_cast<int64_t>(fs::file_size(dir / "bench.fpt", ec));
    return n;
  }
  NullOut screen;
  Runtime* runtime;
  fs::path dir;
  VmStack* stack = nullptr;
  Table_Object_QzDbf* table = nullptr;
  size_t tags = 0;
};

void BM_Pack(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  for (auto _ : state) f.table->pack(f.stack, f.stack->current_data_session);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.table_bytes());
  state.SetLabel(std::to_string(f.tags) + " tags");
}
BENCHMARK(BM_Pack)->Arg(0)->Arg(2)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

void BM_CopyTo(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  const String target((f.dir / "copy.dbf").native());
  for (auto _ : state) f.table->copyto(f.stack, target, true);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.table_bytes());
  state.SetLabel(std::to_string(f.tags) + " tags");
}
BENCHMARK(BM_CopyTo)->Arg(0)->Arg(2)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

void BM_AddColumn(benchmark::State& state) {
  Fixture f(state.range(0) != 0);
  int n = 0;
  for (auto _ : state) {
    fielddef_st extra = field(std::to_string(++n).insert(0, 1, 'X').c_str(), FIELDINFO_LOGICAL, 0);
    f.table->add_column(f.stack, f.stack->current_data_session, &extra);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.table_bytes());
  state.SetLabel(std::to_string(f.tags) + " tags");
}
BENCHMARK(BM_AddColumn)->Arg(0)->Arg(2)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace qzbase

BENCHMARK_MAIN();
