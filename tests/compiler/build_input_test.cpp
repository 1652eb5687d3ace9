// build_input_test.cpp - command lines and scripts through the front door, and their messages.
#include "compiler_support.h"

#include "capture_screen.h"

#include <memory>
#include <string>

#include "compiler/build_input.h"

namespace qzbase::testing_compiler {
namespace {

using testing_screen::CaptureScreen;

class FrontDoor : public ::testing::Test {
 public:
  std::string dump(const Program* program) {
    program_dump_options_st options;
    options.symbols = rt.stack->get_symtable();
    return dump_program(program, options);
  }
  RuntimeFixture rt;
};

TEST_F(FrontDoor, EmptyCommandOnlyReturns) {
  BuildInput input(rt.stack);
  std::unique_ptr<Program> program(input.build_command(String(""), nullptr));
  EXPECT_EQ(dump(program.get()), "0: Return\n1: end\n");
  EXPECT_TRUE(input.messages.empty());
}

TEST_F(FrontDoor, CommandAndScript) {
  BuildInput input(rt.stack);
  std::unique_ptr<Program> command(input.build_command(String("x = 1\n? x\n"), nullptr));
  EXPECT_EQ(dump(command.get()),
            "0: ReadConstInteger 1\n1: WriteMemarByName X\n2: ReadByName X\n3: CallSpecVoid 1\n4: Return\n5: end\n");
  std::unique_ptr<Program> script(input.build_script(String("LOCAL y\ny = 2\nRETURN y\n"), nullptr));
  EXPECT_EQ(dump(script.get()),
            "0: DefLocalOffset @1 Y\n1: ReadConstInteger 2\n2: WriteMemvarByOffset @1\n3: ReadByName Y\n"
            "4: ReturnValue\n5: end\n");
}

// A syntax error in the second of two lines: the first is compiled, the build fails with one parser
// message, printed with the command prompt's name.
TEST_F(FrontDoor, SyntaxErrorInSecondLine) {
  BuildInput input(rt.stack);
  String source("? 1\n? 2 +* 3\n");
  EXPECT_EQ(error_of([&] { delete input.build_command(source, nullptr); }), 10);
  ASSERT_EQ(input.messages.size(), 1u);
  EXPECT_EQ(input.messages.records.front().category, 1u);
  CaptureScreen screen;
  format_build_error(input, source, &screen);
  EXPECT_EQ(screen.err,
            "(Parser error) 10 - Syntax error.\n in <command prompt>, line 2, column 6, somewhere at: *\n"
            "  somwhere behind: ? 2 +\n\n");
}

// Compiler messages (an EXIT outside any loop) fail the build and print in the short form; the
// statement's range takes in its line end.
TEST_F(FrontDoor, CompilerMessagesFailTheBuild) {
  BuildInput input(rt.stack);
  String source("? 1\nEXIT\n");
  EXPECT_EQ(error_of([&] { delete input.build_command(source, nullptr); }), 10);
  CaptureScreen screen;
  format_build_error(input, source, &screen);
  EXPECT_EQ(screen.err,
            "(Compiler error) 96 - Nesting Error.\n in <command prompt>, line 2, column 1, somewhere at: "
            "EXIT<0A>\n\n");
}

// PUBLIC on a command line (a unit without frame slots) declares the name alone: the command runs
// and the variable is a public afterwards, holding .F.
TEST_F(FrontDoor, PublicOnACommandLine) {
  BuildInput input(rt.stack);
  std::unique_ptr<Program> command(input.build_command(String("PUBLIC x\n"), nullptr));
  EXPECT_TRUE(input.messages.empty());
  EXPECT_EQ(dump(command.get()), "0: DefPublicOffset @0 X\n1: Return\n2: end\n");
  Variant result;
  EXPECT_EQ(error_of([&] { execute_program(rt.stack, 0, false, command.get(), &result); }), 0);
  result.release(rt.stack);
  const Program* read = nullptr;
  input.build_expression(String("x"), &read);
  std::unique_ptr<const Program> owned(read);
  Variant value;
  EXPECT_EQ(error_of([&] { execute_program(rt.stack, 0, false, read, &value); }), 0);
  EXPECT_EQ(value.tag, VT_FALSE);
  value.release(rt.stack);
  // Declared again from a command line, it stays the same public.
  std::unique_ptr<Program> again(input.build_command(String("PUBLIC x\n"), nullptr));
  EXPECT_EQ(error_of([&] { execute_program(rt.stack, 0, false, again.get(), &result); }), 0);
  result.release(rt.stack);
}

// A terminator with no block open in the middle of a command text: message 10 at its line and
// column, the lines after it are still compiled, and the build fails.
TEST_F(FrontDoor, StrayTerminatorFailsTheBuild) {
  BuildInput input(rt.stack);
  String source("? 1\n  ENDCASE\nEXIT\n");
  EXPECT_EQ(error_of([&] { delete input.build_command(source, nullptr); }), 10);
  ASSERT_EQ(input.messages.size(), 2u);
  const build_message_record_st& stray = input.messages.records.front();
  EXPECT_EQ(stray.code, 10u);
  EXPECT_EQ(stray.location.begin_line, 2u);
  EXPECT_EQ(stray.location.begin_column, 3u);
  EXPECT_EQ(input.messages.records.back().code, 96u);  // the EXIT after it was compiled too
  BuildInput script(rt.stack);
  EXPECT_EQ(error_of([&] { delete script.build_script(String("? 1\nENDFUNC\n? 2\n"), nullptr); }), 10);
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages.records.front().code, 10u);
  EXPECT_EQ(script.messages.records.front().location.begin_line, 2u);
  EXPECT_EQ(script.messages.records.front().location.begin_column, 1u);
}

TEST_F(FrontDoor, Expressions) {
  BuildInput input(rt.stack);
  const Program* program = nullptr;
  input.build_expression(String("1 + 2 * 3"), &program);
  std::unique_ptr<const Program> owned(program);
  EXPECT_EQ(dump(program), "0: ReadConstInteger 7\n1: ReturnValue\n2: end\n");
  EXPECT_EQ(error_of([&] { input.build_expression(String("1 +"), &program); }), 10);
  EXPECT_EQ(owned.get(), program);  // a failed build hands nothing out
}

}  // namespace
}  // namespace qzbase::testing_compiler
