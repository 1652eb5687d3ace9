// syntax_classification_test.cpp - classify_syntax: what an editor is told about a text.
#include "compiler_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "compiler/build_input.h"
#include "compiler/syntax_classification.h"

namespace qzbase::testing_compiler {
namespace {

// "class:line:column-column" with the end column exclusive; "class:line:column-line:column"
// for a range that ends on a later line.
std::string item_text(uint32_t syntax_class, const document_location_st& l) {
  char buffer[80];
  if (l.end_line == l.begin_line) {
    std::snprintf(buffer, sizeof buffer, "%u:%u:%u-%u", syntax_class, l.begin_line, l.begin_column, l.end_column);
  } else {
    std::snprintf(buffer, sizeof buffer, "%u:%u:%u-%u:%u", syntax_class, l.begin_line, l.begin_column, l.end_line,
                  l.end_column);
  }
  return buffer;
}

std::vector<std::string> items_of(const syntax_result_st& result, uint32_t syntax_class) {
  std::vector<std::string> out;
  for (const syntax_info_st& item : result.syntax_items) {
    if (item.syntax_class == syntax_class) out.push_back(item_text(item.syntax_class, item.location));
  }
  return out;
}

std::vector<std::string> all_items(const syntax_result_st& result) {
  std::vector<std::string> out;
  for (const syntax_info_st& item : result.syntax_items) out.push_back(item_text(item.syntax_class, item.location));
  return out;
}

class Classify : public ::testing::Test {
 public:
  std::unique_ptr<syntax_result_st> classify(const char* text) {
    input = std::make_unique<BuildInput>(rt.stack);
    return input->classify_syntax(String(text));
  }
  RuntimeFixture rt;
  std::unique_ptr<BuildInput> input;
};

TEST_F(Classify, EmptyTextGivesThreeEmptyLists) {
  auto result = classify("");
  EXPECT_TRUE(result->syntax_items.empty());
  EXPECT_TRUE(result->error_locations.empty());
  EXPECT_TRUE(result->message_locations.empty());
}

// A '*' line is a comment, line end included, and nothing else is reported.
TEST_F(Classify, CommentLineGivesCommentItemsOnly) {
  auto result = classify("* note LEN(1) + 2\n");
  ASSERT_FALSE(result->syntax_items.empty());
  for (const syntax_info_st& item : result->syntax_items) EXPECT_EQ(item.syntax_class, SYNTAX_COMMENT);
  EXPECT_EQ(result->syntax_items.front().location.begin_column, 1u);
  EXPECT_EQ(result->syntax_items.back().location.end_line, 2u);  // the line end
  EXPECT_TRUE(result->error_locations.empty());
  EXPECT_TRUE(result->message_locations.empty());
}

TEST_F(Classify, TrailingCommentOfAStatement) {
  auto result = classify("x = 1 && set x\n");
  std::vector<std::string> comments = items_of(*result, SYNTAX_COMMENT);
  ASSERT_FALSE(comments.empty());
  EXPECT_EQ(comments.front(), "4:1:7-8");
  EXPECT_TRUE(result->message_locations.empty());
}

// Built-in calls are found case-insensitively, abbreviations included; a call of a function the
// library does not know (here one the text defines) gets nothing.
TEST_F(Classify, BuiltinCallsAndUserCalls) {
  auto result = classify("x = len(\"ab\")\ny = Mine(1)\n? UPPER(\"a\")\nFUNCTION Mine(p)\nRETURN p\n");
  EXPECT_EQ(items_of(*result, SYNTAX_BUILTIN), (std::vector<std::string>{"5:1:5-14", "5:3:3-13"}));
  EXPECT_TRUE(result->message_locations.empty());
}

// A line that does not parse: one message location pair (where the parser stopped, and the line's
// span), and the line's tokens as keywords, operators and numbers.
TEST_F(Classify, LineThatDoesNotParse) {
  auto result = classify("? 1\n? 12 +* 3\n");
  ASSERT_EQ(result->message_locations.size(), 1u);
  const error_location_st& message = result->message_locations.front();
  EXPECT_EQ(item_text(0, message.location), "0:2:7-8");
  // The whole second line, its line end included.
  EXPECT_EQ(message.context_location.begin_char, 4u);
  EXPECT_EQ(message.context_location.end_char, 14u);
  std::vector<std::string> line2;
  for (const syntax_info_st& item : result->syntax_items) {
    if (item.location.begin_line != 2) continue;
    line2.push_back(item_text(item.syntax_class, item.location));
    EXPECT_TRUE(item.syntax_class == SYNTAX_OPERATOR || item.syntax_class == SYNTAX_CONSTANT) << line2.back();
  }
  for (const char* expected : {"3:2:3-5", "2:2:6-7", "2:2:7-8", "3:2:9-10"}) {
    EXPECT_NE(std::find(line2.begin(), line2.end(), expected), line2.end()) << expected;
  }
}

// Every replaced use of a #define'd name; not the name in its own #define line, nor inside quotes
// or after '&'.
TEST_F(Classify, MacroUses) {
  auto result = classify("#define WIDTH 10\n? WIDTH\nx = WIDTH + width\n? \"WIDTH\"\n");
  EXPECT_EQ(items_of(*result, SYNTAX_MACRO), (std::vector<std::string>{"6:2:3-8", "6:3:5-10", "6:3:13-18"}));
  EXPECT_TRUE(result->message_locations.empty());
}

// The rest of #ifdef/#ifndef/#undef lines, a statement of a branch not taken and directive lines
// inside it are inactive.
TEST_F(Classify, DiscardedText) {
  auto result = classify(
      "#ifdef NOPE\n"
      "? 1\n"
      "#define INNER 2\n"
      "#endif\n"
      "#define A 1\n"
      "#undef A\n");
  std::vector<std::string> inactive = items_of(*result, SYNTAX_INACTIVE);
  auto has = [&](const char* item) { return std::find(inactive.begin(), inactive.end(), item) != inactive.end(); };
  EXPECT_TRUE(has("7:1:8-12")) << ::testing::PrintToString(inactive);  // NOPE
  EXPECT_TRUE(has("7:2:1-3:1")) << ::testing::PrintToString(inactive);   // the skipped statement
  EXPECT_TRUE(has("7:6:8-9")) << ::testing::PrintToString(inactive);   // A of #undef
  bool inner = false;
  for (const std::string& item : inactive) inner = inner || item.rfind("7:3:", 0) == 0;
  EXPECT_TRUE(inner) << ::testing::PrintToString(inactive);
  EXPECT_TRUE(result->message_locations.empty());
}

// The skipped branch's statement is not a built-in call, not a message.
TEST_F(Classify, ErrorInSkippedBranchIsNoMessage) {
  auto result = classify("#ifndef __linux__\n? 1 +* 2\n#endif\n");
  EXPECT_TRUE(result->message_locations.empty());
}

// A built-in call in a branch not taken is inactive text like the rest of its statement: it is
// not painted as a built-in over the statement's inactive range. Calls of the active branch are.
TEST_F(Classify, BuiltinCallInSkippedBranchStaysInactive) {
  auto result = classify("#ifdef NOPE\n? LEN(\"a\")\n#else\n? LEN(\"b\")\n#endif\n");
  EXPECT_EQ(items_of(*result, SYNTAX_BUILTIN).size(), 8u);  // the directive heads and line 4's call
  std::vector<std::string> builtins = items_of(*result, SYNTAX_BUILTIN);
  EXPECT_NE(std::find(builtins.begin(), builtins.end(), "5:4:3-11"), builtins.end());
  for (const std::string& item : builtins) EXPECT_NE(item.rfind("5:2:", 0), 0u) << item;
  EXPECT_EQ(items_of(*result, SYNTAX_INACTIVE), (std::vector<std::string>{"7:2:1-3:1", "7:1:8-12", "7:1:12-2:1"}));
}

// A macro line split into macro items is reported by its range.
TEST_F(Classify, MacroLineRange) {
  auto result = classify("? 1\n? &name + 1\n");
  ASSERT_EQ(result->error_locations.size(), 1u);
  EXPECT_EQ(result->error_locations.front().begin_line, 2u);
  EXPECT_EQ(result->error_locations.front().begin_column, 1u);
}

// Comments, macro uses and messages of an included file lie in that file's text: an editor of the
// including text must not be told about them. The macro it defines is still used here.
TEST_F(Classify, IncludedFileContributesNothingOutOfPlace) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "qz_syntax_classify_test";
  std::filesystem::create_directories(dir);
  std::filesystem::path header = dir / "inc.h";
  {
    std::ofstream out(header);
    out << "* a comment of the header\n#define LIMIT 5\n#define TWICE LIMIT\n? 1 +* 2\n#undef NOTHING rest\n";
  }
  std::string text = "#include " + header.string() + "\n? LIMIT\n";
  auto result = classify(text.c_str());
  std::filesystem::remove_all(dir);
  for (const syntax_info_st& item : result->syntax_items) {
    EXPECT_NE(item.syntax_class, SYNTAX_COMMENT);
    EXPECT_NE(item.syntax_class, SYNTAX_INACTIVE);
  }
  EXPECT_EQ(items_of(*result, SYNTAX_MACRO), (std::vector<std::string>{"6:2:3-8"}));
  EXPECT_TRUE(result->message_locations.empty());
  EXPECT_EQ(input->messages.size(), 1u);  // the header's parse error is still a build message
}

// A missing include is a message of the classified text.
TEST_F(Classify, MissingIncludeIsAMessage) {
  auto result = classify("#include /nonexistent/qz/none.h\n? 1\n");
  ASSERT_EQ(result->message_locations.size(), 1u);
  EXPECT_EQ(result->message_locations.front().location.begin_line, 1u);
}

// Later items paint over earlier ones: the built-in call and the inactive text come after the
// grammar's items, so they win where they overlap.
TEST_F(Classify, OrderOfTheLists) {
  auto result = classify("#define N 1\n? LEN(\"a\") + N && done\n#undef N\n");
  std::vector<std::string> items = all_items(*result);
  auto position = [&](const char* item) {
    return std::find(items.begin(), items.end(), item) - items.begin();
  };
  ASSERT_LT(position("5:2:3-11"), static_cast<long>(items.size())) << ::testing::PrintToString(items);
  ASSERT_LT(position("4:2:16-17"), static_cast<long>(items.size())) << ::testing::PrintToString(items);
  ASSERT_LT(position("6:2:14-15"), static_cast<long>(items.size())) << ::testing::PrintToString(items);
  ASSERT_LT(position("7:3:8-9"), static_cast<long>(items.size())) << ::testing::PrintToString(items);
  EXPECT_LT(position("5:2:3-11"), position("4:2:16-17"));
  EXPECT_LT(position("4:2:16-17"), position("6:2:14-15"));
  EXPECT_LT(position("6:2:14-15"), position("7:3:8-9"));
  // Every grammar item comes before the first built-in call.
  for (size_t i = 0; i < static_cast<size_t>(position("5:2:3-11")); ++i) {
    EXPECT_LE(result->syntax_items[i].syntax_class, 5u);
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
