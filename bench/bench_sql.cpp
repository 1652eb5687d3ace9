// Fetching 10^5 rows of five columns (integer, varchar, numeric, date, text) over ODBC, in rows
// per second: a plain C fetch loop (SQLFetch and SQLGetData into fixed buffers) beside the
// runtime's own fetch loop (column mapping, values read in pieces, the calls a cursor receives,
// here a cursor that keeps nothing) and beside the whole way into a cursor (the in-memory table
// created in the session's work area, every row appended, then the first record), on SQLite and,
// when QZ_BENCH_PG holds a connection string, on PostgreSQL. For a private server: tests/sql/sql_fixture.sh setup DIR, then
// QZ_BENCH_PG="$(cat DIR/pg.conn)" ODBCSYSINI=DIR build/release/bench/bench_sql.
// The SQLite driver is named by its library path and needs no configuration.
#include <benchmark/benchmark.h>
#include <qzbase.h>
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "builtins/sql.h"
#include "table_bench_loops.h"
#include "tables/data_session.h"
#include "tables/table_object.h"
#include "vm/vm_stack.h"

using namespace qzbase;

namespace {

constexpr long kRows = 100000;

struct Connection {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool ok = false;

  explicit Connection(const std::string& text) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3_80), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    ok = SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT));
  }
  ~Connection() {
    if (ok) SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  bool run(const std::string& sql) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    SQLRETURN rc = SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
  }
};

const char* kSelect = "SELECT i, v, n, d, t FROM bench_rows";

bool fill(Connection& c, bool postgres) {
  std::string date = postgres ? "DATE '2000-01-01' + (x % 1000)::int" : "date('2000-01-01', '+' || (x % 1000) || ' days')";
  c.run("DROP TABLE IF EXISTS bench_rows");
  return c.run("CREATE TABLE bench_rows (i INTEGER, v VARCHAR(40), n NUMERIC(12,3), d DATE, t TEXT)") &&
         c.run("INSERT INTO bench_rows WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s WHERE x < " +
               std::to_string(kRows) + ") SELECT x, 'name ' || x, x * 1.25, " + date +
               ", 'a longer text of the row number ' || x || ' with some words after it' FROM s");
}

void plain_fetch(benchmark::State& state, Connection* c) {
  for (auto _ : state) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, c->dbc, &st);
    SQLExecDirect(st, (SQLCHAR*)kSelect, SQL_NTS);
    long rows = 0;
    SQLBIGINT i = 0;
    SQLWCHAR v[256];
    double n = 0;
    SQL_DATE_STRUCT d{};
    SQLWCHAR t[2048];
    SQLLEN ind = 0;
    while (SQL_SUCCEEDED(SQLFetch(st))) {
      SQLGetData(st, 1, SQL_C_SBIGINT, &i, sizeof i, &ind);
      SQLGetData(st, 2, SQL_C_WCHAR, v, sizeof v, &ind);
      SQLGetData(st, 3, SQL_C_DOUBLE, &n, sizeof n, &ind);
      SQLGetData(st, 4, SQL_C_TYPE_DATE, &d, sizeof d, &ind);
      SQLGetData(st, 5, SQL_C_WCHAR, t, sizeof t, &ind);
      ++rows;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    if (rows != kRows) state.SkipWithError("wrong row count");
    benchmark::DoNotOptimize(i);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

class DiscardingCursor : public SqlCursor {
 public:
  void begin_append() override {}
  void set_field_null(size_t) override {}
  void set_field_string(size_t, const String& v) override { benchmark::DoNotOptimize(v.size()); }
  void set_field_integer(size_t, int64_t) override {}
  void set_field_money(size_t, const money_type_st&) override {}
  void set_field_date(size_t, date_st) override {}
  void set_field_datetime(size_t, datetime_st) override {}
  void set_field_numeric(size_t, const numeric_type_st&) override {}
  void set_field_bool(size_t, bool) override {}
  void update() override { ++rows; }
  void movefirst() override {}
  long rows = 0;
};

void runtime_fetch(benchmark::State& state, Connection* c) {
  for (auto _ : state) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, c->dbc, &st);
    SQLExecDirect(st, (SQLCHAR*)kSelect, SQL_NTS);
    std::unique_ptr<fielddef_st[]> fields;
    size_t count = 0;
    DiscardingCursor cursor;
    if (!SQL_SUCCEEDED(_sql_map_columns(st, &fields, &count)) ||
        !SQL_SUCCEEDED(_sql_fetch_records(nullptr, st, fields.get(), count, &cursor)) || cursor.rows != kRows) {
      state.SkipWithError("fetch failed");
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The runtime's way into a cursor: the table the session holds afterwards has every row.
void cursor_fetch(benchmark::State& state, Connection* c) {
  NullOut screen;
  Runtime* runtime = CreateRuntime(&screen);
  VmStack* stack = nullptr;
  GetMainStack(runtime, &stack);
  for (auto _ : state) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, c->dbc, &st);
    SQLExecDirect(st, (SQLCHAR*)kSelect, SQL_NTS);
    std::unique_ptr<fielddef_st[]> fields;
    size_t count = 0;
    bool ok = SQL_SUCCEEDED(_sql_map_columns(st, &fields, &count));
    if (ok) {
      std::unique_ptr<SqlCursor> cursor(create_sql_cursor(stack, String("sqlresult"), fields.get(), count));
      ok = SQL_SUCCEEDED(_sql_fetch_records(stack, st, fields.get(), count, cursor.get()));
      cursor->movefirst();
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    if (!ok || stack->current_data_session->current_table == nullptr ||
        stack->current_data_session->current_table->reccount() != static_cast<size_t>(kRows)) {
      state.SkipWithError("fetch into the cursor failed");
    }
  }
  stack->current_data_session->close_all();
  ReleaseRuntime(runtime);
  state.SetItemsProcessed(state.iterations() * kRows);
}

}  // namespace

int main(int argc, char** argv) {
  std::string db = (std::filesystem::temp_directory_path() / ("qz_bench_" + std::to_string(getpid()) + ".db")).string();
  Connection sqlite("Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=" + db);
  std::unique_ptr<Connection> pg;
  if (!sqlite.ok || !fill(sqlite, false)) {
    std::fprintf(stderr, "SQLite ODBC driver not usable\n");
    return 1;
  }
  benchmark::RegisterBenchmark("plain_odbc_fetch/sqlite", plain_fetch, &sqlite)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("runtime_fetch_loop/sqlite", runtime_fetch, &sqlite)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("cursor_fetch/sqlite", cursor_fetch, &sqlite)->Unit(benchmark::kMillisecond)->UseRealTime();
  if (const char* text = getenv("QZ_BENCH_PG")) {
    pg = std::make_unique<Connection>(text);
    if (pg->ok && fill(*pg, true)) {
      benchmark::RegisterBenchmark("plain_odbc_fetch/postgresql", plain_fetch, pg.get())->Unit(benchmark::kMillisecond)->UseRealTime();
      benchmark::RegisterBenchmark("runtime_fetch_loop/postgresql", runtime_fetch, pg.get())
          ->Unit(benchmark::kMillisecond)->UseRealTime();
      benchmark::RegisterBenchmark("cursor_fetch/postgresql", cursor_fetch, pg.get())
          ->Unit(benchmark::kMillisecond)->UseRealTime();
    } else {
      std::fprintf(stderr, "QZ_BENCH_PG does not connect; PostgreSQL skipped\n");
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (pg) pg->run("DROP TABLE IF EXISTS bench_rows");
  std::filesystem::remove(db);
  return 0;
}
