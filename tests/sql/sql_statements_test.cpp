// sql_statements_test.cpp - parameters, SQLPREPARE and SQLEXEC on real drivers: every kind of
// bound value, the text sent around a parameter, re-executing prepared statements (also after a
// failure), statements that match no rows, and the errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql_support.h"

namespace qzbase::testing_sql {
namespace {

std::vector<std::string> row_of(const RecordedCursor& c, size_t r) {
  std::vector<std::string> out;
  for (const Variant& v : c.rows.at(r)) out.push_back(describe(v));
  return out;
}

// Every kind of value the binding knows goes into a table and comes back.
TEST(SqlParameters, EveryKindOfValueRoundTripsOnSqlite) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, vl, vn, vs, vb, vd, vy, vdt, ve, vt, ve2, vbin, vtx\n"
      "h = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? SQLEXEC(h, 'CREATE TABLE t (l BOOLEAN, n INTEGER, s INTEGER, b INTEGER, d DOUBLE, y TEXT, "
      "dt DATE, e DATE, ts TIMESTAMP, e2 TIMESTAMP, bin BLOB, tx TEXT)')\n"
      "vl = .T.\n"
      "vn = NULL\n"
      "vs = -2147483648\n"
      "vb = 10000000000\n"
      "vd = 2.5\n"
      "vy = NTOM(-1.5)\n"
      "vdt = DATE(2024, 2, 29)\n"
      "ve = {}\n"
      "vt = DATETIME(2023, 12, 31, 23, 59, 58)\n"
      "ve2 = DTOT({})\n"
      "vbin = 0h00FF41\n"
      "vtx = 'Zoë ∑ 日本'\n"
      "? SQLEXEC(h, 'INSERT INTO t VALUES (?vl, ?vn, ?vs, ?vb, ?vd, ?vy, ?vdt, ?ve, ?vt, ?ve2, ?vbin, ?vtx)')\n"
      "vl = .F.\n"
      "vy = NTOM(12.3456)\n"
      "vs = 5\n"
      "? SQLEXEC(h, 'INSERT INTO t (l, y, s, tx) VALUES (?vl, ?vy, ?vs, ?(vtx + \"!\"))')\n"
      "? SQLEXEC(h, 'SELECT l, n, s, b, d, y, dt, e, ts, e2, tx, typeof(?vs) AS k1, typeof(?vb) AS k2 FROM t')\n");
  EXPECT_EQ(out, "1\n1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  const RecordedCursor& c = *cursors[0];
  EXPECT_EQ(c.alias, "sqlresult");
  EXPECT_TRUE(c.moved_first);
  std::string letters;
  for (const fielddef_st& f : c.fields) letters += type_letter(f);
  EXPECT_EQ(letters, "LIIIBMDDTTMMM");
  ASSERT_EQ(c.rows.size(), 2u);
  // Integers in 32 bits go as doubles, beyond as 64-bit integers (typeof of the parameter itself);
  // money as its text with four decimals; empty dates and datetimes as NULL.
  EXPECT_EQ(row_of(c, 0), (std::vector<std::string>{"L:true", "null", "I:-2147483648", "I:10000000000", "N:2.5",
                                                   "C:-1.5000", "D:2024-02-29", "null", "T:2023-12-31 23:59:58",
                                                   "null", "C:Zoë ∑ 日本", "C:real", "C:integer"}));
  EXPECT_EQ(row_of(c, 1), (std::vector<std::string>{"L:false", "null", "I:5", "null", "null", "C:12.3456", "null",
                                                   "null", "null", "null", "C:Zoë ∑ 日本!", "C:real", "C:integer"}));
}

TEST(SqlParameters, BinaryValuesGoAsBytes) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, v\n"
      "h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "v = 0h00FF4100\n"
      "? SQLEXEC(h, 'CREATE TEMP TABLE bb (b BYTEA)')\n"
      "? SQLEXEC(h, 'INSERT INTO bb VALUES (?v)')\n"
      "? SQLEXEC(h, 'SELECT b, octet_length(b) AS n FROM bb')\n");
  EXPECT_EQ(out, "1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  ASSERT_EQ(cursors[0]->rows.size(), 1u);
  EXPECT_EQ(type_letter(cursors[0]->fields[0]), 'W');
  EXPECT_EQ(row_of(*cursors[0], 0), (std::vector<std::string>{"B:00ff4100", "I:4"}));
}

// The text around a parameter is sent as written: the blank after an operand stays (the server
// refused "a = ?AND b"), a "?" inside quotes is text, and the operand may be qualified or an
// expression in parentheses.
TEST(SqlParameters, TextAroundParametersOnPostgresql) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, x, ai[1]\n"
      "PRIVATE nId\n"
      "h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "? SQLEXEC(h, 'CREATE TEMP TABLE p (a INT, b INT, c TEXT)')\n"
      "? SQLEXEC(h, [INSERT INTO p VALUES (1, 2, 'x'), (1, 3, 'y'), (2, 2, 'z')])\n"
      "x = 1\n"
      "nId = 2\n"
      "? SQLEXEC(h, [UPDATE p SET c = c || '?' WHERE a = ?x AND b = ?m.nId], '', @ai), ai[1, 2]\n"
      "? SQLEXEC(h, [SELECT c, '?x' AS q, ?(x + 1) AS e FROM p WHERE a = ?x AND c <> '?' ORDER BY b])\n");
  EXPECT_EQ(out, "1\n1\n1 1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  ASSERT_EQ(cursors[0]->rows.size(), 2u);
  EXPECT_EQ(row_of(*cursors[0], 0)[0], "C:x?");
  EXPECT_EQ(row_of(*cursors[0], 0)[1], "C:?x");
  EXPECT_EQ(row_of(*cursors[0], 1)[0], "C:y");
}

// Integers beyond 32 bits were bound as SQL_INTEGER, which the server refuses.
TEST(SqlParameters, LargeIntegersOnPostgresql) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, v, w\n"
      "h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "? SQLEXEC(h, 'CREATE TEMP TABLE b (v BIGINT, w BIGINT)')\n"
      "v = 10000000000\n"
      "w = -9000000000000000000\n"
      "? SQLEXEC(h, 'INSERT INTO b VALUES (?v, ?w)')\n"
      "? SQLEXEC(h, 'SELECT v, w, v * 2 AS d FROM b WHERE v = ?v')\n");
  EXPECT_EQ(out, "1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  ASSERT_EQ(cursors[0]->rows.size(), 1u);
  EXPECT_EQ(row_of(*cursors[0], 0),
            (std::vector<std::string>{"C:10000000000", "C:-9000000000000000000", "C:20000000000"}));
}

TEST(SqlParameters, PreparedStatementRunsWithFreshValues) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h\n"
      "PRIVATE nId\n"
      "h = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? SQLEXEC(h, 'CREATE TABLE t (id INTEGER, name TEXT)')\n"
      "? SQLEXEC(h, [INSERT INTO t VALUES (1, 'one'), (2, 'two')])\n"
      "? SQLPREPARE(h, 'SELECT name FROM t WHERE id = ?nId', 'ignored')\n"
      "nId = 2\n"
      "? SQLEXEC(h)\n"
      "nId = 1\n"
      "? SQLEXEC(h, NULL, 'c1')\n");
  EXPECT_EQ(out, "1\n1\n1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 2u);
  EXPECT_EQ(cursors[0]->alias, "sqlresult");
  EXPECT_EQ(row_of(*cursors[0], 0), std::vector<std::string>{"C:two"});
  EXPECT_EQ(cursors[1]->alias, "c1");
  EXPECT_EQ(row_of(*cursors[1], 0), std::vector<std::string>{"C:one"});
}

// After a failed execution (a constraint violation) the prepared statement runs again: the bound
// parameters of the failure used to stay and the next binding ended the process.
TEST(SqlParameters, PreparedStatementAfterAFailure) {
  for (const std::string& connection : {std::string("sqlite"), pg_connection()}) {
    SCOPED_TRACE(connection);
    testing_files::TempDir dir;
    SqlRuntime rt;
    std::string target = connection == "sqlite" ? sqlite_connection(dir) : connection;
    std::string out = rt.run(
        "LOCAL h, k, a[1]\n"
        "h = SQLSTRINGCONNECT('" + target + "')\n"
        "? SQLEXEC(h, 'CREATE TEMP TABLE u (k INTEGER PRIMARY KEY)')\n"
        "? SQLPREPARE(h, 'INSERT INTO u VALUES (?k)')\n"
        "k = 1\n"
        "? SQLEXEC(h)\n"
        "? SQLEXEC(h)\n"
        "? AERROR(a), a[1, 1], a[1, 6]\n"
        "k = 2\n"
        "? SQLEXEC(h)\n"
        "? SQLEXEC(h, 'SELECT count(*) AS n FROM u')\n");
    EXPECT_EQ(out, "1\n1\n1\n-1\n1 1526 1\n1\n1\n");
  }
}

// SQL_NO_DATA from an execution is a success with 0 rows; a real failure is still -1.
TEST(SqlParameters, StatementsMatchingNoRows) {
  for (const std::string& connection : {std::string("sqlite"), pg_connection()}) {
    SCOPED_TRACE(connection);
    testing_files::TempDir dir;
    SqlRuntime rt;
    std::string target = connection == "sqlite" ? sqlite_connection(dir) : connection;
    std::string out = rt.run(
        "LOCAL h, a[1], e[1], k\n"
        "h = SQLSTRINGCONNECT('" + target + "')\n"
        "? SQLEXEC(h, 'CREATE TEMP TABLE m (k INTEGER, v INTEGER)')\n"
        "? SQLEXEC(h, 'INSERT INTO m VALUES (1, 1), (1, 2), (2, 3)')\n"
        "? SQLEXEC(h, 'SELECT nosuchcolumn FROM m')\n"
        "? AERROR(e), e[1, 1]\n"
        "? SQLEXEC(h, 'UPDATE m SET v = 0 WHERE k = 9', '', @a), ALEN(a, 1), a[1, 1] == '', a[1, 2]\n"
        "k = 9\n"
        "? SQLEXEC(h, 'DELETE FROM m WHERE k = ?k', '', @a), a[1, 2]\n"
        "? SQLPREPARE(h, 'DELETE FROM m WHERE k = ?k'), SQLEXEC(h, NULL, '', @a), a[1, 2]\n"
        "* the earlier failure is still the error list\n"
        "? AERROR(a), a[1, 1], a[1, 3] == e[1, 3]\n"
        "? SQLEXEC(h, 'UPDATE m SET v = 0 WHERE k = 1', '', @a), a[1, 2]\n"
        "k = 1\n"
        "? SQLPREPARE(h, 'DELETE FROM m WHERE k = ?k'), SQLEXEC(h, NULL, '', @a), a[1, 2]\n"
        "? SQLEXEC(h, 'UPDATE m SET v = 1 WHERE nosuch = 1', '', @a), AERROR(e), e[1, 1]\n");
    EXPECT_EQ(out,
              "1\n1\n-1\n1 1526\n"
              "1 1 true 0\n"
              "1 0\n"
              "1 1 0\n"
              "1 1526 true\n"
              "1 2\n"
              "1 1 2\n"
              "-1 1 1526\n");
  }
}

TEST(SqlParameters, Errors) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run(
      "PUBLIC h, o, arr[2]\n"
      "h = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "o = CREATEOBJECT('Custom')\n" +
      try_each({"SQLEXEC(h)", "SQLEXEC(h, 'SELECT ?nosuchvariable')", "SQLEXEC(h, 'SELECT ?o')",
                "SQLEXEC(h, 'SELECT ?arr')", "SQLEXEC(h, 'SELECT 1 FROM nosuchtable')",
                // SQLite only prepares when it executes.
                "SQLPREPARE(h, 'SELEKT 1')", "SQLEXEC(h)", "SQLEXEC(h, 'CREATE TABLE t (x INTEGER)')"}));
  EXPECT_EQ(out,
            "1 error 1472\n"
            "2 error 12\n"
            "3 error 1001\n"
            "4 error 1001\n"
            "5 -1\n"
            "6 1\n"
            "7 -1\n"
            "8 1\n");
}

}  // namespace
}  // namespace qzbase::testing_sql
