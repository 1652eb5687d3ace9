// sql_results_test.cpp - result sets on real drivers: column descriptions to field definitions,
// long values read in pieces, the result loop with and without batch mode, SQLMORERESULTS, and
// the tables result sets become.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql_support.h"
#include "tables/data_session.h"
#include "tables/table_object.h"

namespace qzbase::testing_sql {
namespace {

struct FieldShape {
  std::string name;
  char type;
  size_t length;
  size_t decimals;
  int null_mode;
  int binary;
};

std::vector<FieldShape> shapes(const RecordedCursor& c) {
  std::vector<FieldShape> out;
  for (const fielddef_st& f : c.fields) {
    out.push_back(FieldShape{f.name, type_letter(f), f.length, f.decimals, f.null_mode, f.binary});
  }
  return out;
}

void expect_shapes(const RecordedCursor& c, const std::vector<FieldShape>& expected) {
  std::vector<FieldShape> got = shapes(c);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(got[i].name, expected[i].name);
    EXPECT_EQ(got[i].type, expected[i].type);
    EXPECT_EQ(got[i].length, expected[i].length);
    EXPECT_EQ(got[i].decimals, expected[i].decimals);
    EXPECT_EQ(got[i].null_mode, expected[i].null_mode);
    EXPECT_EQ(got[i].binary, expected[i].binary);
  }
}

// Every SELECT used to fail: the column name and nullability were asked for with ODBC 2 ids.
TEST(SqlResults, ColumnsOfPostgresql) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h\n"
      "h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "? SQLEXEC(h, 'CREATE TEMP TABLE c (i INTEGER NOT NULL, s SMALLINT, big BIGINT, d2 DECIMAL(10,2), "
      "d6 DECIMAL(18,6), v30 VARCHAR(30), v300 VARCHAR(300), t TEXT, c5 CHAR(5), f DOUBLE PRECISION, r REAL, "
      "dt DATE, ts TIMESTAMP, tm TIME, bin BYTEA)')\n"
      "? SQLEXEC(h, [INSERT INTO c VALUES (7, -3, 12345678901234, 1234.56, 123456789012.123456, 'Grüße', "
      "'x', 'memo text', 'ab', 0.25, 1.5, '2024-02-29', '2023-12-31 23:59:58.75', '13:45:30', NULL)])\n"
      "? SQLEXEC(h, 'SELECT * FROM c')\n");
  EXPECT_EQ(out, "1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  expect_shapes(*cursors[0], {{"i", 'I', 0, 0, 2, 0},
                              {"s", 'I', 2, 0, 1, 0},
                              {"big", 'C', 20, 0, 1, 0},
                              {"d2", 'Y', 0, 0, 1, 0},
                              {"d6", 'B', 19, 6, 1, 0},
                              {"v30", 'C', 30, 0, 1, 0},
                              {"v300", 'M', 0, 0, 1, 0},
                              {"t", 'M', 0, 0, 1, 0},
                              {"c5", 'C', 5, 0, 1, 0},
                              {"f", 'B', 0, 0, 1, 0},
                              {"r", 'B', 0, 0, 1, 0},
                              {"dt", 'D', 0, 0, 1, 0},
                              {"ts", 'T', 0, 0, 1, 0},
                              {"tm", 'C', 8, 0, 1, 0},
                              {"bin", 'W', 0, 0, 1, 1}});
  ASSERT_EQ(cursors[0]->rows.size(), 1u);
  std::vector<std::string> values;
  for (const Variant& v : cursors[0]->rows[0]) values.push_back(describe(v));
  EXPECT_EQ(values, (std::vector<std::string>{"I:7", "I:-3", "C:12345678901234", "Y:12345600", "N:1.23457e+11",
                                              "C:Grüße", "C:x", "C:memo text", "C:ab   ", "N:0.25", "N:1.5",
                                              "D:2024-02-29", "T:2023-12-31 23:59:58", "C:13:45:30", "null"}));
}

TEST(SqlResults, ColumnsOfSqlite) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string err;
  std::string out = rt.run_with_errors(
      "LOCAL h\n"
      "h = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? SQLEXEC(h, 'CREATE TABLE c (i INTEGER NOT NULL, v VARCHAR(20), t TEXT, d DOUBLE, b BOOLEAN, dt DATE, "
      "big BIGINT)')\n"
      "? SQLEXEC(h, 'SELECT i, v, t, d, b, dt FROM c')\n"
      "* BIGINT is reported with a type no field maps\n"
      "? SQLEXEC(h, 'SELECT big FROM c')\n",
      &err);
  EXPECT_EQ(out, "1\n1\n");
  EXPECT_NE(err.find("1001 - Feature is not available."), std::string::npos) << err;
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  expect_shapes(*cursors[0], {{"i", 'I', 0, 0, 2, 0},
                              {"v", 'C', 20, 0, 1, 0},
                              {"t", 'M', 0, 0, 1, 0},
                              {"d", 'B', 0, 0, 1, 0},
                              {"b", 'L', 0, 0, 1, 0},
                              {"dt", 'D', 0, 0, 1, 0}});
}

// Names longer than the field's 87 bytes are cut before a character, never inside one.
TEST(SqlResults, LongColumnNamesAreCutAtACharacter) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  const std::string ascii86(86, 'a');
  std::string out = rt.run(
      "LOCAL h\n"
      "h = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? SQLEXEC(h, [SELECT 1 AS \"" + ascii86 + "éz\", 2 AS \"" + ascii86 + "z\", 3 AS \"" + std::string(120, 'b') +
      "\", 4 AS \"ü\"])\n");
  EXPECT_EQ(out, "1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  ASSERT_EQ(cursors[0]->fields.size(), 4u);
  EXPECT_EQ(std::string(cursors[0]->fields[0].name), ascii86);
  EXPECT_EQ(std::string(cursors[0]->fields[1].name), ascii86 + "z");
  EXPECT_EQ(std::string(cursors[0]->fields[2].name), std::string(87, 'b'));
  EXPECT_EQ(std::string(cursors[0]->fields[3].name), "ü");
}

// Long values arrive whole; values longer than the old fixed buffer were read past its end.
TEST(SqlResults, LongValuesArriveWhole) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, long, wide, short\n"
      "h = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n"
      "? SQLEXEC(h, 'CREATE TABLE l (t TEXT, v VARCHAR(20))')\n"
      "long = REPLICATE('0123456789', 500)\n"
      "wide = REPLICATE('é日', 2500)\n"
      "short = REPLICATE('x', 299) + 'y'\n"
      "? SQLEXEC(h, 'INSERT INTO l VALUES (?long, ?short)')\n"
      "? SQLEXEC(h, 'INSERT INTO l VALUES (?wide, ?(LEFT(wide, 2047)))')\n"
      "? SQLEXEC(h, 'SELECT t, v FROM l')\n");
  EXPECT_EQ(out, "1\n1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  const RecordedCursor& c = *cursors[0];
  EXPECT_EQ(type_letter(c.fields[0]), 'M');
  EXPECT_EQ(type_letter(c.fields[1]), 'C');
  EXPECT_EQ(c.fields[1].length, 20u);
  ASSERT_EQ(c.rows.size(), 2u);
  std::string long_text;
  for (int i = 0; i < 500; ++i) long_text += "0123456789";
  std::string wide_text;
  for (int i = 0; i < 2500; ++i) wide_text += "é日";
  EXPECT_EQ(text_of(c.rows[0][0]), long_text);
  // The whole value reaches the field, whose width cuts it.
  EXPECT_EQ(text_of(c.rows[0][1]), std::string(299, 'x') + "y");
  EXPECT_EQ(text_of(c.rows[1][0]), wide_text);
  EXPECT_EQ(c.rows[1][1].string.length(), 2047u);
}

TEST(SqlResults, LongBinaryValuesOnPostgresql) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h\n"
      "h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "? SQLEXEC(h, [SELECT decode(repeat('00ff', 5000), 'hex') AS b, repeat('ä', 3000) AS t])\n");
  EXPECT_EQ(out, "1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  ASSERT_EQ(cursors[0]->rows.size(), 1u);
  const Variant& b = cursors[0]->rows[0][0];
  ASSERT_EQ(b.tag, VT_STRING);
  EXPECT_EQ(b.string.get_charset(), Charset::binary);
  std::string expected;
  for (int i = 0; i < 5000; ++i) expected += std::string("\x00\xff", 2);
  EXPECT_EQ(std::string(b.string.read(), b.string.size()), expected);
  std::string a;
  for (int i = 0; i < 3000; ++i) a += "ä";
  EXPECT_EQ(text_of(cursors[0]->rows[0][1]), a);
}

// The result loop over a batch: batch mode makes every result set a cursor, the info array has a
// row per result (also those without columns); without batch mode SQLMORERESULTS fetches the rest.
TEST(SqlResults, BatchesOnPostgresql) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, a[1]\n"
      "h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "? SQLEXEC(h, 'CREATE TEMP TABLE q (k INT); INSERT INTO q VALUES (1), (2), (3)')\n"
      "? SQLEXEC(h, 'SELECT 1 AS one; SELECT 2 AS two')\n"
      "? SQLEXEC(h, 'SELECT 1 AS one; UPDATE q SET k = k + 1 WHERE k > 1; SELECT k FROM q ORDER BY k', 'c', @a)\n"
      "? ALEN(a, 1), a[1, 1], a[1, 2], a[2, 1] == '', a[2, 2], a[3, 1]\n"
      "? SQLSETPROP(h, 'BatchMode', .F.)\n"
      "? SQLEXEC(h, 'SELECT 1 AS one; UPDATE q SET k = k; SELECT 2 AS two; SELECT 3 AS three', NULL, @a)\n"
      "? ALEN(a, 1), a[1, 1]\n"
      "? SQLMORERESULTS(h)\n"
      "? SQLMORERESULTS(h, 'named')\n"
      "? SQLMORERESULTS(h)\n"
      "* pending results are dropped by the next statement\n"
      "? SQLEXEC(h, 'SELECT 1 AS one; SELECT 2 AS two')\n"
      "? SQLEXEC(h, 'SELECT 5 AS five')\n"
      "? SQLEXEC(h, 'UPDATE q SET k = k', '', @a), ALEN(a, 1), a[1, 2]\n");
  EXPECT_EQ(out,
            "1\n"
            "2\n"
            "2\n"
            "3 c 1 true 2 c2\n"
            "false\n"
            "1\n"
            "1 sqlresult\n"
            "1\n"
            "1\n"
            "2\n"
            "1\n"
            "1\n"
            "1 1 3\n");
  std::vector<std::string> aliases;
  for (const auto& c : CursorLog::get().snapshot()) aliases.push_back(c->alias + ":" + c->fields[0].name);
  EXPECT_EQ(aliases, (std::vector<std::string>{"sqlresult:one", "sqlresult2:two", "c:one", "c2:k", "sqlresult:one",
                                               "sqlresult:two", "named:three", "sqlresult:one", "sqlresult:five"}));
}

// Without the recording seam a result set becomes an in-memory table of the running stack's
// session, under its alias, with the described fields; the handle stays usable for the next
// statement.
TEST(SqlResults, ResultSetsBecomeTablesOfTheSession) {
  testing_files::TempDir dir;
  testing_builtins::RuntimeFixture plain;
  const std::string long_name = "a_column_name_longer_than_ten_bytes";
  std::string script = "LOCAL h\nh = SQLSTRINGCONNECT('" + sqlite_connection(dir) + "')\n" +
                       try_each({"SQLEXEC(h, 'SELECT 1 AS one')", "SQLEXEC(h, 'CREATE TABLE t (x INTEGER)')",
                                 "SQLPREPARE(h, 'SELECT 2 AS two, 3 AS \"" + long_name + "\"')",
                                 "SQLEXEC(h, NULL, 'c')", "SQLEXEC(h)", "ALIAS() + ' ' + STR(SELECT(), 1)",
                                 long_name + " + two", "c." + long_name});
  std::filesystem::path file = dir.write("p.prg", script);
  RunProgram(plain.runtime, String(file.string().c_str()));
  EXPECT_EQ(plain.screen.out, "1 1\n2 1\n3 1\n4 1\n5 1\n6 sqlresult 1\n7 5\n8 3\n");
  EXPECT_EQ(plain.screen.err, "");

  VmStack* main = nullptr;
  ASSERT_EQ(GetMainStack(plain.runtime, &main), 0);
  DataSession_Object* session = main->current_data_session;
  ASSERT_NE(session, nullptr);
  int32_t area = 0;
  ASSERT_TRUE(session->resolve(String("c"), main->symtable, &area));
  EXPECT_EQ(area, 2);
  auto* table = static_cast<Table_Object*>(session->work_areas.at(area).get());
  ASSERT_EQ(table->cnt_fields(), 2u);
  EXPECT_EQ(table->reccount(), 1u);
  fielddef_st f{};
  table->get_field_info(0, &f);
  EXPECT_EQ(std::string(f.name), "two");
  EXPECT_EQ(type_letter(f), 'I');
  EXPECT_NE(table->filename().u8str().find("memory:"), std::string::npos) << table->filename().u8str();
  ASSERT_TRUE(session->resolve(String("sqlresult"), main->symtable, &area));
  EXPECT_EQ(area, 1);
}

}  // namespace
}  // namespace qzbase::testing_sql
