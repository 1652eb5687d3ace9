// build_messages_test.cpp - the build-message list and its printed form.
#include "compiler_support.h"

#include "capture_screen.h"

#include <string>

#include "compiler/build_messages.h"
#include "frontend/preprocessor.h"
#include "frontend/scanner.h"
#include "frontend/statements.h"
#include "frontend/parser_interface.h"

namespace qzbase::testing_compiler {
namespace {

using testing_screen::CaptureScreen;

// Characters [begin, end) on one line, columns 1-based from column.
document_location_st at(uint32_t line, uint32_t begin, uint32_t end, uint32_t column) {
  return document_location_st{begin, begin, line, column, end, end, line, column + (end - begin)};
}

build_message_record_st record(uint32_t category, uint32_t code, const document_location_st& location,
                               const document_location_st& context) {
  build_message_record_st r;
  r.category = category;
  r.code = code;
  r.location = location;
  r.context_location = context;
  return r;
}

std::string format(const build_message_record_st& r, const char* source, const std::filesystem::path& file = {}) {
  return format_build_message(r, String(source), file).u8str();
}

TEST(BuildMessages, CategoryTexts) {
  EXPECT_STREQ(build_message_category_text(0), "(Preprocessor error)");
  EXPECT_STREQ(build_message_category_text(1), "(Parser error)");
  EXPECT_STREQ(build_message_category_text(2), "(Compiler error)");
  EXPECT_STREQ(build_message_category_text(3), "(Generic error)");
  EXPECT_STREQ(build_message_category_text(0xffffffffu), "(Generic error)");
}

TEST(BuildMessages, BlocksAreByteExact) {
  const char* source = "x = 1\n? )\n";
  struct Case {
    build_message_record_st message;
    std::filesystem::path file;
    const char* expected;
  } cases[] = {
      // A parser message with context: the long form, with its misspelling.
      {record(1, 10, at(2, 8, 9, 3), at(2, 6, 9, 1)), {},
       "(Parser error) 10 - Syntax error.\n in <command prompt>, line 2, column 3, somewhere at: )\n"
       "  somwhere behind: ? \n\n"},
      // The failing token is the first of its line: the context is empty, the short form.
      {record(1, 10, at(2, 6, 7, 1), at(2, 6, 9, 1)), {},
       "(Parser error) 10 - Syntax error.\n in <command prompt>, line 2, column 1, somewhere at: ?\n\n"},
      // A compiler message carries the same location twice.
      {record(2, 96, at(1, 0, 5, 1), at(1, 0, 5, 1)), {},
       "(Compiler error) 96 - Nesting Error.\n in <command prompt>, line 1, column 1, somewhere at: x = 1\n\n"},
      // A module build names the file.
      {record(0, 1098, at(1, 4, 5, 5), at(1, 4, 5, 5)), "/src/app/main.prg",
       "(Preprocessor error) 1098 - User defined Error.\n in /src/app/main.prg, line 1, column 5, somewhere at: "
       "1\n\n"},
      // A line end inside the excerpt is shown as its group.
      {record(2, 1211, at(1, 4, 7, 5), at(1, 4, 7, 5)), {},
       "(Compiler error) 1211 - An IF | ELSE | ENDIF statement is missing.\n in <command prompt>, line 1, column 5, "
       "somewhere at: 1<0A>?\n\n"},
      // Other categories print as generic; a code the error table lacks has an empty text.
      {record(7, 9012, at(1, 0, 1, 1), at(1, 0, 1, 1)), {},
       "(Generic error) 9012 - Syntax is ambiguous.\n in <command prompt>, line 1, column 1, somewhere at: x\n\n"},
      {record(2, 7777, at(1, 0, 1, 1), at(1, 0, 1, 1)), {},
       "(Compiler error) 7777 - \n in <command prompt>, line 1, column 1, somewhere at: x\n\n"},
      // A directory path has no file-name part: the command prompt.
      {record(2, 10, at(1, 0, 1, 1), at(1, 0, 1, 1)), "/src/app/",
       "(Compiler error) 10 - Syntax error.\n in <command prompt>, line 1, column 1, somewhere at: x\n\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(format(c.message, source, c.file), c.expected);
}

TEST(BuildMessages, ControlCharacterIsShownAsHexGroup) {
  EXPECT_EQ(format(record(2, 10, at(1, 0, 3, 1), at(1, 0, 3, 1)), "a\x01" "b"),
            "(Compiler error) 10 - Syntax error.\n in <command prompt>, line 1, column 1, somewhere at: a<01>b\n\n");
}

TEST(BuildMessages, IncludedFileMessageShowsThatFile) {
  BuildMessages messages;
  std::list<preprocessor_message_st> recorded;
  recorded.push_back(preprocessor_message_st{0, 1098, at(2, 6, 11, 2), at(2, 6, 11, 2), "/inc/defs.h",
                                             String("* x\n #error bad\n")});
  recorded.push_back(preprocessor_message_st{1, 10, at(1, 3, 4, 3), at(1, 0, 4, 1), "/src/main.prg",
                                             String("ignored")});
  recorded.push_back(preprocessor_message_st{5, 10, at(1, 0, 1, 1), at(1, 0, 1, 1), {}, String()});
  messages.add_preprocessor_messages(recorded, "/src/main.prg");
  ASSERT_EQ(messages.size(), 2u);
  CaptureScreen screen;
  format_build_error(messages, String("a +)"), "/src/main.prg", &screen);
  EXPECT_EQ(screen.err,
            "(Preprocessor error) 1098 - User defined Error.\n in /inc/defs.h, line 2, column 2, somewhere at: error\n\n"
            "(Parser error) 10 - Syntax error.\n in /src/main.prg, line 1, column 3, somewhere at: )\n"
            "  somwhere behind: a +\n\n");
  EXPECT_EQ(screen.out, "");
  EXPECT_EQ(messages.size(), 2u);  // printing leaves the list unchanged
}

TEST(BuildMessages, EmptyListPrintsNothing) {
  CaptureScreen screen;
  format_build_error(BuildMessages(), String("x"), {}, &screen);
  EXPECT_EQ(screen.err, "");
}

class BuildMessagesFromStages : public CompilerTest {};

TEST_F(BuildMessagesFromStages, CompilerMessagesKeepTheirOrderAndLocation) {
  compiler.add_message(96, loc(3, 4, 6));
  compiler.add_message(1211, loc(5, 0, 2));
  BuildMessages messages;
  messages.add(1, 10, loc(1, 0, 1), loc(1, 0, 1));
  messages.add_compiler_messages(compiler);
  ASSERT_EQ(messages.size(), 3u);
  auto second = std::next(messages.records.begin());
  EXPECT_EQ(second->category, 2u);
  EXPECT_EQ(second->code, 96u);
  EXPECT_EQ(second->location.begin_char, 4u);
  EXPECT_EQ(second->context_location.begin_char, 4u);
  EXPECT_EQ(second->context_location.end_char, 6u);
  EXPECT_FALSE(second->has_source);
  EXPECT_EQ(std::next(second)->code, 1211u);
}

// A command of two lines whose second line does not parse gives one parser block naming the
// command prompt, line 2.
TEST_F(BuildMessagesFromStages, ParserMessageOfACommandLine) {
  String source("x = 1\ny = 2 +* 3\n");
  token_list_type tokens;
  tokenize(source.read(), source.end(), source.get_charset(), &tokens);
  Preprocessor preprocessor(rt.stack);
  std::list<Statement*> statements;
  preprocessor.callback = [](void* data, int event, intptr_t value, const document_location_st&) {
    if (event == QZPARSE_EVENT_STATEMENT && value != 0)
      static_cast<std::list<Statement*>*>(data)->push_back(reinterpret_cast<Statement*>(value));
  };
  preprocessor.callback_data = &statements;
  preprocessor.current_text = source;
  preprocessor.preprocess(tokens.cbegin(), tokens.cend());
  for (Statement* s : statements) delete s;
  BuildMessages messages;
  messages.add_preprocessor_messages(preprocessor.messages, preprocessor.current_file);
  ASSERT_EQ(messages.size(), 1u);
  CaptureScreen screen;
  format_build_error(messages, source, preprocessor.current_file, &screen);
  EXPECT_EQ(screen.err,
            "(Parser error) 10 - Syntax error.\n in <command prompt>, line 2, column 8, somewhere at: *\n"
            "  somwhere behind: y = 2 +\n\n");
}

}  // namespace
}  // namespace qzbase::testing_compiler
