// native_commands_test.cpp - plain commands as one built-in command call with positional arguments.
#include "statement_support.h"

#include <string>

#include "compiler/native_commands.h"
#include "frontend/syntax_tables.h"

namespace qzbase::testing_compiler {
namespace {

TEST(CommandSyntaxes, ParsedOnceForEveryRow) {
  for (const basic_command_st& row : command_table) {
    const auto* items = find_command_syntax(row.kind);
    ASSERT_NE(items, nullptr) << row.name;
    EXPECT_EQ(find_command_syntax(row.kind), items);  // the same parsed list every time
    std::list<command_syntax_item_st> fresh;
    parse_command_syntax(row.grammar, &fresh);
    EXPECT_EQ(items->size(), fresh.size()) << row.name;
  }
  EXPECT_EQ(find_command_syntax(STMT_IF), nullptr);
}

class NativeCommands : public StatementTest {};

TEST_F(NativeCommands, Dumps) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      // Mask 0, then four nulls (the command's signature casts three of them).
      {"USE\n",
       "0: ReadConstInteger 0\n1: ReadConstNull\n2: CastToStringImplicitly null\n3: ReadConstNull\n"
       "4: ReadConstNull\n5: CastToStringImplicitly null\n6: ReadConstNull\n7: CastToStringImplicitly null\n"
       "8: CallSpecVoid 5\n9: end\n"},
      // The mask, then every value of the repeatable clause.
      {"SET PATH TO a, b\n",
       "0: ReadConstInteger 0\n1: ReadConstString \"a\"\n2: ReadConstString \"b\"\n3: CallSpecVoid 3\n4: end\n"},
      {"SET PATH TO\n", "0: ReadConstInteger 0\n1: CallSpecVoid 1\n2: end\n"},
      // An empty grammar: no argument.
      {"ZAP\n", "0: CallSpecVoid 0\n1: end\n"},
      // EXACT and AFTER are bits 3 and 5.
      {"SEEK 1 EXACT AFTER\n",
       "0: ReadConstInteger 40\n1: ReadConstInteger 1\n2: ReadConstNull\n3: ReadConstNull\n"
       "4: CastToIntegerImplicitly null\n5: ReadConstNull\n6: CastToBooleanImplicitly null\n7: CallSpecVoid 5\n"
       "8: end\n"},
  };
  for (const Case& c : cases) {
    for (Statement* s : statements) delete s;
    statements.clear();
    EXPECT_EQ(compile_all(c.text), 0) << c.text;
    EXPECT_EQ(consumed(), statements.size());
    EXPECT_EQ(dump(), c.expected) << c.text;
    EXPECT_EQ(called_commands({"use", "set_path_to", "zap", "seek"}).size(), 1u) << c.text;
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
