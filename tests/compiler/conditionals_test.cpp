// conditionals_test.cpp - IF ... ELSE ... ENDIF, its macro form, and DO CASE ... ENDCASE: their
// code, their messages on malformed blocks, and their behaviour when run.
#include "statement_support.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "builtins/library.h"
#include "compiler/build_input.h"
#include "compiler/conditionals.h"
#include "values/value_text.h"

namespace qzbase::testing_compiler {
namespace {

class Conditionals : public StatementTest {
 public:
  // Compiles text afresh (a new unit) and returns the dump; the code must assemble.
  // go_on: a statement left by the root list (a stray terminator) is stepped over and the list
  // goes on after it, as the front door does.
  std::string compile_fresh(const char* text, int* result = nullptr, bool go_on = false) {
    for (Statement* s : statements) delete s;
    statements.clear();
    compiler.messages.clear();
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    int r = compile_all(text);
    if (result != nullptr) *result = r;
    statement_list::const_iterator end = statements.cend();
    while (go_on && statement_list::const_iterator(it) != end) {
      ++it;
      compile_statement_list(end, it, &code(), compiler);
    }
    return dump();
  }

  // "code@line" of each message, in order.
  std::vector<std::string> messages_at() const {
    std::vector<std::string> out;
    for (const auto& m : compiler.messages) {
      out.push_back(std::to_string(m.code) + "@" + std::to_string(m.location.begin_line));
    }
    return out;
  }
};

TEST_F(Conditionals, Dumps) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"IF x\n? 1\nENDIF\n",
       "0: ReadByName X\n1: CondFalseOrNullJump -> 4\n2: ReadConstInteger 1\n3: CallSpecVoid 1\n4: end\n"},
      {"IF x\n? 1\nELSE\n? 2\nENDIF\n? 3\n",
       "0: ReadByName X\n1: CondFalseOrNullJump -> 5\n2: ReadConstInteger 1\n3: CallSpecVoid 1\n4: Jump -> 7\n"
       "5: ReadConstInteger 2\n6: CallSpecVoid 1\n7: ReadConstInteger 3\n8: CallSpecVoid 1\n9: end\n"},
      // Empty branches: the jumps still land on placed labels.
      {"IF x\nELSE\nENDIF\n", "0: ReadByName X\n1: CondFalseOrNullJump -> 3\n2: Jump -> 3\n3: end\n"},
      {"IF x\nIF y\n? 1\nELSE\n? 2\nENDIF\nENDIF\n",
       "0: ReadByName X\n1: CondFalseOrNullJump -> 9\n2: ReadByName Y\n3: CondFalseOrNullJump -> 7\n"
       "4: ReadConstInteger 1\n5: CallSpecVoid 1\n6: Jump -> 9\n7: ReadConstInteger 2\n8: CallSpecVoid 1\n9: end\n"},
      {"DO CASE\nENDCASE\n", "0: end\n"},
      {"DO CASE\nOTHERWISE\n? 3\nENDCASE\n", "0: ReadConstInteger 3\n1: CallSpecVoid 1\n2: end\n"},
      {"DO CASE\nCASE a\n? 1\nCASE b\n? 2\nOTHERWISE\n? 3\nENDCASE\n? 4\n",
       "0: ReadByName A\n1: CondFalseOrNullJump -> 5\n2: ReadConstInteger 1\n3: CallSpecVoid 1\n4: Jump -> 12\n"
       "5: ReadByName B\n6: CondFalseOrNullJump -> 10\n7: ReadConstInteger 2\n8: CallSpecVoid 1\n9: Jump -> 12\n"
       "10: ReadConstInteger 3\n11: CallSpecVoid 1\n12: ReadConstInteger 4\n13: CallSpecVoid 1\n14: end\n"},
      {"DO CASE\nCASE a\nCASE b\nENDCASE\n",
       "0: ReadByName A\n1: CondFalseOrNullJump -> 3\n2: Jump -> 6\n3: ReadByName B\n4: CondFalseOrNullJump -> 6\n"
       "5: Jump -> 6\n6: end\n"},
      {"DO CASE\nCASE a\nIF b\n? 1\nENDIF\nENDCASE\n",
       "0: ReadByName A\n1: CondFalseOrNullJump -> 7\n2: ReadByName B\n3: CondFalseOrNullJump -> 6\n"
       "4: ReadConstInteger 1\n5: CallSpecVoid 1\n6: Jump -> 7\n7: end\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int result = 1;
    EXPECT_EQ(compile_fresh(c.text, &result), c.expected);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(consumed(), statements.size());
    EXPECT_TRUE(message_codes().empty());
  }
}

// The jumps between branches carry no statement number; the conditional jumps carry the block
// statement's (ELSE is dispatched too, so the ELSE branch starts at number 4).
TEST_F(Conditionals, BranchJumpsHaveNoStatementNumber) {
  compile_all("IF x\n? 1\nELSE\n? 2\nENDIF\nDO CASE\nCASE a\nENDCASE\n");
  program.reset(compiler.build_program(String("")));
  program_dump_options_st options;
  options.statements = true;
  options.symbols = rt.stack->get_symtable();
  EXPECT_EQ(dump_program(program.get(), options),
            "0: ReadByName X #1\n1: CondFalseOrNullJump -> 5 #1\n2: ReadConstInteger 1 #2\n3: CallSpecVoid 1 #2\n"
            "4: Jump -> 7 #0\n5: ReadConstInteger 2 #4\n6: CallSpecVoid 1 #4\n7: ReadByName A #6\n"
            "8: CondFalseOrNullJump -> 10 #6\n9: Jump -> 10 #0\n10: end\n");
}

// IF &macro: "IF" joined with the macro parts builds, through "__init_if_from_macro", an object in
// a temporary whose "evaluate" gives the condition.
TEST_F(Conditionals, MacroFormBuildsItsConditionWhenItRuns) {
  EXPECT_EQ(compile_all("IF &c\n? 4\nENDIF\n"), 0);
  EXPECT_TRUE(message_codes().empty());
  EXPECT_EQ(dump(),
            "0: DefLocalOffset @1 .LOCAL~IF~0\n1: EspAlloc\n2: EspAlloc\n3: ReadConstString \"IF\"\n"
            "4: ReadConstString \" \"\n5: ReadMemvarByNameDefault C\n6: CastToStringImplicitly\n7: CallSpecDo 3\n"
            "8: ReadMemvarPointerByName .LOCAL~IF~0\n9: CallSpecDo 2\n10: EspFree\n11: EspAlloc\n"
            "12: ReadLocalMemvarByOffset @1\n13: ObjectCall EVALUATE 0\n14: CondFalseOrNullJump -> 17\n"
            "15: ReadConstInteger 4\n16: CallSpecVoid 1\n17: end\n");
  Library* library = builtin_library_of(compiler);
  const auto* concat = static_cast<const VmOpCallSpecDo*>(program->code()[7]);
  const auto* init = static_cast<const VmOpCallSpecDo*>(program->code()[9]);
  EXPECT_EQ(concat->function, library->find_function(std::string_view("concat"))->function);
  EXPECT_EQ(init->function, library->find_function(std::string_view("__init_if_from_macro"))->function);
}

// The macro IF's temporary is done with once its condition is known: the next macro IF, after it
// or inside its branch, takes the same slot and writes it again before reading it.
TEST_F(Conditionals, MacroFormsTakeTheTemporaryAgainOnceTheConditionIsKnown) {
  EXPECT_EQ(compile_all("IF &c\nIF &d\nENDIF\nENDIF\nIF &e\nENDIF\n"), 0);
  std::string text = dump();
  size_t defs = 0, writes = 0;
  for (size_t at = 0; (at = text.find("DefLocalOffset @1 .LOCAL~IF~0\n", at)) != std::string::npos; ++at) ++defs;
  for (size_t at = 0; (at = text.find("ReadMemvarPointerByName .LOCAL~IF~0\n", at)) != std::string::npos; ++at) ++writes;
  EXPECT_EQ(defs, 3u) << text;
  EXPECT_EQ(writes, 3u) << text;
  EXPECT_EQ(text.find(".LOCAL~IF~1"), std::string::npos) << text;
  EXPECT_EQ(program->slot_count(), 1u);
}

TEST_F(Conditionals, MalformedBlocksRecordMessages) {
  struct Case {
    const char* text;
    std::vector<std::string> messages;
    size_t consumed;
    int result;
  } cases[] = {
      // IF without ENDIF at the end of the list: the branch is compiled, 1211 at the IF.
      {"IF x\n? 1\n", {"1211@1"}, 2, 0},
      {"IF x\n? 1\nELSE\n? 2\n", {"1211@1"}, 4, 0},
      // The second ELSE ends the ELSE branch and is left to the enclosing list.
      {"IF x\nELSE\nELSE\nENDIF\n", {"1211@1", "1211@3", "1211@4"}, 4, 0},
      {"ELSE\n? 1\nENDIF\n", {"1211@1", "1211@3"}, 3, 0},
      // ELSE inside another block's body inside an IF branch is not that IF's.
      {"IF x\nDO CASE\nCASE y\nELSE\nENDCASE\nENDIF\n", {"1211@4"}, 6, 0},
      {"IF x\nDO CASE\nCASE y\nENDIF\n", {"1211@4", "10@2", "1211@1"}, 4, 0},
      // A terminator inside the IF branch: 1211, the terminator ends the enclosing list too.
      {"IF x\nCASE y\nENDIF\n", {"1211@1"}, 1, -1},
      {"IF x\nFUNCTION f\n", {"1211@1"}, 1, 0},
      // A statement before the first CASE: 10, that statement and the rest go to the enclosing list.
      {"DO CASE\n? 1\nCASE x\nENDCASE\n", {"10@1"}, 2, -1},
      {"DO CASE\nCASE x\n", {"10@1"}, 2, 0},
      {"DO CASE\n", {"10@1"}, 1, 0},
      {"DO CASE\nOTHERWISE\n? 1\n", {"10@1"}, 3, 0},
      {"DO CASE\nOTHERWISE\nCASE x\nENDCASE\n", {"10@1"}, 2, -1},
      {"DO CASE\nCASE x\nENDIF\nENDCASE\n", {"1211@3"}, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int result = 1;
    std::string text;
    ASSERT_EQ(error_of([&] { text = compile_fresh(c.text, &result); }), 0);
    EXPECT_EQ(messages_at(), c.messages);
    EXPECT_EQ(consumed(), c.consumed);
    EXPECT_EQ(result, c.result);
    EXPECT_NE(text.find("end\n"), std::string::npos);
  }
}

// ---- every truncation and every one-line omission of valid programs ----------------------------

const char* const corpus[] = {
    "x = 1\nIF x > 0\n  y = 1\nELSE\n  y = 2\nENDIF\nRETURN y\n",
    "IF a\n  IF b\n    ? 1\n  ELSE\n    ? 2\n  ENDIF\nELSE\n  IF c\n    ? 3\n  ENDIF\nENDIF\n",
    "DO CASE\nCASE a = 1\n  ? 1\nCASE a = 2\n  IF b\n    ? 2\n  ELSE\n    ? 3\n  ENDIF\nOTHERWISE\n  ? 4\nENDCASE\n"
    "? 5\n",
    "IF a\n  DO CASE\n  CASE b\n    DO CASE\n    CASE c\n      ? 1\n    ENDCASE\n  OTHERWISE\n    ? 2\n  ENDCASE\n"
    "ENDIF\n",
    "IF &m\n  ? 1\nELSE\n  ? 2\nENDIF\n",
    "DO CASE\nCASE .T.\nENDCASE\nIF .F.\nENDIF\n",
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

// Builds text as a script through the front door: a program or a failed build with messages,
// never a broken invariant. The front door refuses code with messages before assembly, so the
// statements are also compiled and assembled directly: every jump must find its label.
void expect_program_or_messages(Conditionals& test, const std::string& text, bool complete) {
  SCOPED_TRACE(text);
  BuildInput input(test.rt.stack);
  std::unique_ptr<Program> program;
  int error = error_of([&] { program.reset(input.build_script(String(text.c_str()), nullptr)); });
  if (complete) {
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(input.messages.empty());
    EXPECT_NE(program, nullptr);
  } else if (error == 0) {
    EXPECT_NE(program, nullptr);
  } else {
    EXPECT_GT(error, 0);
    EXPECT_FALSE(input.messages.empty());
  }
  std::string dumped;
  EXPECT_EQ(error_of([&] { dumped = test.compile_fresh(text.c_str(), nullptr, true); }), 0);
  EXPECT_NE(dumped.find("end\n"), std::string::npos);
  if (complete) {
    EXPECT_TRUE(test.message_codes().empty());
  }
}

TEST_F(Conditionals, EveryTruncationCompilesOrFailsWithMessages) {
  for (const char* program : corpus) {
    std::vector<std::string> lines = lines_of(program);
    std::string prefix;
    expect_program_or_messages(*this, prefix, false);
    for (size_t i = 0; i < lines.size(); ++i) {
      prefix += lines[i];
      expect_program_or_messages(*this, prefix, i + 1 == lines.size());
    }
  }
}

TEST_F(Conditionals, EveryOmittedLineCompilesOrFailsWithMessages) {
  for (const char* program : corpus) {
    std::vector<std::string> lines = lines_of(program);
    for (size_t skip = 0; skip < lines.size(); ++skip) {
      std::string text;
      for (size_t i = 0; i < lines.size(); ++i) {
        if (i != skip) text += lines[i];
      }
      expect_program_or_messages(*this, text, false);
    }
  }
}

// Truncations that leave a block open are refused: the build fails with the block's message.
TEST(ConditionalCorpus, OpenBlocksFailTheBuild) {
  RuntimeFixture rt;
  struct Case {
    const char* text;
    uint32_t code;
  } cases[] = {{"IF .T.\n", 1211}, {"IF .T.\nELSE\n", 1211}, {"DO CASE\nCASE .T.\n", 10}, {"ENDIF\n", 1211}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BuildInput input(rt.stack);
    EXPECT_EQ(error_of([&] { delete input.build_script(String(c.text), nullptr); }), 10);
    ASSERT_FALSE(input.messages.empty());
    EXPECT_EQ(input.messages.records.front().code, c.code);
  }
}

// ---- running ----------------------------------------------------------------------------------

class ConditionalRuns : public ::testing::Test {
 public:
  // Runs text as a script and returns its value as text.
  std::string run(const std::string& text) {
    SCOPED_TRACE(text);
    BuildInput input(rt.stack);
    std::unique_ptr<Program> program;
    int error = error_of([&] { program.reset(input.build_script(String(text.c_str()), nullptr)); });
    EXPECT_EQ(error, 0);
    if (error != 0) return "<build failed>";
    Variant result;
    error = error_of([&] { execute_program(rt.stack, 0, false, program.get(), &result); });
    if (error != 0) return "<error " + std::to_string(error) + ">";
    std::string out = variant_to_string(result).u8str();
    result.release(rt.stack);
    return out;
  }

  RuntimeFixture rt;
};

TEST_F(ConditionalRuns, NullConditionTakesTheElseBranch) {
  EXPECT_EQ(run("r = 'none'\nIF .NULL.\n  r = 'if'\nELSE\n  r = 'else'\nENDIF\nRETURN r\n"), "else");
  EXPECT_EQ(run("r = 'none'\nIF .NULL.\n  r = 'if'\nENDIF\nRETURN r\n"), "none");
  EXPECT_EQ(run("r = 'none'\nIF 1 < 2\n  r = 'if'\nELSE\n  r = 'else'\nENDIF\nRETURN r\n"), "if");
  EXPECT_EQ(run("LOCAL n\nn = .NULL.\nr = 'none'\nIF n\n  r = 'if'\nELSE\n  r = 'else'\nENDIF\nRETURN r\n"),
            "else");
}

TEST_F(ConditionalRuns, DoCaseRunsTheFirstTrueCase) {
  auto program = [](int x, bool late, bool otherwise) {
    std::string text = "LOCAL x, r\nx = " + std::to_string(x) + "\nr = 'none'\nDO CASE\n";
    text += "CASE .NULL.\n  r = 'null'\n";
    text += "CASE x = 1\n  r = 'one'\n";
    text += "CASE x = 2\n  r = 'two'\n";
    // Reading an undefined variable fails: it shows whether this condition is evaluated.
    if (late) text += "CASE undefined_variable\n  r = 'late'\n";
    if (otherwise) text += "OTHERWISE\n  r = 'other'\n";
    return text + "ENDCASE\nRETURN r\n";
  };
  for (bool otherwise : {false, true}) {
    SCOPED_TRACE(otherwise);
    EXPECT_EQ(run(program(1, true, otherwise)), "one");
    EXPECT_EQ(run(program(2, true, otherwise)), "two");
    EXPECT_EQ(run(program(3, true, otherwise)), "<error 12>");
  }
  EXPECT_EQ(run(program(3, false, true)), "other");
  EXPECT_EQ(run(program(3, false, false)), "none");
  EXPECT_EQ(run("r = 'none'\nDO CASE\nOTHERWISE\n  r = 'other'\nENDCASE\nRETURN r\n"), "other");
}

TEST_F(ConditionalRuns, NestedIfInsideDoCase) {
  auto program = [](int x, const char* flag) {
    return "LOCAL x, f, r\nx = " + std::to_string(x) + "\nf = " + flag +
           "\nr = ''\nDO CASE\nCASE x = 1\n  IF f\n    r = 'one-yes'\n  ELSE\n    r = 'one-no'\n  ENDIF\n"
           "  r = r + '!'\nCASE x = 2\n  IF f\n    r = 'two-yes'\n  ENDIF\nOTHERWISE\n  r = 'other'\nENDCASE\n"
           "RETURN r\n";
  };
  EXPECT_EQ(run(program(1, ".T.")), "one-yes!");
  EXPECT_EQ(run(program(1, ".F.")), "one-no!");
  EXPECT_EQ(run(program(1, ".NULL.")), "one-no!");
  EXPECT_EQ(run(program(2, ".T.")), "two-yes");
  EXPECT_EQ(run(program(2, ".F.")), "");
  EXPECT_EQ(run(program(3, ".T.")), "other");
}

// On a command line (no frame slots) the temporary is a local declared by name.
TEST(ConditionalCommandLine, MacroFormWithoutFrameSlots) {
  RuntimeFixture rt;
  BuildInput input(rt.stack);
  std::unique_ptr<Program> program(input.build_command(String("IF &c\n? 1\nENDIF\n"), nullptr));
  ASSERT_NE(program, nullptr);
  program_dump_options_st options;
  options.symbols = rt.stack->get_symtable();
  EXPECT_EQ(dump_program(program.get(), options),
            "0: DefLocal .LOCAL~IF~0\n1: EspAlloc\n2: EspAlloc\n3: ReadConstString \"IF\"\n4: ReadConstString \" \"\n"
            "5: ReadMemvarByNameDefault C\n6: CastToStringImplicitly\n7: CallSpecDo 3\n"
            "8: ReadMemvarPointerByName .LOCAL~IF~0\n9: CallSpecDo 2\n10: EspFree\n11: EspAlloc\n"
            "12: ReadMemvarByName .LOCAL~IF~0\n13: ObjectCall EVALUATE 0\n14: CondFalseOrNullJump -> 17\n"
            "15: ReadConstInteger 1\n16: CallSpecVoid 1\n17: Return\n18: end\n");
}

}  // namespace
}  // namespace qzbase::testing_compiler
