// compiler_state_test.cpp - frame slots, scopes, temporaries, reset, messages and library lookup.
#include "compiler_support.h"

#include "builtins/library.h"
#include "frontend/operands.h"

namespace qzbase::testing_compiler {
namespace {

class State : public CompilerTest {
 public:
  std::string temp(const char* tag, CodePath& path) {
    std::unique_ptr<Variable> v(path.compile_create_temp_memvar(loc(1), tag, &code()));
    EXPECT_EQ(v->memvar, 1u);
    return v->name.u8str();
  }
};

TEST_F(State, SlotsRunFromOneInOrderOfFirstDefinition) {
  offset_type a = 0, b = 0, again = 0;
  ASSERT_TRUE(compiler.compile_time_define_memvar(rt.sym("A"), &a));
  ASSERT_TRUE(compiler.compile_time_define_memvar(rt.sym("B"), &b));
  ASSERT_TRUE(compiler.compile_time_define_memvar(rt.sym("a"), &again));  // names ignore case
  EXPECT_EQ(std::vector<offset_type>({a, b, again}), std::vector<offset_type>({1, 2, 1}));
  EXPECT_EQ(compiler.symbol_map.size(), 2u);
}

TEST_F(State, WithoutSlotsNothingIsDefinedAndNestedTemporariesStayDistinct) {
  compiler.reset(COMPILE_KIND_COMMAND, true);
  offset_type off = 99;
  EXPECT_FALSE(compiler.compile_time_define_memvar(rt.sym("A"), &off));
  EXPECT_EQ(off, 99u);
  bool declared = false;
  EXPECT_FALSE(compiler.variable_get(rt.sym("A"), &off, &declared));
  // FOR i ... FOR j ... inside one command line: the inner limit must not overwrite the outer.
  CodePath outer(compiler.root());
  std::string outer_limit = temp("forto", outer);
  CodePath inner(outer);
  std::string inner_limit = temp("forto", inner);
  EXPECT_NE(outer_limit, inner_limit);
  EXPECT_EQ(outer_limit, ".local~forto~0");
  EXPECT_EQ(inner_limit, ".local~forto~1");
  EXPECT_TRUE(compiler.symbol_map.empty());
  EXPECT_EQ(assemble(), "0: DefLocal $" + std::to_string(rt.sym(".local~forto~0")) + "\n1: DefLocal $" +
                            std::to_string(rt.sym(".local~forto~1")) + "\n2: end\n");
  // The numbering starts again with the next unit.
  compiler.reset(COMPILE_KIND_COMMAND, false);
  EXPECT_EQ(temp("with", compiler.root()), ".local~with~0");
  code().clear();
}

TEST_F(State, WithSlotsATemporaryIsNamedAfterTheSlotsBeforeIt) {
  offset_type off;
  for (const char* p : {"P1", "P2", "P3"}) compiler.compile_time_define_memvar(rt.sym(p), &off);
  EXPECT_EQ(temp("with", compiler.root()), ".local~with~3");
  EXPECT_EQ(compiler.symbol_map.at(rt.sym(".local~with~3")), 4u);
  // Long tags are cut to the 31 characters of the name buffer.
  EXPECT_EQ(temp("a_very_long_tag_for_testing_cuts", compiler.root()).size(), 31u);
  assemble();
  EXPECT_EQ(dump_program(program.get()).substr(0, 20), "0: DefLocalOffset @4");
  EXPECT_EQ(program->slot_count(), 5u);
}

TEST_F(State, AChildScopeSeesItsParentsVariablesButNotTheOtherWayRound) {
  symbol_id_type a = rt.sym("A"), b = rt.sym("B");
  offset_type off;
  compiler.compile_time_define_memvar(a, &off);
  compiler.variables.emplace(a, 1u);
  CodePath child(compiler.root());
  EXPECT_EQ(child.compiler, &compiler);
  EXPECT_EQ(child.parent, &compiler.root());
  compiler.compile_time_define_memvar(b, &off);
  child.variables.emplace(b, 1u);
  struct Case {
    CodePath* path;
    symbol_id_type symbol;
    bool found;
    bool declared;
  };
  for (const Case& c : {Case{&child, a, true, true}, Case{&child, b, true, true}, Case{&compiler, a, true, true},
                        Case{&compiler, b, true, false}, Case{&child, rt.sym("C"), false, false}}) {
    bool declared = false;
    offset_type o = 0;
    EXPECT_EQ(c.path->variable_get(c.symbol, &o, &declared), c.found);
    EXPECT_EQ(declared, c.declared);
  }
}

TEST_F(State, ResetStartsTheNextUnitAfresh) {
  offset_type off;
  compiler.compile_time_define_memvar(rt.sym("A"), &off);
  compiler.statement_number = 5;
  compiler.parameter_count = 2;
  compiler.parameter_memory_class = 0;
  compiler.imports.push_back(String("m.prg"));
  compiler.module_file_name = new String("x.prg");
  compiler.add_message(10, loc(3));
  label();
  code().push_back(loc(1), new VmOpReturn());
  EXPECT_EQ(error_of([&] { compiler.reset(COMPILE_KIND_PROGRAM, false); }), -1);  // not assembled yet
  assemble();
  compiler.reset(COMPILE_KIND_METHOD, false);
  EXPECT_EQ(compiler.compile_kind, 15u);
  EXPECT_TRUE(compiler.labels.empty());
  EXPECT_EQ(compiler.statement_number, 0u);
  EXPECT_EQ(compiler.parameter_count, 0u);
  EXPECT_EQ(compiler.parameter_memory_class, 2u);
  EXPECT_EQ(compiler.type.width, 0);
  EXPECT_EQ(compiler.imports.size(), 1u);
  EXPECT_EQ(compiler.messages.size(), 1u);  // messages survive every reset
  compiler.compile_time_define_memvar(rt.sym("B"), &off);
  EXPECT_EQ(off, 1u);
  compiler.reset(COMPILE_KIND_PROGRAM, true);
  EXPECT_TRUE(compiler.imports.empty());
  EXPECT_EQ(compiler.module_file_name, nullptr);
  EXPECT_EQ(compiler.messages.front().code, 10u);
  EXPECT_EQ(compiler.messages.front().location2.begin_line, 3u);
}

void fn_one(VmStack*, size_t, Variant*) {}
void fn_two(VmStack*, size_t, Variant*) {}

TEST_F(State, TheFirstLibraryAcceptingANameWins) {
  const module_function_st first_rows[] = {{"alpha", "", fn_one, "I", 3}, {nullptr, nullptr, nullptr, nullptr, 0}};
  const module_function_st second_rows[] = {{"alpha", "", fn_two, "I", 0},
                                            {"beta", "", fn_two, "I", 0},
                                            {nullptr, nullptr, nullptr, nullptr, 0}};
  module_description_st d1{}, d2{};
  d1.functions = first_rows;
  d2.functions = second_rows;
  Library first(d1), second(d2);
  first.load_definitions(rt.runtime);
  second.load_definitions(rt.runtime);
  compiler.libraries = {&first, &second};
  library_function_result_st r;
  ASSERT_TRUE(compiler.find_library_function(String("ALPH"), &r));  // an abbreviation
  EXPECT_EQ(r.library, &first);
  EXPECT_EQ(r.definition->function, fn_one);
  ASSERT_TRUE(compiler.find_library_function(String("beta"), &r));
  EXPECT_EQ(r.library, &second);
  EXPECT_FALSE(compiler.find_library_function(String("gamma"), &r));
}

}  // namespace
}  // namespace qzbase::testing_compiler
