// variables_test.cpp - variables, bound fields, paths and references.
#include "expression_support.h"

#include "vm/vm_stack.h"

namespace qzbase::testing_compiler {
namespace {

class Variables : public ExpressionTest {
 public:
  void fresh_unit() {
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    local("x");
    local("arr");
  }
};

TEST_F(Variables, DumpsOfNamesAndPaths) {
  struct Case {
    const char* text;
    const char* dump;
  };
  const Case cases[] = {
      {"x", "0: ReadByName X\n1: end\n"},  // a LOCAL named plainly is still resolved at run time
      {"m.x", "0: ReadLocalMemvarByOffset @1\n1: end\n"},
      {"m.y", "0: ReadMemvarByName Y\n1: end\n"},
      {"a.b.c",
       "0: EspAlloc\n1: EspAlloc\n2: ReadFileObjectOrMemvarByName A\n3: ObjectReadProperty B 0\n"
       "4: ObjectReadProperty C 0\n5: end\n"},
      {"a.b[1]",
       "0: EspAlloc\n1: ReadFileObjectOrMemvarByName A\n2: ReadConstInteger 1\n3: ObjectReadProperty B 1\n4: end\n"},
      {"a.f(1)", "0: EspAlloc\n1: ReadFileObjectOrMemvarByName A\n2: ReadConstInteger 1\n3: ObjectCall F 1\n4: end\n"},
  };
  for (const Case& c : cases) {
    fresh_unit();
    EXPECT_EQ(compile(c.text), c.dump) << c.text;
    EXPECT_TRUE(compiler.messages.empty()) << c.text;
  }
}

TEST_F(Variables, ArrayElementOfALocalUsesItsSlot) {
  fresh_unit();
  document_location_st l = loc(1);
  auto* indexes = new OperandList(l, new std::list<Operand*>{new Variable(l, String("i"), 0),
                                                             new Variable(l, String("j"), 0)});
  VariableWithIndex element(l, new Variable(l, String("arr"), 0), indexes);
  compiler_type_info_st t;
  compile_operand(&element, false, true, &code(), compiler, &t);
  EXPECT_EQ(dump(), "0: EspAlloc\n1: ReadByName I\n2: ReadByName J\n3: ReadMemvarIndexLocal @2 2\n4: end\n");
}

TEST_F(Variables, DefaultReadMakesAPlainNameTheVariable) {
  fresh_unit();
  struct Case {
    const char* text;
    bool as_reference;
    const char* dump;
  };
  const Case cases[] = {
      {"x", false, "0: ReadLocalMemvarByOffset @1\n1: end\n"},
      {"newvar", false, "0: ReadMemvarByNameDefault NEWVAR\n1: end\n"},
      {"newvar", true, "0: ReadMemvarPointerByNameDefault NEWVAR\n1: end\n"},
      {"m.x", true, "0: ReadMemvarPointerByNameDefault X\n1: end\n"},
  };
  for (const Case& c : cases) {
    compiler_type_info_st t;
    if (c.as_reference) {
      compile_operand_ref(parse(c.text), true, false, &code(), compiler, &t);
    } else {
      compile_operand(parse(c.text), true, true, &code(), compiler, &t);
    }
    EXPECT_EQ(dump(), c.dump) << c.text;
  }
}

TEST_F(Variables, ReferencesAndTheirMessages) {
  struct Case {
    const char* text;
    const char* dump;
    std::vector<uint32_t> messages;
  };
  const std::vector<Case> cases = {
      {"y", "0: ReadMemvarPointerByName Y\n1: end\n", {}},
      {"a.b", "0: EspAlloc\n1: ReadFileObjectOrMemvarByName A\n2: ObjectReadPropertyPointer B 0\n3: end\n", {}},
      {"a.b[1]", "0: EspAlloc\n1: ReadFileObjectOrMemvarByName A\n2: end\n",
       {9004}},
      {"1 + 2", "0: end\n", {9004}},
  };
  for (const Case& c : cases) {
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    compiler.messages.clear();
    compiler_type_info_st t;
    compile_operand_ref(parse(c.text), false, false, &code(), compiler, &t);
    EXPECT_EQ(dump(), c.dump) << c.text;
    EXPECT_EQ(message_codes(), c.messages) << c.text;
  }
}

TEST_F(Variables, WithRootNeedsAWithBlock) {
  compiler_type_info_st t;
  EXPECT_EQ(compile(".x", &t), "0: end\n");
  EXPECT_EQ(message_codes(), std::vector<uint32_t>{1940});
  compiler.messages.clear();
  compiler.with_stack.push_back(compiler.symbolize("__with1"));
  EXPECT_EQ(compile(".x", &t), "0: EspAlloc\n1: ReadMemvarByName __WITH1\n2: ObjectReadProperty X 0\n3: end\n");
  EXPECT_TRUE(compiler.messages.empty());
}

TEST_F(Variables, PathWithNoStepIsABrokenInvariant) {
  document_location_st l = loc(1);
  Path one(l, new std::list<PathItem*>{new NamePathItem(l, String("a"))}, 0);
  compiler_type_info_st t;
  EXPECT_EQ(error_of([&] { compile_evaluate_path(&one, true, &code(), compiler, &t); }), -1);
}

void read_tally(VmStack*, size_t, Variant* result) { result->set(integer_type_st{3}); }

TEST_F(Variables, SystemVariablesReadThroughTheirGetter) {
  const module_sysvar_st sysvars[] = {{"_TALLY", "", read_tally, "I", "I", nullptr},
                                      {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}};
  module_description_st d{};
  d.sysvars = sysvars;
  Library library(d);
  library.load_definitions(rt.runtime);
  compiler.libraries = {&library};
  compiler_type_info_st t;
  EXPECT_EQ(compile("_tally", &t), "0: EspAlloc\n1: CallSpecDo 0\n2: end\n");
  EXPECT_EQ(t.type, 5u);
  EXPECT_EQ(compile("m._tally", &t), "0: ReadMemvarByName _TALLY\n1: end\n");
}

// A fake bound table: NAME C(20) null, MEMO M, PIC G, QTY I.
size_t fake_count(Table_Object*) { return 4; }
void fake_field(Table_Object*, size_t i, compiler_field_st* out) {
  static const compiler_field_st fields[] = {
      {String("NAME"), 'C', 20, true}, {String("MEMO"), 'M', 0, false},
      {String("PIC"), 'G', 0, false},  {String("QTY"), 'I', 4, false}};
  *out = fields[i];
}

TEST_F(Variables, FieldsOfTheBoundTable) {
  int dummy = 0;
  compiler_table_hooks = {&fake_count, &fake_field};
  rt.stack->bound_table = reinterpret_cast<Table_Object*>(&dummy);
  struct Case {
    const char* text;
    const char* dump;
    uint32_t type;
    int64_t width;
  };
  const Case cases[] = {
      {"name", "0: ReadFieldByFieldNum 0\n1: end\n", 26, 20},
      {"memo", "0: ReadFieldByFieldNum 1\n1: end\n", 10, -2},
      {"pic", "0: ReadFieldByFieldNum 2\n1: end\n", 0, -1},  // general: unknown, no assertion
      {"qty", "0: ReadFieldByFieldNum 3\n1: end\n", 5, -1},
      {"other", "0: ReadByName OTHER\n1: end\n", 16, -1},
      {"m.name", "0: ReadMemvarByName NAME\n1: end\n", 16, -1},
  };
  for (const Case& c : cases) {
    compiler_type_info_st t;
    EXPECT_EQ(compile(c.text, &t), c.dump) << c.text;
    EXPECT_EQ(t.type, c.type) << c.text;
    EXPECT_EQ(t.width, c.width) << c.text;
  }
  // Default read: the variable is the target, never the field.
  compiler_type_info_st t;
  compile_operand(parse("name"), true, true, &code(), compiler, &t);
  EXPECT_EQ(dump(), "0: ReadMemvarByNameDefault NAME\n1: end\n");
  rt.stack->bound_table = nullptr;
  compiler_table_hooks = {};
}

}  // namespace
}  // namespace qzbase::testing_compiler
