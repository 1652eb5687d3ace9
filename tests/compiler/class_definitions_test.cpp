// class_definitions_test.cpp - DEFINE CLASS: properties, visibility, array properties, methods,
// statements a class does not allow, and property initialisers run after linking.
#include "statement_support.h"
#include "capture_screen.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "compiler/class_definitions.h"
#include "compiler/linker.h"
#include "compiler/programs.h"
#include "platform/screen.h"
#include "objects/user_class.h"
#include "vm/execute.h"
#include "vm/module.h"

namespace qzbase::testing_compiler {
namespace {

using testing_screen::CapturingScreen;

class ClassDefinitions : public StatementTest {
 public:
  // Parses text and compiles it as module items (every line must belong to one).
  void build(const char* text) {
    parse(text);
    it = statements.begin();
    statement_list::const_iterator end = statements.cend();
    while (statement_list::const_iterator(it) != end) {
      ASSERT_TRUE(compile_module_item(end, it, &module, compiler)) << "item at statement " << consumed();
    }
  }
  // What the module build does after compiling: link the module, then run the initialisers.
  void link() {
    LinkerInfo linker(rt.runtime);
    link_module(linker, &module);
    evaluate_class_initialisers(&module, compiler);
  }
  UserClass* cls(const char* name) {
    auto found = module.classes.find(rt.sym(name));
    return found == module.classes.end() ? nullptr : static_cast<UserClass*>(found->second);
  }
  const ClassMember* member(const char* class_name, const char* name) {
    UserClass* c = cls(class_name);
    return c == nullptr ? nullptr : c->find_member(String(name));
  }
  std::string dump_of(const UserFunction* function) {
    program_dump_options_st options;
    options.symbols = rt.stack->get_symtable();
    return dump_program(function->program(), options);
  }
  const UserFunction* method(const char* class_name, const char* name) {
    return cls(class_name)->methods.at(rt.sym(name)).function;
  }
  std::string messages() const {
    std::string out;
    for (const auto& m : compiler.messages) {
      out += std::to_string(m.code) + "@" + std::to_string(m.location.begin_line) + " ";
    }
    return out;
  }
  std::vector<uint32_t> message_lines() const {
    std::vector<uint32_t> out;
    for (const auto& m : compiler.messages) out.push_back(m.location.begin_line);
    return out;
  }

  Module module{String("m.prg")};
};

long integer_of(const ClassMember* m) { return static_cast<long>(m->default_value); }

TEST_F(ClassDefinitions, PropertiesTakeTheirInitialValuesKindAndVisibility) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "x = 1 + 2\n"
      "y = 1\n"
      "name = \"abc\"\n"
      "PROTECTED y, z\n"
      "HIDDEN h\n"
      "ENDDEFINE\n");
  ASSERT_TRUE(message_codes().empty()) << messages();
  UserClass* c = cls("C");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->parent_name != nullptr ? c->parent_name->u8str() : "", "Custom");
  EXPECT_EQ(static_cast<const Cmd_Define*>(statements.front())->parent, nullptr);  // the class owns it now
  // Nothing has run before linking.
  EXPECT_TRUE(member("c", "x")->default_value.empty());
  link();
  ASSERT_TRUE(message_codes().empty()) << messages();
  struct Case {
    const char* name;
    uint32_t visibility;
  } cases[] = {{"x", 1}, {"y", 2}, {"z", 2}, {"h", 4}, {"name", 1}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const ClassMember* m = member("c", k.name);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->kind, static_cast<uint32_t>(MEMBER_PROPERTY));
    EXPECT_EQ(m->visibility, k.visibility);
  }
  EXPECT_EQ(integer_of(member("c", "x")), 3);
  EXPECT_EQ(integer_of(member("c", "y")), 1);  // PROTECTED keeps the value
  EXPECT_TRUE(member("c", "z")->default_value.empty());
  EXPECT_EQ(static_cast<String>(member("c", "name")->default_value).u8str(), "abc");
  EXPECT_EQ(c->ancestors.size(), 2u);  // c, then the native Custom
  EXPECT_TRUE(c->initialisers.empty());
}

TEST_F(ClassDefinitions, DimensionGivesArrayProperties) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "DIMENSION a(3), b(2, 3)\n"
      "DIMENSION w(1, 2, 3)\n"  // like DIMENSION in code: rows and columns only
      "x = 1\n"
      "DIMENSION x(2)\n"  // written after x = 1: the array stays
      "DIMENSION y(2)\n"
      "y = 5\n"  // written after the DIMENSION: 5 stays
      "ENDDEFINE\n");
  ASSERT_TRUE(message_codes().empty()) << messages();
  link();
  ASSERT_TRUE(message_codes().empty()) << messages();
  struct Case {
    const char* name;
    size_t count;
    size_t columns;
  } cases[] = {{"a", 3, 0}, {"b", 6, 3}, {"w", 2, 2}, {"x", 2, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const ClassMember* m = member("c", k.name);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->kind, static_cast<uint32_t>(MEMBER_PROPERTY));
    ASSERT_EQ(m->default_value.tag, VT_ARRAY);
    const Array* array = static_cast<const Array*>(m->default_value);
    EXPECT_EQ(array->count(), k.count);
    EXPECT_EQ(array->columns(), k.columns);
  }
  EXPECT_EQ(integer_of(member("c", "y")), 5);
}

TEST_F(ClassDefinitions, BadArrayBoundsAreMessagesAtTheStatement) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "DIMENSION a(0)\n"
      "DIMENSION b(2, -1)\n"
      "DIMENSION d(\"x\")\n"
      "DIMENSION ok(1)\n"
      "ENDDEFINE\n");
  EXPECT_EQ(message_codes().size(), 3u);
  EXPECT_EQ(message_codes()[0], 230u);
  EXPECT_EQ(message_codes()[1], 230u);
  EXPECT_EQ(message_lines(), (std::vector<uint32_t>{2, 3, 4}));
  EXPECT_EQ(member("c", "a"), nullptr);
  EXPECT_EQ(member("c", "ok")->default_value.tag, VT_ARRAY);
}

TEST_F(ClassDefinitions, MethodsWithAndWithoutParameters) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "FUNCTION plain\n"
      "RETURN 1\n"
      "ENDFUNC\n"
      "PROTECTED FUNCTION args\n"
      "LPARAMETERS a, b\n"
      "RETURN b\n"
      "ENDFUNC\n"
      "HIDDEN PROCEDURE header(a, b)\n"
      "RETURN a\n"
      "ENDPROC\n"
      "FUNCTION plain\n"  // the first method of a name stays
      "RETURN 2\n"
      "ENDFUNC\n"
      "ENDDEFINE\n");
  ASSERT_TRUE(message_codes().empty()) << messages();
  ASSERT_EQ(cls("c")->methods.size(), 3u);
  EXPECT_EQ(dump_of(method("c", "plain")), "0: InitLocalParameters 1\n1: ReadConstInteger 1\n2: ReturnValue\n3: end\n");
  EXPECT_EQ(dump_of(method("c", "args")), "0: InitLocalParameters 3\n1: ReadByName B\n2: ReturnValue\n3: end\n");
  EXPECT_EQ(dump_of(method("c", "header")), "0: InitLocalParameters 3\n1: ReadByName A\n2: ReturnValue\n3: end\n");
  EXPECT_EQ(cls("c")->methods.at(rt.sym("plain")).visibility, 1u);
  EXPECT_EQ(cls("c")->methods.at(rt.sym("args")).visibility, 2u);
  EXPECT_EQ(cls("c")->methods.at(rt.sym("header")).visibility, 4u);
  link();
  // Linking makes the methods run-time members of the class.
  const ClassMember* m = member("c", "args");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->kind, static_cast<uint32_t>(MEMBER_METHOD));
  EXPECT_EQ(m->visibility, 2u);
  EXPECT_EQ(method("c", "args")->program()->owner_module(), &module);
  // No object can be made of a source class yet; the method runs as a call with THIS in the
  // extra slot below its arguments.
  rt.stack->push();  // THIS
  rt.stack->push()->value.set(integer_type_st{10});
  rt.stack->push()->value.set(integer_type_st{20});
  Variant result;
  try {
    execute_program(rt.stack, 2, true, method("c", "args")->program(), &result);
  } catch (const RuntimeError& e) {
    ADD_FAILURE() << e.code << " " << e.detail.u8str();
  }
  EXPECT_EQ(static_cast<long>(result), 20);
}

// A method with no statement of its own used to have no program to be keyed by.
TEST_F(ClassDefinitions, AMethodWithoutStatementsIsAnEmptyMethod) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "PROCEDURE first\n"
      "PROCEDURE second\n"
      "RETURN 1\n"
      "ENDPROC\n"
      "FUNCTION last(a, b)\n"
      "ENDDEFINE\n");
  ASSERT_TRUE(message_codes().empty()) << messages();
  ASSERT_EQ(cls("c")->methods.size(), 3u);
  EXPECT_EQ(dump_of(method("c", "first")), "0: InitLocalParameters 1\n1: Return\n2: end\n");
  EXPECT_EQ(dump_of(method("c", "last")), "0: InitLocalParameters 3\n1: Return\n2: end\n");
  EXPECT_EQ(dump_of(method("c", "second")), "0: InitLocalParameters 1\n1: ReadConstInteger 1\n2: ReturnValue\n3: end\n");
  link();
  EXPECT_TRUE(message_codes().empty()) << messages();
}

TEST_F(ClassDefinitions, StatementsAClassDoesNotAllowRecord1927AndTheBodyGoesOn) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "? 1\n"
      "x = 1\n"
      "LOCAL q\n"
      "this.p = 1\n"
      "m.v = 2\n"
      "DIMENSION this.arr[2]\n"
      "ENDFUNC\n"
      "y = 2\n"
      "ENDDEFINE\n"
      "FUNCTION f\n"
      "RETURN 1\n");
  EXPECT_EQ(message_codes(), (std::vector<uint32_t>(6, 1927)));
  EXPECT_EQ(message_lines(), (std::vector<uint32_t>{2, 4, 5, 6, 7, 8}));
  EXPECT_NE(member("c", "x"), nullptr);
  EXPECT_NE(member("c", "y"), nullptr);
  EXPECT_EQ(member("c", "p"), nullptr);
  EXPECT_EQ(module.procedures.count(rt.sym("f")), 1u);  // ENDDEFINE closed the class
}

TEST_F(ClassDefinitions, AMissingEnddefineIsEndedByTheNextClassOrTheEnd) {
  build(
      "DEFINE CLASS a AS Custom\n"
      "x = 1\n"
      "DEFINE CLASS b AS Custom\n"
      "y = 2\n");
  EXPECT_EQ(message_codes().size(), 2u) << messages();  // each class cut short fails the build
  ASSERT_NE(cls("a"), nullptr);
  ASSERT_NE(cls("b"), nullptr);
  EXPECT_EQ(member("a", "y"), nullptr);
  link();
  EXPECT_EQ(integer_of(member("b", "y")), 2);
}

TEST_F(ClassDefinitions, TheFirstClassOfANameStaysRegistered) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "x = 1\n"
      "ENDDEFINE\n"
      "DEFINE CLASS C AS Custom\n"
      "x = 2\n"
      "y = 3\n"
      "FUNCTION m\n"
      "ENDDEFINE\n");
  EXPECT_EQ(module.classes.size(), 1u);
  EXPECT_EQ(module.own_classes.size(), 1u);
  link();
  EXPECT_TRUE(message_codes().empty()) << messages();
  EXPECT_EQ(integer_of(member("c", "x")), 1);
  EXPECT_EQ(member("c", "y"), nullptr);
  EXPECT_TRUE(cls("c")->methods.empty());
}

// Initialisers run after the module's own functions are linked, so they may call functions
// defined anywhere in the module, also below the class.
TEST_F(ClassDefinitions, InitialisersMayCallFunctionsOfTheModule) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "x = twice(21)\n"
      "ENDDEFINE\n"
      "FUNCTION twice(n)\n"
      "RETURN n * 2\n");
  ASSERT_TRUE(message_codes().empty()) << messages();
  link();
  EXPECT_TRUE(message_codes().empty()) << messages();
  EXPECT_EQ(integer_of(member("c", "x")), 42);
  evaluate_class_initialisers(&module, compiler);  // nothing left to run
  EXPECT_EQ(integer_of(member("c", "x")), 42);
  // The loader links the built module once more: nothing changes.
  LinkerInfo linker(rt.runtime);
  EXPECT_EQ(error_of([&] { link_module(linker, &module); }), 0);
  EXPECT_EQ(module.procedures.at(rt.sym("twice"))->program()->owner_module(), &module);
}

TEST_F(ClassDefinitions, InitialiserFaultsBecomeMessagesAndLeaveTheDefaultEmpty) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "ok = 1\n"
      "arr = makearray()\n"
      "missing = nosuchvariable\n"
      "later = 2\n"
      "thrown = failing()\n"
      "DIMENSION gone(2)\n"
      "ENDDEFINE\n"
      "FUNCTION makearray\n"
      "DIMENSION a(2)\n"
      "RETURN a\n"
      "FUNCTION failing\n"
      "RETURN nosuchvariable\n");
  ASSERT_TRUE(message_codes().empty()) << messages();
  link();
  int missing_code = error_of([&] {
    Variant v;
    std::unique_ptr<Operand> op(new Variable(loc(1), String("nosuchvariable"), 0));
    op->val(rt.stack, &v);
  });
  ASSERT_GT(missing_code, 0);
  EXPECT_EQ(message_codes(),
            (std::vector<uint32_t>{1927, static_cast<uint32_t>(missing_code), static_cast<uint32_t>(missing_code)}));
  EXPECT_EQ(message_lines(), (std::vector<uint32_t>{3, 4, 6}));
  EXPECT_TRUE(member("c", "arr")->default_value.empty());
  EXPECT_TRUE(member("c", "missing")->default_value.empty());
  EXPECT_TRUE(member("c", "thrown")->default_value.empty());
  EXPECT_EQ(integer_of(member("c", "ok")), 1);
  EXPECT_EQ(integer_of(member("c", "later")), 2);  // the others still run
}

// A DIMENSION of the same property replaces what an earlier initialiser gave, but that
// initialiser still runs and its faults are still reported.
TEST_F(ClassDefinitions, ASupersededInitialiserStillReportsItsFault) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "z = nosuchvariable\n"
      "DIMENSION z(2)\n"
      "ENDDEFINE\n");
  link();
  ASSERT_EQ(message_codes().size(), 1u);
  EXPECT_EQ(message_lines(), (std::vector<uint32_t>{2}));
  EXPECT_EQ(member("c", "z")->default_value.tag, VT_ARRAY);
}

// An initialiser whose compilation recorded a message is not run at all: its code may not even
// leave a value (.p outside WITH emits nothing).
TEST_F(ClassDefinitions, AnInitialiserThatDidNotCompileIsNotRun) {
  build(
      "DEFINE CLASS c AS Custom\n"
      "x = iif(.t., 1)\n"
      "y = .p\n"
      "ENDDEFINE\n");
  EXPECT_EQ(message_codes(), (std::vector<uint32_t>{11, 1940})) << messages();
  EXPECT_TRUE(cls("c")->initialisers.empty());
  link();
  EXPECT_EQ(message_codes(), (std::vector<uint32_t>{11, 1940})) << messages();
  for (const char* name : {"x", "y"}) {
    EXPECT_TRUE(member("c", name)->default_value.empty()) << name;
    EXPECT_EQ(member("c", name)->kind, static_cast<uint32_t>(MEMBER_PROPERTY)) << name;
  }
}

TEST_F(ClassDefinitions, InitialiserOutputDoesNotReachTheScreen) {
  CapturingScreen screen;
  ScreenRedirect redirect(rt.runtime, &screen);
  build(
      "DEFINE CLASS c AS Custom\n"
      "x = noisy()\n"
      "ENDDEFINE\n"
      "FUNCTION noisy\n"
      "? \"hello\"\n"
      "RETURN 5\n");
  link();
  EXPECT_TRUE(message_codes().empty()) << messages();
  EXPECT_EQ(integer_of(member("c", "x")), 5);
  EXPECT_EQ(screen.text(), "");
  // The same function run outside the build does print.
  Variant result;
  execute_program(rt.stack, 0, false, module.procedures.at(rt.sym("noisy"))->program(), &result);
  result.release(rt.stack);
  EXPECT_NE(screen.text().find("hello"), std::string::npos);
  EXPECT_EQ(rt.runtime->get_screen(), &screen);
}

}  // namespace
}  // namespace qzbase::testing_compiler
