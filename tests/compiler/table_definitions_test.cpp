// table_definitions_test.cpp - CREATE TABLE / CREATE CURSOR, ALTER TABLE ADD COLUMN and DROP
// COLUMN: the argument lists of the commands they call.
#include "statement_support.h"

#include <string>
#include <vector>

#include "compiler/table_definitions.h"

namespace qzbase::testing_compiler {
namespace {

class TableDefinitions : public StatementTest {
 public:
  std::string compile_one(const char* text) {
    for (Statement* s : statements) delete s;
    statements.clear();
    compiler.messages.clear();
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    EXPECT_EQ(compile_all(text), 0);
    EXPECT_EQ(consumed(), statements.size());
    EXPECT_TRUE(message_codes().empty());
    return dump();
  }
};

// The ops of a dump without their slot numbers.
std::vector<std::string> ops_of(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0; at < text.size();) {
    size_t next = text.find('\n', at);
    std::string line = text.substr(at, next - at);
    out.push_back(line.substr(line.find(": ") + 2));
    at = next + 1;
  }
  return out;
}

const char* const commands[] = {"create_table", "add_columns", "drop_columns"};

// Two columns: kind 1, the table, no CODEPAGE, no ENGINE, the count, then seven values per column.
TEST_F(TableDefinitions, CreateTablePassesSevenValuesPerColumn) {
  EXPECT_EQ(compile_one("CREATE TABLE t (a C(10), b N(5, 2))\n"),
            "0: ReadConstInteger 1\n1: ReadConstString \"t\"\n2: ReadConstNull\n3: CastToIntegerImplicitly null\n"
            "4: ReadConstNull\n5: CastToStringImplicitly null\n6: ReadConstInteger 2\n"
            "7: ReadConstString \"a\"\n8: ReadConstInteger 2\n9: ReadConstInteger 10\n10: ReadConstNull\n"
            "11: ReadConstNull\n12: ReadConstNull\n13: ReadConstInteger 0\n"
            "14: ReadConstString \"b\"\n15: ReadConstInteger 11\n16: ReadConstInteger 5\n17: ReadConstInteger 2\n"
            "18: ReadConstNull\n19: ReadConstNull\n20: ReadConstInteger 0\n21: CallSpecVoid 19\n22: end\n");
  EXPECT_EQ(called_commands({commands[0], commands[1], commands[2]}), std::vector<std::string>{"create_table"});
}

TEST_F(TableDefinitions, CursorOptionsAndColumnCount) {
  std::string text = compile_one(
      "CREATE CURSOR c CODEPAGE = 1252 ENGINE = 'dbf' (a I NULL, b D NOT NULL AUTOINC, c M NOCPTRANS NEXTVALUE 5)\n");
  EXPECT_EQ(text.rfind("0: ReadConstInteger 2\n1: ReadConstString \"c\"\n2: ReadConstInteger 1252\n"
                       "3: ReadConstString \"dbf\"\n4: ReadConstInteger 3\n",
                       0),
            0u)
      << text;
  // 5 + 3 x 7 arguments.
  EXPECT_NE(text.find("CallSpecVoid 26\n"), std::string::npos) << text;
  EXPECT_EQ(called_commands({commands[0], commands[1], commands[2]}), std::vector<std::string>{"create_table"});
}

// The flag mask and the NEXTVALUE / STEP places of each column, read off the statement and the dump.
TEST_F(TableDefinitions, ColumnFlagsAndCounters) {
  struct Case {
    const char* column;
    uint64_t mask;
    const char* tail;  // the NEXTVALUE, STEP and mask arguments as dumped
  } cases[] = {
      {"a I", 0, "ReadConstNull\nReadConstNull\nReadConstInteger 0\n"},
      {"a I NULL", 1, "ReadConstNull\nReadConstNull\nReadConstInteger 1\n"},
      {"a I NOT NULL", 2, "ReadConstNull\nReadConstNull\nReadConstInteger 2\n"},
      {"a C(4) NOCPTRANS", 4, "ReadConstNull\nReadConstNull\nReadConstInteger 4\n"},
      {"a I NOT NULL AUTOINC", 10, "ReadConstNull\nReadConstNull\nReadConstInteger 10\n"},
      {"a I AUTOINC NULL NOCPTRANS NOT NULL", 15, "ReadConstNull\nReadConstNull\nReadConstInteger 15\n"},
      {"a I STEP 2", 0, "ReadConstNull\nReadConstInteger 2\nReadConstInteger 0\n"},
      {"a I AUTOINC NEXTVALUE 7 STEP 3", 8, "ReadConstInteger 7\nReadConstInteger 3\nReadConstInteger 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    std::string text = compile_one((std::string("ALTER TABLE t ADD COLUMN ") + c.column + "\n").c_str());
    const auto* statement = static_cast<const Cmd_Add_Column*>(statements.front());
    EXPECT_EQ(parse_column_flags(statement->column->options), c.mask);
    // Table, 1, then name, type, width, decimals, NEXTVALUE, STEP, mask: 9 arguments.
    std::vector<std::string> ops = ops_of(text);
    ASSERT_GE(ops.size(), 9u);
    std::string lines = ops[6] + "\n" + ops[7] + "\n" + ops[8] + "\n";
    EXPECT_EQ(lines, c.tail) << text;
    EXPECT_NE(text.find("CallSpecVoid 9\n"), std::string::npos) << text;
    EXPECT_EQ(called_commands({commands[0], commands[1], commands[2]}), std::vector<std::string>{"add_columns"});
  }
}

TEST_F(TableDefinitions, AddAndDropColumn) {
  EXPECT_EQ(compile_one("ALTER TABLE t ADD COLUMN c I NOT NULL AUTOINC STEP 2\n"),
            "0: ReadConstString \"t\"\n1: ReadConstInteger 1\n2: ReadConstString \"c\"\n3: ReadConstInteger 3\n"
            "4: ReadConstNull\n5: ReadConstNull\n6: ReadConstNull\n7: ReadConstInteger 2\n8: ReadConstInteger 10\n"
            "9: CallSpecVoid 9\n10: end\n");
  EXPECT_EQ(compile_one("ALTER TABLE t DROP COLUMN c\n"),
            "0: ReadConstString \"t\"\n1: ReadConstString \"c\"\n2: CallSpecVoid 2\n3: end\n");
  EXPECT_EQ(called_commands({commands[0], commands[1], commands[2]}), std::vector<std::string>{"drop_columns"});
  // Names given as expressions are passed as their values.
  EXPECT_EQ(compile_one("ALTER TABLE (tn) DROP COLUMN (cn)\n"),
            "0: ReadByName TN\n1: CastToStringImplicitly\n2: ReadByName CN\n3: CastToStringImplicitly\n"
            "4: CallSpecVoid 2\n5: end\n");
}

TEST(ColumnFlags, NoOptionsIsZero) {
  EXPECT_EQ(parse_column_flags(nullptr), 0u);
  option_ptr_list empty;
  EXPECT_EQ(parse_column_flags(&empty), 0u);
}

}  // namespace
}  // namespace qzbase::testing_compiler
