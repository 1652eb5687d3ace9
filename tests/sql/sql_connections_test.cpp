// sql_connections_test.cpp - SQL handles on real drivers: connecting, sharing a connection,
// listing, properties, disconnecting, the recorded ODBC errors and the release of a runtime that
// still holds handles.
#include <gtest/gtest.h>

#include <string>

#include "sql_support.h"
#include "vm/vm_stack.h"

namespace qzbase::testing_sql {
namespace {

TEST(SqlHandles, SharedConnectionLivesUntilItsLastHandle) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL a[1], n\n"
      "h1 = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "h2 = SQLCONNECT(h1)\n"
      "h3 = SQLSTRINGCONNECT('" + sqlite_connection(dir, "other.db") + "')\n"
      "? h1, h2, h3\n"
      "? SQLGETPROP(h1, 'ODBCHDBC') = SQLGETPROP(h2, 'ODBCHDBC'), SQLGETPROP(h1, 'ODBCHDBC') = SQLGETPROP(h3, 'ODBCHDBC')\n"
      "? SQLGETPROP(h1, 'ODBCHSTMT') = SQLGETPROP(h2, 'ODBCHSTMT')\n"
      "n = ASQLHANDLES(a)\n"
      "? n, a[1], a[2], a[3]\n"
      "n = ASQLHANDLES(a, h2)\n"
      "? n, ALEN(a), a[1], a[2]\n"
      "? SQLEXEC(h1, 'CREATE TABLE t (x INTEGER)')\n"
      "? SQLDISCONNECT(h1)\n"
      "* the connection stays for h2, and with it the database\n"
      "? SQLEXEC(h2, 'INSERT INTO t VALUES (1)')\n"
      "n = ASQLHANDLES(a)\n"
      "? n, a[1], a[2]\n"
      "? SQLDISCONNECT(h2), SQLDISCONNECT(h3)\n"
      "? ASQLHANDLES(a), ALEN(a)\n");
  EXPECT_EQ(out,
            "1 2 3\n"
            "true false\n"
            "false\n"
            "3 1 2 3\n"
            "2 2 1 2\n"
            "1\n"
            "0\n"
            "1\n"
            "2 2 3\n"
            "0 0\n"
            "0 0\n");
}

TEST(SqlHandles, BadHandlesRaise1466) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL a[1], h, e\n"
      "h = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? SQLDISCONNECT(h)\n" +
      try_each({"SQLDISCONNECT(h)", "SQLEXEC(h, 'SELECT 1')", "SQLGETPROP(h, 'SHARED')",
                "SQLSETPROP(h, 'BATCHMODE', .F.)", "SQLCONNECT(h)", "ASQLHANDLES(a, h)", "SQLPREPARE(h, 'SELECT 1')",
                "SQLMORERESULTS(h)", "SQLEXEC(-1, 'SELECT 1')", "SQLEXEC(99, 'SELECT 1')", "SQLEXEC(h + 0.0, 'SELECT 1')"}));
  std::string expected = "0\n";
  for (int n = 1; n <= 11; ++n) expected += std::to_string(n) + " error 1466\n";
  EXPECT_EQ(out, expected);
}

TEST(SqlHandles, PropertiesInAnyCase) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL e\n"
      "h1 = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "', .T.)\n"
      "h2 = SQLCONNECT(h1)\n"
      "h3 = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? SQLGETPROP(h1, 'shared'), SQLGETPROP(h2, 'Shared'), SQLGETPROP(h3, 'SHARED')\n"
      "? SQLGETPROP(h1, 'BatchMode'), SQLGETPROP(h2, 'batchmode'), SQLGETPROP(h3, 'BATCHMODE')\n"
      "? SQLSETPROP(h2, 'bAtChMoDe', .F.)\n"
      "? SQLGETPROP(h1, 'BATCHMODE'), SQLGETPROP(h2, 'batchMode'), SQLGETPROP(h3, 'batchmode')\n"
      "? VARTYPE(SQLGETPROP(h1, 'odbchdbc')), VARTYPE(SQLGETPROP(h1, 'OdbcHstmt'))\n" +
      try_each({"SQLSETPROP(h1, 'shared', .F.)", "SQLGETPROP(h1, 'nosuch')", "SQLSETPROP(h1, 'ODBCHDBC', 1)",
                "SQLCONNECT(.T.)", "SQLSTRINGCONNECT(1)"}));
  EXPECT_EQ(out,
            "true true false\n"
            "true true true\n"
            "false\n"
            "false false true\n"
            "N N\n"
            "1 error 1533\n"
            "2 error 1001\n"
            "3 error 1001\n"
            "4 error 11\n"
            "5 error 11\n");
}

TEST(SqlHandles, ConnectingByTheTestDsn) {
  SqlRuntime rt;
  std::string out = rt.run(
      "h = SQLCONNECT('qz_sqlite')\n"
      "? h, SQLEXEC(h, 'CREATE TABLE t (x INTEGER)'), SQLDISCONNECT(h)\n");
  EXPECT_EQ(out, "1 1 0\n");
}

// A failed connection leaves its ODBC diagnostics as the only entry of AERROR, in seven values.
TEST(SqlHandles, FailedConnectionReplacesTheErrorList) {
  SqlRuntime rt;
  rt.stack->errors.clear();
  std::string out = rt.run(
      "LOCAL a[1], e\n"
      "TRY\n"
      "  x = 1 / nosuchvariable\n"
      "CATCH TO e\n"
      "ENDTRY\n"
      "? AERROR(a) > 0\n"
      "? SQLCONNECT('no_such_dsn')\n"
      "? AERROR(a), ALEN(a, 2)\n"
      "? a[1,1], LEFT(a[1,2], 20) == 'Connectivity error: ', a[1,2] == 'Connectivity error: ' + a[1,3]\n"
      "? a[1,4], VARTYPE(a[1,5]), a[1,6], VARTYPE(a[1,7])\n"
      "? 'Data source name not found' $ a[1,3]\n"
      "? SQLSTRINGCONNECT('Driver={PostgreSQL Unicode};Servername=/nonexistent;Database=x')\n"
      "? AERROR(a), a[1,1], a[1,6]\n");
  EXPECT_EQ(out,
            "true\n"
            "-1\n"
            "1 7\n"
            "1526 true true\n"
            "IM002 N 0 X\n"
            "true\n"
            "-1\n"
            "1 1526 0\n");
}

short failing_allocation(void*, void** out) {
  *out = nullptr;
  return SQL_ERROR;
}

// The first statement of a new connection cannot be allocated: -1, the connection freed (the leak
// check of the test binary sees a connection left behind), and the id used up.
TEST(SqlHandles, FailedFirstStatementFreesTheConnection) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  SqlSingleton* sql = find_sql_singleton(rt.runtime);
  sql->allocate_statement_handle = failing_allocation;
  std::string out = rt.run(
      "LOCAL a[1]\n"
      "? SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? AERROR(a), a[1,1], a[1,6]\n"
      "? ASQLHANDLES(a)\n");
  EXPECT_EQ(out, "-1\n1 1526 1\n0\n");
  sql->allocate_statement_handle = nullptr;
  out = rt.run("? SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n");
  EXPECT_EQ(out, "2\n");
}

// Sharing fails the same way: -1 and no new handle; the old one stays usable.
TEST(SqlHandles, FailedSharedStatementKeepsTheConnection) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run("PUBLIC h\nh = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n? h\n");
  EXPECT_EQ(out, "1\n");
  find_sql_singleton(rt.runtime)->allocate_statement_handle = failing_allocation;
  out = rt.run("LOCAL a[1]\n? SQLCONNECT(h)\n? ASQLHANDLES(a), a[1]\n");
  EXPECT_EQ(out, "-1\n1 1\n");
  find_sql_singleton(rt.runtime)->allocate_statement_handle = nullptr;
  out = rt.run("? SQLEXEC(h, 'CREATE TABLE t (x INTEGER)'), SQLCONNECT(h)\n");
  EXPECT_EQ(out, "1 3\n");
}

// Releasing a runtime with open handles and connections closes them and frees the environment.
TEST(SqlHandles, ReleasingTheRuntimeClosesEverything) {
  testing_files::TempDir dir;
  int64_t before = live_sql_environments();
  {
    SqlRuntime rt;
    EXPECT_EQ(live_sql_environments(), before);  // made by the first connection
    std::string out = rt.run(
        "PUBLIC h1, h2, h3, h4\n"
        "h1 = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
        "h2 = SQLCONNECT(h1)\n"
        "h3 = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
        "h4 = SQLCONNECT(h3)\n"
        "x = 7\n"
        "? SQLPREPARE(h4, 'SELECT ?x AS v'), SQLEXEC(h1, 'CREATE TABLE t (x INTEGER)')\n"
        "? h1, h2, h3, h4\n");
    EXPECT_EQ(out, "1 1\n1 2 3 4\n");
    EXPECT_EQ(live_sql_environments(), before + 1);
  }
  EXPECT_EQ(live_sql_environments(), before);
}

}  // namespace
}  // namespace qzbase::testing_sql
