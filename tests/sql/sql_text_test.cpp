// sql_text_test.cpp - text beyond ASCII written into the statement itself, in column aliases and
// in the drivers' messages, on the embedded driver (narrow entry points only) and on the server.
// A text that only round-trips could be damaged the same way both times: every literal is also
// compared with the same text bound as a parameter, which reaches the driver whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql_support.h"

namespace qzbase::testing_sql {
namespace {

class SqlText : public ::testing::TestWithParam<const char*> {
 protected:
  std::string connection() {
    return std::string(GetParam()) == "sqlite" ? sqlite_connection(dir_) : pg_connection();
  }
  testing_files::TempDir dir_;
};

const std::vector<std::string> kTexts = {
    "Grüße",        // Latin-1 range
    "日本語",       // CJK
    "😀 𝄞",         // outside the BMP (surrogate pairs in UTF-16)
    "aé日😀z ß€",  // all of them mixed with ASCII
};

TEST_P(SqlText, LiteralsInTheTextArriveExactly) {
  SqlRuntime rt;
  std::string script =
      "LOCAL h, p1, p2, p3, p4\n"
      "h = SQLSTRINGCONNECT('" + connection() + "')\n"
      "? SQLEXEC(h, 'CREATE TEMP TABLE u (k INTEGER, t VARCHAR(40))')\n";
  for (size_t i = 0; i < kTexts.size(); ++i) {
    const std::string k = std::to_string(i + 1);
    script += "p" + k + " = '" + kTexts[i] + "'\n";
    script += "? SQLEXEC(h, [INSERT INTO u VALUES (" + k + ", '" + kTexts[i] + "')])\n";
  }
  // The same texts as parameters find every row, each under its own key.
  script += "? SQLEXEC(h, 'SELECT k, t FROM u ORDER BY k')\n"
            "? SQLEXEC(h, 'SELECT k FROM u WHERE t = ?p1 OR t = ?p2 OR t = ?p3 OR t = ?p4 ORDER BY k')\n"
            "? SQLEXEC(h, 'SELECT k FROM u WHERE (k = 1 AND t = ?p1) OR (k = 2 AND t = ?p2) OR "
            "(k = 3 AND t = ?p3) OR (k = 4 AND t = ?p4)')\n";
  EXPECT_EQ(rt.run(script), "1\n1\n1\n1\n1\n1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 3u);
  ASSERT_EQ(cursors[0]->rows.size(), kTexts.size());
  for (size_t i = 0; i < kTexts.size(); ++i) {
    EXPECT_EQ(describe(cursors[0]->rows[i][0]), "I:" + std::to_string(i + 1));
    EXPECT_EQ(describe(cursors[0]->rows[i][1]), "C:" + kTexts[i]);
  }
  EXPECT_EQ(cursors[1]->rows.size(), kTexts.size());
  EXPECT_EQ(cursors[2]->rows.size(), kTexts.size());
}

// A prepared text keeps its literal through every execution.
TEST_P(SqlText, PreparedLiteralsArriveExactly) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, k\n"
      "h = SQLSTRINGCONNECT('" + connection() + "')\n"
      "? SQLEXEC(h, 'CREATE TEMP TABLE u (k INTEGER, t VARCHAR(40))')\n"
      "? SQLPREPARE(h, [INSERT INTO u VALUES (?k, 'Zoë 東京 🎌')])\n"
      "k = 1\n"
      "? SQLEXEC(h)\n"
      "k = 2\n"
      "? SQLEXEC(h)\n"
      "? SQLEXEC(h, [SELECT k, t FROM u WHERE t = 'Zoë 東京 🎌' ORDER BY k])\n");
  EXPECT_EQ(out, "1\n1\n1\n1\n1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  ASSERT_EQ(cursors[0]->rows.size(), 2u);
  EXPECT_EQ(describe(cursors[0]->rows[0][1]), "C:Zoë 東京 🎌");
  EXPECT_EQ(describe(cursors[0]->rows[1][0]), "I:2");
}

// Column aliases come back as the field names of the description, whatever their letters.
TEST_P(SqlText, AliasesBecomeFieldNames) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h\n"
      "h = SQLSTRINGCONNECT('" + connection() + "')\n"
      "? SQLEXEC(h, [SELECT 1 AS \"Größe\", 2 AS \"日本\", 3 AS \"x😀\", 4 AS plain])\n");
  EXPECT_EQ(out, "1\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 1u);
  std::vector<std::string> names;
  for (const fielddef_st& f : cursors[0]->fields) names.emplace_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Größe", "日本", "x😀", "plain"}));
}

// The driver's message, naming a table beyond ASCII, reaches AERROR as the driver wrote it.
TEST_P(SqlText, DriverMessagesReachAerror) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL h, a[1]\n"
      "h = SQLSTRINGCONNECT('" + connection() + "')\n"
      "? SQLEXEC(h, [SELECT * FROM \"nichts_日本😀\"])\n"
      "? AERROR(a), a[1, 1], a[1, 2] == 'Connectivity error: ' + a[1, 3]\n"
      "? a[1, 3]\n");
  EXPECT_THAT(out, ::testing::StartsWith("-1\n1 1526 true\n"));
  EXPECT_THAT(out, ::testing::HasSubstr("nichts_日本😀"));
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqlText, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

std::u16string widened(const std::string& bytes) {
  std::u16string out;
  for (unsigned char c : bytes) out.push_back(c);
  return out;
}

// Which of the two answers of the driver manager is the text.
TEST(SqlDriverText, TakesTheNarrowFormOnlyWhenTheWideOneIsItsBytesWidened) {
  struct Case {
    const char* what;
    std::u16string wide;
    std::string narrow;
    bool narrow_cut;
    std::string expected;
  };
  const std::string mixed = "aé日😀";
  const std::vector<Case> cases = {
      {"ASCII", u"no such table", "no such table", false, "no such table"},
      {"narrow driver: wide is the UTF-8 widened", widened(mixed), mixed, false, mixed},
      {"both faithful", u"aé日😀", mixed, false, mixed},
      {"wide-only driver: narrow is the low bytes", u"é", "\xE9", false, "é"},
      {"widened bytes that are not UTF-8", widened("\xE9t\xE9"), "\xE9t\xE9", false, "\u00e9t\u00e9"},
      {"wide cut by its buffer", widened(mixed).substr(0, 3), mixed, false, mixed},
      {"narrow cut inside a character", widened("é"), "é\xE6\x97", true, "é"},
      {"narrow ending inside a character, not cut", widened("é\xE6"), "é\xE6", false, "\u00c3\u00a9\u00e6"},
      {"no narrow answer", u"日本", "", false, "日本"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string got = sql_driver_text(reinterpret_cast<const SQLWCHAR*>(c.wide.data()), c.wide.size(),
                                      c.narrow.data(), c.narrow.size(), c.narrow_cut);
    EXPECT_EQ(got, c.expected);
  }
}

}  // namespace
}  // namespace qzbase::testing_sql
