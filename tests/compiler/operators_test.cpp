// operators_test.cpp - operators and constant folding.
#include "expression_support.h"

namespace qzbase::testing_compiler {
namespace {

class Operators : public ExpressionTest {};

TEST_F(Operators, FoldingOfConstantExpressions) {
  struct Case {
    const char* text;
    const char* dump;
    uint32_t type;
    int64_t width;
    std::vector<uint32_t> messages;
  };
  const std::vector<Case> cases = {
      {"1 + 2 * 3", "0: ReadConstInteger 7\n1: end\n", 5, -1, {}},
      {"'ab' + 'cd'", "0: ReadConstString \"abcd\"\n1: end\n", 10, 4, {}},
      {"1 = 1", "0: ReadConstInteger 1\n1: ReadConstInteger 1\n2: BinaryEq\n3: end\n", 1, -1, {}},
      {"-5", "0: ReadConstInteger -5\n1: end\n", 5, -1, {}},
      {".NULL. OR .F.", "0: ReadConstNull\n1: end\n", 20, -1, {}},
      {".NULL. OR .T.", "0: ReadConstTrue\n1: end\n", 1, -1, {}},
      // A constant whose folding fails leaves a null in its place: the code passes as many values
      // as it takes.
      {"'abc' - 1", "0: ReadConstNull\n1: end\n", 0, -1, {107}},
  };
  for (const Case& c : cases) {
    compiler.messages.clear();
    compiler_type_info_st t;
    EXPECT_EQ(compile(c.text, &t, true), c.dump) << c.text;
    EXPECT_EQ(message_codes(), c.messages) << c.text;
    if (c.messages.empty()) {
      EXPECT_EQ(t.type, c.type) << c.text;
      EXPECT_EQ(t.width, c.width) << c.text;
    }
  }
}

TEST_F(Operators, DumpsOfShortCircuitsAndComparisons) {
  struct Case {
    const char* text;
    const char* dump;
    uint32_t type;
  };
  const Case cases[] = {
      {".F. AND x", "0: ReadConstFalse\n1: CondFalseOrNullJumpKeepEsp -> 3\n2: ReadByName X\n3: end\n", 17},
      {"a OR b", "0: ReadByName A\n1: CondTrueJumpKeepEsp -> 4\n2: ReadByName B\n3: CondTrueOrNullMerge2P\n4: end\n",
       17},
      {"NOT a", "0: ReadByName A\n1: UnaryNot\n2: end\n", 16},
      {"1 < 2", "0: ReadConstInteger 1\n1: ReadConstInteger 2\n2: BinaryLt\n3: end\n", 1},
  };
  for (const Case& c : cases) {
    compiler_type_info_st t;
    EXPECT_EQ(compile(c.text, &t, true), c.dump) << c.text;
    EXPECT_EQ(t.type, c.type) << c.text;
    EXPECT_FALSE(t.constant) << c.text;
  }
}

TEST_F(Operators, ShortCircuitsOfConstantsRunAtCompileTime) {
  struct Case {
    const char* text;
    const char* dump;
  };
  const Case cases[] = {
      {".NULL. AND .T.", "0: ReadConstNull\n1: end\n"},
      {".T. AND .F.", "0: ReadConstFalse\n1: end\n"},
      {".F. OR .T.", "0: ReadConstTrue\n1: end\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compile(c.text, nullptr, true), c.dump) << c.text;
  }
  EXPECT_TRUE(compiler.messages.empty());
}

size_t memo_count(Table_Object*) { return 1; }
void memo_field(Table_Object*, size_t, compiler_field_st* out) { *out = {String("NOTES"), 'M', 0, false}; }

TEST_F(Operators, AMemoKeepsTheSumWidthUnknownLength) {
  int dummy = 0;
  compiler_table_hooks = {&memo_count, &memo_field};
  rt.stack->bound_table = reinterpret_cast<Table_Object*>(&dummy);
  for (const char* text : {"notes + 'abc'", "'abc' - notes"}) {
    compiler_type_info_st t;
    compile(text, &t);
    EXPECT_EQ(t.type, 10u) << text;
    EXPECT_EQ(t.width, -2) << text;
  }
  rt.stack->bound_table = nullptr;
  compiler_table_hooks = {};
}

}  // namespace
}  // namespace qzbase::testing_compiler
