// The per-thread call trace and the crash handlers.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <thread>

using namespace qzbase;

namespace {

// Three traced levels, as library functions are.
__attribute__((noinline)) void traced_leaf(bool fail) {
  QZ_TRACE;
  if (fail) throw RuntimeError(11);
}

__attribute__((noinline)) void traced_middle(bool fail) {
  QZ_TRACE;
  traced_leaf(fail);
}

// Returns whether the catcher's own frame is the head again after the unwind.
__attribute__((noinline)) bool traced_catcher() {
  QZ_TRACE;
  const trace_frame_st* mine = trace_head;
  try {
    traced_middle(true);
  } catch (const RuntimeError&) {
  }
  return mine != nullptr && trace_head == mine;
}

__attribute__((noinline)) void traced_crash() {
  QZ_TRACE;
  std::raise(SIGSEGV);
}

__attribute__((noinline)) void traced_abort() {
  QZ_TRACE;
  std::raise(SIGABRT);
}

TEST(CallTrace, PushAndPopRestoreTheHead) {
  EXPECT_EQ(trace_head, nullptr);
  {
    QZ_TRACE;
    ASSERT_NE(trace_head, nullptr);
    EXPECT_NE(std::string(trace_head->name).find("TestBody"), std::string::npos);
    trace_frame_st manual;
    trace_push(manual, "int qzbase::manual()");
    EXPECT_EQ(trace_head, &manual);
    EXPECT_STREQ(manual.name, "int qzbase::manual()");
    trace_pop(manual);
  }
  EXPECT_EQ(trace_head, nullptr);
}

TEST(CallTrace, HeadIsTheCatchersFrameAfterAnException) {
  EXPECT_TRUE(traced_catcher());
  EXPECT_EQ(trace_head, nullptr);
}

TEST(CallTrace, EachThreadHasItsOwnChain) {
  QZ_TRACE;
  const trace_frame_st* outer = trace_head;
  const trace_frame_st* seen = reinterpret_cast<const trace_frame_st*>(1);
  std::thread t([&] { seen = trace_head; });
  t.join();
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(trace_head, outer);
}

TEST(CrashHandlersDeathTest, SegvPrintsTheChainNewestFirstAndExitsWithTheSignal) {
  EXPECT_EXIT(
      {
        std::signal(SIGSEGV, sig_SEGV_handler);
        traced_crash();
      },
      ::testing::ExitedWithCode(SIGSEGV),
      "^Program abnormally terminated after SIGSEGV\n[^\n]*traced_crash\\(\\)\n$");
}

TEST(CrashHandlersDeathTest, SegvWithoutTracedFunctionsPrintsOnlyTheFirstLine) {
  EXPECT_EXIT(
      {
        std::signal(SIGSEGV, sig_SEGV_handler);
        std::thread([] { std::raise(SIGSEGV); }).join();
      },
      ::testing::ExitedWithCode(SIGSEGV), "^Program abnormally terminated after SIGSEGV\n$");
}

void chained_handler(int signal) {
  std::fprintf(stderr, "chained %d\n", signal);
  std::fflush(stderr);
  _exit(42);
}

TEST(CrashHandlersDeathTest, AbrtChainsToThePreviousHandler) {
  EXPECT_EXIT(
      {
        old_sig_ABRT_handler = chained_handler;
        std::signal(SIGABRT, sig_ABRT_handler);
        traced_abort();
      },
      ::testing::ExitedWithCode(42),
      "^Program abnormally terminated after SIGABRT\n[^\n]*traced_abort[^\n]*\n(.*\n)*chained 6\n");
}

TEST(CrashHandlersDeathTest, TerminateWithoutException) {
  EXPECT_EXIT(terminate_handler(), ::testing::ExitedWithCode(1),
              "^Program is being terminated without exception\n$");
}

TEST(CrashHandlersDeathTest, TerminateReportsTheException) {
  EXPECT_EXIT(
      {
        std::set_terminate(terminate_handler);
        try {
          throw std::runtime_error("boom");
        } catch (...) {
          terminate_handler();
        }
      },
      ::testing::ExitedWithCode(1), "^Program is being terminated with boom\n$");
  EXPECT_EXIT(
      {
        try {
          throw_assert_failed();
        } catch (...) {
          terminate_handler();
        }
      },
      ::testing::ExitedWithCode(1), "^Program is being terminated qzbase::assert_failed_exception\n$");
  EXPECT_EXIT(
      {
        try {
          throw 7;
        } catch (...) {
          terminate_handler();
        }
      },
      ::testing::ExitedWithCode(1), "^Program is being terminated with unknown exception\n$");
}

}  // namespace
