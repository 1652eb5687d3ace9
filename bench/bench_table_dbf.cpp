// The DBF table object on a real file of 10^6 records: a field read by name through the
// interpreter, and GO TOP plus SKIP to the end without and with a filter (per record).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tables/data_session.h"
#include "tables/dbf_file.h"
#include "tables/table_dbf.h"
#include "table_bench_loops.h"
#include "vm/vm_stack.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;

fielddef_st field(const char* name, uint8_t type, size_t length) { return bench_field(name, type, length); }

// A table of records records: NAME C(10) and N I, N = recno % 7; written in one go.
fs::path make_table(const fs::path& dir, size_t records) {
  fs::path p = dir / "bench.dbf";
  createopts_st o{};
  o.codepage = 1252;
  o.blocksize = 64;
  fielddef_st defs[] = {field("NAME", FIELDINFO_CHAR, 10), field("N", FIELDINFO_INTEGER, 0)};
  std::unique_ptr<DbfFile> dbf(DbfFile::create(create_file(String(p), 0), &o, defs, 2));
  std::vector<char> all(records * dbf->record_length);
  for (size_t i = 0; i < records; ++i) {
    std::memcpy(dbf->current_record.get(), dbf->blank_record.get(), dbf->record_length);
    dbf->set_string(0, String("k"));
    dbf->set_integer(1, integer_type_st{static_cast<int64_t>(i % 7)});
    std::memcpy(all.data() + i * dbf->record_length, dbf->current_record.get(), dbf->record_length);
  }
  dbf->file()->writeex(static_cast<std::streamoff>(dbf->header_length), all.data(), all.size());
  dbf->record_count = static_cast<uint32_t>(records);
  dbf->write_dbf_header();
  dbf->close();
  return p;
}

struct Fixture {
  explicit Fixture(size_t records) : runtime(CreateRuntime(&screen)) {
    std::string pattern = (fs::temp_directory_path() / "qz_bench_XXXXXX").native();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    dir = pattern;
    fs::path p = make_table(dir, records);
    GetMainStack(runtime, &stack);
    ObjectPointer t = Table_Object::use(stack, String(p), false, false);
    table = static_cast<Table_Object*>(t.get());
    stack->current_data_session->assign(std::move(t), stack->symtable, String("t"), 1, false);
  }
  ~Fixture() {
    stack->current_data_session->close_all();
    ReleaseRuntime(runtime);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  NullOut screen;
  Runtime* runtime;
  fs::path dir;
  VmStack* stack = nullptr;
  Table_Object* table = nullptr;
};

// A field read by name in an expression: the interpreter's cached lookup, then the DBF codec.
void BM_DbfFieldReadByName(benchmark::State& state) {
  Fixture f(10);
  field_read_by_name_loop(state, f);
}
BENCHMARK(BM_DbfFieldReadByName);

// GO TOP, then SKIP 1 until EOF over 10^6 records; per record. Argument 1: filter N <> 3.
void BM_DbfTopAndSkipToEnd(benchmark::State& state) {
  const size_t n = 1000000;
  Fixture f(n);
  top_and_skip_loop(state, f, n, state.range(0) != 0);
}
BENCHMARK(BM_DbfTopAndSkipToEnd)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qzbase

BENCHMARK_MAIN();
