// Processes and argument splitting: the argvify and quote_shell_argument tables,
// the environment block, and child processes started with only standard tools (sh, sort, cat,
// true): exit statuses, signals, missing programs, captured lines in order, a child that reads
// its standard input, a full pipe against an unterminated line, the environment given to the
// child only, and the screen flushed first.
#include <qzbase.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <list>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

extern char** environ;

using namespace qzbase;

namespace {

String u8(const std::string& s) { return String(s.data(), s.size(), Charset::utf8); }
std::string str(const String& s) {
  String c = s;
  c.convert(Charset::utf8, CON_NONE, 0);
  return std::string(c.read(), c.size());
}

std::vector<std::string> split(const std::string& text) {
  std::list<String> args;
  argvify(u8(text), &args, Charset::utf8);
  std::vector<std::string> out;
  for (const String& a : args) out.push_back(str(a));
  return out;
}

using V = std::vector<std::string>;

class LinesScreen : public Screen {
 public:
  void internal_out(const String& s) override { out_text += str(s); }
  void internal_err(const String& s) override { err_text += str(s); }
  void flush() override { ++flushes; }
  std::string out_text, err_text;
  int flushes = 0;
};

// A runtime whose environment copy holds PATH (and what else is given).
struct ProcRuntime {
  LinesScreen screen;
  Runtime rt{&screen};
  explicit ProcRuntime(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), "PATH=/usr/bin:/bin");
    std::vector<const char*> envp;
    for (auto& e : extra) envp.push_back(e.c_str());
    envp.push_back(nullptr);
    rt.pass_environment(envp.data());
  }
};

std::vector<std::string> texts(const std::list<String>& lines) {
  std::vector<std::string> out;
  for (const String& l : lines) out.push_back(str(l));
  return out;
}

int error_code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.code;
  }
  return 0;
}

std::vector<std::string> process_environment() {
  std::vector<std::string> out;
  for (char** e = environ; e && *e; ++e) out.push_back(*e);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// argvify
// ---------------------------------------------------------------------------------------------

TEST(Argvify, PlainArguments) {
  EXPECT_EQ(split("a b c"), (V{"a", "b", "c"}));
  EXPECT_EQ(split("   a   b\tc  "), (V{"a", "b", "c"}));
  EXPECT_EQ(split(""), (V{""}));
  EXPECT_EQ(split("   "), (V{""}));
  EXPECT_EQ(split("prog"), (V{"prog"}));
}

TEST(Argvify, ProgramName) {
  // Quotes toggle; everything inside (spaces, backslashes) is copied; text after continues.
  EXPECT_EQ(split("\"C:\\Program Files\\x.exe\" arg"), (V{"C:\\Program Files\\x.exe", "arg"}));
  EXPECT_EQ(split("a\\\"b c"), (V{"a\\b c"}));
  EXPECT_EQ(split("\"ab\"cd e"), (V{"abcd", "e"}));
  EXPECT_EQ(split("\"\" x"), (V{"", "x"}));
}

TEST(Argvify, FurtherArguments) {
  EXPECT_EQ(split("p \"a b\""), (V{"p", "a b"}));
  EXPECT_EQ(split("p a\\\"b"), (V{"p", "a\"b"}));
  EXPECT_EQ(split("p a\\\\\"b c\""), (V{"p", "a\\b c"}));
  EXPECT_EQ(split("p a\\\\b"), (V{"p", "a\\\\b"}));
  EXPECT_EQ(split("p a\\"), (V{"p", "a\\"}));
  EXPECT_EQ(split("p a\\\\\\\"b"), (V{"p", "a\\\"b"}));  // three backslashes and a quote
  EXPECT_EQ(split("p \"a\"b \"c\""), (V{"p", "ab", "c"}));
  EXPECT_EQ(split("p \"\""), (V{"p", ""}));
  EXPECT_EQ(split("p \"unclosed arg"), (V{"p", "unclosed arg"}));
  EXPECT_EQ(split("p \"ends\\\\"), (V{"p", "ends\\\\"}));
}

TEST(Argvify, InsideQuotes) {
  EXPECT_EQ(split("p \"a\"\"b\""), (V{"p", "a\"b"}));
  EXPECT_EQ(split("p \"a\\\"b\""), (V{"p", "a\"b"}));
  EXPECT_EQ(split("p \"a\\\\\"b"), (V{"p", "a\\b"}));
  EXPECT_EQ(split("p \"x\\y\""), (V{"p", "x\\y"}));
}

TEST(Argvify, KeepsTheCharsetAndNonAsciiText) {
  String text = u8("p \"gr\xC3\xBC\xC3\x9F e\" \xE2\x82\xAC");
  text.convert(Charset::utf16le, CON_NONE, 0);
  std::list<String> args;
  argvify(text, &args, Charset::utf16le);
  ASSERT_EQ(args.size(), 3u);
  for (const String& a : args) EXPECT_EQ(a.get_charset(), Charset::utf16le);
  EXPECT_EQ(texts(args), (V{"p", "gr\xC3\xBC\xC3\x9F e", "\xE2\x82\xAC"}));
}

TEST(Argvify, ArgvifylinBuildsATerminatedArray) {
  char** argv = nullptr;
  argvifylin(u8("sort -r \"a b\""), &argv);
  ASSERT_NE(argv, nullptr);
  EXPECT_STREQ(argv[0], "sort");
  EXPECT_STREQ(argv[1], "-r");
  EXPECT_STREQ(argv[2], "a b");
  EXPECT_EQ(argv[3], nullptr);
  freeargv(argv);
  freeargv(nullptr);
}

// ---------------------------------------------------------------------------------------------
// quote_shell_argument
// ---------------------------------------------------------------------------------------------

TEST(QuoteShellArgument, Table) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"a\"b", "\"a\\\"b\""},
      {"a\\", "\"a\\\\\""},
      {"", "\"\""},
      {"a b", "\"a b\""},
      {"a\\b", "\"a\\b\""},
      {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},  // two backslashes + quote -> five + quote
      {"\\\\", "\"\\\\\\\\\""},
  };
  for (const Row& r : rows) EXPECT_EQ(str(quote_shell_argument(u8(r.in))), r.out) << r.in;
}

TEST(QuoteShellArgument, RoundTripsThroughArgvify) {
  const char* samples[] = {"plain", "with space", "q\"uote", "back\\", "back\\\\\"q", "\\\"\\\\", "", "tab\there"};
  for (const char* s : samples) {
    std::string quoted = str(quote_shell_argument(u8(s)));
    EXPECT_EQ(split("p " + quoted), (V{"p", s})) << quoted;
  }
}

TEST(QuoteShellArgument, LimitIs8191Bytes) {
  EXPECT_EQ(quote_shell_argument(u8(std::string(8189, 'x'))).size(), 8191u);
  EXPECT_EQ(error_code_of([] { quote_shell_argument(u8(std::string(8190, 'x'))); }), 11);
  EXPECT_EQ(error_code_of([] { quote_shell_argument(u8(std::string(5000, '"'))); }), 11);
}

// ---------------------------------------------------------------------------------------------
// create_envp
// ---------------------------------------------------------------------------------------------

TEST(CreateEnvp, BlockInNameOrder) {
  Runtime rt(nullptr);
  const char* envp[] = {"B=2", "A=1", "C=", nullptr};
  rt.pass_environment(envp);
  char* block = nullptr;
  size_t size = create_envp(&rt, Charset::utf8, &block);
  std::string expected("A=1\0B=2\0C=\0\0", 12);
  EXPECT_EQ(std::string(block, size), expected);
  delete[] block;

  size = create_envp(&rt, Charset::utf16le, &block);
  String u = u8(std::string("A=1\0B=2\0C=\0\0", 12));
  u.convert(Charset::utf16le, CON_NONE, 0);
  EXPECT_EQ(std::string(block, size), std::string(u.read(), u.size()));
  delete[] block;

  Runtime empty(nullptr);
  size = create_envp(&empty, Charset::utf8, &block);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(block[0], 0);
  delete[] block;
}

// ---------------------------------------------------------------------------------------------
// run_console_command
// ---------------------------------------------------------------------------------------------

TEST(RunConsoleCommand, ExitStatuses) {
  ProcRuntime p;
  EXPECT_EQ(run_console_command(&p.rt, &p.screen, u8("true")), 0);
  EXPECT_EQ(run_console_command(&p.rt, &p.screen, u8("sh -c \"exit 3\"")), 3);
  EXPECT_EQ(run_console_command(&p.rt, &p.screen, u8("sh -c \"kill -KILL $$\"")), 1);
  EXPECT_EQ(error_code_of([&] { run_console_command(&p.rt, &p.screen, u8("qz-no-such-program-xyz")); }), 1);
  EXPECT_EQ(error_code_of([&] { run_console_command(&p.rt, &p.screen, u8("/nonexistent/dir/prog")); }), 1);
  EXPECT_EQ(error_code_of([&] { run_console_command(&p.rt, &p.screen, u8("")); }), 1);
  EXPECT_EQ(error_code_of([&] { run_console_command(&p.rt, &p.screen, u8("sh -c \"exit 127\"")); }), 1);
  EXPECT_GE(p.screen.flushes, 1);  // flushed before each start
}

TEST(RunConsoleCommand, ProgramIsFoundAlongTheCopysPath) {
  // No PATH in the copy: execvp's default /bin:/usr/bin.
  LinesScreen screen;
  Runtime rt(&screen);
  EXPECT_EQ(run_console_command(&rt, &screen, u8("true")), 0);
  // A PATH that holds no such program: not found, whatever the process PATH says.
  const char* envp[] = {"PATH=/nonexistent", nullptr};
  rt.pass_environment(envp);
  EXPECT_EQ(error_code_of([&] { run_console_command(&rt, &screen, u8("true")); }), 1);
  EXPECT_EQ(run_console_command(&rt, &screen, u8("/bin/sh -c true")), 0);
}

TEST(RunConsoleCommand, ScriptWithoutInterpreterLineRunsUnderSh) {
  struct Dir {
    std::string path = (std::filesystem::temp_directory_path() / "qz_proc_test_XXXXXX").native();
    Dir() {
      if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp");
    }
    ~Dir() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } dir;
  std::string script = dir.path + "/noshebang";
  FILE* f = fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("exit 7\n", f);
  fclose(f);
  chmod(script.c_str(), 0755);
  ProcRuntime p;
  EXPECT_EQ(run_console_command(&p.rt, &p.screen, u8(script)), 7);
  // Not executable: the program does not start.
  chmod(script.c_str(), 0644);
  EXPECT_EQ(error_code_of([&] { run_console_command(&p.rt, &p.screen, u8(script)); }), 1);
}

// ---------------------------------------------------------------------------------------------
// run_capture_console_command
// ---------------------------------------------------------------------------------------------

TEST(RunCapture, CollectsStdoutAndStderrLines) {
  ProcRuntime p;
  std::list<String> lines;
  int rc = run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"echo one; echo two >&2\""), &lines, 4,
                                       nullptr);
  EXPECT_EQ(rc, 0);
  auto got = texts(lines);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE((got == V{"one", "two"}) || (got == V{"two", "one"}));
  EXPECT_EQ(p.screen.out_text, "");  // flag 4: no echo
}

TEST(RunCapture, LinesOfBothStreamsInTheOrderWritten) {
  ProcRuntime p;
  std::list<String> lines;
  int rc = run_capture_console_command(
      &p.rt, &p.screen,
      u8("sh -c \"echo a; echo b; sleep 0.2; echo c >&2; sleep 0.2; echo d; sleep 0.2; echo e >&2\""), &lines,
      0, nullptr);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(texts(lines), (V{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(p.screen.out_text, "a\nb\nc\nd\ne\n");  // echoed without flag 4
}

TEST(RunCapture, FlagsSkipEmptyAndKeepLast) {
  ProcRuntime p;
  std::list<String> lines;
  const char* cmd = "sh -c \"printf 'a\\n\\nb\\n'\"";
  run_capture_console_command(&p.rt, &p.screen, u8(cmd), &lines, 4, nullptr);
  EXPECT_EQ(texts(lines), (V{"a", "", "b"}));
  lines.clear();
  run_capture_console_command(&p.rt, &p.screen, u8(cmd), &lines, 1 | 4, nullptr);
  EXPECT_EQ(texts(lines), (V{"a", "b"}));
  lines.clear();
  run_capture_console_command(&p.rt, &p.screen, u8(cmd), &lines, 3, nullptr);  // SYSTEM's mode
  EXPECT_EQ(texts(lines), (V{"b"}));
  EXPECT_EQ(p.screen.out_text, "a\n\nb\n");
}

TEST(RunCapture, CrLfAndUnterminatedLastLine) {
  ProcRuntime p;
  std::list<String> lines;
  run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"printf 'x\\r\\ny\\r'\""), &lines, 4, nullptr);
  EXPECT_EQ(texts(lines), (V{"x", "y\r"}));
}

TEST(RunCapture, ExitStatusSignalAndMissingProgram) {
  ProcRuntime p;
  std::list<String> lines;
  EXPECT_EQ(run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"echo x; exit 3\""), &lines, 4, nullptr), 3);
  EXPECT_EQ(texts(lines), (V{"x"}));
  EXPECT_EQ(run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"kill -KILL $$\""), &lines, 4, nullptr), 1);
  EXPECT_EQ(error_code_of([&] {
              run_capture_console_command(&p.rt, &p.screen, u8("qz-no-such-program-xyz"), &lines, 4, nullptr);
            }),
            1);
}

TEST(RunCapture, ChildReadingStdinSeesItsEnd) {
  ProcRuntime p;
  std::list<String> lines;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(run_capture_console_command(&p.rt, &p.screen, u8("sort"), &lines, 4, nullptr), 0);
  EXPECT_EQ(run_capture_console_command(&p.rt, &p.screen, u8("cat"), &lines, 4, nullptr), 0);
  EXPECT_TRUE(lines.empty());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
}

TEST(RunCapture, FullStderrAfterUnterminatedStdoutLineDoesNotDeadlock) {
  ProcRuntime p;
  std::list<String> lines;
  // 200 KB on standard error (more than a pipe holds) after a line without its end on standard
  // output.
  const char* cmd =
      "sh -c \"printf partial; i=0; while [ $i -lt 2000 ]; do "
      "echo 0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789 >&2; "
      "i=$((i+1)); done; printf ' done'\"";
  int rc = run_capture_console_command(&p.rt, &p.screen, u8(cmd), &lines, 4, nullptr);
  EXPECT_EQ(rc, 0);
  auto got = texts(lines);
  ASSERT_EQ(got.size(), 2001u);
  size_t errs = 0;
  bool partial = false;
  for (auto& l : got) {
    if (l == "partial done") partial = true;
    else if (l.size() == 100) ++errs;
  }
  EXPECT_TRUE(partial);
  EXPECT_EQ(errs, 2000u);
}

TEST(RunCapture, LargeOutputOnBothStreams) {
  ProcRuntime p;
  std::list<String> lines;
  const char* cmd =
      "sh -c \"i=0; while [ $i -lt 3000 ]; do echo out$i; echo err$i >&2; i=$((i+1)); done\"";
  EXPECT_EQ(run_capture_console_command(&p.rt, &p.screen, u8(cmd), &lines, 4, nullptr), 0);
  ASSERT_EQ(lines.size(), 6000u);
  // Each stream keeps its own order.
  int next_out = 0, next_err = 0;
  for (auto& l : texts(lines)) {
    if (l.rfind("out", 0) == 0) {
      EXPECT_EQ(l, "out" + std::to_string(next_out++));
    } else {
      EXPECT_EQ(l, "err" + std::to_string(next_err++));
    }
  }
}

TEST(RunCapture, DecodesInTheGivenCharset) {
  ProcRuntime p;
  std::list<String> lines;
  // UTF-16LE output: "hi" CR LF "yo" LF, written as bytes by printf.
  const char* cmd = "sh -c \"printf 'h\\000i\\000\\r\\000\\n\\000y\\000o\\000\\n\\000'\"";
  run_capture_console_command(&p.rt, &p.screen, u8(cmd), &lines, 4, Charset::utf16le);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines.front().get_charset(), Charset::utf16le);
  EXPECT_EQ(texts(lines), (V{"hi", "yo"}));
  // A byte 0x0A inside a UTF-16 character is not a line end.
  lines.clear();
  run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"printf '\\n\\001\\n\\000'\""), &lines, 4,
                              Charset::utf16le);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines.front().size(), 2u);  // U+010A, the LF cut
}

TEST(RunCapture, ChildGetsTheCopyAndTheProcessEnvironmentStays) {
  setenv("QZ_PROCESS_ONLY", "parent", 1);
  auto before = process_environment();
  ProcRuntime p({"QZ_FOO=from the copy", "HOME=/qz-home"});
  std::list<String> lines;
  run_capture_console_command(&p.rt, &p.screen,
                              u8("sh -c \"echo \\\"$QZ_FOO|$QZ_PROCESS_ONLY|$HOME\\\"\""), &lines, 4, nullptr);
  EXPECT_EQ(texts(lines), (V{"from the copy||/qz-home"}));
  EXPECT_EQ(process_environment(), before);
  EXPECT_STREQ(getenv("QZ_PROCESS_ONLY"), "parent");
  unsetenv("QZ_PROCESS_ONLY");
}

namespace {

// The pipe descriptors of this process.
std::set<int> pipe_fds() {
  std::set<int> out;
  for (auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink(e.path(), ec);
    if (!ec && target.native().rfind("pipe:", 0) == 0) out.insert(std::stoi(e.path().filename().native()));
  }
  return out;
}

}  // namespace

TEST(RunCapture, PipesAreCloseOnExecAndConcurrentRunsWork) {
  // A child started by another thread must never inherit a capture's pipe (it would hold the
  // capture open until it ends): every pipe a capture holds is close-on-exec.
  ProcRuntime p;
  std::set<int> before = pipe_fds();
  auto t0 = std::chrono::steady_clock::now();
  std::thread slow([&] {
    std::list<String> lines;
    run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"sleep 5\""), &lines, 4, nullptr);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  size_t checked = 0;
  for (int fd : pipe_fds()) {
    if (before.count(fd)) continue;
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0) continue;  // closed meanwhile
    EXPECT_TRUE(flags & FD_CLOEXEC) << "fd " << fd;
    ++checked;
  }
  EXPECT_GE(checked, 2u);  // the read ends of the running capture
  std::list<String> lines;
  run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"echo quick\""), &lines, 4, nullptr);
  // Well before the slow child ends, even on a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4000));
  EXPECT_EQ(texts(lines), (V{"quick"}));
  slow.join();
}

TEST(RunCapture, ScreenIsFlushedBeforeTheChildStarts) {
  ProcRuntime p;
  std::list<String> lines;
  int before = p.screen.flushes;
  run_capture_console_command(&p.rt, &p.screen, u8("true"), &lines, 4, nullptr);
  EXPECT_EQ(p.screen.flushes, before + 1);
}

TEST(RunCapture, NoDescriptorLeaks) {
  ProcRuntime p;
  auto count_fds = [] {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      (void)e;
      ++n;
    }
    return n;
  };
  size_t before = count_fds();
  std::list<String> lines;
  for (int i = 0; i < 20; ++i) {
    run_capture_console_command(&p.rt, &p.screen, u8("sh -c \"echo x; echo y >&2\""), &lines, 4, nullptr);
    try {
      run_capture_console_command(&p.rt, &p.screen, u8("qz-no-such-program-xyz"), &lines, 4, nullptr);
    } catch (const RuntimeError&) {
    }
  }
  EXPECT_EQ(count_fds(), before);
}

namespace {

class ThrowingScreen : public Screen {
 public:
  void internal_out(const String&) override { throw RuntimeError(1001); }
  void internal_err(const String&) override {}
};

}  // namespace

TEST(RunCapture, ExceptionFromTheScreenReapsTheChild) {
  ThrowingScreen screen;
  Runtime rt(&screen);
  std::list<String> lines;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(error_code_of([&] {
              run_capture_console_command(&rt, &screen, u8("sh -c \"echo x; sleep 30\""), &lines, 0, nullptr);
            }),
            1001);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
}
