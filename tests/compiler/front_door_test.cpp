// front_door_test.cpp - operands taken from token streams, single statements, evaluation of
// operands at run time, the preprocessor's evaluations and & macro lines, all through BuildInput.
#include "block_run_support.h"

#include <memory>
#include <string>

#include "compiler/build_input.h"
#include "frontend/operands.h"
#include "frontend/statements.h"

namespace qzbase::testing_compiler {
namespace {

// dump() and run() as for the block tests; run builds command lines here.
using FrontDoorParts = BlockRun;

// One operand is a primary: a partial parse of a + b, c takes a and leaves the iterator on the
// blank after it; a whole parse of the same tokens fails with 10 and leaves the iterator alone.
TEST_F(FrontDoorParts, OperandsFromTokens) {
  BuildInput input(rt.stack);
  String text("a + b, c");
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  token_list_type::const_iterator it = tokens.cbegin();
  const Operand* operand = nullptr;
  const Program* program = nullptr;
  input.build_operand(it, tokens.cend(), true, &operand, &program);
  std::unique_ptr<const Operand> owned_operand(operand);
  std::unique_ptr<const Program> owned_program(program);
  ASSERT_NE(it, tokens.cend());
  EXPECT_EQ(it->location.begin_char, 1u);
  EXPECT_EQ(dump(program), "0: ReadByName A\n1: ReturnValue\n2: end\n");
  token_list_type::const_iterator whole = tokens.cbegin();
  EXPECT_EQ(error_of([&] { delete input.parse_operand(whole, tokens.cend(), false); }), 10);
  EXPECT_EQ(whole, tokens.cbegin());

  String open_call("f(1, 2");
  token_list_type call_tokens;
  tokenize(open_call.read(), open_call.end(), open_call.get_charset(), &call_tokens);
  whole = call_tokens.cbegin();
  EXPECT_EQ(error_of([&] { delete input.parse_operand(whole, call_tokens.cend(), false); }), 10);
  EXPECT_EQ(whole, call_tokens.cbegin());
  it = call_tokens.cbegin();
  std::unique_ptr<Operand> prefix(input.parse_operand(it, call_tokens.cend(), true));
  EXPECT_EQ(prefix->location.end_char, 1u);  // f alone
  ASSERT_NE(it, call_tokens.cend());
  EXPECT_EQ(it->kind, static_cast<uint32_t>('('));
}

// Partial parses that cannot take any prefix fail with the scanner's code once the retries reach
// the start; the iterator stays where it was.
TEST_F(FrontDoorParts, PartialParseWithNoOperand) {
  for (const char* text : {") a", "* 2", ",", ""}) {
    BuildInput input(rt.stack);
    String source(text);
    token_list_type tokens;
    tokenize(source.read(), source.end(), source.get_charset(), &tokens);
    token_list_type::const_iterator it = tokens.cbegin();
    EXPECT_EQ(error_of([&] { delete input.parse_operand(it, tokens.cend(), true); }), 10) << text;
    EXPECT_EQ(it, tokens.cbegin()) << text;
  }
}

// build_operand over a text: a compile failure deletes the operand and hands out nothing.
TEST_F(FrontDoorParts, BuildOperandFromText) {
  BuildInput input(rt.stack);
  input.import_library(rt.runtime->builtin_library());
  const Operand* operand = nullptr;
  const Program* program = nullptr;
  input.build_operand(String("(2 * 3) rest"), true, &operand, &program);
  std::unique_ptr<const Operand> owned_operand(operand);
  std::unique_ptr<const Program> owned_program(program);
  EXPECT_EQ(dump(program), "0: ReadConstInteger 6\n1: ReturnValue\n2: end\n");

  const Operand* bad_operand = nullptr;
  const Program* bad_program = nullptr;
  EXPECT_EQ(error_of([&] { input.build_operand(String("at(1)"), false, &bad_operand, &bad_program); }), 10);
  EXPECT_EQ(bad_operand, nullptr);
  EXPECT_EQ(bad_program, nullptr);
  EXPECT_FALSE(input.messages.empty());
}

// An expression is parsed whole: text after a complete expression is a syntax error.
TEST_F(FrontDoorParts, ExpressionsAreWhole) {
  BuildInput input(rt.stack);
  for (const char* text : {"2))", "1 + 2 3", "a b"}) {
    EXPECT_EQ(error_of([&] { delete input.parse_expression(String(text)); }), 10) << text;
  }
  std::unique_ptr<Operand> operand(input.parse_expression(String("(1 + 2)")));
  EXPECT_EQ(operand->location.end_char, 7u);
  // Blanks and line ends around it are no part of it.
  for (const char* text : {"x + 1 ", " x + 1\n", "x + 1 \n  "}) {
    std::unique_ptr<Operand> padded(input.parse_expression(String(text)));
    EXPECT_EQ(padded->kind, static_cast<uint32_t>(OPERAND_BINARY)) << text;
  }
  EXPECT_EQ(error_of([&] { delete input.parse_expression(String("   ")); }), 10);
}

TEST_F(FrontDoorParts, SingleStatements) {
  BuildInput input(rt.stack);
  std::unique_ptr<Statement> statement(input.parse_statement(String("x = 1")));
  EXPECT_EQ(statement->kind, static_cast<uint32_t>(STMT_ASSIGN));
  EXPECT_EQ(error_of([&] { delete input.parse_statement(String("x = ")); }), 10);
  EXPECT_EQ(error_of([&] { delete input.parse_statement(String("")); }), 10);
}

// Without a frame the module context stays as it was.
TEST_F(FrontDoorParts, ModuleContextWithoutFrame) {
  BuildInput input(rt.stack);
  input.set_module_context_from_frame(rt.stack);
  EXPECT_EQ(input.module_context, nullptr);
}

// Operand evaluation binds the main library's functions and fails with 10 on a build message.
TEST_F(FrontDoorParts, OperandValues) {
  BuildInput input(rt.stack);
  std::unique_ptr<Operand> call(input.parse_expression(String("at('c', 'abcd') * 2")));
  int64_t number = 0;
  EXPECT_EQ(error_of([&] { call->val(rt.stack, &number); }), 0);
  EXPECT_EQ(number, 6);

  std::unique_ptr<Operand> bad_count(input.parse_expression(String("at()")));
  EXPECT_EQ(error_of([&] { bad_count->val(rt.stack, &number); }), 10);

  // The conversions of the typed forms.
  struct conversion_case {
    const char* text;
    int as_bool;    // -1: error 11
    int as_uint32;  // -1: error (39 or 107)
  };
  for (const conversion_case& c : {conversion_case{".T.", 1, -1}, conversion_case{"1 = 2", 0, -1},
                                    conversion_case{"7", -1, 7}, conversion_case{"-1", -1, -1},
                                    conversion_case{"'x'", -1, -1}}) {
    std::unique_ptr<Operand> operand(input.parse_expression(String(c.text)));
    bool flag = false;
    int error = error_of([&] { operand->val(rt.stack, &flag); });
    if (c.as_bool < 0) {
      EXPECT_EQ(error, 11) << c.text;
    } else {
      EXPECT_EQ(error, 0) << c.text;
      EXPECT_EQ(flag, c.as_bool == 1) << c.text;
    }
    uint32_t unsigned_value = 0;
    error = error_of([&] { operand->val(rt.stack, &unsigned_value); });
    if (c.as_uint32 < 0) {
      EXPECT_NE(error, 0) << c.text;
    } else {
      EXPECT_EQ(error, 0) << c.text;
      EXPECT_EQ(unsigned_value, static_cast<uint32_t>(c.as_uint32)) << c.text;
    }
  }
  std::unique_ptr<Operand> text(input.parse_expression(String("'ab' + 'c'")));
  String value;
  EXPECT_EQ(error_of([&] { text->val(rt.stack, &value); }), 0);
  EXPECT_EQ(value.u8str(), "abc");
  int32_t small = 0;
  std::unique_ptr<Operand> big(input.parse_expression(String("3000000000")));
  EXPECT_EQ(error_of([&] { big->val(rt.stack, &small); }), 39);
}

// #if conditions are evaluated through the front door, with the main library's functions.
TEST_F(FrontDoorParts, PreprocessorConditions) {
  EXPECT_EQ(run("#if at('b', 'ab') = 2\n? 'yes'\n#else\n? 'no'\n#endif\n", COMPILE_KIND_COMMAND), "yes\n");
  bool result = true;
  preprocessor_eval_condition(rt.stack, String("1 > 2"), &result);
  EXPECT_FALSE(result);
  EXPECT_EQ(error_of([&] { preprocessor_eval_condition(rt.stack, String("'x'"), &result); }), 107);
  String name;
  preprocessor_eval_include(rt.stack, String("'inc' + '.h'"), &name);
  EXPECT_EQ(name.u8str(), "inc.h");
  EXPECT_EQ(error_of([&] { preprocessor_eval_include(rt.stack, String("12"), &name); }), 107);
}

// A & macro line is compiled when it runs, at every run, against the running program.
TEST_F(FrontDoorParts, MacroLineRuns) {
  EXPECT_EQ(run("PUBLIC n\nn = 0\ncmd = 'n = n + at(\"b\", \"ab\")'\n&cmd\n&cmd\n? n\n", COMPILE_KIND_COMMAND),
            "4\n");
  // A macro line that does not build raises 10.
  EXPECT_EQ(run("cmd = '? 1 +'\n&cmd\n", COMPILE_KIND_COMMAND), "!10");
}

// Expressions in the frame: evaluated on the current frame.
TEST_F(FrontDoorParts, ExpressionInFrame) {
  Variant value;
  EXPECT_EQ(error_of([&] { evaluate_expression_in_frame(rt.stack, String("concat('ab', 'c')"), &value); }), 0);
  ASSERT_EQ(value.tag, VT_STRING);
  EXPECT_EQ(static_cast<String>(value).u8str(), "abc");
  value.release(rt.stack);
  EXPECT_EQ(error_of([&] { evaluate_expression_in_frame(rt.stack, String("1 +"), &value); }), 10);
}

}  // namespace
}  // namespace qzbase::testing_compiler
