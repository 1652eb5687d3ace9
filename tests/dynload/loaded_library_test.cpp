// Libraries opened on first use: a missing library or function is the language's error 1001
// naming it, and racing first calls all get the one address.
#include "dynload/loaded_library.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qzbase {
namespace {

// The code and detail of the RuntimeError f raises ({0, ""} when it raises none).
template <class F>
std::pair<int, std::string> error_of(F f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return {e.code, std::string(e.detail.read(), e.detail.size())};
  }
  return {0, ""};
}

TEST(LoadedLibrary, MissingLibraryOrFunctionIsFeatureNotAvailable) {
  struct Case {
    const char* file;
    const char* function;
    std::string detail;
  };
  const Case cases[] = {
      {"libqz-no-such-library.so.9", "cos", "libqz-no-such-library.so.9"},
      {"libm.so.6", "qz_no_such_function", "libm.so.6 qz_no_such_function"},
  };
  for (const Case& c : cases) {
    LoadedLibrary library(c.file);
    // Asked twice: a failure is not remembered as a success.
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(error_of([&] { library.symbol(c.function); }), std::make_pair(1001, c.detail)) << c.file;
    }
  }
}

TEST(LoadedLibrary, RacingFirstCallsShareOneAddress) {
  LoadedLibrary library("libm.so.6");
  using Cos = double(double);
  std::atomic<Cos*> slot{nullptr};
  std::vector<Cos*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&, i] { seen[i] = loaded_function(library, slot, "cos"); });
  }
  for (std::thread& t : threads) t.join();
  for (Cos* f : seen) EXPECT_EQ(f, seen[0]);
  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(seen[0](0.0), 1.0);
}

}  // namespace
}  // namespace qzbase
