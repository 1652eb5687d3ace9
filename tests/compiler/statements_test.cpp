// statements_test.cpp - the statement dispatch loop, the dispatch table and the statements that
// open no block.
#include "statement_support.h"

#include <set>
#include <string>

#include "compiler/native_commands.h"
#include "frontend/syntax_tables.h"

namespace qzbase::testing_compiler {
namespace {

using Codes = std::vector<uint32_t>;

TEST(StatementTable, HasEveryCompiledKindOnceInKindOrder) {
  std::set<uint64_t> kinds;
  uint64_t previous = 0;
  for (size_t i = 0; i < kStatementCompilerCount; ++i) {
    const statement_compiler_row_st& row = statement_compilers[i];
    if (i > 0) {
      EXPECT_GT(row.kind, previous);
    }
    previous = row.kind;
    kinds.insert(row.kind);
    ASSERT_LT(row.kind, kStatementKindCount);
    // The statement-kind table of the front end names the same compiler.
    ASSERT_NE(statement_kind_table[row.kind].compiled_by, nullptr) << row.kind;
    EXPECT_STREQ(statement_kind_table[row.kind].compiled_by, row.name) << row.kind;
    EXPECT_EQ(find_statement_compiler(row.kind), &row);
    EXPECT_NE(row.compile, nullptr);
  }
  EXPECT_EQ(kinds.size(), 109u);
}

TEST(StatementTable, KindsWithoutARowEndTheList) {
  for (uint64_t kind : {33u, 39u, 45u, 48u, 55u, 57u, 67u, 73u}) {
    EXPECT_EQ(find_statement_compiler(kind), nullptr) << kind;
  }
  EXPECT_EQ(find_statement_compiler(117), nullptr);
}

TEST(StatementTable, PlainCommandsGoToTheCommandCompiler) {
  size_t basic = 0;
  for (const basic_command_st& row : command_table) {
    const statement_compiler_row_st* compiler = find_statement_compiler(row.kind);
    ASSERT_NE(compiler, nullptr) << row.name;
    if (row.kind == STMT_ASSERT) {
      EXPECT_EQ(compiler->compile, &compile_stmt_assert);
      continue;
    }
    EXPECT_EQ(compiler->compile, &compile_stmt_basic_command) << row.name;
    ++basic;
  }
  EXPECT_EQ(basic, 62u);
}

TEST(StatementTable, TerminatorsAndDummies) {
  for (uint64_t kind : {9u, 10u, 17u, 32u, 36u, 40u, 68u}) {
    EXPECT_EQ(find_statement_compiler(kind)->compile, &compile_stmt_unexpected) << kind;
  }
  for (uint64_t kind : {44u, 107u}) EXPECT_EQ(find_statement_compiler(kind)->compile, &compile_stmt_dummy);
}

class StatementList : public StatementTest {};

TEST_F(StatementList, EmptyListCompilesToNothing) {
  EXPECT_EQ(compile_all(""), 0);
  EXPECT_EQ(compiler.statement_number, 0u);
  EXPECT_EQ(code().size(), 0u);
}

TEST_F(StatementList, TerminatorEndsTheListWithoutConsuming) {
  EXPECT_EQ(compile_all("SUSPEND\nENDCASE\n? 1\n"), -1);
  EXPECT_EQ(statements.size(), 3u);
  EXPECT_EQ(consumed(), 1u);
  EXPECT_EQ((*it)->kind, STMT_ENDCASE);
  EXPECT_EQ(compiler.statement_number, 2u);  // the terminator is dispatched too
  EXPECT_EQ(code().size(), 0u);
  EXPECT_TRUE(message_codes().empty());
}

TEST_F(StatementList, KindWithoutRowStopsSilently) {
  struct Case {
    const char* text;
    uint32_t stop_kind;
  } cases[] = {
      {"SUSPEND\nFINALLY\nSUSPEND\n", STMT_FINALLY},
      {"SUSPEND\nFUNCTION f\nSUSPEND\n", STMT_FUNCTION},
      {"SUSPEND\nENDDEFINE\nSUSPEND\n", STMT_ENDDEFINE},
  };
  for (const Case& c : cases) {
    for (Statement* s : statements) delete s;
    statements.clear();
    compiler.statement_number = 0;
    EXPECT_EQ(compile_all(c.text), 0) << c.text;
    ASSERT_EQ(statements.size(), 3u) << c.text;
    EXPECT_EQ(consumed(), 1u) << c.text;
    EXPECT_EQ((*it)->kind, c.stop_kind) << c.text;
    EXPECT_EQ(compiler.statement_number, 1u) << c.text;
    EXPECT_TRUE(message_codes().empty()) << c.text;
  }
}

TEST_F(StatementList, PragmaThrowsSyntaxError) {
  parse("#pragma foo(1)\n");
  if (statements.empty() || statements.front()->kind != STMT_PRAGMA) GTEST_SKIP() << "no pragma statement";
  it = statements.begin();
  statement_list::const_iterator end = statements.cend();
  EXPECT_EQ(error_of([&] { compile_statement_list(end, it, &code(), compiler); }), 10);
  EXPECT_TRUE(message_codes().empty());
}

TEST_F(StatementList, EchoForms) {
  EXPECT_EQ(compile_all("?\n??\n? 1, 'a'\n?? 2\n"), 0);
  EXPECT_EQ(dump(),
            "0: CallSpecVoid 0\n1: CallSpecVoid 0\n2: ReadConstInteger 1\n3: ReadConstString \"a\"\n"
            "4: CallSpecVoid 2\n5: ReadConstInteger 2\n6: CallSpecVoid 1\n7: end\n");
  EXPECT_EQ(called_commands({"echo", "echo_linefeed"}),
            (std::vector<std::string>{"echo_linefeed", "echo", "echo_linefeed", "echo"}));
}

TEST_F(StatementList, ReturnValueAndStatementsAfterIt) {
  EXPECT_EQ(compile_all("RETURN 1 + 2\nRETURN\n? 3\n"), 0);
  program.reset(compiler.build_program(String("")));
  program_dump_options_st options;
  options.statements = true;
  EXPECT_EQ(dump_program(program.get(), options),
            "0: ReadConstInteger 3 #1\n1: ReturnValue #1\n2: ReadConstTrue #2\n3: ReturnValue #2\n"
            "4: ReadConstInteger 3 #3\n5: CallSpecVoid 1 #3\n6: end\n");
}

TEST_F(StatementList, ReturnReference) {
  EXPECT_EQ(compile_all("RETURN @x\n"), 0);
  EXPECT_EQ(dump(), "0: ReadMemvarPointerByName X\n1: ReturnPointer\n2: end\n");
}

TEST_F(StatementList, AssertSkipsItsOperandsWhileAssertsAreOff) {
  EXPECT_EQ(compile_all("ASSERT x > 1\n"), 0);
  // The switch is asked first; the operands (expression, then its text) only when it is on.
  EXPECT_EQ(dump(),
            "0: EspAlloc\n1: CallSpecDo 0\n2: CondFalseOrNullJump -> 9\n3: ReadByName X\n4: ReadConstInteger 1\n"
            "5: BinaryGt\n6: CastToBooleanImplicitly\n7: ReadConstString \"x > 1\"\n8: CallSpecVoid 2\n9: end\n");
  EXPECT_EQ(called_commands({"assert"}), (std::vector<std::string>{"assert"}));
}

}  // namespace
}  // namespace qzbase::testing_compiler
