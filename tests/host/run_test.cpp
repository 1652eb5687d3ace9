// run_test.cpp - running program files and command lines through the Runtime: arguments, errors,
// QUIT, the program cache (search order, reuse, reload, failed builds), host stacks, shutdown and
// the language threads still running at release.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/module_cache.h"
#include "host/runtime.h"
#include "temp_dir.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {
namespace {

using testing_files::CwdGuard;
using testing_files::TempDir;
namespace fs = std::filesystem;

class RunScreen : public Screen {
 public:
  void internal_out(const String& text) override { out += text.u8str(); }
  void internal_err(const String& text) override { err += text.u8str(); }
  void on_load_module(VmStack*, const String& file) override {
    std::lock_guard<std::mutex> lock(loads_lock);
    loads.push_back(file.u8str());
  }
  std::mutex loads_lock;
  std::string out;
  std::string err;
  std::vector<std::string> loads;
};

// A runtime on a capturing screen, working in a temporary directory.
class Run : public ::testing::Test {
 public:
  Run() : cwd(dir.path), runtime(CreateRuntime(&screen)) {}
  ~Run() override { ReleaseRuntime(runtime); }

  int run(const std::string& name, std::vector<const char*> args = {}) {
    return runtime->run_program(String(name.c_str()), static_cast<int>(args.size()), args.data());
  }

  TempDir dir;
  CwdGuard cwd;
  RunScreen screen;
  Runtime* runtime;
};

TEST(RunLifecycle, CreateAndReleaseWithoutARunMakesNoMainStack) {
  RunScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  EXPECT_EQ(runtime->priv->main_stack, nullptr);
  ReleaseRuntime(runtime);  // the leak checker sees anything left behind
  EXPECT_TRUE(screen.out.empty());
  EXPECT_TRUE(screen.err.empty());
}

TEST_F(Run, MainStackIsMadeOnceWithItsSizes) {
  VmStack* stack = nullptr;
  EXPECT_EQ(GetMainStack(runtime, &stack), 0);
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(stack->nslots, 65536u);
  EXPECT_EQ(stack->nundo, 8192u);
  VmStack* again = nullptr;
  GetMainStack(runtime, &again);
  EXPECT_EQ(again, stack);

  VmStack* own = nullptr;
  EXPECT_EQ(CreateStack(runtime, 1000, &own), 0);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->nslots, 1000u);
  EXPECT_EQ(own->nundo, 1000u);
  EXPECT_EQ(ReleaseStack(own), 0);
  EXPECT_EQ(ReleaseStack(nullptr), 0);
}

// argc counts what the host passes (the script name first); the declarations may come in any
// order and as LPARAMETERS or PARAMETERS.
TEST_F(Run, ArgcAndArgvReachTheMainProgram) {
  struct Case {
    const char* head;
    std::vector<const char*> args;
    const char* out;
  };
  const Case cases[] = {
      {"LPARAMETERS argc, argv", {"prog.prg", "a", "b"}, "3\nprog.prg|a|b\n"},
      {"PARAMETERS argc, argv", {"prog.prg", "x"}, "2\nprog.prg|x\n"},
      {"LPARAMETERS argv, argc", {"prog.prg", "a", "b"}, "3\nprog.prg|a|b\n"},
      {"LPARAMETERS argc, argv", {}, "0\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    dir.write("prog.prg", std::string(c.head) +
                              "\n? argc\ns = ''\nFOR i = 1 TO argc\n  s = s + IIF(i > 1, '|', '') + argv[i]\nENDFOR\n? s\n");
    screen.out.clear();
    EXPECT_EQ(run("prog.prg", c.args), 0) << screen.err;
    EXPECT_EQ(screen.out, c.out);
    EXPECT_TRUE(screen.err.empty()) << screen.err;
  }
}

TEST_F(Run, ArgumentsAreNotPassedToAProgramThatDoesNotDeclareThem) {
  // A program without parameters would refuse any argument (94).
  dir.write("plain.prg", "? 'plain'\n");
  EXPECT_EQ(run("plain.prg", {"plain.prg", "a"}), 0) << screen.err;
  EXPECT_EQ(screen.out, "plain\n");
  // Other parameters stay empty; argv alone gets the array.
  dir.write("other.prg", "LPARAMETERS a, argv\n? IIF(a, 'set', 'empty'), argv[1]\n");
  screen.out.clear();
  EXPECT_EQ(run("other.prg", {"other.prg", "x"}), 0) << screen.err;
  EXPECT_EQ(screen.out, "empty other.prg\n");
}

TEST_F(Run, RunsLeaveTheMainStackAsTheyFoundIt) {
  VmStack* stack = runtime->get_main_stack();
  Memvar* sp = stack->sp;
  dir.write("ok.prg", "LPARAMETERS argc, argv\n? argc\n");
  dir.write("bad.prg", "LPARAMETERS argc, argv\nx = 1 + 'a'\n");
  EXPECT_EQ(run("ok.prg", {"ok.prg", "a"}), 0);
  EXPECT_EQ(stack->sp, sp);
  EXPECT_EQ(run("bad.prg", {"bad.prg", "a"}), 107);
  EXPECT_EQ(stack->sp, sp);
  EXPECT_EQ(stack->frame, nullptr);
  EXPECT_EQ(stack->debugger, nullptr);  // the run's debugger is gone again
}

TEST_F(Run, ARuntimeErrorIsPrintedAndReturned) {
  dir.write("err.prg", "? 'before'\nx = undefined_var + 1\n? 'after'\n");
  EXPECT_EQ(run("err.prg"), 12);
  EXPECT_EQ(screen.out, "before\n");
  EXPECT_EQ(screen.err.find("(Runtime error) 12 - Variable 'UNDEFINED_VAR' is not found.\n in " +
                            (dir.path / "err.prg").string() + ", line 2, column 5, program err\n"),
            0u)
      << screen.err;
  // The message closes the report.
  const std::string tail = "Variable 'UNDEFINED_VAR' is not found.\n";
  ASSERT_GE(screen.err.size(), tail.size()) << screen.err;
  EXPECT_EQ(screen.err.substr(screen.err.size() - tail.size()), tail) << screen.err;
}

TEST_F(Run, QuitEndsTheProgramQuietly) {
  dir.write("quit.prg", "QUIT\n? 'not reached'\n");
  EXPECT_EQ(RunProgram(runtime, String("quit.prg")), 0);
  EXPECT_TRUE(screen.out.empty());
  EXPECT_TRUE(screen.err.empty());
  dir.write("cancel.prg", "x = 1\nCANCEL\n? 'not reached'\n");
  EXPECT_EQ(RunProgram(runtime, String("cancel.prg")), 0);
  EXPECT_TRUE(screen.out.empty());
  EXPECT_TRUE(screen.err.empty());
}

TEST_F(Run, AMissingFileIsErrorOne) {
  EXPECT_EQ(run("x.prg"), 1);
  EXPECT_EQ(screen.err, "File 'x.prg' does not exist.\n");
  EXPECT_TRUE(screen.loads.empty());
  const Module* module = nullptr;
  try {
    runtime->load_module(String("x.prg"), runtime->get_main_stack(), &module);
    FAIL() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.message.u8str(), "File 'x.prg' does not exist.");
  }
}

TEST_F(Run, AFileOfFunctionsOnlyRunsTheOneNamedLikeIt) {
  dir.write("tool.prg", "FUNCTION helper\n? 'helper'\nRETURN 1\nFUNCTION tool\n? 'tool'\nENDFUNC\n");
  EXPECT_EQ(run("tool.prg"), 0) << screen.err;
  EXPECT_EQ(screen.out, "tool\n");
  dir.write("none.prg", "FUNCTION helper\n? 'helper'\nRETURN 1\n");
  screen.out.clear();
  EXPECT_EQ(run("none.prg"), 0) << screen.err;
  EXPECT_TRUE(screen.out.empty());
}

// The main stack's first data session has the fixed start values, not the locale's formats.
TEST_F(Run, OutputDoesNotDependOnTheSystemFormats) {
  std::strcpy(runtime->sys_point_text, ",");
  runtime->sys_point = U',';
  runtime->sys_separator = U'.';
  runtime->sys_date_format = DATE_GERMAN;
  std::strcpy(runtime->sys_mark, ".");
  dir.write("fmt.prg", "? 1.5\n? {^2021-02-03}\n");
  EXPECT_EQ(run("fmt.prg"), 0) << screen.err;
  EXPECT_EQ(screen.out, "1.5\n02/03/21\n");
}

TEST_F(Run, ACommandWithASyntaxErrorPrintsItAndLeavesTheStack) {
  VmStack* stack = runtime->get_main_stack();
  Memvar* sp = stack->sp;
  EXPECT_EQ(runtime->run_command(String("x = (1 +")), 10);
  EXPECT_EQ(stack->sp, sp);
  EXPECT_NE(screen.err.find("(Parser error)"), std::string::npos) << screen.err;
  EXPECT_NE(screen.err.find("<command prompt>"), std::string::npos) << screen.err;
  const std::string tail = "Syntax error.\n";
  ASSERT_GE(screen.err.size(), tail.size());
  EXPECT_EQ(screen.err.substr(screen.err.size() - tail.size()), tail) << screen.err;
  EXPECT_TRUE(screen.out.empty());
}

TEST_F(Run, CommandsShareTheMainStack) {
  RunCommand(runtime, String("x = 20"));
  RunScript(runtime, String("? x + 1"));
  EXPECT_EQ(screen.out, "21\n");
  EXPECT_TRUE(screen.err.empty()) << screen.err;
  VmStack* stack = runtime->get_main_stack();
  Memvar* sp = stack->sp;
  EXPECT_EQ(runtime->run_command(String("? undefined_var")), 12);
  EXPECT_EQ(stack->sp, sp);
  // QUIT is the caller's to take.
  EXPECT_THROW(runtime->run_command(String("QUIT")), RuntimeQuit);
  EXPECT_EQ(stack->sp, sp);
}

// Script text runs without frame slots: nested loops keep their own counters and temporaries, and
// nested WITH blocks resolve "." to the innermost object.
TEST_F(Run, ScriptsWithNestedBlocks) {
  RunScript(runtime, String("n = 0\nFOR i = 1 TO 3\n  FOR j = 1 TO 4\n    FOR k = 1 TO 2\n      n = n + 1\n"
                            "    ENDFOR\n  ENDFOR\nENDFOR\n? n, i, j, k\n"));
  EXPECT_EQ(screen.out, "24 4 5 3\n");
  EXPECT_TRUE(screen.err.empty()) << screen.err;
  screen.out.clear();
  // The objects come from a procedure file: exception objects of two different errors.
  dir.write("objects.prg", "FUNCTION caught(n)\n  TRY\n    IF n = 1\n      x = undefined_one\n    ELSE\n"
                           "      s = 'a'\n      x = s * 2\n    ENDIF\n  CATCH TO e\n  ENDTRY\n  RETURN e\n");
  RunCommand(runtime, String("SET PROCEDURE TO objects.prg"));
  RunScript(runtime, String("first = caught(1)\nsecond = caught(2)\nWITH first\n  WITH second\n    ? .ErrorNo\n"
                            "  ENDWITH\n  ? .ErrorNo\nENDWITH\n"));
  EXPECT_EQ(screen.out, "11\n12\n");
  EXPECT_TRUE(screen.err.empty()) << screen.err;
}

TEST_F(Run, ANameInTheCurrentDirectoryWinsOverSetPath) {
  TempDir other;
  other.write("p.prg", "? 'path'\n");
  other.write("only.prg", "? 'only on the path'\n");
  dir.write("p.prg", "? 'current'\n");
  runtime->set_path_to(String(other.path), false);
  EXPECT_EQ(run("p.prg"), 0);
  EXPECT_EQ(run("only.prg"), 0);
  EXPECT_EQ(screen.out, "current\nonly on the path\n");
  ASSERT_EQ(screen.loads.size(), 2u);
  EXPECT_EQ(screen.loads[0], (dir.path / "p.prg").string());
  EXPECT_EQ(screen.loads[1], (other.path / "only.prg").string());
}

TEST_F(Run, AnUnchangedFileCompilesOnceAndIsAnnouncedEachTime) {
  dir.write("m.prg", "? 'm'\n");
  VmStack* stack = runtime->get_main_stack();
  const Module* first = nullptr;
  const Module* second = nullptr;
  runtime->load_module(String("m.prg"), stack, &first);
  runtime->load_module(String("./m.prg"), stack, &second);
  EXPECT_EQ(first, second);
  EXPECT_EQ(runtime->priv->program_cache.keys().size(), 1u);
  ASSERT_EQ(screen.loads.size(), 2u);
  EXPECT_EQ(screen.loads[0], (dir.path / "m.prg").string());
  EXPECT_EQ(screen.loads[1], screen.loads[0]);
}

// A touched file compiles again; the old domain stays alive in the retired list, so a program of
// it that is still referenced can run.
TEST_F(Run, ATouchedFileReloadsAndTheOldLoadStaysAlive) {
  fs::path file = dir.write("m.prg", "? 'old'\n");
  VmStack* stack = runtime->get_main_stack();
  const Module* first = nullptr;
  runtime->load_module(String("m.prg"), stack, &first);
  dir.write("m.prg", "? 'new'\n");
  fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(2));
  const Module* second = nullptr;
  runtime->load_module(String("m.prg"), stack, &second);
  ASSERT_NE(first, second);
  EXPECT_EQ(runtime->priv->program_cache.retired_count(), 1u);
  EXPECT_EQ(runtime->priv->program_cache.keys().size(), 1u);
  Variant result;
  first->entry->exec(stack, 0, false, &result);
  result.release(stack);
  second->entry->exec(stack, 0, false, &result);
  result.release(stack);
  EXPECT_EQ(screen.out, "old\nnew\n");
  // An edited import makes the importing file outdated too.
  dir.write("lib.prg", "FUNCTION f\nRETURN 'one'\n");
  fs::path main = dir.write("main.prg", "IMPORTS 'lib'\n? f()\n");
  EXPECT_EQ(run("main.prg"), 0) << screen.err;
  fs::path lib = dir.write("lib.prg", "FUNCTION f\nRETURN 'two'\n");
  fs::last_write_time(lib, fs::last_write_time(main) + std::chrono::seconds(2));
  EXPECT_EQ(run("main.prg"), 0) << screen.err;
  EXPECT_EQ(screen.out, "old\nnew\none\ntwo\n");
}

TEST_F(Run, ABuildErrorInAnImportLeavesNothingCached) {
  dir.write("broken.prg", "FUNCTION f\nRETURN (1 +\n");
  dir.write("main.prg", "IMPORTS 'broken'\n? 'main'\n");
  EXPECT_EQ(run("main.prg"), 10);
  EXPECT_TRUE(screen.out.empty());
  EXPECT_NE(screen.err.find("broken.prg"), std::string::npos) << screen.err;
  EXPECT_TRUE(runtime->priv->program_cache.keys().empty());
  EXPECT_EQ(runtime->priv->program_cache.retired_count(), 0u);
  // Mended, the file loads.
  dir.write("broken.prg", "FUNCTION f\nRETURN 1\n");
  screen.err.clear();
  EXPECT_EQ(run("main.prg"), 0) << screen.err;
  EXPECT_EQ(screen.out, "main\n");
}

// Threads that load one file at once get one module; lookups run beside loads and clears.
TEST_F(Run, TheCacheIsSharedByThreads) {
  dir.write("shared.prg", "FUNCTION shared\nRETURN 1\nFUNCTION helper\nRETURN 2\n");
  ModuleCache& cache = runtime->priv->procedure_cache;
  const int n = 4;
  std::vector<const Module*> got(n, nullptr);
  std::atomic<int> failures{0};
  auto in_threads = [&](auto body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
      threads.emplace_back([&, i] {
        VmStack stack(runtime, 256, 64);
        try {
          body(i, &stack);
        } catch (...) {
          ++failures;
        }
      });
    }
    for (auto& t : threads) t.join();
  };
  in_threads([&](int i, VmStack* stack) {
    got[i] = cache.load_from_disk(stack, String("shared.prg"), CACHE_UNLESS_OUTDATED);
  });
  EXPECT_EQ(failures, 0);
  for (int i = 1; i < n; ++i) EXPECT_EQ(got[i], got[0]);
  EXPECT_EQ(screen.loads.size(), static_cast<size_t>(n));
  EXPECT_EQ(cache.retired_count(), 0u);

  symbol_id_type helper = runtime->get_main_stack()->get_symtable()->symbolize("helper");
  in_threads([&](int i, VmStack* stack) {
    for (int k = 0; k < 40; ++k) {
      if (i == 0 && k % 10 == 0) cache.clear();
      if (i == 1) cache.load_from_disk(stack, String("shared.prg"), CACHE_UNLESS_OUTDATED);
      const Function* found = cache.find_procedure(helper);
      if (found != nullptr && cache.keys().size() > 1) ++failures;
    }
  });
  EXPECT_EQ(failures, 0);
}

// Cached modules with classes (their own and imported ones) are released with the runtime.
TEST(RunLifecycle, ReleaseWithCachedClassesAndObjects) {
  TempDir dir;
  CwdGuard cwd(dir.path);
  RunScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  dir.write("shapes.prg", "DEFINE CLASS shape AS Custom\nsides = 3\nENDDEFINE\n");
  dir.write("main.prg", "IMPORTS 'shapes'\nPUBLIC keep\nkeep = 3\n? keep\nDEFINE CLASS box AS shape\nENDDEFINE\n");
  EXPECT_EQ(runtime->run_program(String("main.prg"), 0, nullptr), 0) << screen.err;
  EXPECT_EQ(screen.out, "3\n");
  ReleaseRuntime(runtime);
}

TEST(RunLifecycle, ShutdownTwiceThenRelease) {
  RunScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  EXPECT_EQ(runtime->run_command(String("x = 1")), 0);
  ASSERT_NE(runtime->priv->main_stack, nullptr);
  runtime->shutdown();
  EXPECT_EQ(runtime->priv->main_stack, nullptr);
  runtime->shutdown();
  ReleaseRuntime(runtime);
}

// A thread still running at release is waited for before the built-in library is detached, and
// it can take the registry lock itself meanwhile (as a Join of another thread does).
TEST(RunLifecycle, ALanguageThreadStillRunningIsJoinedFirst) {
  RunScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  std::atomic<bool> attached_at_end{false};
  std::atomic<bool> took_registry{false};
  std::atomic<bool> started{false};
  RuntimePrivate* priv = runtime->priv;
  {
    std::unique_lock<std::shared_mutex> lock(priv->threads_lock);
    for (uint64_t n = 0; n < 2; ++n) {
      auto record = std::make_shared<VmThread>();
      record->id = priv->next_thread_id++;
      record->stack = new VmStack(runtime, 64, 8);
      priv->threads.emplace(record->id, record);
    }
  }
  std::shared_ptr<VmThread> running = priv->threads.begin()->second;
  {
    std::lock_guard<std::mutex> lock(running->mutex);
    running->thread = new std::thread([&, priv] {
      started = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      {
        std::unique_lock<std::shared_mutex> lock(priv->threads_lock);
        took_registry = true;
      }
      attached_at_end = priv->builtin_attached && priv->builtin_library != nullptr;
    });
  }
  running.reset();
  while (!started) std::this_thread::yield();
  ReleaseRuntime(runtime);  // the second record was never started
  EXPECT_TRUE(took_registry);
  EXPECT_TRUE(attached_at_end);
}

TEST(RunLifecycle, JoinIsOnceOnly) {
  VmThread record;
  EXPECT_FALSE(record.join_thread());  // never started
  record.thread = new std::thread([] {});
  EXPECT_TRUE(record.join_thread());
  EXPECT_FALSE(record.join_thread());
}

}  // namespace
}  // namespace qzbase
