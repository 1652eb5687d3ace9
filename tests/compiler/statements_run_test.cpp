// statements_run_test.cpp - simple statements built through the front door and run on a stack.
#include "compiler_support.h"

#include "capture_screen.h"

#include <memory>
#include <string>

#include "compiler/build_input.h"
#include "host/screen.h"

namespace qzbase::testing_compiler {
namespace {

using testing_screen::CaptureScreen;

class StatementRun : public ::testing::Test {
 public:
  StatementRun() : redirect(rt.runtime, &screen) {}

  // Builds the text as a script with the main library and runs it; the error number or 0.
  int run(const char* text) {
    BuildInput input(rt.stack);
    input.import_library(rt.runtime->builtin_library());
    return error_of([&] {
      std::unique_ptr<Program> program(input.build_script(String(text), nullptr));
      Variant result;
      execute_program(rt.stack, 0, false, program.get(), &result);
      result.release(rt.stack);
    });
  }

  RuntimeFixture rt;
  CaptureScreen screen;
  ScreenRedirect redirect;
};

TEST_F(StatementRun, EchoOfTwoValues) {
  EXPECT_EQ(run("? 1, 'a'\n?? 'b'\n"), 0);
  EXPECT_EQ(screen.out, "1 a\nb");
}

// STORE evaluates its value once and writes every target: a new variable, one holding .NULL.
TEST_F(StatementRun, StoreIntoNewAndNullVariables) {
  EXPECT_EQ(run("v = .NULL.\nSTORE 3 TO fresh, v\n? fresh, v\n"), 0);
  EXPECT_EQ(screen.out, "3 3\n");
}

TEST_F(StatementRun, DimensionOfANewName) {
  EXPECT_EQ(run("DIMENSION grid[2, 3]\ngrid[2, 3] = 'x'\n? grid[1, 1], grid[2, 3]\n"), 0);
  EXPECT_EQ(screen.out, "false x\n");
}

// ASSERT runs only while the runtime's asserts are on.
TEST_F(StatementRun, AssertOnlyWhenAssertsAreOn) {
  rt.runtime->asserts = false;
  EXPECT_EQ(run("ASSERT 1 = 2\n? 'after'\n"), 0);
  EXPECT_EQ(screen.out, "after\n");
  rt.runtime->asserts = true;
  screen.out.clear();
  EXPECT_NE(run("ASSERT 1 = 2\n? 'after'\n"), 0);
  EXPECT_EQ(screen.out.find("after"), std::string::npos);
}

}  // namespace
}  // namespace qzbase::testing_compiler
