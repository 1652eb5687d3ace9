// run_commands_test.cpp - DO of procedures and program files, SET PROCEDURE TO with calls by name
// into its modules, and SET LIBRARY TO from a program, all run from real files.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <filesystem>
#include <string>
#include <vector>

#include "builtins_support.h"
#include "host/module_cache.h"
#include "host/runtime.h"
#include "temp_dir.h"

namespace qzbase {
namespace {

using testing_builtins::CaptureScreen;
using testing_files::CwdGuard;
using testing_files::TempDir;
namespace fs = std::filesystem;

class RunCommands : public ::testing::Test {
 public:
  RunCommands() : cwd(dir.path), runtime(CreateRuntime(&screen)) {}
  ~RunCommands() override { ReleaseRuntime(runtime); }

  // Writes main.prg and runs it; returns the error number.
  int run(const std::string& text) {
    dir.write("main.prg", text);
    return runtime->run_program(String("main.prg"), 0, nullptr);
  }

  std::vector<std::string> procedure_keys() const {
    std::vector<std::string> out;
    for (const String& key : runtime->priv->procedure_cache.keys()) out.push_back(key.u8str());
    return out;
  }

  TempDir dir;
  CwdGuard cwd;
  CaptureScreen screen;
  Runtime* runtime;
};

TEST_F(RunCommands, DoAProcedureOfTheRunningModuleWithArguments) {
  // A file named like the procedure exists, but the module's own procedure wins.
  dir.write("show", "? 'the file'\n");
  EXPECT_EQ(run("x = 1\nDO show WITH 'a', x + 1\n? 'done'\n"
                "FUNCTION show\nLPARAMETERS p, q\n? p, q\nRETURN 99\n"),
            0)
      << screen.err;
  EXPECT_EQ(screen.out, "a 2\ndone\n");
}

TEST_F(RunCommands, DoWithAVariablePassesItByReference) {
  EXPECT_EQ(run("n = 1\nDO bump WITH n\n? n\nFUNCTION bump\nLPARAMETERS v\nv = v + 10\n"), 0) << screen.err;
  EXPECT_EQ(screen.out, "11\n");
}

TEST_F(RunCommands, DoAFileWithArguments) {
  dir.write("sub.prg", "LPARAMETERS a, b\n? a + b\n");
  EXPECT_EQ(run("DO sub.prg WITH 2, 3\nDO sub.prg WITH 'x', 'y'\n"), 0) << screen.err;
  EXPECT_EQ(screen.out, "5\nxy\n");
  // Loaded once through the DO cache, announced at each DO.
  EXPECT_EQ(runtime->priv->call_cache.keys().size(), 1u);
}

TEST_F(RunCommands, DoAProcedureInAFile) {
  dir.write("lib.prg", "FUNCTION greet\nLPARAMETERS who\n? 'hello ' + who\n");
  EXPECT_EQ(run("DO greet IN 'lib.prg' WITH 'you'\n"), 0) << screen.err;
  EXPECT_EQ(screen.out, "hello you\n");
  screen.err.clear();
  EXPECT_EQ(run("DO missing IN 'lib.prg'\n"), 1);
  EXPECT_NE(screen.err.find("File 'missing' does not exist."), std::string::npos) << screen.err;
}

TEST_F(RunCommands, DoOfAMissingFileOrAFileWithoutEntry) {
  EXPECT_EQ(run("DO nosuch.prg\n"), 1);
  EXPECT_NE(screen.err.find("File 'nosuch.prg' does not exist."), std::string::npos) << screen.err;
  dir.write("helpers.prg", "FUNCTION other\nRETURN 1\n");
  screen.err.clear();
  EXPECT_EQ(run("DO helpers.prg\n"), 1);
  EXPECT_NE(screen.err.find("File 'helpers.prg' does not exist."), std::string::npos) << screen.err;
}

TEST_F(RunCommands, DoFromACommandLineLoadsTheFile) {
  dir.write("sub.prg", "LPARAMETERS a\n? 'sub', a\n");
  EXPECT_EQ(runtime->run_command(String("DO sub.prg WITH 7")), 0) << screen.err;
  EXPECT_EQ(screen.out, "sub 7\n");
}

TEST_F(RunCommands, SetProcedureMakesItsProceduresCallable) {
  dir.write("a.prg", "FUNCTION fa\nRETURN 'from a'\n");
  dir.write("b.prg", "FUNCTION fb\nRETURN 'from b'\nFUNCTION fa\nRETURN 'a from b'\n");
  EXPECT_EQ(run("SET PROCEDURE TO a.prg\n? fa()\n"), 0) << screen.err;
  EXPECT_EQ(screen.out, "from a\n");
  EXPECT_EQ(procedure_keys(), std::vector<std::string>{(dir.path / "a.prg").string()});

  // Without ADDITIVE the list is replaced.
  screen.out.clear();
  EXPECT_EQ(run("SET PROCEDURE TO b.prg\n? fb()\n"), 0) << screen.err;
  EXPECT_EQ(screen.out, "from b\n");
  EXPECT_EQ(procedure_keys(), std::vector<std::string>{(dir.path / "b.prg").string()});

  // With ADDITIVE both, in key order; a name in both comes from the first key.
  screen.out.clear();
  EXPECT_EQ(run("SET PROCEDURE TO a.prg ADDITIVE\n? fb()\n? fa()\n"), 0) << screen.err;
  EXPECT_EQ(screen.out, "from b\nfrom a\n");
  EXPECT_EQ(procedure_keys(), (std::vector<std::string>{(dir.path / "a.prg").string(), (dir.path / "b.prg").string()}));

  // SET PROCEDURE TO with nothing empties it; the cleared domains are retired, not freed.
  screen.err.clear();
  EXPECT_EQ(run("SET PROCEDURE TO\n? fa()\n"), 1);
  EXPECT_NE(screen.err.find("'FA'"), std::string::npos) << screen.err;
  EXPECT_TRUE(procedure_keys().empty());
  EXPECT_EQ(runtime->priv->procedure_cache.retired_count(), 3u);
}

TEST_F(RunCommands, SetProcedureOfAMissingFileKeepsTheEntriesBeforeIt) {
  dir.write("a.prg", "FUNCTION fa\nRETURN 'from a'\n");
  EXPECT_EQ(run("SET PROCEDURE TO a.prg, nosuch.prg\n"), 1);
  EXPECT_NE(screen.err.find("File 'nosuch.prg' does not exist."), std::string::npos) << screen.err;
  EXPECT_EQ(procedure_keys(), std::vector<std::string>{(dir.path / "a.prg").string()});
}

TEST_F(RunCommands, SetLibraryFromAProgramCallsThePluginFunction) {
  runtime->set_module_file_name((fs::path(QZ_PLUGIN_DIR) / "beside" / "host").c_str());
  EXPECT_EQ(run("SET LIBRARY TO testlib\n? testlibident()\n"), 0) << screen.err;
  EXPECT_EQ(screen.out, "beside\n");
  screen.err.clear();
  EXPECT_EQ(run("SET LIBRARY TO\n? testlibident()\n"), 1);
  screen.err.clear();
  EXPECT_EQ(run("SET LIBRARY TO nosuchlib\n"), 1);
  EXPECT_NE(screen.err.find("nosuchlib"), std::string::npos) << screen.err;
}

}  // namespace
}  // namespace qzbase
