// Screen: output buffering, the console's charsets and hex form, msgbox over piped
// input, the internal lock under concurrent writers, and the per-thread screen override.
#include <qzbase.h>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/screen.h"

using namespace qzbase;

namespace {

std::string text(const String& s) { return std::string(s.read(), s.size()); }

// Records what reaches the streams.
class CaptureScreen : public Screen {
 public:
  void internal_out(const String& s) override { out_text += text(s); }
  void internal_err(const String& s) override { err_text += text(s); }
  std::string out_text;
  std::string err_text;
};

// Feeds std::cin from a string for the scope of a test.
struct CinFromString {
  std::istringstream in;
  std::streambuf* saved;
  explicit CinFromString(const std::string& s) : in(s), saved(std::cin.rdbuf(in.rdbuf())) { std::cin.clear(); }
  ~CinFromString() {
    std::cin.rdbuf(saved);
    std::cin.clear();
  }
};

// Sends fd 1 to a temporary file for the scope; read() returns what was written.
struct StdoutToFile {
  char path[64];
  int saved;
  StdoutToFile() {
    std::strcpy(path, "/tmp/qz_screen_test_XXXXXX");
    int fd = mkstemp(path);
    std::cout.flush();
    std::fflush(stdout);
    saved = dup(1);
    dup2(fd, 1);
    close(fd);
  }
  std::string read() {
    std::cout.flush();
    std::fflush(stdout);
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  ~StdoutToFile() {
    std::cout.flush();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    unlink(path);
  }
};

TEST(ScreenTest, CreateScreenFlags) {
  Screen* a = CreateScreen(0x100);
  Screen* b = CreateScreen(0xFF);
  EXPECT_TRUE(a->is_interactive());
  EXPECT_FALSE(b->is_interactive());
  ConsoleScreen* c = dynamic_cast<ConsoleScreen*>(a);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->output_charset(), Charset::utf8);
  EXPECT_EQ(c->input_charset(), Charset::utf8);
  ReleaseScreen(a);
  ReleaseScreen(b);
  ReleaseScreen(nullptr);
}

TEST(ScreenTest, CharsetNames) {
  Screen* s = CreateScreen(0);
  EXPECT_EQ(SetInputCharset(s, "no-such-charset"), 1);
  EXPECT_EQ(SetOutputCharset(s, "no-such-charset"), 1);
  auto* c = static_cast<ConsoleScreen*>(s);
  EXPECT_EQ(c->input_charset(), Charset::utf8);
  EXPECT_EQ(SetOutputCharset(s, "windows-1252"), 0);
  EXPECT_STREQ(c->output_charset()->name(), "windows-1252");
  EXPECT_EQ(SetInputCharset(s, "utf-16le"), 0);
  EXPECT_EQ(c->input_charset(), Charset::utf16le);
  ReleaseScreen(s);
}

TEST(ScreenTest, BufferNesting) {
  CaptureScreen s;
  String got;
  s.ob_get(&got);
  EXPECT_EQ(got.size(), 0u);  // not buffering: empty

  s.ob_start();
  s.out(String("a"));
  s.ob_start();  // joins the outer capture
  s.outendl(String("b"));
  s.ob_get(&got);
  EXPECT_EQ(text(got), "ab\n");
  s.err(String("now"));  // err is never buffered
  EXPECT_EQ(s.err_text, "now");
  s.ob_end_clean();  // one level: everything captured is gone
  EXPECT_FALSE(s.ob_active());
  EXPECT_EQ(s.out_text, "");
  s.out(String("x"));
  EXPECT_EQ(s.out_text, "x");

  s.ob_start();
  s.out(String("1"));
  s.out(String("2"));
  EXPECT_EQ(s.out_text, "x");
  s.ob_end_flush();
  EXPECT_EQ(s.out_text, "x12");
  s.ob_end_flush();  // not buffering: nothing
  s.ob_end_clean();
  EXPECT_EQ(s.out_text, "x12");

  s.ob_start();  // a pending buffer is freed by the destructor, not written
  s.out(String("lost"));
  s.errendl(String("e"));
  s.errendl();
  EXPECT_EQ(s.err_text, "nowe\n\n");
}

TEST(ScreenTest, BaseHooks) {
  CaptureScreen s;
  auto code = [](auto f) {
    try {
      f();
    } catch (const RuntimeError& e) {
      return e.code;
    }
    return 0;
  };
  EXPECT_EQ(code([&] { s.browse(nullptr); }), 1001);
  EXPECT_EQ(code([&] { s.wait(nullptr); }), 1001);
  EXPECT_EQ(code([&] { s.modify_command(nullptr, String("x")); }), 1001);
  try {
    s.browse(nullptr);
  } catch (const RuntimeError& e) {
    EXPECT_EQ(text(e.detail), "browse");
  }
  EXPECT_EQ(s.msgbox(String("t"), String("x"), 3, 2, 0), 2);
  char buf[4];
  const Charset* cs = nullptr;
  EXPECT_EQ(s.read(buf, 4, 1, &cs), 0u);
  s.lock_for_output();
  s.unlock_output();
  { ScreenOutputLock lock(&s); }
}

TEST(ScreenTest, ConsoleShowsBinaryAsHex) {
  ConsoleScreen s;
  StdoutToFile capture;
  const char bytes[] = {0x00, static_cast<char>(0xAB)};
  s.out(String(bytes, 2, Charset::binary));
  s.out(String("|"));
  s.flush();
  EXPECT_EQ(capture.read(), "0h00AB|");
}

TEST(ScreenTest, ConsoleConvertsWithSubstitution) {
  ConsoleScreen s;
  ASSERT_EQ(SetOutputCharset(&s, "windows-1252"), 0);
  StdoutToFile capture;
  s.out(String("\xE2\x82\xAC-\xC3\xA9-\xE2\x98\x83"));  // euro, e acute, snowman
  s.flush();
  std::string got = capture.read();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(static_cast<unsigned char>(got[0]), 0x80);
  EXPECT_EQ(static_cast<unsigned char>(got[2]), 0xE9);
  EXPECT_NE(static_cast<unsigned char>(got[4]), 0xE2);  // the substitute, not the UTF-8 bytes
}

TEST(ScreenTest, PrintScreenUtf8) {
  CaptureScreen s;
  PrintScreenUtf8(&s, "h\xC3\xA9llo");
  EXPECT_EQ(s.out_text, "h\xC3\xA9llo");
}

// ---------------------------------------------------------------------------------------------
// msgbox
// ---------------------------------------------------------------------------------------------

struct Row {
  int bit;
  const char* label;
  char key;
};
const Row kRows[] = {{1, "Ok", 'o'},       {2, "Yes", 'y'},   {4, "No", 'n'},     {8, "Cancel", 'c'},
                     {16, "Abort", 'a'},   {64, "Ignore", 'i'}, {32, "Retry", 'r'}};

std::string expected_prompt(int buttons, int default_button) {
  std::string p;
  for (const Row& r : kRows) {
    if (!(buttons & r.bit)) continue;
    if (!p.empty()) p += ", ";
    p += r.label;
    p += r.bit == default_button ? std::string("[") + r.key + "]" : std::string("(") + r.key + ")";
  }
  return p + ": ";
}

// Runs msgbox on a console screen with std::cin fed from input; returns the answer and what
// was written to standard output.
int run_msgbox(const std::string& input, int buttons, int default_button, std::string* output,
               const char* title = "Title", const char* body = "Text") {
  ConsoleScreen s;
  s.set_interactive(true);
  CinFromString in(input);
  StdoutToFile capture;
  int answer = s.msgbox(String(title), String(body), buttons, default_button, 0);
  s.flush();
  *output = capture.read();
  return answer;
}

TEST(ScreenTest, MsgboxNonInteractivePrintsOnlyTheMessage) {
  ConsoleScreen s;
  StdoutToFile capture;
  EXPECT_EQ(s.msgbox(String("Title"), String("Text"), 6, 4, 0), 4);
  s.flush();
  EXPECT_EQ(capture.read(), "Title\nText\n\n");
}

TEST(ScreenTest, MsgboxEveryButtonSet) {
  for (int buttons = 1; buttons < 128; ++buttons) {
    for (const Row& r : kRows) {
      if (!(buttons & r.bit)) continue;
      std::string out;
      int got = run_msgbox(std::string(1, r.key) + "\n", buttons, 0, &out);
      EXPECT_EQ(got, r.bit) << "buttons " << buttons << " key " << r.key;
      EXPECT_EQ(out, "Title\nText\n\n" + expected_prompt(buttons, 0) + "\n") << buttons;
    }
    // An empty line takes the default (each offered button in turn), or -1 without one.
    for (const Row& r : kRows) {
      if (!(buttons & r.bit)) continue;
      std::string out;
      EXPECT_EQ(run_msgbox("\n", buttons, r.bit, &out), r.bit);
      EXPECT_EQ(out, "Title\nText\n\n" + expected_prompt(buttons, r.bit) + "\n");
    }
    std::string out;
    EXPECT_EQ(run_msgbox("\n", buttons, 0, &out), -1);
  }
}

TEST(ScreenTest, MsgboxInvalidInputAsksAgain) {
  std::string out;
  // Keys compare case-sensitively: "Y" is invalid, "yes" is taken by its first character.
  EXPECT_EQ(run_msgbox("Y\nq\nyes\n", 3, 2, &out, "", ""), 2);
  std::string prompt = expected_prompt(3, 2);
  EXPECT_EQ(out, prompt + "invalid input\n" + prompt + "invalid input\n" + prompt + "\n");
  EXPECT_EQ(prompt, "Ok(o), Yes[y]: ");
  // CR LF line ends and the end of the input.
  EXPECT_EQ(run_msgbox("o\r\n", 3, 2, &out, "", ""), 1);
  EXPECT_EQ(run_msgbox("", 3, 2, &out, "", ""), 2);    // end of input: the default
  EXPECT_EQ(run_msgbox("x", 9, 0, &out, "", ""), -1);  // invalid, then the end: no default
  EXPECT_EQ(out, "Ok(o), Cancel(c): invalid input\nOk(o), Cancel(c): \n");
}

// A real pipe on file descriptor 0, in a child process.
TEST(ScreenTest, MsgboxOverARealPipe) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fds[2];
    if (pipe(fds) != 0) _exit(100);
    const char answer[] = "z\nr\n";
    if (write(fds[1], answer, sizeof answer - 1) != sizeof answer - 1) _exit(101);
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    Screen* s = CreateScreen(0x100);
    int got = s->msgbox(String("t"), String("x"), 16 | 32 | 64, 16, 0);
    ReleaseScreen(s);
    _exit(got);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 32);
}

// ---------------------------------------------------------------------------------------------
// Concurrency
// ---------------------------------------------------------------------------------------------

TEST(ScreenTest, TwoThreadsPrintingLoseNothing) {
  ConsoleScreen s;
  StdoutToFile capture;
  constexpr int kLines = 100000;
  auto writer = [&](char tag) {
    for (int i = 0; i < kLines; ++i) s.outendl(String((std::string(1, tag) + "-" + std::to_string(i)).c_str()));
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();
  s.flush();
  std::string all = capture.read();
  std::istringstream lines(all);
  std::string line;
  int next[2] = {0, 0};
  int count = 0;
  bool ok = true;
  while (std::getline(lines, line)) {
    ++count;
    if (line.size() < 3 || (line[0] != 'A' && line[0] != 'B') || line[1] != '-') {
      ok = false;
      break;
    }
    int k = line[0] - 'A';
    if (line.substr(2) != std::to_string(next[k])) {
      ok = false;
      break;
    }
    ++next[k];
  }
  EXPECT_TRUE(ok) << "corrupt line: " << line;
  EXPECT_EQ(count, 2 * kLines);
  EXPECT_EQ(next[0], kLines);
  EXPECT_EQ(next[1], kLines);
}

// Without a lock on the buffer operations, concurrent ob_start calls each make a buffer and one
// leaks or is freed twice. Under the internal lock the capture stays whole.
TEST(ScreenTest, ConcurrentBufferOperations) {
  CaptureScreen s;
  std::atomic<bool> go{false};
  auto work = [&](int k) {
    while (!go.load()) {
    }
    for (int i = 0; i < 20000; ++i) {
      s.ob_start();
      s.out(String(k ? "b" : "a"));
      String got;
      s.ob_get(&got);
      if (i % 3 == 0) s.ob_end_clean();
      if (i % 5 == 0) s.ob_end_flush();
    }
  };
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) threads.emplace_back(work, k % 2);
  go = true;
  for (auto& t : threads) t.join();
  s.ob_end_flush();
  for (char c : s.out_text) EXPECT_TRUE(c == 'a' || c == 'b');
}

TEST(ScreenTest, OutputLockKeepsWritesTogether) {
  CaptureScreen s;
  auto work = [&](char c) {
    for (int i = 0; i < 2000; ++i) {
      ScreenOutputLock lock(&s);
      s.out(String(std::string(1, c).c_str()));
      s.out(String(std::string(1, c).c_str()));
    }
  };
  std::thread a(work, 'x');
  std::thread b(work, 'y');
  a.join();
  b.join();
  ASSERT_EQ(s.out_text.size(), 8000u);
  for (size_t i = 0; i < s.out_text.size(); i += 2) EXPECT_EQ(s.out_text[i], s.out_text[i + 1]);
}

// ---------------------------------------------------------------------------------------------
// The per-thread screen override
// ---------------------------------------------------------------------------------------------

TEST(ScreenTest, RedirectIsPerThreadAndRestoredOnEveryExit) {
  CaptureScreen host;
  Runtime rt(&host);
  Runtime other(&host);
  EXPECT_EQ(rt.get_screen(), &host);
  {
    NullScreen null;
    ScreenRedirect redirect(&rt, &null);
    EXPECT_EQ(rt.get_screen(), &null);
    EXPECT_EQ(other.get_screen(), &host);  // another runtime is not affected
    EXPECT_EQ(rt.screen, &host);           // the shared field never changes
    Screen* seen_elsewhere = nullptr;
    std::thread([&] { seen_elsewhere = rt.get_screen(); }).join();
    EXPECT_EQ(seen_elsewhere, &host);  // another thread keeps the host's screen
    rt.get_screen()->out(String("discarded"));
    {
      NullScreen inner;
      ScreenRedirect nested(&rt, &inner);
      EXPECT_EQ(rt.get_screen(), &inner);
    }
    EXPECT_EQ(rt.get_screen(), &null);
  }
  EXPECT_EQ(rt.get_screen(), &host);
  EXPECT_EQ(host.out_text, "");

  // Restored when the run throws.
  try {
    NullScreen null;
    ScreenRedirect redirect(&rt, &null);
    throw RuntimeError(11);
  } catch (const RuntimeError&) {
  }
  EXPECT_EQ(rt.get_screen(), &host);

  // Restored out of order (two records on one thread).
  NullScreen n1, n2;
  screen_redirect_st r1, r2;
  redirect_screen(&r1, &rt, &n1);
  redirect_screen(&r2, &rt, &n2);
  restore_screen(&r1);
  EXPECT_EQ(rt.get_screen(), &n2);
  restore_screen(&r2);
  EXPECT_EQ(rt.get_screen(), &host);
}

// Two threads "compiling" at once with their own NullScreens: each restores its own override,
// and the host's screen is what both see afterwards (swapping the shared field could leave a
// destroyed NullScreen installed).
TEST(ScreenTest, ConcurrentRedirects) {
  CaptureScreen host;
  Runtime rt(&host);
  std::atomic<int> wrong{0};
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      NullScreen null;
      {
        ScreenRedirect redirect(&rt, &null);
        if (rt.get_screen() != &null) ++wrong;
        rt.get_screen()->out(String("x"));
      }
      if (rt.get_screen() != &host) ++wrong;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(rt.get_screen(), &host);
  EXPECT_EQ(host.out_text, "");
}

}  // namespace
