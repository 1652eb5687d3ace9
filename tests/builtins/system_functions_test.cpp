// system_functions_test.cpp - MESSAGEBOX and the console commands on a scripted screen, the SYS
// table, and the shared runtime settings (environment copy, SET FDOW, SYS(3) names) under
// language threads each on its own stack.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "builtins/set_functions.h"
#include "builtins/system_functions.h"
#include "builtins/value_functions.h"
#include "values/checksum.h"
#include "builtins_support.h"

namespace qzbase {
namespace {

using testing_builtins::call;
using testing_builtins::error_of;
using testing_builtins::integer;
using testing_builtins::run;
using testing_builtins::str;

// Answers message boxes from a script and records what each one offered; counts the console
// calls; throws from all of them when told to.
class ScriptedScreen : public testing_screen::CaptureScreen {
 public:
  int msgbox(const String& title, const String& text, int buttons, int default_button, int) override {
    if (fail) throw RuntimeError(1234);
    boxes.push_back({title.u8str(), text.u8str(), buttons, default_button});
    return answer;
  }
  void clear() override {
    if (fail) throw RuntimeError(1235);
    ++clears;
  }
  void modify_command(VmStack*, const String& text) override {
    if (fail) throw RuntimeError(1236);
    edited.push_back(text.u8str());
  }
  void browse(VmStack*) override {
    if (fail) throw RuntimeError(1237);
    ++browses;
  }
  void wait(VmStack*) override {
    if (fail) throw RuntimeError(1238);
    ++waits;
  }

  struct box_st {
    std::string title;
    std::string text;
    int buttons;
    int default_button;
  };
  std::vector<box_st> boxes;
  int answer = MSGBOX_OK;
  bool fail = false;
  int clears = 0;
  int browses = 0;
  int waits = 0;
  std::vector<std::string> edited;
};

class ScriptedRuntime : public ::testing::Test {
 public:
  ScriptedRuntime() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 256, 64)) {}
  ~ScriptedRuntime() override {
    delete stack;
    ReleaseRuntime(runtime);
  }
  ScriptedScreen screen;
  Runtime* runtime;
  VmStack* stack;
};

TEST_F(ScriptedRuntime, MessageBoxOffersTheButtonsAndDefaultOfEachType) {
  struct row_st {
    int type;
    int buttons[3];
  };
  const row_st rows[] = {
      {0, {MSGBOX_OK, 0, 0}},
      {1, {MSGBOX_OK, MSGBOX_CANCEL, 0}},
      {2, {MSGBOX_ABORT, MSGBOX_RETRY, MSGBOX_IGNORE}},
      {3, {MSGBOX_YES, MSGBOX_NO, MSGBOX_CANCEL}},
      {4, {MSGBOX_YES, MSGBOX_NO, 0}},
      {5, {MSGBOX_RETRY, MSGBOX_CANCEL, 0}},
  };
  for (const row_st& row : rows) {
    const int offered = row.buttons[0] | row.buttons[1] | row.buttons[2];
    // Default bits: none (first), 0x100 (second), 0x200 (third), both (third wins); icon bits
    // (0x10 .. 0x40) change nothing.
    const int defaults[][2] = {{0, 0}, {0x100, 1}, {0x200, 2}, {0x300, 2}, {0x30, 0}};
    for (const auto& d : defaults) {
      screen.boxes.clear();
      Variant r = call(stack, bi_messagebox, {str("question"), integer(row.type | d[0]), str("title")});
      ASSERT_EQ(screen.boxes.size(), 1u);
      EXPECT_EQ(screen.boxes[0].buttons, offered) << row.type;
      EXPECT_EQ(screen.boxes[0].default_button, row.buttons[d[1]]) << row.type << " " << d[0];
      EXPECT_EQ(screen.boxes[0].title, "title");
      EXPECT_EQ(screen.boxes[0].text, "question");
      r.release(stack);
    }
  }
  // Another type offers OK; no title gives an empty one.
  screen.boxes.clear();
  Variant r = call(stack, bi_messagebox, {str("x"), integer(9)});
  EXPECT_EQ(screen.boxes.at(0).buttons, MSGBOX_OK);
  EXPECT_EQ(screen.boxes.at(0).title, "");
  r.release(stack);
}

TEST_F(ScriptedRuntime, MessageBoxMapsEachAnswer) {
  const int answers[][2] = {{MSGBOX_OK, 1},    {MSGBOX_CANCEL, 2}, {MSGBOX_ABORT, 3}, {MSGBOX_RETRY, 4},
                            {MSGBOX_IGNORE, 5}, {MSGBOX_YES, 6},    {MSGBOX_NO, 7}};
  for (const auto& a : answers) {
    screen.answer = a[0];
    Variant r = call(stack, bi_messagebox, {str("x"), integer(3)});
    EXPECT_EQ(r.tag, VT_INTEGER);
    EXPECT_EQ(static_cast<long>(r), a[1]);
  }
  for (int odd : {-1, 0, 3, 128}) {
    screen.answer = odd;
    EXPECT_EQ(error_of([&] { call(stack, bi_messagebox, {str("x")}); }).first, 1001) << odd;
  }
  screen.fail = true;
  EXPECT_EQ(error_of([&] { call(stack, bi_messagebox, {str("x")}); }).first, 1234);
}

TEST_F(ScriptedRuntime, ConsoleCommandsCallTheScreenAndLetItsErrorsPass) {
  run(stack, void_stackcall_clear, {});
  run(stack, void_stackcall_browse, {});
  run(stack, void_stackcall_wait, {integer(0), testing_builtins::null_value(), testing_builtins::null_value()});
  run(stack, void_stackcall_modify_command, {str("prog.prg")});
  EXPECT_EQ(screen.clears, 1);
  EXPECT_EQ(screen.browses, 1);
  EXPECT_EQ(screen.waits, 1);
  EXPECT_EQ(screen.edited, std::vector<std::string>{"prog.prg"});
  screen.fail = true;
  EXPECT_EQ(error_of([&] { run(stack, void_stackcall_clear, {}); }).first, 1235);
  EXPECT_EQ(error_of([&] { run(stack, void_stackcall_modify_command, {str("p")}); }).first, 1236);
  EXPECT_EQ(error_of([&] { run(stack, void_stackcall_browse, {}); }).first, 1237);
  EXPECT_EQ(error_of([&] { run(stack, void_stackcall_wait, {integer(0)}); }).first, 1238);
}

TEST_F(ScriptedRuntime, TheBaseScreenRefusesEditorBrowserAndWait) {
  testing_screen::CaptureScreen plain;
  Runtime* other = CreateRuntime(&plain);
  auto* s = new VmStack(other, 256, 64);
  EXPECT_EQ(error_of([&] { run(s, void_stackcall_modify_command, {str("p")}); }).first, 1001);
  EXPECT_EQ(error_of([&] { run(s, void_stackcall_browse, {}); }).first, 1001);
  EXPECT_EQ(error_of([&] { run(s, void_stackcall_wait, {integer(0)}); }).first, 1001);
  delete s;
  ReleaseRuntime(other);
}

// Every id the table lists without an implementation.
const int kUnavailableSysIds[] = {
    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,   17,   18,   19,   20,   21,
    22,   23,   24,   100,  101,  102,  103,  602,  987,  1001, 1011, 1016, 1023, 1037, 1104, 1269, 1270,
    1271, 1272, 1500, 2000, 2001, 2002, 2003, 2004, 2005, 2006, 2010, 2011, 2012, 2013, 2014, 2015, 2016,
    2017, 2019, 2020, 2021, 2022, 2024, 2030, 2040, 2060, 2300, 2325, 2326, 2327, 2333, 2334, 2335, 2336,
    2339, 2340, 2410, 2450, 2600, 2700, 2800, 2801, 2910, 3004, 3005, 3006, 3007, 3008, 3009, 3050, 3051,
    3052, 3053, 3054, 3055, 3056, 3065, 3092, 3095, 3096, 3097, 3098, 3099, 3101};

TEST_F(ScriptedRuntime, SysTableListsEveryIdAndTheUnavailableOnesRaise1001) {
  EXPECT_EQ(std::size(kUnavailableSysIds), 98u);
  EXPECT_EQ(sys_function_count(), 109u);
  for (int id : kUnavailableSysIds) {
    EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(id)}); }).first, 1001) << id;
    EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(id), integer(1), str("x")}); }).first, 1001) << id;
  }
  // Not listed: an empty text.
  for (int id : {0, 25, 4242, -1, 10000}) {
    Variant r = call(stack, bi_sys, {integer(id)});
    EXPECT_EQ(r.tag, VT_STRING) << id;
    EXPECT_EQ(static_cast<String>(r).size(), 0u) << id;
    r.release(stack);
  }
}

TEST_F(ScriptedRuntime, SysArgumentCounts) {
  // Ids that take nothing after the id.
  for (int id : {1, 2, 3, 16, 2018, 2023}) {
    EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(id), integer(0)}); }).first, 11) << id;
    Variant r = call(stack, bi_sys, {integer(id)});
    r.release(stack);
  }
  EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(2007)}); }).first, 11);
  EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(2007), str("a"), integer(0), integer(0), integer(0)}); }).first,
            11);
  EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(2029), integer(1), integer(2)}); }).first, 11);
  EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(8999)}); }).first, 11);
  // Without a table.
  EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(2029)}); }).first, 52);
  EXPECT_EQ(error_of([&] { call(stack, bi_sys, {integer(9000)}); }).first, 52);
}

TEST_F(ScriptedRuntime, SysChecksums) {
  struct row_st {
    const char* text;
    long seed;
    long mode;
    const char* expected;
  };
  const row_st rows[] = {
      {"123456789", 0, 1, "3421780262"},  // the CRC-32 check value
      {"123456789", 0, 0, "10673"},       // seed 0 starts the CRC-16 from all ones
      {"", 7, 0, "7"},
      {"", 0, 1, "0"},
  };
  for (const row_st& row : rows) {
    Variant r = call(stack, bi_sys, {integer(2007), str(row.text), integer(row.seed), integer(row.mode)});
    EXPECT_EQ(static_cast<String>(r).u8str(), row.expected) << row.text;
    r.release(stack);
  }
  const unsigned char abc[] = {'a', 'b', 'c'};
  Variant crc16 = call(stack, bi_sys, {integer(2007), str("abc")});
  EXPECT_EQ(static_cast<String>(crc16).u8str(), std::to_string(calculate_crc16(0, abc, 3)));
  crc16.release(stack);
  Variant crc32c = call(stack, bi_sys, {integer(2007), str("abc"), integer(5), integer(2)});
  EXPECT_EQ(static_cast<String>(crc32c).u8str(), std::to_string(calculate_crc32c(5, abc, 3)));
  crc32c.release(stack);
}

// Eight threads, each on its own stack, change and read the environment copy and SET FDOW while
// the others do the same: run under ThreadSanitizer to find races.
TEST(SharedSettingsThreads, EnvironmentAndFdowUnderEightThreads) {
  testing_screen::CapturingScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  const char* env[] = {"HOME=/home/t", "PATH=/usr/bin:/bin", nullptr};
  runtime->pass_environment(env);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      auto* stack = new VmStack(runtime, 256, 64);
      const std::string own = "QZ_THREAD_" + std::to_string(t);
      for (int i = 0; i < 200; ++i) {
        try {
          call(stack, bi_setenv, {str(own.c_str()), str(std::to_string(i).c_str())});
          Variant v = call(stack, bi_getenv, {str(own.c_str())});
          if (static_cast<String>(v).u8str() != std::to_string(i)) ++failures;
          v.release(stack);
          Variant home = call(stack, bi_getenv, {str("HOME")});
          if (static_cast<String>(home).u8str() != "/home/t") ++failures;
          home.release(stack);
          call(stack, bi_unsetenv, {str(own.c_str())});
          run(stack, set_fdow_to, {integer(1 + (i + t) % 7)});
          Variant date;
          date.set(date_st{2460311});  // 2024-01-01, a Monday
          Variant dow = call(stack, bi_dow, {date, integer(0)});
          const long day = static_cast<long>(dow);
          if (day < 1 || day > 7) ++failures;
          Variant fdow = call(stack, bi_set, {str("FDOW")});
          fdow.release(stack);
        } catch (...) {
          ++failures;
        }
      }
      delete stack;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  String value;
  EXPECT_FALSE(runtime->getenv(String("QZ_THREAD_0"), &value));
  ReleaseRuntime(runtime);
}

// SYS(3) names drawn by eight threads at once never repeat.
TEST(SharedSettingsThreads, TempNamesOfEightThreadsAreDistinct) {
  testing_screen::CapturingScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  constexpr int kThreads = 8;
  constexpr int kPerThread = 10000;
  std::vector<std::vector<std::string>> names(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto* stack = new VmStack(runtime, 256, 64);
      names[t].reserve(kPerThread);
      for (int i = 0; i < kPerThread; ++i) {
        Variant r = call(stack, bi_sys, {integer(3)});
        names[t].push_back(static_cast<String>(r).u8str());
        r.release(stack);
      }
      delete stack;
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<std::string> all;
  for (const auto& list : names) {
    for (const std::string& name : list) {
      ASSERT_EQ(name.size(), 32u);
      ASSERT_EQ(name.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
                std::string::npos);
      all.insert(name);
    }
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kPerThread));
  ReleaseRuntime(runtime);
}

}  // namespace
}  // namespace qzbase
