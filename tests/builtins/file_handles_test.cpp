// The FOPEN family's registry under language threads: unique ids, per-stack FERROR codes, and
// codes dropped with their stacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "builtins/low_level_files.h"
#include "builtins_support.h"
#include "temp_dir.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;
using namespace testing_builtins;
using testing_files::TempDir;

long call_long(VmStack* stack, native_function_type fn, const std::vector<Variant>& args) {
  Variant v = call(stack, fn, args);
  long n = static_cast<long>(v);
  v.release(stack);
  return n;
}

// Eight threads, each on its own stack, open and close handles on one runtime. Every id is new,
// and each thread's FERROR() is the code of its own last operation: the even threads fail on an
// unknown id (6) before each check, the odd ones succeed (0).
TEST(FileHandleRegistry, ThreadsGetUniqueIdsAndTheirOwnCodes) {
  RuntimeFixture f;
  TempDir dir;
  std::string name = dir.write("data.txt", "line\n").string();
  constexpr int kThreads = 8;
  constexpr int kHandles = 10000;
  std::vector<std::vector<long>> ids(kThreads);
  std::atomic<int> wrong_codes{0};
  std::atomic<int> failed_opens{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      VmStack* stack = nullptr;
      if (CreateStack(f.runtime, 256, &stack) != 0) {
        failed_opens.fetch_add(kHandles);
        return;
      }
      for (int i = 0; i < kHandles; ++i) {
        long id = call_long(stack, bi_fopen, {str(name.c_str())});
        if (id <= 0) {
          failed_opens.fetch_add(1);
          continue;
        }
        ids[t].push_back(id);
        if (t % 2 == 0) call_long(stack, bi_ftell, {integer(-5)});
        long expected = t % 2 == 0 ? 6 : 0;
        if (call_long(stack, bi_ferror, {}) != expected) wrong_codes.fetch_add(1);
        call(stack, bi_fclose, {integer(id)}).release(stack);
      }
      ReleaseStack(stack);
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failed_opens.load(), 0);
  EXPECT_EQ(wrong_codes.load(), 0);
  std::set<long> all;
  size_t total = 0;
  for (const auto& list : ids) {
    total += list.size();
    all.insert(list.begin(), list.end());
  }
  EXPECT_EQ(total, static_cast<size_t>(kThreads * kHandles));
  EXPECT_EQ(all.size(), total);
  // Ids are never handed out again: the next one is above every id given so far.
  long next = call_long(f.stack, bi_fopen, {str(name.c_str())});
  EXPECT_GT(next, *all.rbegin());
  call(f.stack, bi_fclose, {integer(next)}).release(f.stack);
}

// A handle in use by one thread while another closes it: the close waits for the use to end.
TEST(FileHandleRegistry, CloseWhileAnotherThreadReads) {
  RuntimeFixture f;
  TempDir dir;
  std::string name = dir.write("big.txt", std::string(1 << 20, 'x')).string();
  for (int round = 0; round < 20; ++round) {
    long id = call_long(f.stack, bi_fopen, {str(name.c_str())});
    ASSERT_GT(id, 0);
    std::thread reader([&] {
      VmStack* stack = nullptr;
      ASSERT_EQ(CreateStack(f.runtime, 256, &stack), 0);
      Variant v = call(stack, bi_fread, {integer(id), integer(1 << 20)});
      // Either the whole text (read before the close) or .F. (the id was already gone).
      if (v.tag == VT_STRING) {
        EXPECT_EQ(static_cast<String>(v).size(), size_t{1} << 20);
      } else {
        EXPECT_EQ(v.tag, VT_FALSE);
      }
      v.release(stack);
      ReleaseStack(stack);
    });
    call(f.stack, bi_fclose, {integer(id)}).release(f.stack);
    reader.join();
  }
}

// Every stack that records a code and is then released leaves no entry behind; a new stack starts
// with FERROR() 0.
TEST(FileHandleRegistry, ReleasedStacksLeaveNoCodes) {
  RuntimeFixture f;
  call_long(f.stack, bi_ftell, {integer(999)});
  const size_t start = file_error_entries(f.runtime);
  EXPECT_EQ(start, 1u);
  for (int i = 0; i < 10000; ++i) {
    VmStack* stack = nullptr;
    ASSERT_EQ(CreateStack(f.runtime, 64, &stack), 0);
    EXPECT_EQ(call_long(stack, bi_ferror, {}), 0);
    call_long(stack, bi_ftell, {integer(999)});
    ASSERT_EQ(call_long(stack, bi_ferror, {}), 6);
    ReleaseStack(stack);
  }
  EXPECT_EQ(file_error_entries(f.runtime), start);
  EXPECT_EQ(call_long(f.stack, bi_ferror, {}), 6);
}

}  // namespace
}  // namespace qzbase
