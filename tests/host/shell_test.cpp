// The shell in-process: RunQzsh on passed arguments, with the console input taken from a string
// and the output captured.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "../../shell/exit_status.h"
#include "vm/vm_stack.h"

namespace qzbase {
namespace {

// The console screen (it reads std::cin) with its output kept instead of written.
class CaptureConsole : public ConsoleScreen {
 public:
  void internal_out(const String& text) override { out += text.u8str(); }
  void internal_err(const String& text) override { err += text.u8str(); }
  std::string out;
  std::string err;
};

std::string prompt() { return "qz " + std::filesystem::current_path().string() + "> "; }

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_cin_ = std::cin.rdbuf();
    runtime_ = CreateRuntime(&screen_);
  }
  void TearDown() override {
    ReleaseRuntime(runtime_);
    std::cin.rdbuf(saved_cin_);
    std::cin.clear();
  }

  // Runs the shell on the arguments (without the program name) with input as the console input.
  int run(const std::vector<std::string>& args, const std::string& input = "") {
    input_.str(input);
    input_.clear();
    std::cin.rdbuf(input_.rdbuf());
    std::cin.clear();
    std::vector<const char*> argv{"qzsh"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    runtime_->pass_arguments(static_cast<int>(argv.size()), argv.data());
    return RunQzsh(runtime_);
  }

  // What follows the banner.
  std::string after_banner() const {
    size_t end = screen_.out.find("\n\n", screen_.out.find("(ENG)"));
    return end == std::string::npos ? std::string() : screen_.out.substr(end + 2);
  }

  CaptureConsole screen_;
  Runtime* runtime_ = nullptr;
  std::istringstream input_;
  std::streambuf* saved_cin_ = nullptr;
};

TEST_F(ShellTest, NoArgumentsPrintsTheBannerAndOnePromptAndEndsWithTheInput) {
  EXPECT_EQ(run({}), 0);
  const std::string& out = screen_.out;
  ASSERT_EQ(out.rfind("\n  (DEU) ", 0), 0u) << out;
  size_t eng = out.find("\n\n  (ENG) ");
  ASSERT_NE(eng, std::string::npos) << out;
  std::string banner = out.substr(0, out.size() - prompt().size());
  ASSERT_GE(banner.size(), 2u);
  EXPECT_EQ(banner.substr(banner.size() - 2), "\n\n");
  // Every line of the banner that has text is indented by two blanks.
  std::istringstream lines(banner);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) {
      EXPECT_EQ(line.rfind("  ", 0), 0u) << line;
    }
  }
  EXPECT_EQ(after_banner(), prompt());
  EXPECT_EQ(screen_.err, "");
  EXPECT_TRUE(screen_.is_interactive());
}

TEST_F(ShellTest, SysinfoPrintsFiveLinesAndRunsNothing) {
  EXPECT_EQ(run({"--sysinfo", "no_such_script.prg", "x"}), 0);
  std::string expected = std::string("VERSION: 0.9.2700\nARCH: x86_64\nLOCALE: en_US\nCODEPAGE: ") +
                         runtime_->codepage->name() + "\nOS: LINUX\n";
  EXPECT_EQ(screen_.out, expected);
  EXPECT_EQ(screen_.err, "");
}

TEST_F(ShellTest, CodepageOptions) {
  struct Case {
    const char* value;
    int result;
    const char* err;
  };
  const Case cases[] = {
      {"no-such-codepage", 1, "--codepage not supported"},
      {"0", 1, "--codepage not supported"},
      {"-1252", 1, "--codepage not supported"},
      {"4294968548", 1, "--codepage not supported"},  // 1252 + 2^32 must not wrap to 1252
      {"1252", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    screen_.out.clear();
    screen_.err.clear();
    const Charset* before = runtime_->codepage;
    EXPECT_EQ(run({"--codepage", c.value}), c.result);
    EXPECT_EQ(screen_.err, c.err);
    if (c.result == 1) {
      EXPECT_EQ(runtime_->codepage, before);
      EXPECT_EQ(screen_.out, "");  // no banner, no shell
    } else {
      EXPECT_EQ(GetCharsetCPID(runtime_->codepage), 1252u);
      EXPECT_EQ(after_banner(), prompt());
    }
  }
}

// Fault: unknown console charsets were ignored without a word; they are refused as --codepage is.
TEST_F(ShellTest, UnknownConsoleCharsetsAreRefused) {
  const Charset* out = screen_.output_charset();
  const Charset* in = screen_.input_charset();
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"--cstdout", "no-such-charset"}, "--cstdout not supported"},
      {{"--cstdin", "no-such-charset"}, "--cstdin not supported"},
      {{"--cstdout", "no-such-charset", "--cstdin", "utf-8"}, "--cstdout not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    screen_.out.clear();
    screen_.err.clear();
    EXPECT_EQ(run(c.args), 1);
    EXPECT_EQ(screen_.err, c.err);
    EXPECT_EQ(screen_.out, "");  // no banner, no shell
    EXPECT_EQ(screen_.output_charset(), out);
  }
  EXPECT_EQ(screen_.input_charset(), in);
}

TEST_F(ShellTest, HelpVersionAndCommandLineErrorsReturnTheirStatus) {
  struct Case {
    std::vector<std::string> args;
    int result;
    const char* printed;
  };
  const Case cases[] = {
      {{"--version"}, 0, "0.9.2700 (x86_64)"},
      {{"--help"}, 0, "Script-Name and Arguments."},
      {{"--codepage"}, 1, "--codepage"},  // a value option without its value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::ostringstream out, err;
    std::streambuf* saved_out = std::cout.rdbuf(out.rdbuf());
    std::streambuf* saved_err = std::cerr.rdbuf(err.rdbuf());
    int result = run(c.args);
    std::cout.rdbuf(saved_out);
    std::cerr.rdbuf(saved_err);
    EXPECT_EQ(result, c.result);
    EXPECT_NE((out.str() + err.str()).find(c.printed), std::string::npos) << out.str() << err.str();
    EXPECT_EQ(screen_.out, "");  // nothing else ran
  }
}

TEST_F(ShellTest, AssertOptionMakesAssertLinesRun) {
  EXPECT_EQ(run({}, "ASSERT 1 = 2\n"), 0);
  EXPECT_FALSE(runtime_->asserts);
  EXPECT_EQ(after_banner(), prompt() + prompt());
  screen_.out.clear();
  EXPECT_EQ(run({"--assert"}, "ASSERT 1 = 2\n? 1\n"), 0);
  EXPECT_TRUE(runtime_->asserts);
  EXPECT_EQ(after_banner(), prompt() + "ASSERT FAILED: 1 = 2\n" + prompt() + "1\n" + prompt());
}

TEST_F(ShellTest, EmptyLinesOnlyRepeatThePrompt) {
  EXPECT_EQ(run({}, "\n\n"), 0);
  EXPECT_EQ(after_banner(), prompt() + prompt() + prompt());
  EXPECT_EQ(screen_.err, "");
}

TEST_F(ShellTest, LinesRunUntilTheEndOfInput) {
  EXPECT_EQ(run({}, "? 1 + 2\n? \"a\", 7\n"), 0);
  EXPECT_EQ(after_banner(), prompt() + "3\n" + prompt() + "a 7\n" + prompt());
}

TEST_F(ShellTest, LastLineWithoutLineEndStillRuns) {
  EXPECT_EQ(run({}, "? 5"), 0);
  EXPECT_EQ(after_banner(), prompt() + "5\n");
}

TEST_F(ShellTest, QuitEndsTheLoop) {
  EXPECT_EQ(run({}, "QUIT\n? 1\n"), 0);
  EXPECT_EQ(after_banner(), prompt());
  EXPECT_EQ(screen_.err, "");
}

TEST_F(ShellTest, CancelAtThePromptGoesOnReading) {
  EXPECT_EQ(run({}, "CANCEL\n? 2\nCANCEL\n? 3\n"), 0);
  EXPECT_EQ(after_banner(), prompt() + prompt() + "2\n" + prompt() + prompt() + "3\n" + prompt());
}

TEST_F(ShellTest, ErrorsAtThePromptArePrintedAndTheLoopGoesOn) {
  EXPECT_EQ(run({}, "? no_such_variable\n? 4\n"), 0);
  EXPECT_NE(screen_.err.find("Variable 'NO_SUCH_VARIABLE' is not found."), std::string::npos) << screen_.err;
  std::string after = after_banner();
  EXPECT_NE(after.find(prompt() + "4\n" + prompt()), std::string::npos) << after;
}

TEST(ShellExitStatus, IsTheLowByteButNeverZeroForAnError) {
  struct Case {
    int result;
    int status;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {12, 12}, {255, 255}, {256, 1}, {257, 1}, {512, 1}, {1001, 233}, {9010, 50}};
  for (const Case& c : cases) EXPECT_EQ(qzsh::exit_status(c.result), c.status) << c.result;
}

// A script folder for the tests that run a program file.
class ShellScriptTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("qz_shell_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    saved_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(saved_cwd_);
    std::filesystem::remove_all(dir_);
    ShellTest::TearDown();
  }
  void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }

  std::filesystem::path dir_;
  std::filesystem::path saved_cwd_;
};

TEST_F(ShellScriptTest, EveryArgumentArrives) {
  write("args.prg",
        "LPARAMETERS argc, argv\n"
        "? argc\n"
        "FOR i = 1 TO argc\n"
        "  ?? argv[i] + \"|\"\n"
        "ENDFOR\n");
  std::vector<std::string> args{"args.prg"};
  std::string expected = "21\nargs.prg|";
  for (int i = 1; i <= 20; ++i) {
    args.push_back("a" + std::to_string(i));
    expected += "a" + std::to_string(i) + "|";
  }
  EXPECT_EQ(run(args), 0);
  EXPECT_EQ(screen_.out, expected);
  EXPECT_EQ(screen_.err, "");
}

// CANCEL deep inside a line leaves nothing behind on the main stack, and the loop reads on.
TEST_F(ShellScriptTest, CancelInsideACallPopsTheMainStack) {
  write("procs.prg", "FUNCTION stop(n)\n  CANCEL\nENDFUNC\n");
  Memvar* top = runtime_->get_main_stack()->sp;
  EXPECT_EQ(run({}, "SET PROCEDURE TO procs.prg\n? 1, 2, stop(3)\n? \"next\"\n"), 0);
  EXPECT_EQ(runtime_->get_main_stack()->sp, top);
  EXPECT_EQ(after_banner(), prompt() + prompt() + prompt() + "next\n" + prompt());
  EXPECT_EQ(screen_.err, "");
}

TEST_F(ShellScriptTest, ScriptsAreInteractiveOnlyWithTheOption) {
  write("quiet.prg", "x = 1\n");
  EXPECT_EQ(run({"quiet.prg"}), 0);
  EXPECT_FALSE(screen_.is_interactive());
  EXPECT_EQ(run({"--interactive", "quiet.prg"}), 0);
  EXPECT_TRUE(screen_.is_interactive());
  EXPECT_EQ(screen_.out, "");  // no banner with a script
}

TEST_F(ShellScriptTest, ScriptEndingInAnErrorReturnsItsNumber) {
  write("fails.prg", "? 1\nx = no_such_variable\n? 2\n");
  EXPECT_EQ(run({"fails.prg"}), 12);
  EXPECT_EQ(screen_.out, "1\n");
  EXPECT_NE(screen_.err.find("(Runtime error)"), std::string::npos) << screen_.err;
}

TEST_F(ShellScriptTest, MissingScriptReturnsTheErrorNumber) {
  EXPECT_NE(run({"no_such_script.prg"}), 0);
  EXPECT_NE(screen_.err, "");
}

}  // namespace
}  // namespace qzbase
