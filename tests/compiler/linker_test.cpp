// linker_test.cpp - resolving calls against a module and its imports, entry procedures, user
// classes and their ancestor chains, and modules that share classes through imports.
#include "compiler_support.h"

#include "builtins/library.h"
#include "compiler/linker.h"
#include "frontend/operands.h"
#include "objects/user_class.h"
#include "vm/module.h"

namespace qzbase::testing_compiler {
namespace {

class Linker : public CompilerTest {
 public:
  Linker() : linker(rt.runtime) {}

  // A program of one unresolved call per name (statement numbers 1, 2, ...).
  UserFunction* fn(const char* name, std::initializer_list<const char*> calls = {}) {
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    for (const char* callee : calls) {
      compiler.statement_number += 1;
      code().push_back(loc(1), new VmOpUnresolvedCall(String(callee), 1));
    }
    return new UserFunction(compiler.build_program(String(name)));
  }
  void add_procedure(Module& m, const char* name, std::initializer_list<const char*> calls = {}) {
    ASSERT_TRUE(m.add_procedure(rt.sym(name), fn(name, calls)));
  }
  UserFunction* procedure(Module& m, const char* name) { return m.procedures.at(rt.sym(name)); }
  std::string dump(const UserFunction* f) {
    program_dump_options_st o;
    o.symbols = rt.stack->get_symtable();
    o.statements = true;
    return dump_program(f->program(), o);
  }
  UserClass* user_class(const char* name, const char* parent) {
    named_operand_st* clause = parent != nullptr ? new named_operand_st(String(parent), nullptr) : nullptr;
    return new UserClass(Symbol(String(name), rt.stack->get_symtable()), clause);
  }
  std::vector<std::string> chain(const UserClass* c) {
    std::vector<std::string> names;
    for (const Class* a : c->ancestors) names.push_back(a->get_name().u8str());
    return names;
  }

  LinkerInfo linker;
};

TEST_F(Linker, CallsOfFunctionsDefinedLaterBecomeDirectCallsAndUnknownNamesCallsByName) {
  Module m(String("/src/app.prg"));
  m.main = fn("", {"later", "nowhere"});
  add_procedure(m, "LATER", {"Later"});
  link_module(linker, &m);
  EXPECT_EQ(dump(m.main), "0: CallSpecUser LATER 1 #1\n1: CallSpecDynamic NOWHERE 1 #2\n2: end\n");
  EXPECT_EQ(static_cast<const VmOpCallSpecUser*>(m.main->program()->op(0))->function, procedure(m, "LATER"));
  EXPECT_EQ(dump(procedure(m, "LATER")), "0: CallSpecUser LATER 1 #1\n1: end\n");  // recursion
  EXPECT_EQ(m.main->program()->owner_module(), &m);
  EXPECT_EQ(m.entry, m.main);
}

TEST_F(Linker, TheModulesOwnProcedureWinsThenTheFirstImportThatHasOne) {
  Module first(String("first.prg")), second(String("second.prg")), m(String("m.prg"));
  add_procedure(first, "P");
  add_procedure(first, "Q");
  add_procedure(second, "P");
  add_procedure(second, "Q");
  add_procedure(second, "R");
  add_procedure(m, "P");
  m.imports = {&first, &second};
  m.main = fn("", {"p", "q", "r", "s"});
  link_module(linker, &m);
  const VmOp* const* code = m.main->program()->code();
  EXPECT_EQ(static_cast<const VmOpCallSpecUser*>(code[0])->function, procedure(m, "P"));
  EXPECT_EQ(static_cast<const VmOpCallSpecUser*>(code[1])->function, procedure(first, "Q"));
  EXPECT_EQ(static_cast<const VmOpCallSpecUser*>(code[2])->function, procedure(second, "R"));
  EXPECT_EQ(code[3]->opcode, OP_CALL_SPEC_DYNAMIC);
}

TEST_F(Linker, AnAnonymousProgramGetsOnlyCallsByNameAndLinkingTwiceIsRefused) {
  Module m(String("m.prg"));
  add_procedure(m, "F");
  std::unique_ptr<UserFunction> line(fn("", {"f", "g"}));
  link_anonymous_program(linker, const_cast<Program*>(line->program()));
  EXPECT_EQ(dump(line.get()), "0: CallSpecDynamic F 1 #1\n1: CallSpecDynamic G 1 #2\n2: end\n");
  EXPECT_EQ(line->program()->owner_module(), nullptr);
  Program* p = const_cast<Program*>(procedure(m, "F")->program());
  EXPECT_EQ(error_of([&] { link_program(linker, p, nullptr); }), -1);
  link_program(linker, p, &m);
  EXPECT_EQ(error_of([&] { link_program(linker, p, &m); }), -1);
  EXPECT_EQ(error_of([&] { link_anonymous_program(linker, p); }), -1);
}

TEST_F(Linker, TheEntryIsTheMainProgramElseTheFunctionNamedLikeTheFileStem) {
  struct Case {
    const char* file;
    bool main;
    const char* procedure;
    const char* entry;  // "main", a procedure name, or null
  };
  const Case cases[] = {
      {"/home/u/reports/report.prg", false, "REPORT", "REPORT"},
      {"report.prg", false, "Report", "REPORT"},
      {"/a.b/report.x.prg", false, "report.x", "REPORT.X"},
      {"/a/report.prg", false, "OTHER", nullptr},
      {"/a/report.prg", true, "REPORT", "main"},
      {"/a/.prg", false, "PRG", nullptr},
      {"/a/noext", false, "NOEXT", "NOEXT"},
  };
  for (const Case& c : cases) {
    Module m(String(c.file));
    if (c.main) m.main = fn("");
    add_procedure(m, c.procedure);
    link_module(linker, &m);
    if (c.entry == nullptr) {
      EXPECT_EQ(m.entry, nullptr) << c.file;
    } else if (std::string(c.entry) == "main") {
      EXPECT_EQ(m.entry, m.main) << c.file;
    } else {
      ASSERT_NE(m.entry, nullptr) << c.file;
      EXPECT_EQ(m.entry->program()->name().u8str(), c.procedure) << c.file;
    }
    // Linking again changes nothing.
    const UserFunction* entry = m.entry;
    EXPECT_EQ(error_of([&] { link_module(linker, &m); }), 0) << c.file;
    EXPECT_EQ(m.entry, entry) << c.file;
  }
}

TEST_F(Linker, ClassesGetTheirMembersAndAncestorChains) {
  Module m(String("shapes.prg"));
  UserClass* shape = user_class("Shape", "custom");
  UserClass* circle = user_class("Circle", "shape");
  ASSERT_TRUE(shape->add_method(rt.sym("AREA"), 1, fn("AREA", {"helper"})));
  add_procedure(m, "HELPER");
  // The derived class comes first: only its parent's name is read.
  ASSERT_TRUE(m.add_defined_class(rt.sym("Circle"), circle));
  ASSERT_TRUE(m.add_defined_class(rt.sym("Shape"), shape));
  UserClass* duplicate = user_class("circle", nullptr);
  EXPECT_FALSE(m.add_defined_class(rt.sym("circle"), duplicate));  // the first definition stays
  delete duplicate;
  link_module(linker, &m);
  EXPECT_EQ(chain(circle), (std::vector<std::string>{"Circle", "Shape", "Custom"}));
  EXPECT_EQ(chain(shape), (std::vector<std::string>{"Shape", "Custom"}));
  EXPECT_TRUE(shape->is_compiled());
  ClassMember* area = shape->find_member(rt.sym("area"));
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(area->kind, MEMBER_METHOD);
  const UserFunction* method = shape->methods.at(rt.sym("AREA")).function;
  EXPECT_EQ(method->program()->owner_module(), &m);
  EXPECT_EQ(method->program()->op(0)->opcode, OP_CALL_SPEC_USER);
  // A second link (the build links before class initialisers run, the loader again) changes nothing.
  EXPECT_EQ(error_of([&] { link_module(linker, &m); }), 0);
  EXPECT_EQ(chain(circle), (std::vector<std::string>{"Circle", "Shape", "Custom"}));
  EXPECT_EQ(method->program()->owner_module(), &m);
}

TEST_F(Linker, AMissingOrRecurringParentRaises1733WithItsName) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> classes;  // name, parent
    std::string missing;
  };
  const std::vector<Case> cases = {
      {{{"Circle", "Shaep"}}, "Shaep"},
      {{{"A", "B"}, {"B", "A"}}, ""},  // either class may be linked first
      {{{"Self", "self"}}, "self"},
      {{{"X", "Y"}, {"Y", "Z"}, {"Z", "y"}}, ""},
  };
  for (const Case& c : cases) {
    Module m(String("m.prg"));
    for (auto [name, parent] : c.classes) ASSERT_TRUE(m.add_defined_class(rt.sym(name), user_class(name, parent)));
    try {
      link_module(linker, &m);
      ADD_FAILURE() << c.classes.front().first;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1733);
      if (!c.missing.empty()) {
        EXPECT_EQ(e.detail.u8str(), c.missing);
      }
      EXPECT_FALSE(e.detail.u8str().empty());
    }
  }
}

// A class library imported by two modules: linked once by its own module, destroyed once, and a
// parent for the importers' classes, whatever order the modules are destroyed in.
TEST_F(Linker, AClassTakenFromAnImportIsLinkedAndDestroyedOnce) {
  for (bool library_first : {true, false}) {
    auto lib = std::make_unique<Module>(String("lib.prg"));
    UserClass* base = user_class("Base", nullptr);
    ASSERT_TRUE(base->add_method(rt.sym("RUN"), 1, fn("RUN")));
    ASSERT_TRUE(lib->add_defined_class(rt.sym("Base"), base));
    link_module(linker, lib.get());

    auto app = std::make_unique<Module>(String("app.prg"));
    app->imports.push_back(lib.get());
    UserClass* derived = user_class("Derived", "base");
    ASSERT_TRUE(app->add_defined_class(rt.sym("Derived"), derived));
    ASSERT_TRUE(app->add_imported_class(rt.sym("Base"), base));
    EXPECT_FALSE(app->defines(base));
    EXPECT_TRUE(lib->defines(base));
    EXPECT_EQ(error_of([&] { link_module(linker, app.get()); }), 0);
    EXPECT_EQ(chain(derived), (std::vector<std::string>{"Derived", "Base"}));
    EXPECT_EQ(base->methods.at(rt.sym("RUN")).function->program()->owner_module(), lib.get());
    if (library_first) lib.reset();
    app.reset();
    lib.reset();
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
