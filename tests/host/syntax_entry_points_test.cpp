// syntax_entry_points_test.cpp - SyntaxClassifyString / SyntaxFetchClassifications: counts, then
// the items in order; handles are used once; bad handles and null pointers are refused.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "compiler/build_input.h"
#include "compiler/syntax_classification.h"
#include "vm/vm_stack.h"

using namespace qzbase;

namespace {

class SyntaxEntryPoints : public ::testing::Test {
 public:
  SyntaxEntryPoints() : runtime(CreateRuntime(&screen)) {}
  ~SyntaxEntryPoints() override { ReleaseRuntime(runtime); }

  int classify(const char* text, long* handle, unsigned counts[3]) {
    return SyntaxClassifyString(runtime, text, std::strlen(text), Charset::utf8, handle, &counts[0], &counts[1],
                                &counts[2]);
  }

  NullScreen screen;
  Runtime* runtime;
};

bool same(const document_location_st& a, const document_location_st& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

const char* const kText =
    "* header\n"
    "#define N 3\n"
    "? LEN(\"abc\") + N\n"
    "? 1 +* 2\n"
    "? &name\n"
    "#ifdef NOPE\n"
    "? 2\n"
    "#endif\n";

// The pair hands out what classify_syntax itself gives, in the same order.
TEST_F(SyntaxEntryPoints, CountsThenItems) {
  long handle = 0;
  unsigned counts[3] = {99, 99, 99};
  ASSERT_EQ(classify(kText, &handle, counts), 0);
  EXPECT_NE(handle, 0);

  VmStack stack(runtime, 512, 64);
  BuildInput input(&stack);
  std::unique_ptr<syntax_result_st> expected = input.classify_syntax(String(kText));
  ASSERT_EQ(counts[0], expected->syntax_items.size());
  ASSERT_EQ(counts[1], expected->error_locations.size());
  ASSERT_EQ(counts[2], expected->message_locations.size());
  EXPECT_GT(counts[0], 0u);
  EXPECT_EQ(counts[1], 1u);  // the '&' line
  EXPECT_EQ(counts[2], 1u);  // the line that does not parse

  std::vector<syntax_info_st> items(counts[0]);
  std::vector<document_location_st> locations(counts[1]);
  std::vector<error_location_st> errors(counts[2]);
  ASSERT_EQ(SyntaxFetchClassifications(handle, items.data(), locations.data(), errors.data()), 0);
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].syntax_class, expected->syntax_items[i].syntax_class) << i;
    EXPECT_TRUE(same(items[i].location, expected->syntax_items[i].location)) << i;
  }
  EXPECT_TRUE(same(locations[0], expected->error_locations[0]));
  EXPECT_TRUE(same(errors[0].location, expected->message_locations[0].location));
  EXPECT_TRUE(same(errors[0].context_location, expected->message_locations[0].context_location));

  // The handle was consumed.
  EXPECT_EQ(SyntaxFetchClassifications(handle, items.data(), locations.data(), errors.data()), 11);
}

// Text in another charset: the locations count its characters.
TEST_F(SyntaxEntryPoints, TextInItsCharset) {
  const char16_t text[] = u"* \u00e9t\u00e9\n";
  long handle = 0;
  unsigned counts[3];
  ASSERT_EQ(SyntaxClassifyString(runtime, reinterpret_cast<const char*>(text), sizeof text - sizeof(char16_t),
                                 Charset::utf16le, &handle, &counts[0], &counts[1], &counts[2]),
            0);
  ASSERT_GT(counts[0], 0u);
  EXPECT_EQ(counts[1] + counts[2], 0u);
  std::vector<syntax_info_st> items(counts[0]);
  ASSERT_EQ(SyntaxFetchClassifications(handle, items.data(), nullptr, nullptr), 0);
  for (const syntax_info_st& item : items) EXPECT_EQ(item.syntax_class, 4u);
  EXPECT_EQ(items.back().location.begin_char, 5u);  // the line end after "* été"
}

// An empty text (null bytes of size 0) has nothing; empty lists may be fetched into null arrays.
TEST_F(SyntaxEntryPoints, EmptyText) {
  long handle = 0;
  unsigned counts[3] = {9, 9, 9};
  ASSERT_EQ(SyntaxClassifyString(runtime, nullptr, 0, Charset::utf8, &handle, &counts[0], &counts[1], &counts[2]),
            0);
  EXPECT_EQ(counts[0] + counts[1] + counts[2], 0u);
  EXPECT_EQ(SyntaxFetchClassifications(handle, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(SyntaxFetchClassifications(handle, nullptr, nullptr, nullptr), 11);
}

TEST_F(SyntaxEntryPoints, NullArgumentsAreRefused) {
  long handle = -5;
  unsigned a = 7, b = 7, c = 7;
  EXPECT_EQ(SyntaxClassifyString(nullptr, "? 1\n", 4, Charset::utf8, &handle, &a, &b, &c), 11);
  EXPECT_EQ(SyntaxClassifyString(runtime, nullptr, 4, Charset::utf8, &handle, &a, &b, &c), 11);
  EXPECT_EQ(SyntaxClassifyString(runtime, "? 1\n", 4, nullptr, &handle, &a, &b, &c), 11);
  EXPECT_EQ(SyntaxClassifyString(runtime, "? 1\n", 4, Charset::utf8, nullptr, &a, &b, &c), 11);
  EXPECT_EQ(SyntaxClassifyString(runtime, "? 1\n", 4, Charset::utf8, &handle, nullptr, &b, &c), 11);
  EXPECT_EQ(SyntaxClassifyString(runtime, "? 1\n", 4, Charset::utf8, &handle, &a, nullptr, &c), 11);
  EXPECT_EQ(SyntaxClassifyString(runtime, "? 1\n", 4, Charset::utf8, &handle, &a, &b, nullptr), 11);
  EXPECT_EQ(handle, -5);
  EXPECT_EQ(a + b + c, 21u);
}

TEST_F(SyntaxEntryPoints, UnknownHandlesAreRefused) {
  syntax_info_st item;
  document_location_st location;
  error_location_st error;
  for (long handle : {0L, -1L, 1L << 40}) {
    EXPECT_EQ(SyntaxFetchClassifications(handle, &item, &location, &error), 11) << handle;
  }
}

// A null array for a list that has items refuses the fetch and keeps the result for a retry.
TEST_F(SyntaxEntryPoints, NullArrayForItemsKeepsTheHandle) {
  long handle = 0;
  unsigned counts[3];
  ASSERT_EQ(classify(kText, &handle, counts), 0);
  std::vector<syntax_info_st> items(counts[0]);
  std::vector<document_location_st> locations(counts[1]);
  std::vector<error_location_st> errors(counts[2]);
  EXPECT_EQ(SyntaxFetchClassifications(handle, nullptr, locations.data(), errors.data()), 11);
  EXPECT_EQ(SyntaxFetchClassifications(handle, items.data(), nullptr, errors.data()), 11);
  EXPECT_EQ(SyntaxFetchClassifications(handle, items.data(), locations.data(), nullptr), 11);
  EXPECT_EQ(SyntaxFetchClassifications(handle, items.data(), locations.data(), errors.data()), 0);
}

// Hosts may classify on several threads at once; every handle is distinct and fetched once.
TEST_F(SyntaxEntryPoints, ConcurrentClassifications) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 10;
  std::vector<std::vector<long>> handles(kThreads);
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        long handle = 0;
        unsigned counts[3];
        if (classify(kText, &handle, counts) != 0) {
          ++failures[t];
          continue;
        }
        handles[t].push_back(handle);
        std::vector<syntax_info_st> items(counts[0]);
        std::vector<document_location_st> locations(counts[1]);
        std::vector<error_location_st> errors(counts[2]);
        if (SyntaxFetchClassifications(handle, items.data(), locations.data(), errors.data()) != 0) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<long> distinct;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], 0);
    distinct.insert(handles[t].begin(), handles[t].end());
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kRounds));
}

}  // namespace
