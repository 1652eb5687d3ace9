// programs_test.cpp - compiled code units, parameter set-up and the module items.
#include "statement_support.h"

#include <memory>
#include <string>

#include "compiler/programs.h"
#include "vm/execute.h"
#include "vm/module.h"

namespace qzbase::testing_compiler {
namespace {

class Programs : public StatementTest {
 public:
  std::string dump_of(const UserFunction* function) {
    program_dump_options_st options;
    options.symbols = rt.stack->get_symtable();
    return dump_program(function->program(), options);
  }
  // Parses text and compiles it as one unit of the kind.
  std::unique_ptr<UserFunction> unit(uint32_t kind, const char* text) {
    parse(text);
    it = statements.begin();
    statement_list::const_iterator end = statements.cend();
    return std::unique_ptr<UserFunction>(compile_function(kind, String("unit"), end, it, nullptr, nullptr, compiler));
  }
};

TEST_F(Programs, Units) {
  struct Case {
    uint32_t kind;
    const char* text;
    const char* expected;
  } cases[] = {
      {COMPILE_KIND_PROGRAM, "LPARAMETERS a, b\nRETURN a\n",
       "0: InitLocalParameters 2\n1: ReadByName A\n2: ReturnValue\n3: end\n"},
      {COMPILE_KIND_PROGRAM, "PARAMETERS a, b\n? a\n",
       "0: InitParameter @1 A\n1: InitParameter @2 B\n2: ReadByName A\n3: CallSpecVoid 1\n4: Return\n5: end\n"},
      {COMPILE_KIND_PROGRAM, "? 1\n", "0: ReadConstInteger 1\n1: CallSpecVoid 1\n2: Return\n3: end\n"},
      // A method without LPARAMETERS still initialises THIS.
      {COMPILE_KIND_METHOD, "? 1\n",
       "0: InitLocalParameters 1\n1: ReadConstInteger 1\n2: CallSpecVoid 1\n3: Return\n4: end\n"},
      {COMPILE_KIND_METHOD, "LPARAMETERS a, b\nRETURN b\n",
       "0: InitLocalParameters 3\n1: ReadByName B\n2: ReturnValue\n3: end\n"},
      {COMPILE_KIND_METHOD, "PARAMETERS a\n", "0: InitLocalParameters 1\n1: InitParameter @2 A\n2: Return\n3: end\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    for (Statement* s : statements) delete s;
    statements.clear();
    auto function = unit(c.kind, c.text);
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(consumed(), statements.size());
    EXPECT_TRUE(message_codes().empty());
    EXPECT_EQ(dump_of(function.get()), c.expected);
  }
}

TEST_F(Programs, UnitWithoutStatementsIsNull) {
  EXPECT_EQ(unit(COMPILE_KIND_PROGRAM, ""), nullptr);
  EXPECT_EQ(compiler.collection.size(), 0u);
}

TEST_F(Programs, SecondParameterDeclarationRecordsAMessage) {
  auto function = unit(COMPILE_KIND_PROGRAM, "LPARAMETERS a\n? 1\nPARAMETERS b\n");
  ASSERT_NE(function, nullptr);
  ASSERT_EQ(message_codes(), (std::vector<uint32_t>{10}));
  EXPECT_EQ(compiler.messages.front().location.begin_line, 3u);
}

// A declaration inside a block is out of place even as the unit's first: a message, not a broken
// invariant.
TEST_F(Programs, LParametersInsideALoopRecordAMessage) {
  auto function = unit(COMPILE_KIND_PROGRAM, "FOR i = 1 TO 2\nLPARAMETERS a\nENDFOR\n");
  ASSERT_NE(function, nullptr);
  ASSERT_EQ(message_codes(), (std::vector<uint32_t>{10}));
  EXPECT_EQ(compiler.messages.front().location.begin_line, 2u);
}

TEST_F(Programs, ParametersInsideAConditionRecordAMessage) {
  auto function = unit(COMPILE_KIND_PROGRAM, "IF .T.\nPARAMETERS b\nENDIF\n");
  ASSERT_NE(function, nullptr);
  ASSERT_EQ(message_codes(), (std::vector<uint32_t>{10}));
  EXPECT_EQ(compiler.messages.front().location.begin_line, 2u);
}

TEST_F(Programs, ParametersWithoutFrameSlotsRecordAMessage) {
  compiler.reset(COMPILE_KIND_COMMAND, true);
  EXPECT_EQ(compile_all("PARAMETERS a\n"), 0);
  EXPECT_EQ(message_codes(), (std::vector<uint32_t>{10}));
}

TEST_F(Programs, ModuleFunctions) {
  parse("FUNCTION f(a, b)\nRETURN a\nENDFUNC\nFUNCTION f\n? 1\nFUNCTION g\nFUNCTION h\n? 2\nENDFUNC\n");
  Module module(String("m.prg"));
  it = statements.begin();
  statement_list::const_iterator end = statements.cend();
  size_t items = 0;
  while (statement_list::const_iterator(it) != end) {
    ASSERT_TRUE(compile_module_item(end, it, &module, compiler));
    ++items;
  }
  EXPECT_EQ(items, 4u);
  ASSERT_EQ(module.procedures.size(), 3u);  // the second f is compiled, not registered
  const UserFunction* f = module.procedures.at(rt.sym("f"));
  EXPECT_EQ(dump_of(f), "0: InitLocalParameters 2\n1: ReadByName A\n2: ReturnValue\n3: end\n");
  // A FUNCTION without body statements becomes a function that only returns.
  EXPECT_EQ(dump_of(module.procedures.at(rt.sym("g"))), "0: Return\n1: end\n");
  EXPECT_EQ(dump_of(module.procedures.at(rt.sym("h"))), "0: ReadConstInteger 2\n1: CallSpecVoid 1\n2: Return\n3: end\n");
  EXPECT_TRUE(message_codes().empty());
}

TEST_F(Programs, ModuleItems) {
  parse("? 1\nDEFINE CLASS c AS Custom\nx = 1\nENDDEFINE\nFUNCTION f\n");
  Module module(String("m.prg"));
  it = statements.begin();
  statement_list::const_iterator end = statements.cend();
  EXPECT_FALSE(compile_module_item(end, it, &module, compiler));
  EXPECT_EQ(consumed(), 0u);
  ++it;
  // DEFINE CLASS takes its body up to and including ENDDEFINE.
  EXPECT_TRUE(compile_module_item(end, it, &module, compiler));
  EXPECT_EQ(consumed(), 4u);
  EXPECT_EQ(module.classes.count(rt.sym("c")), 1u);
  EXPECT_TRUE(compile_module_item(end, it, &module, compiler));
  EXPECT_EQ(module.procedures.count(rt.sym("f")), 1u);
  EXPECT_TRUE(message_codes().empty());
}

}  // namespace
}  // namespace qzbase::testing_compiler
