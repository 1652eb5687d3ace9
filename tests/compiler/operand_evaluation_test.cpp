// operand_evaluation_test.cpp - syntax-tree operands evaluated at run time, with conversions.
#include "expression_support.h"

#include <string>

#include "vm/execute.h"

namespace qzbase::testing_compiler {
namespace {

class OperandEvaluation : public ExpressionTest {};

TEST_F(OperandEvaluation, Booleans) {
  struct Case {
    const char* text;
    int error;
    bool value;
  } cases[] = {{".F.", 0, false}, {".T.", 0, true}, {".NULL.", 11, false}, {"1", 11, false}, {"1 < 2", 0, true}};
  for (const Case& c : cases) {
    bool value = !c.value;
    EXPECT_EQ(error_of([&] { parse(c.text)->val(rt.stack, &value); }), c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST_F(OperandEvaluation, IntegerRanges) {
  struct Case {
    const char* text;
    int error32;
    int errorU32;
  } cases[] = {
      {"2147483648", 39, 0}, {"-2147483648", 0, 39}, {"-1", 0, 39}, {"4294967295", 39, 0}, {"4294967296", 39, 39},
  };
  for (const Case& c : cases) {
    int32_t i32 = 0;
    uint32_t u32 = 0;
    EXPECT_EQ(error_of([&] { parse(c.text)->val(rt.stack, &i32); }), c.error32) << c.text;
    EXPECT_EQ(error_of([&] { parse(c.text)->val(rt.stack, &u32); }), c.errorU32) << c.text;
  }
  int32_t low = 0;
  parse("-2147483648")->val(rt.stack, &low);
  EXPECT_EQ(low, INT32_MIN);
  uint32_t high = 0;
  parse("4294967295")->val(rt.stack, &high);
  EXPECT_EQ(high, UINT32_MAX);
  int64_t wide = 0;
  parse("6 * 7")->val(rt.stack, &wide);
  EXPECT_EQ(wide, 42);
}

TEST_F(OperandEvaluation, Strings) {
  String text;
  parse("'ab' + 'c'")->val(rt.stack, &text);
  EXPECT_EQ(text.u8str(), "abc");
  EXPECT_EQ(error_of([&] { parse("1")->val(rt.stack, &text); }), 11);
}

TEST_F(OperandEvaluation, InstalledAsTheMachinesEvaluator) {
  ASSERT_NE(vm_operand_evaluator, nullptr);
  const Operand* operands[] = {parse("2 + 3"), parse("4")};
  int out[2] = {0, 0};
  eval_int_array(rt.stack, operands, 2, out, 2);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[1], 4);
}

}  // namespace
}  // namespace qzbase::testing_compiler
