// expression_compiler_test.cpp - operand dispatch, constants, compile-time values and the
// implicit casts of arguments to typed parameters.
#include "compiler_support.h"

#include "compiler/expression_compiler.h"
#include "objects/class.h"
#include "objects/object.h"

namespace qzbase::testing_compiler {
namespace {

class Expressions : public CompilerTest {
 public:
  // Compiles the operand (owned here) alone and returns the dump of its code.
  std::string compile(Operand* operand, compiler_type_info_st* type) {
    std::unique_ptr<Operand> owner(operand);
    compile_operand(operand, false, true, &code(), compiler, type);
    return assemble();
  }
};

TEST_F(Expressions, ConstantsLoadOnceAndReportTheirStaticType) {
  document_location_st l = loc(1);
  struct Case {
    Operand* operand;
    std::string dump;
    uint32_t type;
    int64_t width;
  };
  std::vector<Case> cases = {
      {new Const<bool>(l, true), "0: ReadConstTrue\n1: end\n", 1, -1},
      {new Const<bool>(l, false), "0: ReadConstFalse\n1: end\n", 1, -1},
      {new Const_Null(l), "0: ReadConstNull\n1: end\n", 20, -1},
      {new Const<long>(l, -42), "0: ReadConstInteger -42\n1: end\n", 5, -1},
      {new Const<numeric_type_st>(l, numeric_type_st{2.25, 2}), "0: ReadConstNumeric 2.25 dec=2\n1: end\n", 6, -1},
      {new Const<money_type_st>(l, money_type_st{-123456}), "0: ReadConstMoney -123456\n1: end\n", 7, -1},
      {new Const<date_st>(l, date_st{2451545}), "0: ReadConstDate jd=2451545\n1: end\n", 8, -1},
      {new Const<datetime_st>(l, datetime_st{2451545, 1000}), "0: ReadConstDatetime jd=2451545 ms=1000\n1: end\n",
       9, -1},
      {new Const_String(l, String("h\xC3\xA9llo")), "0: ReadConstString \"h\xC3\xA9llo\"\n1: end\n", 10, 5},
      {new Const_String(l, String("")), "0: ReadConstString \"\"\n1: end\n", 10, 0},
  };
  for (Case& c : cases) {
    compiler_type_info_st t;
    EXPECT_EQ(compile(c.operand, &t), c.dump);
    EXPECT_EQ(t.type, c.type) << c.dump;
    EXPECT_TRUE(t.constant) << c.dump;
    EXPECT_EQ(t.width, c.width) << c.dump;
  }
}

TEST_F(Expressions, ANameLoadsItsTextButIsNotConstant) {
  compiler_type_info_st t;
  EXPECT_EQ(compile(new Name(loc(2), String("customers")), &t), "0: ReadConstString \"customers\"\n1: end\n");
  EXPECT_EQ(t.type, 10u);
  EXPECT_EQ(t.width, 9);
  EXPECT_FALSE(t.constant);
}

TEST_F(Expressions, KindsWithoutACompilerRaise1001) {
  document_location_st l = loc(1);
  std::vector<Operand*> operands = {
      new OperandList(l),
      new Unary_Func(l, 7, new Const<bool>(l, true)),  // an operator code without a row
      new BinaryOperator(l, 40, new Const<long>(l, 1), new Const<long>(l, 2)),
      new SkalarType(l, 3),  // a constant type without a row
  };
  for (Operand* o : operands) {
    std::unique_ptr<Operand> owner(o);
    compiler_type_info_st t;
    EXPECT_EQ(error_of([&] { compile_operand(o, false, true, &code(), compiler, &t); }), 1001) << o->kind;
    EXPECT_EQ(code().size(), 0u);
  }
  Operand odd(l, 77);
  compiler_type_info_st t;
  EXPECT_EQ(error_of([&] { compile_operand(&odd, false, true, &code(), compiler, &t); }), 1001);
}

class PlainObject : public Object {
 public:
  PlainObject() : Object(plain_class()) {}
  static Class* plain_class() {
    static Class cls{Symbol(), nullptr};
    return &cls;
  }
};

TEST_F(Expressions, CompileTimeValuesLoadAsConstantsAndObjectsAreRefused) {
  Variant values[9];
  values[0].set_false();
  values[1].set_null();
  values[2].set_true();
  values[3].set(integer_type_st{7});
  values[4].set(numeric_type_st{0.5, 1});
  values[5].set(money_type_st{10000});
  values[6].set(date_st{5});
  values[7].set(datetime_st{5, 6});
  values[8].set_string(String("abc"));
  const uint32_t types[] = {1, 20, 1, 5, 6, 7, 8, 9, 10};
  for (size_t i = 0; i < 9; ++i) {
    compiler_type_info_st t;
    compile_const_generic(loc(1), &values[i], &code(), compiler, &t);
    EXPECT_EQ(t.type, types[i]) << i;
    EXPECT_TRUE(t.constant) << i;
    EXPECT_EQ(t.width, i == 8 ? 3 : -1) << i;
  }
  EXPECT_EQ(assemble(),
            "0: ReadConstFalse\n1: ReadConstNull\n2: ReadConstTrue\n3: ReadConstInteger 7\n"
            "4: ReadConstNumeric 0.5 dec=1\n5: ReadConstMoney 10000\n6: ReadConstDate jd=5\n"
            "7: ReadConstDatetime jd=5 ms=6\n8: ReadConstString \"abc\"\n9: end\n");
  Variant object;
  object.set_new_object(new PlainObject());
  compiler_type_info_st t;
  EXPECT_EQ(error_of([&] { compile_const_generic(loc(1), &object, &code(), compiler, &t); }), -1);
  EXPECT_EQ(code().size(), 0u);
  object.release(rt.stack);
}

function_signature_entry_st entry_of(const char* letters) {
  function_signature_st s;
  parse_function_signature(letters, &s);
  return s.entries.front();
}

TEST_F(Expressions, ImplicitCastsFollowTheParameterAndTheExactArgumentType) {
  struct Case {
    const char* parameter;
    uint32_t argument;
    const char* op;  // "" for none
  };
  const Case cases[] = {
      {".", 0, "CastToNotNull"},
      {".", 10, "CastToNotNull"},
      {".?", 20, ""},
      {".*", 20, ""},  // a default-read target is the variable itself, null included
      {".*", 0, ""},
      {".?", 0, ""},
      {"L", 1, ""},
      {"L", 17, "CastToBooleanImplicitly"},
      {"L?", 5, "CastToBooleanImplicitly null"},
      {"I", 5, ""},
      {"I", 21, "CastToIntegerImplicitly"},
      {"I", 6, "CastToIntegerImplicitly"},
      {"N", 6, ""},
      {"N", 5, "CastToNumericImplicitly"},
      {"Y", 7, ""},
      {"Y?", 0, "CastToMoneyImplicitly null"},
      {"D", 8, ""},
      {"D", 9, "CastToDateImplicitly"},
      {"T", 9, ""},
      {"T", 20, "CastToDatetimeImplicitly"},
      {"C", 10, ""},
      {"C", 26, "CastToStringImplicitly"},
      {"C?", 0, "CastToStringImplicitly null"},
      {"O", 11, "CastToObjectImplicitly"},
      {"O?", 11, "CastToObjectImplicitly null"},
      {"A", 13, "CheckArgument tag=12 flags=0"},
      {"A@", 13, "CheckArgument tag=12 flags=1"},
      {"A?", 0, "CheckArgument tag=12 flags=4"},
      {"A?@", 0, "CheckArgument tag=12 flags=5"},
      {"A$", 13, "CheckArgument tag=12 flags=2"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<VmOp> op(select_implicit_cast(entry_of(c.parameter), c.argument));
    EXPECT_EQ(op ? dump_op(op.get(), nullptr) : std::string(), c.op) << c.parameter << " " << c.argument;
  }
  function_signature_entry_st odd{12, false, false, false};
  EXPECT_EQ(error_of([&] { delete select_implicit_cast(odd, 0); }), -1);
  // The appending form puts the op after the argument at its location.
  compiler_type_info_st logical_or_null{17, false, -1};
  compile_implicit_cast(entry_of("L"), logical_or_null, loc(4), &code());
  compile_implicit_cast(entry_of("L"), compiler_type_info_st{1, true, -1}, loc(4), &code());
  EXPECT_EQ(assemble(), "0: CastToBooleanImplicitly\n1: end\n");
  EXPECT_EQ(program->debug_info()->locations().at(program->code()).begin_line, 4u);
}

}  // namespace
}  // namespace qzbase::testing_compiler
