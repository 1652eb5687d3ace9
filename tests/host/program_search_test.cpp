// find_file, FindFile, find_library, SET PATH (the Runtime operations and the command) in real
// temporary directories.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "builtins/set_path.h"
#include "host/program_search.h"
#include "vm/calls.h"
#include "vm/vm_stack.h"
#include "temp_dir.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;
using testing_files::CwdGuard;
using testing_files::TempDir;

class ProgramSearch : public ::testing::Test {
 protected:
  ProgramSearch() : runtime(CreateRuntime(&screen)) {}
  ~ProgramSearch() override { ReleaseRuntime(runtime); }

  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (const fs::path& p : search_path_entries(runtime)) out.push_back(p.string());
    return out;
  }
  fs::path find(const fs::path& name, bool stem_ci = false, bool extension_ci = false) {
    fs::path found;
    return runtime->find_file(name, found, stem_ci, extension_ci) ? found : fs::path();
  }

  NullScreen screen;
  Runtime* runtime;
  TempDir dir;
};

TEST_F(ProgramSearch, CurrentDirectoryComesBeforeSetPath) {
  dir.write("work/main.prg", "x");
  dir.write("lib/main.prg", "x");
  dir.write("lib/util.prg", "x");
  dir.write("other/util.prg", "x");
  CwdGuard cwd(dir.path / "work");
  runtime->set_path_to(String((dir.path / "lib").string().c_str()), false);
  runtime->set_path_to(String((dir.path / "other").string().c_str()), true);

  EXPECT_EQ(find("main.prg"), dir.path / "work/main.prg");
  EXPECT_EQ(find("util.prg"), dir.path / "lib/util.prg");  // the first entry wins
  EXPECT_EQ(find("none.prg"), fs::path());
  // An absolute name is probed as it is.
  EXPECT_EQ(find(dir.path / "other/util.prg"), dir.path / "other/util.prg");
  // The result is canonical.
  EXPECT_EQ(find("../work/./main.prg"), dir.path / "work/main.prg");
}

TEST_F(ProgramSearch, RelativeEntryFollowsTheCurrentDirectoryOfTheSearch) {
  dir.write("a/lib/x.prg", "x");
  dir.write("b/lib/y.prg", "x");
  CwdGuard cwd(dir.path / "a");
  runtime->set_path_to(String("lib"), false);
  EXPECT_EQ(find("x.prg"), dir.path / "a/lib/x.prg");
  fs::current_path(dir.path / "b");
  EXPECT_EQ(find("x.prg"), fs::path());
  EXPECT_EQ(find("y.prg"), dir.path / "b/lib/y.prg");
}

TEST_F(ProgramSearch, CaseInsensitiveStemAndExtension) {
  dir.write("lib/Report.PRG", "x");
  CwdGuard cwd(dir.path);
  runtime->set_path_to(String("lib"), false);
  struct Case {
    const char* name;
    bool stem_ci;
    bool extension_ci;
    bool found;
  };
  for (const Case& c : {Case{"Report.PRG", false, false, true}, Case{"report.PRG", false, false, false},
                        Case{"report.PRG", true, false, true}, Case{"report.prg", true, false, false},
                        Case{"Report.prg", false, true, true}, Case{"REPORT.prg", true, true, true}}) {
    fs::path found = find(c.name, c.stem_ci, c.extension_ci);
    EXPECT_EQ(found, c.found ? dir.path / "lib/Report.PRG" : fs::path()) << c.name << c.stem_ci << c.extension_ci;
  }
  // Two entries that differ only in case: ambiguous, not found.
  dir.write("lib/report.prg", "x");
  EXPECT_EQ(find("REPORT.PRG", true, true), fs::path());
}

TEST_F(ProgramSearch, FindFileExported) {
  dir.write("lib/a.prg", "x");
  CwdGuard cwd(dir.path);
  String found("unchanged");
  EXPECT_FALSE(FindFile(runtime, String("a.prg"), found, false, false));
  EXPECT_EQ(found.u8str(), "unchanged");
  runtime->set_path_to(String("lib/"), false);
  ASSERT_TRUE(FindFile(runtime, String("A.PRG"), found, true, true));
  EXPECT_EQ(found.u8str(), (dir.path / "lib/a.prg").string());
  EXPECT_EQ(found.get_charset(), Charset::utf8);
}

TEST_F(ProgramSearch, FindLibraryUsesExactNamesAndKeepsThePathAsBuilt) {
  dir.write("plug/libqzbase0-x.so", "x");
  fs::create_directory(dir.path / "plug/subdir");
  CwdGuard cwd(dir.path);
  runtime->set_path_to(String("plug"), false);
  fs::path found;
  ASSERT_TRUE(runtime->find_library("libqzbase0-x.so", found));
  EXPECT_EQ(found, dir.path / "plug" / "libqzbase0-x.so");  // current directory / entry / name
  EXPECT_FALSE(runtime->find_library("LIBQZBASE0-X.SO", found));
  ASSERT_TRUE(runtime->find_library("subdir", found));  // anything that exists
  EXPECT_EQ(found, dir.path / "plug" / "subdir");
  EXPECT_FALSE(runtime->find_library("none.so", found));
}

TEST_F(ProgramSearch, SetPathKeepsOneEntryPerPath) {
  runtime->set_path_to(String("lib/"), false);
  runtime->set_path_to(String("lib"), true);
  EXPECT_EQ(entries(), (std::vector<std::string>{"lib"}));
  runtime->set_path_to(String("/abs/dir/"), true);
  runtime->set_path_to(String("lib"), true);
  EXPECT_EQ(entries(), (std::vector<std::string>{"lib", "/abs/dir"}));
  runtime->set_path_to(String("other"), false);
  EXPECT_EQ(entries(), (std::vector<std::string>{"other"}));
  runtime->set_path_to_null();
  EXPECT_TRUE(entries().empty());
  // A text that cannot be a UTF-8 name changes nothing.
  runtime->set_path_to(String("kept"), false);
  String bad = String::fromBytes("\xFF\xFE", 2, Charset::binary);
  EXPECT_THROW(runtime->set_path_to(bad, false), RuntimeError);
  EXPECT_EQ(entries(), (std::vector<std::string>{"kept"}));
}

// SET PATH TO through the command: argument 1 the flags, then the entries.
void set_path(VmStack* stack, long flags, const std::vector<const char*>& list) {
  Memvar* mark = stack->sp;
  stack->push()->value.set_integer(flags);
  for (const char* entry : list) stack->push()->value.set_string(String(entry));
  try {
    call_native_command(stack, void_stackcall_set_path_to, list.size() + 1);
  } catch (...) {
    stack->release_stack_to(mark);
    throw;
  }
  stack->release_stack_to(mark);
}

TEST_F(ProgramSearch, SetPathCommand) {
  VmStack stack(runtime, 256, 64);
  set_path(&stack, 0, {"a", "b/", "a"});
  EXPECT_EQ(entries(), (std::vector<std::string>{"a", "b"}));
  set_path(&stack, 1, {"c", "b"});
  EXPECT_EQ(entries(), (std::vector<std::string>{"a", "b", "c"}));
  set_path(&stack, 1, {"a"});  // ADDITIVE with an entry already listed: unchanged
  EXPECT_EQ(entries(), (std::vector<std::string>{"a", "b", "c"}));
  set_path(&stack, 0, {"d"});
  EXPECT_EQ(entries(), (std::vector<std::string>{"d"}));
  set_path(&stack, 1, {});  // no entry empties the list, ADDITIVE or not
  EXPECT_TRUE(entries().empty());
  set_path(&stack, 0, {"e"});
  set_path(&stack, 0, {});
  EXPECT_TRUE(entries().empty());
}

// One thread keeps replacing the list while others search along it: every reader sees one of the
// states the writer leaves between two calls (run under the thread sanitizer to check the locking, under ASan for lifetimes).
TEST_F(ProgramSearch, ConcurrentSetPathAndSearch) {
  dir.write("one/f1.prg", "x");
  dir.write("two/f2.prg", "x");
  const std::string one = (dir.path / "one").string();
  const std::string two = (dir.path / "two").string();
  const std::vector<fs::path> a{one}, ab{one, two}, b{two};
  runtime->set_path_to(String(one.c_str()), false);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread writer([&] {
    for (int i = 0; i < 400; ++i) {
      runtime->set_path_to(String(one.c_str()), false);
      runtime->set_path_to(String(two.c_str()), true);
      runtime->set_path_to(String(two.c_str()), false);
    }
    stop = true;
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop) {
        fs::path found;
        if (runtime->find_file("f1.prg", found, false, false) && found != dir.path / "one/f1.prg") ++bad;
        std::vector<fs::path> list = search_path_entries(runtime);
        if (list != a && list != ab && list != b) ++bad;
      }
    });
  }
  writer.join();
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace qzbase
