// calls_test.cpp - calls: intrinsics, library functions with checked and cast arguments, calls
// left to the linker, and running calls of the built-in library.
#include "expression_support.h"

#include "builtins/library.h"
#include "compiler/linker.h"
#include "host/runtime.h"
#include "vm/execute.h"

namespace qzbase::testing_compiler {
namespace {

void fn_pair(VmStack*, size_t, Variant*) {}
void fn_flag(VmStack*, size_t, Variant*) {}
void fn_number(VmStack*, size_t, Variant*) {}

struct deducer_probe_st {
  size_t argc = 0;
  int64_t first = 0;
  bool constant = false;
};
deducer_probe_st probe;

void pair_width(size_t argc, const compiler_type_info_st* args, const Variant* values, compiler_type_info_st* out) {
  probe.argc = argc;
  probe.constant = argc > 0 && args[0].constant;
  probe.first = argc > 0 && values[0].tag == VT_INTEGER ? values[0].integer.value : -1;
  out->width = 42;
}

const module_function_st test_rows[] = {{"pair", "C|N", fn_pair, "C", 0},
                                        {"flag", "L", fn_flag, "L", 0},
                                        {"number", "N", fn_number, "N", 0},
                                        {"ints", "I", fn_number, "C", 0},
                                        {nullptr, nullptr, nullptr, nullptr, 0}};
const module_result_width_st test_widths[] = {{"ints", pair_width}, {nullptr, nullptr}};

class Calls : public ExpressionTest {
 public:
  Calls() {
    module_description_st d{};
    d.functions = test_rows;
    d.result_widths = test_widths;
    library = std::make_unique<Library>(d);
    library->load_definitions(rt.runtime);
    compiler.libraries = {library.get()};
  }
  std::unique_ptr<Library> library;
};

TEST_F(Calls, DumpsOfCalls) {
  struct Case {
    const char* text;
    const char* dump;
    std::vector<uint32_t> messages;
  };
  const std::vector<Case> cases = {
      {"iif(x > 1, 'a', 'b')",
       "0: ReadByName X\n1: ReadConstInteger 1\n2: BinaryGt\n3: CondFalseOrNullJump -> 6\n4: ReadConstString \"a\"\n"
       "5: Jump -> 7\n6: ReadConstString \"b\"\n7: end\n",
       {}},
      {"iif(x, 1)", "0: ReadConstNull\n1: end\n", {11}},
      {"foo(1, @y)", "0: EspAlloc\n1: ReadConstInteger 1\n2: ReadMemvarPointerByName Y\n3: UnresolvedCall foo 2\n4: end\n",
       {}},
      {"flag(.T.)", "0: EspAlloc\n1: ReadConstTrue\n2: CallSpecDo 1\n3: end\n", {}},
      {"flag(v)", "0: EspAlloc\n1: ReadByName V\n2: CastToBooleanImplicitly\n3: CallSpecDo 1\n4: end\n", {}},
      {"number(@v)", "0: EspAlloc\n1: ReadByName V\n2: CastToNumericImplicitly\n3: CallSpecDo 1\n4: end\n", {}},
      {"pair('a', 1, 2)",
       "0: EspAlloc\n1: ReadConstString \"a\"\n2: ReadConstInteger 1\n3: CastToNumericImplicitly\n4: CallSpecDo 3\n5: end\n", {11}},
      {"pair()", "0: EspAlloc\n1: CallSpecDo 0\n2: end\n", {11}},
      {"dodefault(1, 2)", "0: EspAlloc\n1: EspAlloc\n2: ReadConstInteger 1\n3: ReadConstInteger 2\n4: CallSpecDo 3\n5: end\n", {}},
      {"newobject()", "0: ReadConstNull\n1: end\n", {11}},
      {"createobject()", "0: ReadConstNull\n1: end\n", {11}},
      {"newobject('c', 'lib', 'app', 4)",
       "0: EspAlloc\n1: ReadConstString \"c\"\n2: CastToStringImplicitly\n3: ReadConstString \"lib\"\n"
       "4: CastToStringImplicitly null\n5: ReadConstString \"app\"\n6: CastToStringImplicitly null\n"
       "7: ReadConstInteger 4\n8: CallSpecDo 4\n9: end\n", {}},
  };
  for (const Case& c : cases) {
    compiler.messages.clear();
    EXPECT_EQ(compile(c.text), c.dump) << c.text;
    EXPECT_EQ(message_codes(), c.messages) << c.text;
  }
}

TEST_F(Calls, MessagesOfArgumentCountsPointAtTheirPlace) {
  compile("pair('a', 1, 2)");
  ASSERT_EQ(compiler.messages.size(), 1u);
  EXPECT_EQ(compiler.messages.front().location.begin_column, 14u);  // the third argument
  compiler.messages.clear();
  compile("pair()");
  ASSERT_EQ(compiler.messages.size(), 1u);
  EXPECT_EQ(compiler.messages.front().location.begin_column, 1u);  // the call
}

TEST_F(Calls, ConstantArgumentsAreFoldedAndHandedToTheDeducer) {
  compiler_type_info_st t;
  EXPECT_EQ(compile("ints(2 + 3)", &t), "0: EspAlloc\n1: ReadConstInteger 5\n2: CallSpecDo 1\n3: end\n");
  EXPECT_EQ(probe.argc, 1u);
  EXPECT_TRUE(probe.constant);
  EXPECT_EQ(probe.first, 5);
  EXPECT_EQ(t.type, 10u);
  EXPECT_EQ(t.width, 42);
}

// A call whose argument count does not fit passes fewer values than it takes: it is never run to
// fold a constant (that ended the process on a broken invariant), and its deducer is not asked.
TEST_F(Calls, ArgumentCountsThatDoNotFitAreNeverFolded) {
  probe = deducer_probe_st{};
  compiler_type_info_st t;
  compile("ints(2, 3)", &t, true);
  EXPECT_EQ(probe.argc, 0u);
  EXPECT_FALSE(t.constant);
  EXPECT_EQ(message_codes(), std::vector<uint32_t>({11}));

  compiler.libraries = {rt.runtime->priv->builtin_library};
  for (const char* text : {"left(.NULL., 1, .T.)", "left('abc', 1, .T.)", "substr(.NULL., 1, 2, 3)",
                           "array(left(.NULL., -9223372036854775808, .T.))", "left(.NULL.)", "substr('abc')",
                           "alltrim()", "evl(left(.NULL., 1, 2), 1) + 'x'"}) {
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    compiler.messages.clear();
    EXPECT_EQ(error_of([&] { compile(text, &t, true); }), 0) << text;
    EXPECT_EQ(message_codes(), std::vector<uint32_t>({11})) << text;
  }
}

// An argument whose folding fails is no constant: the call around it is not folded and run with
// an argument missing (that ended the process on a broken invariant).
TEST_F(Calls, ArgumentsThatFailToFoldLeaveTheCallUnfolded) {
  compiler.libraries = {rt.runtime->priv->builtin_library};
  struct Case {
    const char* text;
    uint32_t message;
  } cases[] = {{"substr(.NULL., .NOT. 1)", 11},
               {"substr('abc', .NOT. -9223372036854775808)", 11},
               {"left('abc', 'x' - 1)", 107},
               {"upper(left('abc', 1 + .T.))", 107}};
  for (const Case& c : cases) {
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    compiler.messages.clear();
    compiler_type_info_st t;
    EXPECT_EQ(error_of([&] { compile(c.text, &t, true); }), 0) << c.text;
    EXPECT_EQ(message_codes(), std::vector<uint32_t>({c.message})) << c.text;
    EXPECT_FALSE(t.constant) << c.text;
  }
}

TEST_F(Calls, DefaultReadTargetsGetNoNotNullCast) {
  compiler.libraries = {rt.runtime->priv->builtin_library};
  EXPECT_EQ(compile("store(x, 1)"),
            "0: EspAlloc\n1: ReadMemvarByNameDefault X\n2: ReadConstInteger 1\n3: CallSpecDo 2\n4: end\n");
  EXPECT_EQ(compile("dimension(3, .NULL., x)"),
            "0: EspAlloc\n1: ReadConstInteger 3\n2: ReadConstNull\n3: CastToIntegerImplicitly null\n"
            "4: ReadMemvarByNameDefault X\n5: CallSpecDo 3\n6: end\n");
  EXPECT_TRUE(compiler.messages.empty());
}

class BuiltinRuns : public ExpressionTest {
 public:
  BuiltinRuns() { compiler.libraries = {rt.runtime->priv->builtin_library}; }
  // Compiles text as the value of a program and runs it.
  void run(const char* text, Variant* result) {
    compiler_type_info_st t;
    compiletime_compact_constexpr(parse(text), &code(), compiler, &t);
    ASSERT_TRUE(compiler.messages.empty()) << text;
    code().push_back(loc(1), new VmOpReturnValue());
    program.reset(compiler.build_program(String("run")));
    LinkerInfo linker(rt.runtime);
    link_anonymous_program(linker, program.get());
    execute_program(rt.stack, 0, false, program.get(), result);
  }
};

TEST_F(BuiltinRuns, StoreAndDimensionReadTheirTargetByDefault) {
  Variant result;
  run("store(x, 1)", &result);
  EXPECT_EQ(result.tag, VT_INTEGER);
  EXPECT_EQ(result.integer.value, 1);
  result.release(rt.stack);
  compiler.reset(COMPILE_KIND_PROGRAM, true);
  run("dimension(3, .NULL., x)", &result);
  ASSERT_EQ(result.tag, VT_ARRAY);
  EXPECT_EQ(static_cast<Array*>(result)->count(), 3u);
  result.release(rt.stack);
}

TEST_F(BuiltinRuns, SubstringOperatorCallsAt) {
  Variant result;
  run("'b' $ 'abc'", &result);
  EXPECT_EQ(result.tag, VT_TRUE);
  compiler.reset(COMPILE_KIND_PROGRAM, true);
  run("'z' $ 'abc'", &result);
  EXPECT_EQ(result.tag, VT_FALSE);
}

}  // namespace
}  // namespace qzbase::testing_compiler
