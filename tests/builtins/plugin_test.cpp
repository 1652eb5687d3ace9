// Plug-in libraries: where SET LIBRARY finds them, attaching once, abbreviations, objects that do
// not describe themselves, relative paths and flawed tables.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "builtins/library.h"
#include "compiler/build_input.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "builtins_support.h"
#include "vm/runtime_vm.h"

namespace qzbase {
namespace {

using namespace testing_builtins;
namespace fs = std::filesystem;

const fs::path kBeside = fs::path(QZ_PLUGIN_DIR) / "beside";
const fs::path kPath = fs::path(QZ_PLUGIN_DIR) / "path";

std::string ident(VmStack* stack, Library* lib) {
  Variant r = call(stack, lib->find_function(String("testlibident"))->function, {});
  return static_cast<String>(r).u8str();
}

bool is_loaded(const fs::path& p) {
  void* h = dlopen(p.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
}

TEST(PluginLibrary, FoundBesideTheModuleFileFirst) {
  RuntimeFixture f;
  f.runtime->set_module_file_name((kBeside / "host").c_str());
  Library* lib = f.runtime->load_library("testlib");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(ident(f.stack, lib), "beside");
  EXPECT_EQ(lib->file()->path(), fs::canonical(kBeside / "libqzbase0-testlib.so"));
}

TEST(PluginLibrary, ThenByTheLoaderThenAsAPlainFileName) {
  RuntimeFixture f;
  f.runtime->set_module_file_name((fs::path(QZ_PLUGIN_DIR) / "host").c_str());  // nothing beside it
  Library* lib = f.runtime->load_library("testlib");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(ident(f.stack, lib), "loader");
  EXPECT_EQ(lib->file()->path(), fs::canonical(kPath / "libqzbase0-testlib.so"));
  Library* plain = f.runtime->load_library("plain");  // no libqzbase0-plain.so anywhere: plain.so
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(ident(f.stack, plain), "plain");
  EXPECT_EQ(f.runtime->load_library("nosuchlib"), nullptr);
}

TEST(PluginLibrary, TwoCaseSpellingsAttachOnceAndAbbreviationsCall) {
  RuntimeFixture f;
  f.runtime->set_module_file_name((kBeside / "host").c_str());
  f.runtime->set_library_to(f.stack, String("testlib"), false);
  f.runtime->set_library_to(f.stack, String("TESTLIB"), true);
  Library* lib = f.runtime->load_library("TestLib");
  Variant n = call(f.stack, lib->find_function(String("tl_attaches"))->function, {});
  EXPECT_EQ(static_cast<long>(n), 1);
  // A call by name goes through the SET LIBRARY list; four letters are enough.
  library_function_st found;
  ASSERT_TRUE(find_runtime_vm(f.runtime)->call_resolver->find_library_function(f.stack, String("TEST"), &found));
  EXPECT_EQ(found.function, lib->find_function(String("testlibident"))->function);
  EXPECT_FALSE(find_runtime_vm(f.runtime)->call_resolver->find_library_function(f.stack, String("tes"), &found));
  f.runtime->set_library_to_null();
  EXPECT_FALSE(find_runtime_vm(f.runtime)->call_resolver->find_library_function(f.stack, String("test"), &found));
}

TEST(PluginLibrary, AnObjectWithoutTheDescribeEntryIsClosedAndNotFound) {
  RuntimeFixture f;
  f.runtime->set_module_file_name((kBeside / "host").c_str());
  EXPECT_EQ(f.runtime->load_library("nodescribe"), nullptr);
  EXPECT_FALSE(is_loaded(kBeside / "libqzbase0-nodescribe.so"));
  auto e = error_of([&] { f.runtime->set_library_to(f.stack, String("nodescribe"), false); });
  EXPECT_EQ(e, std::make_pair(1, std::string("nodescribe")));
}

TEST(PluginLibrary, RelativePathWithADirectoryLoads) {
  RuntimeFixture f;
  fs::path relative = fs::relative(kBeside / "libqzbase0-testlib.so", fs::current_path());
  ASSERT_TRUE(relative.has_parent_path());
  Library* lib = f.runtime->load_library(relative);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(lib->file()->path(), fs::canonical(kBeside / "libqzbase0-testlib.so"));
  // Without the extension the same path is found with ".so" added.
  fs::path stem = relative;
  stem.replace_extension();
  EXPECT_NE(f.runtime->load_library(stem), nullptr);
  // A relative path that does not exist is not found, and nothing throws.
  EXPECT_EQ(LibraryFile::openLibrary("./no/such/dir/lib.so"), nullptr);
}

TEST(PluginLibrary, ADuplicateAbbreviationIsRefusedAndTheObjectClosed) {
  RuntimeFixture f;
  f.runtime->set_module_file_name((kBeside / "host").c_str());
  auto e = error_of([&] { f.runtime->set_library_to(f.stack, String("clash"), false); });
  EXPECT_EQ(e, std::make_pair(1001, std::string("libqzbase0-clash.so")));
  EXPECT_FALSE(is_loaded(kBeside / "libqzbase0-clash.so"));
  // Nothing was kept: a second attempt opens and refuses it again.
  EXPECT_EQ(error_of([&] { f.runtime->load_library("clash"); }).first, 1001);
}

TEST(PluginLibrary, TheBuiltinTableKeepsClashesABrokenInvariant) {
  static const module_function_st rows[] = {
      {"abcdef", "", nullptr, "", 3}, {"abcxyz", "", nullptr, "", 3}, {nullptr, nullptr, nullptr, nullptr, 0}};
  module_description_st d{};
  d.functions = rows;
  Library lib(d);
  RuntimeFixture f;
  EXPECT_THROW(lib.load_definitions(f.runtime), assert_failed_exception);
}

}  // namespace
}  // namespace qzbase

namespace qzbase {
namespace {

// IMPORTS of a plug-in on a command line: the library joins the command's libraries, so a call of
// its function after the IMPORTS binds to it when the command is compiled.
TEST(PluginLibrary, ImportsOnACommandLine) {
  RuntimeFixture f;
  f.runtime->set_module_file_name((kBeside / "host").c_str());
  BuildInput input(f.stack);
  std::unique_ptr<Program> program(input.build_command(String("PUBLIC x\nIMPORTS testlib\nx = testlibident()\n"), nullptr));
  EXPECT_TRUE(input.messages.empty());
  Variant result;
  execute_program(f.stack, 0, false, program.get(), &result);
  result.release(f.stack);
  const Program* read = nullptr;
  input.build_expression(String("x"), &read);
  std::unique_ptr<const Program> owned(read);
  Variant value;
  execute_program(f.stack, 0, false, read, &value);
  EXPECT_EQ(static_cast<String>(value).u8str(), "beside");
  value.release(f.stack);
}

}  // namespace
}  // namespace qzbase
