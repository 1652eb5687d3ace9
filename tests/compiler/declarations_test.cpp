// declarations_test.cpp - declarations, assignment, STORE and the assignment back end.
#include "statement_support.h"

#include <string>

#include "compiler/declarations.h"
#include "frontend/parser.h"

namespace qzbase::testing_compiler {
namespace {

class Declarations : public StatementTest {};

TEST_F(Declarations, Dumps) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"x = 1\n",
       "0: ReadConstInteger 1\n1: WriteMemarByName X\n2: end\n"},
      {"LOCAL x\nx = x + 1\n",
       "0: DefLocalOffset @1 X\n1: ReadConstInteger 1\n2: ReadAddWriteLocal @1\n3: end\n"},
      {"LOCAL x\nx = 1 + x\nx = x - 1\n",
       "0: DefLocalOffset @1 X\n1: ReadConstInteger 1\n2: ReadByName X\n3: BinaryAdd\n"
       "4: WriteMemvarByOffset @1\n5: ReadByName X\n6: ReadConstInteger 1\n"
       "7: BinarySub\n8: WriteMemvarByOffset @1\n9: end\n"},
      {"y = y + 2\n",
       "0: ReadConstInteger 2\n1: ReadAddWrite Y\n2: end\n"},
      {"a(2, 3) = 5\n",
       "0: ReadConstInteger 5\n1: ReadConstInteger 2\n2: ReadConstInteger 3\n"
       "3: WriteArrayByName A 2\n4: end\n"},
      {"o.p[1] = 5\n",
       "0: ReadFileObjectOrMemvarByName O\n1: ReadConstInteger 5\n"
       "2: ReadConstInteger 1\n3: ObjectWriteProperty P 2\n4: end\n"},
      {"o[1] = 5\n",
       "0: ReadConstInteger 5\n1: ReadConstInteger 1\n2: WriteArrayByName O 1\n3: end\n"},
      {"o.p = 5\n",
       "0: ReadFileObjectOrMemvarByName O\n1: ReadConstInteger 5\n"
       "2: ObjectWriteProperty P 1\n3: end\n"},
      {"f()\n",
       "0: EspAlloc\n1: UnresolvedCall f 0\n2: EspFree\n3: end\n"},
      {"PUBLIC p\nPRIVATE q\n",
       "0: DefPublicOffset @1 P\n1: DefPrivateSymbol Q\n2: end\n"},
      {"DIMENSION a(5), b(2, 3, 4)\n",
       "0: EspAlloc\n1: ReadConstInteger 5\n2: ReadConstNull\n"
       "3: CastToIntegerImplicitly null\n4: ReadMemvarByNameDefault A\n5: CallSpecDo 3\n"
       "6: WriteMemarByName A\n7: EspAlloc\n8: ReadConstInteger 2\n"
       "9: ReadConstInteger 3\n10: ReadMemvarByNameDefault B\n11: CallSpecDo 3\n"
       "12: WriteMemarByName B\n13: end\n"},
      {"LOCAL c(2)\n",
       "0: DefLocalOffset @1 C\n1: EspAlloc\n2: ReadConstInteger 2\n3: ReadConstNull\n"
       "4: CastToIntegerImplicitly null\n5: ReadLocalMemvarByOffset @1\n"
       "6: CallSpecDo 3\n7: WriteMemvarByOffset @1\n8: end\n"},
      {"STORE 0 TO a, b\n",
       "0: DefLocalOffset @1 .LOCAL~STORE~0\n1: ReadConstInteger 0\n"
       "2: WriteMemvarByOffset @1\n3: EspAlloc\n4: ReadMemvarByNameDefault A\n"
       "5: ReadLocalMemvarByOffset @1\n6: CallSpecDo 2\n7: WriteMemarByName A\n"
       "8: EspAlloc\n9: ReadMemvarByNameDefault B\n10: ReadLocalMemvarByOffset @1\n"
       "11: CallSpecDo 2\n12: WriteMemarByName B\n13: end\n"},
      {"PRIVATE ALL LIKE a*b?\n",
       "0: ReadConstString \"^a.*b.$\"\n1: ReadConstString \"^$\"\n2: CallSpecVoid 2\n"
       "3: end\n"},
      {"PRIVATE ALL EXCEPT t?\n",
       "0: ReadConstString \"^.*$\"\n1: ReadConstString \"^t.$\"\n2: CallSpecVoid 2\n"
       "3: end\n"},
      {"PRIVATE ALL\n",
       "0: ReadConstString \"^.*$\"\n1: ReadConstString \"^$\"\n2: CallSpecVoid 2\n"
       "3: end\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    for (Statement* s : statements) delete s;
    statements.clear();
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    int result = 1;
    int error = error_of([&] { result = compile_all(c.text); });
    ASSERT_EQ(error, 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(consumed(), statements.size());
    EXPECT_TRUE(message_codes().empty());
    EXPECT_EQ(dump(), c.expected);
  }
}

// A property write through a method call in the target is refused at once.
TEST_F(Declarations, MethodCallTargetIsASyntaxError) {
  EXPECT_EQ(error_of([&] { compile_all("o.p(1) = 5\n"); }), 10);
}

TEST_F(Declarations, OneExpressionProgram) {
  Operand* operand = nullptr;
  {
    String text("1 + 2 * x");
    token_list_type list;
    tokenize(text.read(), text.end(), text.get_charset(), &list);
    operand = parse_expression_tokens(list.cbegin(), list.cend());
  }
  ASSERT_NE(operand, nullptr);
  std::unique_ptr<Operand> owned(operand);
  compile_operand(operand, compiler);
  EXPECT_EQ(dump(),
            "0: ReadConstInteger 1\n1: ReadConstInteger 2\n2: ReadByName X\n3: BinaryMul\n4: BinaryAdd\n"
            "5: ReturnValue\n6: end\n");
  // The collection must be empty and no statement dispatched.
  compiler.statement_number = 1;
  EXPECT_EQ(error_of([&] { compile_operand(operand, compiler); }), -1);
}

TEST_F(Declarations, IncompleteStatementRunsItsMacroText) {
  EXPECT_EQ(compile_all("&cmd\n"), 0);
  EXPECT_EQ(dump(),
            "0: EspAlloc\n1: ReadMemvarByNameDefault CMD\n2: CastToStringImplicitly\n3: CallSpecDo 1\n"
            "4: Macro 1\n5: end\n");
}

// DECLARE passes the name, the library, the parameter count and the 8-byte entries unchanged.
TEST_F(Declarations, DeclarePassesTheParameterEntries) {
  EXPECT_EQ(compile_all("DECLARE INTEGER MessageBox IN user32 INTEGER, STRING @\n"), 0);
  const auto* statement = static_cast<const Cmd_DeclareDll*>(statements.front());
  ASSERT_EQ(statement->parameter_count, 2u);
  std::string entries(reinterpret_cast<const char*>(statement->parameter_types), 16);
  std::string text = dump();
  EXPECT_EQ(text.rfind("0: ReadConstString \"MessageBox\"\n1: ReadConstString \"user32\"\n2: ReadConstInteger 2\n3: ",
                      0),
            0u)
      << text;
  EXPECT_EQ(statement->parameter_types[1].by_reference, 1u);
  EXPECT_EQ(called_commands({"declare"}), (std::vector<std::string>{"declare"}));
  const auto* constant = static_cast<const VmOpReadConstString*>(program->code()[3]);
  ASSERT_EQ(constant->opcode, OP_READ_CONST_STRING);
  EXPECT_EQ(constant->value.get_charset(), Charset::binary);
  EXPECT_EQ(std::string(constant->value.read(), constant->value.size()), entries);
}

TEST(PrivatePattern, RegularExpressions) {
  struct Case {
    const char* pattern;
    const char* regex;
  } cases[] = {{"a*b?", "^a.*b.$"}, {"", "^$"}, {"*", "^.*$"}, {"x.y", "^x.y$"}};
  for (const Case& c : cases) {
    String regex;
    EXPECT_TRUE(compile_private_rx_pattern(String(c.pattern), regex));
    EXPECT_EQ(regex.get_charset(), Charset::utf16le);
    EXPECT_EQ(regex.u8str(), c.regex);
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
