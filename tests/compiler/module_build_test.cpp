// module_build_test.cpp - whole module files through the front door: main programs, FUNCTION
// items, stray statements, IMPORT of module files, and loading domains from disk.
#include "compiler_support.h"

#include "capture_screen.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "compiler/build_input.h"
#include "host/module_loading.h"
#include "platform/screen.h"
#include "temp_dir.h"
#include "vm/execute.h"
#include "vm/module.h"

namespace qzbase::testing_compiler {
namespace {

using testing_files::CwdGuard;
using testing_files::TempDir;
namespace fs = std::filesystem;

using testing_screen::CaptureScreen;

class ModuleBuild : public ::testing::Test {
 public:
  ModuleBuild() : redirect(rt.runtime, &screen) {}
  ~ModuleBuild() override {
    for (auto& [name, module] : loaded) delete module;
  }

  // Builds text as the module file `name` of the temporary directory.
  Module* build(const char* text, BuildInput& input, const char* name = "main.prg") {
    return input.build_module(String(dir.path / name), String(text), &loaded);
  }

  // Runs the module's main program (or its entry procedure); returns the error number.
  int run(const Module* module) {
    const UserFunction* entry = module->main != nullptr ? module->main : module->entry;
    return error_of([&] {
      Variant result;
      execute_program(rt.stack, 0, false, entry->program(), &result);
      result.release(rt.stack);
    });
  }

  symbol_id_type sym(const char* name) { return rt.sym(name); }

  RuntimeFixture rt;
  CaptureScreen screen;
  ScreenRedirect redirect;
  TempDir dir;
  string_key_map<Module*> loaded;
};

TEST_F(ModuleBuild, MainProgramAndFunctions) {
  BuildInput input(rt.stack);
  Module* module = build("? twice(21)\nFUNCTION twice(n)\nRETURN n * 2\nENDFUNC\nFUNCTION other\n", input);
  ASSERT_NE(module->main, nullptr);
  EXPECT_EQ(module->entry, module->main);
  EXPECT_EQ(module->procedures.size(), 2u);
  EXPECT_EQ(module->procedures.count(sym("twice")), 1u);
  EXPECT_EQ(module->procedures.count(sym("other")), 1u);  // a FUNCTION with no statement is empty
  EXPECT_EQ(loaded.size(), 1u);
  EXPECT_EQ(module->libraries.size(), 1u);
  EXPECT_EQ(run(module), 0);
  EXPECT_EQ(screen.out, "42\n");
}

// A module of FUNCTIONs only has no main program; its entry is the FUNCTION named like the file.
TEST_F(ModuleBuild, FunctionsOnly) {
  BuildInput input(rt.stack);
  Module* module = build("FUNCTION helper\nRETURN 1\nFUNCTION tool\n? 'tool runs'\nENDFUNC\n", input, "tool.prg");
  EXPECT_EQ(module->main, nullptr);
  ASSERT_NE(module->entry, nullptr);
  EXPECT_EQ(module->entry, module->procedures.at(sym("tool")));
  EXPECT_EQ(run(module), 0);
  EXPECT_EQ(screen.out, "tool runs\n");

  BuildInput empty_input(rt.stack);
  Module* empty = build("", empty_input, "empty.prg");
  EXPECT_EQ(empty->main, nullptr);
  EXPECT_TRUE(empty->procedures.empty());
}

// A stray terminator between module items: message 10 at it, the statements after it still give
// their messages, and the build fails with the first code. The failed module is not registered.
TEST_F(ModuleBuild, StrayStatementIsAMessage) {
  BuildInput input(rt.stack);
  String text("? 1\nFUNCTION f\nRETURN 1\nENDCASE\nENDIF\nFUNCTION g\n");
  EXPECT_EQ(error_of([&] { input.build_module(String(dir.path / "bad.prg"), text, &loaded); }), 10);
  ASSERT_EQ(input.messages.size(), 2u);
  EXPECT_EQ(input.messages.records.front().code, 10u);
  EXPECT_EQ(input.messages.records.front().location.begin_line, 4u);
  EXPECT_EQ(input.messages.records.back().code, 1211u);
  EXPECT_EQ(input.messages.records.back().location.begin_line, 5u);
  EXPECT_TRUE(loaded.empty());
  CaptureScreen messages;
  format_build_error(input, text, &messages);
  EXPECT_EQ(messages.err.substr(0, messages.err.find('\n', messages.err.find('\n') + 1)),
            "(Compiler error) 10 - Syntax error.\n in " + (dir.path / "bad.prg").string() +
                ", line 4, column 1, somewhere at: ENDCASE<0A>");
}

// The first message's code is the build's error; a literal the parser cannot convert fails the
// build even though the line parsed.
TEST_F(ModuleBuild, FirstMessageDecidesTheError) {
  BuildInput only_compiler(rt.stack);
  EXPECT_EQ(error_of([&] { build("x = 1\nENDIF\n", only_compiler, "endif.prg"); }), 1211);
  BuildInput input(rt.stack);
  EXPECT_EQ(error_of([&] { build("x = 1\nENDIF\n? 1 +\n", input); }), 10);
  ASSERT_EQ(input.messages.size(), 2u);
  EXPECT_EQ(input.messages.records.front().category, 1u);  // the parser's message comes first
  EXPECT_EQ(input.messages.records.back().category, 2u);

  BuildInput literal(rt.stack);
  EXPECT_EQ(error_of([&] { build("x = {^2021-02-30}\n", literal, "lit.prg"); }), 10);
  ASSERT_FALSE(literal.messages.empty());
  EXPECT_EQ(literal.messages.records.front().category, 1u);
}

// IMPORTS of a module file: looked for beside the importing module with ".prg" added; its
// FUNCTIONs are called from the importing module; a file importing itself loads once.
TEST_F(ModuleBuild, ImportsBesideTheModule) {
  dir.write("lib/util.prg", "IMPORTS 'util'\nFUNCTION triple(n)\nRETURN n * 3\n");
  dir.write("main.prg", "IMPORTS 'lib/util'\n? triple(5)\n");
  std::unique_ptr<ModuleDomain> domain(load_module_domain(String(dir.path / "main.prg"), rt.stack));
  EXPECT_EQ(domain->modules.size(), 2u);
  EXPECT_EQ(domain->name.u8str(), (dir.path / "main.prg").string());
  ASSERT_EQ(domain->module->imports.size(), 1u);
  const Module* util = domain->module->imports.front();
  EXPECT_EQ(util->name.u8str(), (dir.path / "lib/util.prg").string());
  ASSERT_EQ(util->imports.size(), 1u);
  EXPECT_EQ(util->imports.front(), util);  // the self-import found the module being loaded
  EXPECT_EQ(run(domain->module), 0);
  EXPECT_EQ(screen.out, "15\n");
  EXPECT_FALSE(domain->is_outdated());
}

// Two modules importing each other load once each; a name without a directory that is not beside
// the module is found along the program search.
TEST_F(ModuleBuild, MutualImportsAndSearch) {
  TempDir other;
  other.write("b.prg", "IMPORTS '" + (dir.path / "a.prg").string() + "'\nFUNCTION fb\nRETURN 'b'\n");
  dir.write("a.prg", "IMPORTS 'b'\n? fb()\nFUNCTION fa\nRETURN 'a'\n");
  CwdGuard cwd(other.path);
  std::unique_ptr<ModuleDomain> domain(load_module_domain(String(dir.path / "a.prg"), rt.stack));
  EXPECT_EQ(domain->modules.size(), 2u);
  const Module* b = domain->module->imports.front();
  EXPECT_EQ(b->imports.front(), domain->module);
  EXPECT_EQ(run(domain->module), 0);
  EXPECT_EQ(screen.out, "b\n");
}

// An IMPORT that names nothing findable is message 202 at the statement; an operand that does not
// compile reports its own messages and is not run.
TEST_F(ModuleBuild, ImportFailures) {
  BuildInput input(rt.stack);
  EXPECT_EQ(error_of([&] { build("? 1\nIMPORTS 'nowhere'\n", input); }), 202);
  ASSERT_EQ(input.messages.size(), 1u);
  EXPECT_EQ(input.messages.records.front().location.begin_line, 2u);

  BuildInput bad_operand(rt.stack);
  EXPECT_EQ(error_of([&] { build("IMPORTS at()\n", bad_operand, "op.prg"); }), 11);

  // A runtime error of the operand ends the build as that error.
  BuildInput raising(rt.stack);
  EXPECT_EQ(error_of([&] { build("IMPORTS (undefined_variable)\n", raising, "raise.prg"); }), 12);
}

// On a command line or in a script there is no module to load an imported file into.
TEST_F(ModuleBuild, ImportOfAFileInACommand) {
  dir.write("util.prg", "FUNCTION f\n");
  CwdGuard cwd(dir.path);
  BuildInput input(rt.stack);
  EXPECT_EQ(error_of([&] { delete input.build_command(String("IMPORTS 'util'\n"), nullptr); }), 10);
  ASSERT_EQ(input.messages.size(), 1u);
  EXPECT_EQ(input.messages.records.front().code, 1001u);
}

// A build error in an imported file is printed with that file's name and ends the load of the
// whole domain; nothing is left behind.
TEST_F(ModuleBuild, BuildErrorInAnImport) {
  dir.write("broken.prg", "FUNCTION f\n? 1 +\n");
  dir.write("main.prg", "IMPORTS 'broken'\n? f()\n");
  EXPECT_EQ(error_of([&] { delete load_module_domain(String(dir.path / "main.prg"), rt.stack); }), 10);
  EXPECT_NE(screen.err.find("(Parser error) 10 - Syntax error.\n in " + (dir.path / "broken.prg").string() +
                            ", line 2"),
            std::string::npos)
      << screen.err;
  EXPECT_EQ(error_of([&] { delete load_module_domain(String(dir.path / "missing.prg"), rt.stack); }), 1);
}

// Editing an imported file makes the domain outdated, not only editing the program file.
TEST_F(ModuleBuild, OutdatedWhenAnImportChanges) {
  fs::path util = dir.write("util.prg", "FUNCTION f\nRETURN 1\n");
  fs::path main = dir.write("main.prg", "IMPORTS 'util'\n? f()\n");
  std::unique_ptr<ModuleDomain> domain(load_module_domain(String(main), rt.stack));
  EXPECT_FALSE(domain->is_outdated());
  fs::last_write_time(util, fs::last_write_time(util) - std::chrono::seconds(5));
  EXPECT_TRUE(domain->is_outdated());
  std::unique_ptr<ModuleDomain> again(load_module_domain(String(main), rt.stack));
  EXPECT_FALSE(again->is_outdated());
  fs::last_write_time(main, fs::last_write_time(main) + std::chrono::seconds(5));
  EXPECT_TRUE(again->is_outdated());
  fs::remove(util);
  EXPECT_TRUE(domain->is_outdated());  // a vanished import: outdated, no exception
}

// Classes: the module's own class keeps its name against an imported class of the same name.
TEST_F(ModuleBuild, OwnClassWinsOverImportedClass) {
  dir.write("shapes.prg", "DEFINE CLASS shape AS Custom\nsides = 3\nENDDEFINE\nDEFINE CLASS circle AS Custom\nENDDEFINE\n");
  dir.write("main.prg", "IMPORTS 'shapes'\nDEFINE CLASS shape AS Custom\nsides = 4\nENDDEFINE\n");
  std::unique_ptr<ModuleDomain> domain(load_module_domain(String(dir.path / "main.prg"), rt.stack));
  const Module* main = domain->module;
  ASSERT_EQ(main->classes.size(), 2u);
  EXPECT_TRUE(main->defines(main->classes.at(sym("shape"))));
  EXPECT_FALSE(main->defines(main->classes.at(sym("circle"))));
}

}  // namespace
}  // namespace qzbase::testing_compiler
