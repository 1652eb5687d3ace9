// STRTOFILE and StrToFile, ADIR, FDATE, FTIME, MKDIR and CD over real files in a temporary
// directory; permission cases run unprivileged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "builtins/file_paths.h"
#include "builtins/file_text.h"
#include "builtins/low_level_files.h"
#include "builtins_support.h"
#include "temp_dir.h"
#include "values/charset_registry.h"
#include "values/julian.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;
using namespace testing_builtins;
using testing_files::CwdGuard;
using testing_files::TempDir;

std::string file_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

String text_in(const char* charset, const std::string& utf8) {
  String s(utf8.data(), utf8.size(), Charset::utf8);
  const Charset* cs = get_charset_by_name(String(charset));
  if (cs == nullptr) throw std::runtime_error(charset);
  if (cs != Charset::utf8) s.convert(cs, CON_NONE, 0);
  return s;
}

// Sets the last-write time of a file.
void set_mtime(const fs::path& p, time_t when) {
  struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(StrToFile, ModesAndMarks) {
  TempDir dir;
  const std::string e_acute_utf8 = "\xC3\xA9";
  struct Case {
    const char* what;
    const char* charset;
    std::string text;  // UTF-8, converted into the charset
    int mode;
    std::string before;  // the file's bytes beforehand
    std::string want;
  };
  const std::vector<Case> cases = {
      {"plain utf-8", "utf-8", "h" + e_acute_utf8, 0, "old", "h" + e_acute_utf8},
      {"code page bytes unchanged", "windows-1252", "h" + e_acute_utf8, 0, "", "h\xE9"},
      {"own mark first", "utf-8-bom", "h" + e_acute_utf8, 0, "", "\xEF\xBB\xBFh" + e_acute_utf8},
      {"append", "utf-8", "x", 1, "ab", "abx"},
      {"append: no mark of its own", "utf-8-bom", "x", 1, "ab", "abx"},
      {"mode 2 converts a code page text", "windows-1252", "h" + e_acute_utf8, 2, "",
       std::string("\xFF\xFEh\0\xE9\0", 6)},
      {"mode 2 marks a plain utf-16le text", "utf-16le", "hi", 2, "", std::string("\xFF\xFEh\0i\0", 6)},
      {"mode 4 converts a utf-16le text", "utf-16le", "h" + e_acute_utf8, 4, "", "\xEF\xBB\xBFh" + e_acute_utf8},
      {"mode 4 marks a plain utf-8 text", "utf-8", "hi", 4, "", "\xEF\xBB\xBFhi"},
      {"a text with its own mark keeps it under mode 2", "utf-8-bom", "hi", 2, "", "\xEF\xBB\xBFhi"},
      {"mode 3 appends converted, without a mark", "utf-8", "i", 3, std::string("\xFF\xFEh\0", 4),
       std::string("\xFF\xFEh\0i\0", 6)},
  };
  for (const Case& c : cases) {
    fs::path p = dir.write("out.txt", c.before);
    if (c.before.empty()) fs::remove(p);
    size_t n = StrToFile(text_in(c.charset, c.text), String(p), c.mode);
    std::string bytes = file_bytes(p);
    EXPECT_EQ(bytes, c.want) << c.what;
    size_t added = bytes.size() - ((c.mode & 1) ? c.before.size() : 0);
    EXPECT_EQ(n, added) << c.what;
  }
  EXPECT_EQ(error_of([&] { StrToFile(String("x"), String(dir.path / "m.txt"), 6); }).first, 11);
}

TEST(StrToFile, OpenFailures) {
  TempDir dir;
  std::string missing = (dir.path / "no_dir" / "f.txt").string();
  EXPECT_EQ(error_of([&] { StrToFile(String("x"), String(missing.c_str()), 0); }),
            (std::pair<int, std::string>{1102, missing}));
  fs::path locked = dir.write("locked.txt", "keep");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_TRUE(as_unprivileged([&] {
    return error_of([&] { StrToFile(String("x"), String(locked), 0); }).first == 1705 &&
           error_of([&] { StrToFile(String("x"), String(locked), 1); }).first == 1705;
  }));
  EXPECT_EQ(file_bytes(locked), "keep");
}

TEST(StrtofileBuiltin, ModeArgument) {
  RuntimeFixture f;
  TempDir dir;
  CwdGuard cwd(dir.path);
  Variant yes;
  yes.set_true();
  Variant no;
  no.set_false();
  EXPECT_EQ(static_cast<long>(call(f.stack, strtofile, {str("ab"), str("f.txt")})), 2);
  EXPECT_EQ(static_cast<long>(call(f.stack, strtofile, {str("c"), str("f.txt"), yes})), 1);
  EXPECT_EQ(file_bytes(dir.path / "f.txt"), "abc");
  EXPECT_EQ(static_cast<long>(call(f.stack, strtofile, {str("d"), str("f.txt"), integer(0)})), 1);
  EXPECT_EQ(file_bytes(dir.path / "f.txt"), "d");
  EXPECT_EQ(error_of([&] { call(f.stack, strtofile, {str("x"), str("f.txt"), no}); }).first, 11);
  EXPECT_EQ(error_of([&] { call(f.stack, strtofile, {str("x"), str("f.txt"), str("1")}); }).first, 11);
  EXPECT_EQ(error_of([&] { call(f.stack, strtofile, {str("x"), str("f.txt"), integer(1L << 32)}); }).first, 39);
  EXPECT_EQ(file_bytes(dir.path / "f.txt"), "d");
  EXPECT_EQ(error_of([&] { call(f.stack, strtofile, {str("x"), str("nodir/f.txt")}); }).first, 1102);
}

TEST(FopenBuiltin, UnreadableFileIsCode2) {
  RuntimeFixture f;
  TempDir dir;
  fs::path p = dir.write("locked.txt", "secret");
  fs::permissions(p, fs::perms::none);
  EXPECT_TRUE(as_unprivileged([&] {
    long id = static_cast<long>(call(f.stack, bi_fopen, {str(p.c_str())}));
    return id == -1 && static_cast<long>(call(f.stack, bi_ferror, {})) == 2;
  }));
}

TEST(FdateBuiltin, DateAndDateTime) {
  RuntimeFixture f;
  TempDir dir;
  CwdGuard cwd(dir.path);
  ASSERT_STREQ(getenv("TZ"), "UTC");
  fs::path p = dir.write("f.txt", "x");
  set_mtime(p, 1700000000);  // 2023-11-14 22:13:20 UTC

  date_st day;
  ASSERT_EQ(serial_julian_date(2023, 11, 14, &day), 0);
  datetime_st moment;
  ASSERT_EQ(serial_julian_date(2023, 11, 14, 22, 13, 20, &moment), 0);
  Variant v = call(f.stack, fdate, {str("f.txt")});
  ASSERT_EQ(v.tag, VT_DATE);
  EXPECT_EQ(v.date.day, day.day);
  v = call(f.stack, fdate, {str("f.txt"), integer(1)});
  ASSERT_EQ(v.tag, VT_DATETIME);
  EXPECT_EQ(v.datetime.day, moment.day);
  EXPECT_EQ(v.datetime.ms, moment.ms);
  EXPECT_EQ(static_cast<String>(call(f.stack, ftime, {str("f.txt")})).u8str(), "22:13:20");

  EXPECT_EQ(error_of([&] { call(f.stack, fdate, {str("f.txt"), integer(2)}); }).first, 11);
  EXPECT_EQ(error_of([&] { call(f.stack, fdate, {str("f.txt"), integer(1L << 32)}); }).first, 39);
  EXPECT_EQ(error_of([&] { call(f.stack, fdate, {str("none.txt")}); }).first, 1);
  EXPECT_EQ(error_of([&] { call(f.stack, ftime, {str("none.txt")}); }).first, 1);
}

TEST(AdirBuiltin, DatesTimesAndTheDirectoryPart) {
  RuntimeFixture f;
  TempDir dir;
  fs::create_directory(dir.path / "d");
  fs::path p = dir.write("d/only.txt", "12345");
  set_mtime(p, 1700000000);
  Variant target;
  target.set_integer(0);
  // An absolute directory part stays absolute, whatever the current directory is.
  std::string skeleton = (dir.path / "d" / "*.txt").string();
  // ADIR(@target, skeleton): the first argument a reference, as the compiler passes it.
  Memvar* mark = f.stack->sp;
  f.stack->push();
  target.ref(f.stack, &f.stack->push()->value, nullptr);
  f.stack->push()->value.set_string(String(skeleton.c_str()));
  call_native_function(f.stack, adir, 2);
  EXPECT_EQ(static_cast<long>(f.stack->sp->value), 1);
  f.stack->release_stack_to(mark);
  const Array* a = static_cast<const Array*>(target);
  ASSERT_EQ(a->rows(), 1u);
  ASSERT_EQ(a->columns(), 5u);
  date_st day;
  ASSERT_EQ(serial_julian_date(2023, 11, 14, &day), 0);
  EXPECT_EQ(static_cast<String>(*a->read(1, 1)).u8str(), "only.txt");
  EXPECT_EQ(static_cast<long>(*a->read(1, 2)), 5);
  EXPECT_EQ(a->read(1, 3)->date.day, day.day);
  EXPECT_EQ(static_cast<String>(*a->read(1, 4)).u8str(), "22:13:20");
  EXPECT_EQ(static_cast<String>(*a->read(1, 5)).u8str(), ".....");
  target.release(f.stack);
}

TEST(DirectoryCommands, MkdirAndCd) {
  RuntimeFixture f;
  TempDir dir;
  CwdGuard cwd(dir.path);
  run(f.stack, void_stackcall_mkdir, {str("made")});
  EXPECT_TRUE(fs::is_directory(dir.path / "made"));
  dir.write("plain.txt", "x");
  for (const char* name : {"made", "plain.txt", "missing/deeper"}) {
    EXPECT_EQ(error_of([&] { run(f.stack, void_stackcall_mkdir, {str(name)}); }).first, 9901) << name;
  }

  run(f.stack, void_stackcall_cd, {str("made")});
  EXPECT_EQ(fs::current_path(), dir.path / "made");
  run(f.stack, void_stackcall_cd, {str("..")});
  EXPECT_EQ(fs::current_path(), dir.path);
  run(f.stack, void_stackcall_cd, {str((dir.path / "made").c_str())});
  EXPECT_EQ(fs::current_path(), dir.path / "made");
  EXPECT_EQ(static_cast<String>(call(f.stack, curdir, {})).u8str(), (dir.path / "made").string() + "/");

  std::string target = (dir.path / "made").string() + "/nowhere";
  EXPECT_EQ(error_of([&] { run(f.stack, void_stackcall_cd, {str("nowhere")}); }),
            (std::pair<int, std::string>{202, target}));
  EXPECT_EQ(error_of([&] { run(f.stack, void_stackcall_cd, {str((dir.path / "plain.txt").c_str())}); }).first,
            202);
  EXPECT_EQ(fs::current_path(), dir.path / "made");
}

}  // namespace
}  // namespace qzbase
