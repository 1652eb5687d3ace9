// statements_run_test.cpp - simple statements built through the front door and run on a stack.
#include "block_run_support.h"

#include <string>

namespace qzbase::testing_compiler {
namespace {

using StatementRun = BlockRun;

// What each text prints as a script: ? of two values; STORE evaluating its value once into a new
// variable and one holding .NULL.; DIMENSION of a new name.
TEST_F(StatementRun, SimpleStatements) {
  struct run_case {
    const char* text;
    const char* printed;
  };
  for (const run_case& c : {
           run_case{"? 1, 'a'\n?? 'b'\n", "1 a\nb"},
           run_case{"v = .NULL.\nSTORE 3 TO fresh, v\n? fresh, v\n", "3 3\n"},
           run_case{"DIMENSION grid[2, 3]\ngrid[2, 3] = 'x'\n? grid[1, 1], grid[2, 3]\n", "false x\n"},
       }) {
    EXPECT_EQ(run(c.text), c.printed) << c.text;
  }
}

// ASSERT runs only while the runtime's asserts are on.
TEST_F(StatementRun, AssertOnlyWhenAssertsAreOn) {
  rt.runtime->asserts = false;
  EXPECT_EQ(run("ASSERT 1 = 2\n? 'after'\n"), "after\n");
  rt.runtime->asserts = true;
  std::string failed = run("ASSERT 1 = 2\n? 'after'\n");
  EXPECT_NE(failed.find('!'), std::string::npos) << failed;
  EXPECT_EQ(failed.find("after"), std::string::npos) << failed;
}

}  // namespace
}  // namespace qzbase::testing_compiler
