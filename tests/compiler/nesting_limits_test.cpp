// nesting_limits_test.cpp - expressions and blocks nested beyond what the native stack allows are
// build messages (103), and deep syntax trees are deleted without recursion.
#include "compiler_support.h"

#include <memory>
#include <string>

#include "compiler/build_input.h"
#include "compiler/expression_compiler.h"
#include "compiler/statements.h"
#include "frontend/operands.h"

namespace qzbase::testing_compiler {
namespace {

std::string chain(size_t terms) {
  std::string text = "1";
  for (size_t i = 1; i < terms; ++i) text += "+1";
  return text;
}

std::string nested_ifs(size_t depth) {
  std::string text = "x = 0\n";
  for (size_t i = 0; i < depth; ++i) text += "IF .T.\n";
  text += "x = 1\n";
  for (size_t i = 0; i < depth; ++i) text += "ENDIF\n";
  return text + "RETURN x\n";
}

class NestingLimits : public ::testing::Test {
 public:
  RuntimeFixture rt;
};

TEST_F(NestingLimits, LongOperatorChains) {
  BuildInput input(rt.stack);
  const Program* program = nullptr;
  input.build_expression(String(chain(kMaxOperandDepth - 10)), &program);
  std::unique_ptr<const Program> owned(program);
  Variant value;
  execute_program(rt.stack, 0, false, program, &value);
  EXPECT_EQ(static_cast<long>(value), static_cast<long>(kMaxOperandDepth - 10));
  value.release(rt.stack);

  BuildInput deep(rt.stack);
  EXPECT_EQ(error_of([&] { deep.build_expression(String(chain(3 * kMaxOperandDepth)), &program); }), 10);
  ASSERT_EQ(deep.messages.size(), 1u);
  EXPECT_EQ(deep.messages.records.front().code, 103u);
}

// A tree far deeper than any recursion could walk is parsed and deleted (operators of both kinds).
TEST_F(NestingLimits, DeepTreesAreDeletedWithoutRecursion) {
  BuildInput input(rt.stack);
  delete input.parse_expression(String(chain(100000)));
  std::string negations(5000, '-');
  Operand* negated = nullptr;
  int error = error_of([&] { negated = input.parse_expression(String(negations + "1")); });
  if (error == 0) delete negated;
  EXPECT_TRUE(error == 0 || error == 10) << error;
}

TEST_F(NestingLimits, DeeplyNestedBlocks) {
  BuildInput fits(rt.stack);
  std::unique_ptr<Program> program(fits.build_script(String(nested_ifs(kMaxBlockDepth - 5)), nullptr));
  Variant value;
  execute_program(rt.stack, 0, false, program.get(), &value);
  EXPECT_EQ(static_cast<long>(value), 1);
  value.release(rt.stack);

  // Past the limit: one message at the first statement too deep (the outermost list is the
  // program's own), not one per open block.
  BuildInput deep(rt.stack);
  EXPECT_EQ(error_of([&] { delete deep.build_script(String(nested_ifs(3 * kMaxBlockDepth)), nullptr); }), 10);
  ASSERT_EQ(deep.messages.size(), 1u);
  EXPECT_EQ(deep.messages.records.front().code, 103u);
  EXPECT_EQ(deep.messages.records.front().location.begin_line, kMaxBlockDepth + 2);
}

}  // namespace
}  // namespace qzbase::testing_compiler
