// Compile-time runs silence only their own thread: another thread writing through the shared
// screen at the same time loses nothing.
#include <gtest/gtest.h>
#include <qzbase.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "capture_screen.h"
#include "expression_support.h"

namespace qzbase::testing_compiler {
namespace {

using testing_screen::CapturingScreen;

TEST(CompileTimeScreen, AnotherThreadsOutputArrivesCompleteWhileFolding) {
  CapturingScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  {
    VmStack stack(runtime, 256, 64);
    std::atomic<bool> writing{true};
    constexpr int kLines = 5000;
    std::thread writer([&] {
      for (int i = 0; i < kLines; ++i) runtime->get_screen()->outendl(String(std::to_string(i).c_str()));
      writing = false;
    });
    String source("1 + 2 * 3");
    token_list_type tokens;
    tokenize(source.read(), source.end(), source.get_charset(), &tokens);
    int folds = 0;
    while (writing || folds < 50) {
      std::unique_ptr<Operand> op(parse_expression_tokens(tokens.cbegin(), tokens.cend()));
      ASSERT_NE(op, nullptr);
      Compiler compiler(&stack, COMPILE_KIND_PROGRAM);
      compiler_type_info_st type;
      compiletime_compact_constexpr(op.get(), &compiler.collection, compiler, &type);
      ASSERT_TRUE(compiler.messages.empty());
      ++folds;
    }
    writer.join();
    EXPECT_EQ(runtime->get_screen(), &screen);
    std::string expected;
    for (int i = 0; i < kLines; ++i) expected += std::to_string(i) + "\n";
    EXPECT_EQ(screen.text(), expected);
  }
  ReleaseRuntime(runtime);
}

}  // namespace
}  // namespace qzbase::testing_compiler
