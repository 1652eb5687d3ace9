// Paths and directories: the name tables, charsets kept, canonical_path, the
// temporary and compiled-module directories from the runtime's environment copy, tempfilename
// (never creates a file) and tempname.
#include <qzbase.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/tempname.h"
#include "platform/paths.h"

using namespace qzbase;
namespace fs = std::filesystem;

namespace {

String u8(const std::string& s) { return String(s.data(), s.size(), Charset::utf8); }
std::string str(const String& s) {
  String c = s;
  c.convert(Charset::utf8, CON_NONE, 0);
  return std::string(c.read(), c.size());
}

struct PathsTestDir {
  fs::path path;
  PathsTestDir() {
    std::string pattern = (fs::temp_directory_path() / "qz_paths_test_XXXXXX").native();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = pattern;
  }
  ~PathsTestDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

void pass_env(Runtime& rt, std::vector<std::string> entries) {
  std::vector<const char*> envp;
  for (auto& e : entries) envp.push_back(e.c_str());
  envp.push_back(nullptr);
  rt.pass_environment(envp.data());
}

int error_code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.code;
  }
  return 0;
}

}  // namespace

TEST(Paths, NameTables) {
  struct Row {
    const char* in;
    const char* fname;
    const char* path;
    const char* stem;
    const char* ext;
    const char* bs;
  } rows[] = {
      {"/a/b/c.txt", "c.txt", "/a/b", "c", "txt", "/a/b/c.txt/"},
      {"/a/b/c", "c", "/a/b", "c", "", "/a/b/c/"},
      {"/a/b.d/c", "c", "/a/b.d", "c", "", "/a/b.d/c/"},
      {"/a/b/", "", "/a/b", "", "", "/a/b/"},
      {"/a/b", "b", "/a", "b", "", "/a/b/"},
      {"c.tar.gz", "c.tar.gz", "", "c.tar", "gz", "c.tar.gz/"},
      {"/home/u/.profile", ".profile", "/home/u", ".profile", "", "/home/u/.profile/"},
      {"dir/..", "..", "dir", "..", "", "dir/../"},
      {"dir/.", ".", "dir", ".", "", "dir/./"},
      {"/", "", "/", "", "", "/"},
      {"", "", "", "", "", ""},
      {"x.", "x.", "", "x", "", "x./"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(str(justfname(u8(r.in))), r.fname) << r.in;
    EXPECT_EQ(str(justpath(u8(r.in))), r.path) << r.in;
    EXPECT_EQ(str(juststem(u8(r.in))), r.stem) << r.in;
    EXPECT_EQ(str(justext(u8(r.in))), r.ext) << r.in;
    EXPECT_EQ(str(addbs(u8(r.in))), r.bs) << r.in;
  }
}

TEST(Paths, ResultsKeepTheArgumentsCharset) {
  String name = u8("/d\xC3\xA9j\xC3\xA0/r\xC3\xA9sum\xC3\xA9.t\xC3\xA9xt");
  name.convert(Charset::utf16le, CON_NONE, 0);
  String f = justfname(name);
  EXPECT_EQ(f.get_charset(), Charset::utf16le);
  EXPECT_EQ(str(f), "r\xC3\xA9sum\xC3\xA9.t\xC3\xA9xt");
  EXPECT_EQ(str(justext(name)), "t\xC3\xA9xt");
  EXPECT_EQ(str(juststem(name)), "r\xC3\xA9sum\xC3\xA9");
  EXPECT_EQ(str(justpath(name)), "/d\xC3\xA9j\xC3\xA0");
  EXPECT_EQ(addbs(name).get_charset(), Charset::utf16le);
}

TEST(Paths, EmbeddedZeroIsRefused) {
  EXPECT_EQ(error_code_of([] { justfname(String("a\0b", 3, Charset::utf8)); }), 202);
}

TEST(Paths, CanonicalPath) {
  PathsTestDir dir;
  fs::create_directory(dir.path / "sub");
  fs::create_symlink(dir.path / "sub", dir.path / "link");
  fs::path real = fs::canonical(dir.path / "sub");
  EXPECT_EQ(str(canonical_path(u8((dir.path / "link" / ".." / "sub" / ".").native()))), real.native());
  EXPECT_EQ(str(canonical_path(u8((dir.path / "link").native()))), real.native());
  try {
    canonical_path(u8((dir.path / "missing").native()));
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1);
    EXPECT_NE(str(e.message).find("missing"), std::string::npos);
  }
}

TEST(Paths, SystemTempDirComesFromTheCopy) {
  PathsTestDir dir;
  Runtime rt(nullptr);
  EXPECT_EQ(str(systemtempdir()), "/tmp");
  EXPECT_EQ(str(systemtempdir(&rt)), "/tmp");
  pass_env(rt, {"TMPDIR=" + dir.path.native()});
  EXPECT_EQ(str(systemtempdir(&rt)), dir.path.native());
  pass_env(rt, {"TMPDIR=" + (dir.path / "nothing").native()});
  EXPECT_EQ(str(systemtempdir(&rt)), "/tmp");
  pass_env(rt, {"TMPDIR="});
  EXPECT_EQ(str(systemtempdir(&rt)), "/tmp");
}

TEST(Paths, OpcodeCacheDirIsMadeUnderHome) {
  PathsTestDir dir;
  Runtime rt(nullptr);
  String out = u8("unchanged");
  EXPECT_FALSE(useropcodecachedir(&rt, out));  // no HOME in the copy
  EXPECT_EQ(str(out), "unchanged");
  pass_env(rt, {"HOME="});
  EXPECT_FALSE(useropcodecachedir(&rt, out));
  EXPECT_EQ(str(out), "unchanged");
  pass_env(rt, {"HOME=" + dir.path.native()});
  ASSERT_TRUE(useropcodecachedir(&rt, out));
  EXPECT_EQ(str(out), (dir.path / ".qz" / "opcode").native());
  EXPECT_TRUE(fs::is_directory(dir.path / ".qz" / "opcode"));
  ASSERT_TRUE(useropcodecachedir(&rt, out));  // again: already there
  EXPECT_FALSE(useropcodecachedir(nullptr, out));
}

TEST(Paths, OpcodeCacheDirFailureIsError1101) {
  PathsTestDir dir;
  { std::ofstream(dir.path / ".qz") << "a plain file"; }
  Runtime rt(nullptr);
  pass_env(rt, {"HOME=" + dir.path.native()});
  String out;
  try {
    useropcodecachedir(&rt, out);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1101);
    EXPECT_NE(str(e.message).find(".qz"), std::string::npos);
  }
  // A HOME that does not exist cannot hold the directory either.
  pass_env(rt, {"HOME=" + (dir.path / "gone").native()});
  EXPECT_EQ(error_code_of([&] { useropcodecachedir(&rt, out); }), 1101);
}

TEST(Paths, TempFileNameNeverCreatesAFile) {
  PathsTestDir dir;
  Runtime rt(nullptr);
  pass_env(rt, {"TMPDIR=" + dir.path.native(), "HOME=" + dir.path.native()});
  String name;
  ASSERT_TRUE(tempfilename(&rt, SYSTEMDIR_TEMP, u8("dbf"), name));
  fs::path p = str(name);
  EXPECT_EQ(p.parent_path(), dir.path);
  EXPECT_EQ(p.extension(), ".dbf");
  EXPECT_EQ(p.stem().native().size(), 32u);
  EXPECT_FALSE(fs::exists(p));
  ASSERT_TRUE(tempfilename(&rt, SYSTEMDIR_TEMP, u8(".tmp"), name));
  EXPECT_EQ(fs::path(str(name)).extension(), ".tmp");
  ASSERT_TRUE(tempfilename(&rt, SYSTEMDIR_TEMP, u8(""), name));
  EXPECT_EQ(fs::path(str(name)).filename().native().size(), 32u);

  ASSERT_TRUE(tempfilename(&rt, SYSTEMDIR_OPCODE_CACHE, u8("fxp"), name));
  p = str(name);
  EXPECT_EQ(p.parent_path(), dir.path / ".qz" / "opcode");
  EXPECT_EQ(p.extension(), ".fxp");
  EXPECT_FALSE(fs::exists(p));
  // Nothing but the cache directories was made.
  size_t entries = 0;
  for (auto& e : fs::recursive_directory_iterator(dir.path)) {
    EXPECT_TRUE(e.is_directory()) << e.path();
    ++entries;
  }
  EXPECT_EQ(entries, 2u);

  Runtime bare(nullptr);
  String untouched = u8("x");
  EXPECT_FALSE(tempfilename(&bare, SYSTEMDIR_OPCODE_CACHE, u8("fxp"), untouched));
  EXPECT_EQ(str(untouched), "x");
  EXPECT_EQ(error_code_of([&] { tempfilename(&rt, static_cast<Systemdir>(2), u8("x"), name); }), 1001);
}

TEST(TempName, ThirtyTwoCharactersOfDigitsAndLetters) {
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    String n = tempname();
    ASSERT_EQ(n.get_charset(), Charset::utf8);
    std::string s = str(n);
    ASSERT_EQ(s.size(), 32u);
    for (char c : s) {
      ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) << s;
    }
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(TempName, AllSixtyTwoCharactersOccur) {
  std::set<char> chars;
  for (int i = 0; i < 500; ++i)
    for (char c : str(tempname())) chars.insert(c);
  EXPECT_EQ(chars.size(), 62u);
}

TEST(TempName, ConcurrentCallersGetDistinctNames) {
  std::mutex lock;
  std::set<std::string> seen;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      std::vector<std::string> mine;
      for (int i = 0; i < 500; ++i) mine.push_back(str(tempname()));
      std::lock_guard<std::mutex> g(lock);
      seen.insert(mine.begin(), mine.end());
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(seen.size(), 4000u);
}
