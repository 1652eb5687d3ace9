// Tests of the preprocessor: logical lines, directives, macros, messages and forwarded events.
//
// The line parser is replaced by a double (fake_parse) that turns every line it receives into a
// LineStatement carrying the start token and the line's text, so that the tests see exactly which
// logical lines reach the parser. The #if and #include evaluations are doubles as well.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "frontend/preprocessor.h"
#include "frontend/statements.h"
#include "frontend/syntax_tables.h"
#include "platform/screen.h"
#include "vm/runtime_vm.h"
#include "vm/vm_stack.h"

#include "parse_support.h"

namespace qzbase {
namespace {

using test::utf8_of;

std::string text_of(Scanner::iterator begin, Scanner::iterator end) {
  std::string out;
  for (auto it = begin; it != end; ++it) out.append(it->begin, it->size);
  return out;
}

std::string text_of(const token_list_type& tokens) { return text_of(tokens.cbegin(), tokens.cend()); }

// What the parser double makes of a line: its start token and its text.
class LineStatement : public Statement {
 public:
  LineStatement(const document_location_st& location, uint32_t kind, int start, std::string text)
      : Statement(location, kind), start(start), text(std::move(text)) {}
  int start;
  std::string text;
};

// A line holding the word ERR fails with code 10 at that word. The word KW is reported as a
// keyword item (event 3) before the statement. TEXT and ENDTEXT lines give those statements.
int fake_parse(Scanner::iterator begin, Scanner::iterator end, int start, void* data, QzparseCallback callback,
               parse_status_st* status) {
  std::string first_word;
  for (auto it = begin; it != end; ++it) {
    std::string word(it->begin, it->size);
    if (it->kind == TOKEN_IDENTIFIER && first_word.empty()) first_word = word;
    if (word == "ERR") {
      status->result = 1;
      status->error_code = 10;
      status->error_location = it->location;
      return 1;
    }
    if (word == "KW") callback(data, QZPARSE_EVENT_SYNTAX_CLASS, 1, it->location);
  }
  uint32_t kind = STMT_SUSPEND;
  for (char& c : first_word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (start == QZ_TOKEN_START_TEXT_LINE) {
    kind = first_word == "ENDTEXT" ? STMT_ENDTEXT : STMT_TEXT_LINE;
  } else if (first_word == "TEXT") {
    kind = STMT_TEXT;
  } else if (first_word == "ENDTEXT") {
    kind = STMT_ENDTEXT;
  }
  document_location_st location = begin->location;
  location.end_char = std::prev(end)->location.end_char;
  location.end_line = std::prev(end)->location.end_line;
  location.end_column = std::prev(end)->location.end_column;
  callback(data, QZPARSE_EVENT_STATEMENT, reinterpret_cast<intptr_t>(new LineStatement(location, kind, start, text_of(begin, end))),
           location);
  status->result = 0;
  return 0;
}

// #if double: true when the text holds "yes"; RuntimeError 12 when it holds "boom". It prints, so
// that the tests can see where the output goes.
std::vector<std::string>* condition_log = nullptr;
bool fake_condition(VmStack* stack, const String& text) {
  std::string t = utf8_of(text);
  if (condition_log) condition_log->push_back(t);
  if (stack && stack->get_runtime()) stack->get_runtime()->get_screen()->out(String("noise"));
  if (t.find("boom") != std::string::npos) throw RuntimeError(12, String("boom"));
  return t.find("yes") != std::string::npos;
}

// #include double: a double-quoted text gives its content; anything else throws.
String fake_text(VmStack* stack, const String& text) {
  if (stack && stack->get_runtime()) stack->get_runtime()->get_screen()->out(String("noise"));
  std::string t = utf8_of(text);
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"') return String(t.substr(1, t.size() - 2).c_str());
  throw RuntimeError(10);
}

struct event_st {
  int event;
  intptr_t value;
  document_location_st location;
};

// One preprocessor run over a text, with everything the caller receives.
struct PpRun {
  std::shared_ptr<Preprocessor> pp;
  String source;
  token_list_type tokens;
  std::vector<std::string> lines;  // "start:text" of each forwarded statement
  std::vector<std::unique_ptr<LineStatement>> statements;
  std::vector<event_st> events;    // every other event

  std::vector<uint32_t> codes() const {
    std::vector<uint32_t> out;
    for (const auto& m : pp->messages) out.push_back(m.code);
    return out;
  }
  std::vector<intptr_t> classes_at(uint32_t line) const {
    std::vector<intptr_t> out;
    for (const auto& e : events)
      if (e.event == QZPARSE_EVENT_SYNTAX_CLASS && e.location.begin_line == line) out.push_back(e.value);
    return out;
  }
};

void receive(void* data, int event, intptr_t value, const document_location_st& location) {
  auto* run = static_cast<PpRun*>(data);
  if (event == QZPARSE_EVENT_STATEMENT) {
    auto* statement = reinterpret_cast<Statement*>(value);
    auto* line = dynamic_cast<LineStatement*>(statement);
    ASSERT_NE(line, nullptr);
    run->lines.push_back(std::to_string(line->start) + ":" + line->text);
    run->statements.emplace_back(line);
    return;
  }
  run->events.push_back(event_st{event, value, location});
}

std::unique_ptr<PpRun> preprocess(const std::string& text, const std::filesystem::path& file = {},
                                VmStack* stack = nullptr) {
  auto run = std::make_unique<PpRun>();
  run->pp = std::make_shared<Preprocessor>(stack);
  run->pp->parse_line = &fake_parse;
  run->pp->evaluate_condition = &fake_condition;
  run->pp->evaluate_text = &fake_text;
  run->pp->callback = &receive;
  run->pp->callback_data = run.get();
  run->pp->current_file = file;
  run->source = String(text.c_str());
  run->pp->current_text = run->source;
  tokenize(run->source.read(), run->source.end(), run->source.get_charset(), &run->tokens);
  run->pp->preprocess(run->tokens.cbegin(), run->tokens.cend());
  return run;
}

std::vector<std::string> texts(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(l.substr(l.find(':') + 1));
  return out;
}

using Lines = std::vector<std::string>;
using Codes = std::vector<uint32_t>;

// A scratch folder for included files.
class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("qz_pp_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path write(const std::string& name, const std::string& content) const {
    std::filesystem::path p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  static inline int counter_ = 0;
};

// A Runtime with its VM state, on a screen that keeps what it is given.
class CaptureScreen : public Screen {
 public:
  void internal_out(const String& s) override { out_text += utf8_of(s); }
  void internal_err(const String& s) override { err_text += utf8_of(s); }
  std::string out_text, err_text;
};

struct TestStack {
  CaptureScreen screen;
  Runtime runtime{&screen};
  RuntimeVmState state;
  std::unique_ptr<VmStack> stack;
  TestStack() {
    attach_runtime_vm(&runtime, &state);
    stack = std::make_unique<VmStack>(&runtime, 16, 4);
  }
  ~TestStack() {
    stack.reset();
    detach_runtime_vm(&runtime);
  }
};

// --- Logical lines -----------------------------------------------------------------------------

struct line_case {
  const char* name;
  const char* source;
  Lines lines;  // "start:text" of the forwarded statements
};

class LogicalLines : public testing::TestWithParam<line_case> {};

TEST_P(LogicalLines, ReachTheParserAsWritten) {
  const line_case& c = GetParam();
  auto run = preprocess(c.source);
  EXPECT_EQ(run->lines, c.lines);
  EXPECT_TRUE(run->pp->messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Preprocessor, LogicalLines,
    testing::Values(
        line_case{"Plain", "x = 1\ny = 2\n", {"259:x = 1\n", "259:y = 2\n"}},
        line_case{"LeadingBlanksAndEmptyLines", "\n   \n  x\n\t\n", {"259:x\n"}},
        line_case{"LastLineWithoutLineEnd", "x\ny", {"259:x\n", "259:y"}},
        line_case{"Continuation", "x = 1 + ;\n     2\n", {"259:x = 1 + 2\n"}},
        line_case{"ContinuationWithComment", "x = 1 ;  && note\n  + 2\n", {"259:x = 1 + 2\n"}},
        line_case{"SemicolonNotAtLineEnd", "x = 1; y\n", {"259:x = 1; y\n"}},
        line_case{"AmpAmpComment", "x = 1 && rest ; of\ny\n", {"259:x = 1 \n", "259:y\n"}},
        line_case{"AmpAmpCommentContinued", "x = 1 && rest ;\n  swallowed\ny\n", {"259:x = 1 \n", "259:y\n"}},
        line_case{"StarComment", "* note && x\nx\n", {"259:x\n"}},
        line_case{"StarCommentContinued", "  * note ;\n  swallowed too\nx\n", {"259:x\n"}},
        line_case{"QuotesHideComments", "? \"a && b\" + 'c && d' + [e && f\n",
                  {"259:? \"a && b\" + 'c && d' + [e \n"}},
        line_case{"ContinuationInsideQuotes", "? \"a;\n b\"\n", {"259:? \"ab\"\n"}},
        line_case{"BackslashLine", "  \\ words && kept ;\nx\n", {"259:\\ words && kept ;\n", "259:x\n"}},
        line_case{"MacroReference", "use &db.\n", {"260:use &db\n"}},
        line_case{"MacroReferenceDotEndsName", "? &a.b\n", {"260:? &ab\n"}},
        line_case{"AmpersandInBracketsIsNoMacro", "? a[&b]\n", {"259:? a[&b]\n"}},
        line_case{"AmpersandInQuotesIsNoMacro", "? \"&b\"\n", {"259:? \"&b\"\n"}},
        line_case{"BlankAfterHashIsOrdinary", "# define X 1\n? X\n", {"259:# define X 1\n", "259:? X\n"}},
        line_case{"UnknownDirectiveIsOrdinary", "#pragma once\n", {"259:#pragma once\n"}},
        line_case{"InterpreterLine", "#!/usr/bin/env qz\nx\n", {"259:x\n"}},
        line_case{"DirectiveWithoutFollowingTokenIsOrdinary", "x\n#endif", {"259:x\n", "259:#endif"}},
        line_case{"TextAfterEndifStartsTheNextLine", "#ifdef __linux__\nx\n#endif y\n#ifdef A\n#endif && c\nz\n",
                  {"259:x\n", "259:y\n", "259:z\n"}},
        line_case{"TextBlock", "TEXT\n#define A 1\n* star\n  && x ;\n&y\nENDTEXT\nA\n",
                  {"259:TEXT\n", "261:#define A 1\n", "261:* star\n", "261:  && x ;\n", "261:&y\n", "261:ENDTEXT\n",
                   "259:A\n"}}),
    [](const testing::TestParamInfo<line_case>& info) { return std::string(info.param.name); });

TEST(Preprocessor, ContinuedLinesKeepTheLocationsOfTheirTokens) {
  auto run = preprocess("x = ;\n   yy\n");
  ASSERT_EQ(run->lines, Lines{"259:x = yy\n"});
  const document_location_st& l = run->statements[0]->location;
  EXPECT_EQ(l.begin_line, 1u);
  EXPECT_EQ(l.begin_column, 1u);
  EXPECT_EQ(l.end_line, 3u);  // just past the line end of line 2
  // The comment of a continued line and the '*' lines land among the comments.
  auto run2 = preprocess("* c1\nx ; && c2\n y\n");
  EXPECT_EQ(text_of(run2->pp->comments), "* c1\n&& c2");
  EXPECT_EQ(run2->pp->comments.back().location.begin_line, 2u);
}

TEST(Preprocessor, TextLinesKeepBlanksAndNeverContinue) {
  auto run = preprocess("  TEXT\n  a ;\n b &x.\n ENDTEXT\n");
  ASSERT_EQ(run->lines, (Lines{"259:TEXT\n", "261:  a ;\n", "261: b &x.\n", "261: ENDTEXT\n"}));
  EXPECT_EQ(run->statements[0]->location.begin_column, 3u);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(run->statements[i]->location.begin_line, i + 1);
    EXPECT_EQ(run->statements[i]->location.begin_column, 1u);
    EXPECT_EQ(run->statements[i]->location.end_line, i + 2);
  }
}

TEST(Preprocessor, TextBlockInsideSkippedBranchStillPairsTextAndEndtext) {
  // ENDTEXT and TEXT lines of a skipped branch are parsed to keep the mode; nothing is forwarded.
  auto run = preprocess("#ifdef NO\nTEXT\n#endif\nENDTEXT\n#endif\nx\n");
  EXPECT_EQ(run->lines, Lines{"259:x\n"});
  EXPECT_TRUE(run->pp->messages.empty());
}

// --- Macros ------------------------------------------------------------------------------------

TEST(Preprocessor, MacrosTable) {
  struct macro_case {
    const char* source;
    Lines lines;
  } cases[] = {
      {"#define A 1\n? A\n", {"? 1\n"}},
      {"#DEFINE a 1\n#Define b 2\n#define\tc 3\n? A B C\n", {"? 1 2 3\n"}},
      {"#define A 1\n#define A 2\n? A\n", {"? 1\n"}},
      {"#define A 1\n#undef A\n#define A 2\n? A\n", {"? 2\n"}},
      {"#define A 1\n#define B A + 1\n#undef A\n#define A 5\n? B, A\n", {"? 1 + 1, 5\n"}},
      {"#define B A + 1\n#define A 1\n? B\n", {"? A + 1\n"}},
      {"#define N 3\n? \"N\" + 'N' + a[N] + &N\n", {"? \"N\" + 'N' + a[3] + &N\n"}},
      {"#define E\n? E x\n", {"?  x\n"}},
      {"#define L one ;\n two\n? L\n", {"? one two\n"}},
      {"#define 1 2\n", {"1 2\n"}},  // not a name: the rest is an ordinary line
      {"#undef __linux__\n? __linux__\n", {"? true\n"}},
      {"#ifdef __linux__\nyes\n#endif\n#ifndef __QZ__\nno\n#else\n? x__QZ__ __qz__ y\n#endif\n",
       {"yes\n", "? x__QZ__  y\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    auto run = preprocess(c.source);
    EXPECT_EQ(texts(run->lines), c.lines);
    EXPECT_TRUE(run->pp->messages.empty());
  }
}

TEST(Preprocessor, ExpandedTokensCarryNoDocumentAndTheNameLocation) {
  auto run = preprocess("#define TWO 1 + 1\n  ? TWO\n");
  ASSERT_EQ(run->pp->expanded_references.size(), 1u);
  const token_st& name = run->pp->expanded_references[0];
  EXPECT_EQ(std::string(name.begin, name.size), "TWO");
  EXPECT_EQ(name.location.begin_line, 2u);
  EXPECT_EQ(name.location.begin_column, 5u);
  const token_list_type* body = run->pp->find_macro(String("two"));
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(text_of(*body), "1 + 1");
  EXPECT_NE(body->front().document, nullptr);  // bodies keep their source tokens
}

TEST(Preprocessor, BuiltInMacros) {
  struct builtin_case {
    const char* source;
    const char* line;
  } cases[] = {
      {"\n\n? __LINE__\n", "? 3\n"},
      {"\n   ? __Column__\n", "? 6\n"},
      {"\n\n? __offset__\n", "? 4\n"},
      {"? __FILE__\n", "? \"/src/app/main.prg\"\n"},
      {"? __dir__\n", "? \"/src/app\"\n"},
      {"? __linux__\n", "? true\n"},
      {"? a __QZ__ b\n", "? a  b\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    auto run = preprocess(c.source, "/src/app/main.prg");
    EXPECT_EQ(texts(run->lines), Lines{c.line});
  }
}

// --- Directive lines, conditionals and messages ------------------------------------------------

struct conditional_case {
  const char* source;
  Lines lines;
  Codes codes;
};

TEST(Preprocessor, ConditionalsTable) {
  conditional_case cases[] = {
      {"#define A\n#ifdef A\nx\n#else\ny\n#endif\n", {"x\n"}, {}},
      {"#ifdef A\nx\n#else\ny\n#endif\nz\n", {"y\n", "z\n"}, {}},
      {"#ifndef A\nx\n#else\ny\n#endif\n", {"x\n"}, {}},
      {"#ifdef NO\n#ifdef __linux__\na\n#else\nb\n#endif\nc\n#else\nd\n#endif\n", {"d\n"}, {}},
      {"#if yes\nx\n#else\ny\n#endif\n", {"x\n"}, {}},
      {"#if no\nx\n#else\ny\n#endif\n", {"y\n"}, {}},
      {"#if boom\nx\n#else\ny\n#endif\n", {"y\n"}, {12}},
      {"#if   \nx\n#endif\n", {"x\n"}, {10, 1211}},  // no branch read: the #endif is stray
      {"#ifdef NO\n#if boom\n#error skipped\n#endif\n#endif\n", {}, {}},
      {"#error stop here\nx\n", {"x\n"}, {1098}},
      {"#ifdef 1\n", {"1\n"}, {}},  // not a name: an ordinary line
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    auto run = preprocess(c.source);
    EXPECT_EQ(texts(run->lines), c.lines);
    EXPECT_EQ(run->codes(), c.codes);
  }
}

TEST(Preprocessor, IfConditionIsExpandedAndJoinedWithBlanks) {
  std::vector<std::string> log;
  condition_log = &log;
  auto run = preprocess("#define V yes\n#if  V = \"a;b\" ;\n  .and. x\n#endif\n");
  condition_log = nullptr;
  EXPECT_EQ(log, (std::vector<std::string>{"yes = \"a;b\" .and. x"}));
}

TEST(Preprocessor, MessagesCarryOriginCodeLocationAndSpan) {
  auto run = preprocess("#if boom\n#endif\n  #error   bad\n  a = ERR + 1\n");
  ASSERT_EQ(run->pp->messages.size(), 3u);
  auto it = run->pp->messages.begin();
  EXPECT_EQ(it->origin, PP_ORIGIN_PREPROCESSOR);
  EXPECT_EQ(it->code, 12u);
  EXPECT_EQ(it->location.begin_line, 1u);
  EXPECT_EQ(it->location.begin_column, 5u);  // the first token of the condition
  EXPECT_EQ(it->span.begin_column, it->location.begin_column);
  ++it;
  EXPECT_EQ(it->code, 1098u);
  EXPECT_EQ(it->location.begin_line, 3u);
  EXPECT_EQ(it->location.begin_column, 12u);
  ++it;
  EXPECT_EQ(it->origin, PP_ORIGIN_PARSER);
  EXPECT_EQ(it->code, 10u);
  EXPECT_EQ(it->location.begin_line, 4u);
  EXPECT_EQ(it->location.begin_column, 7u);
  EXPECT_EQ(it->span.begin_line, 4u);
  EXPECT_EQ(it->span.begin_column, 3u);
  EXPECT_EQ(it->span.end_line, 5u);  // through the line end
  EXPECT_EQ(it->span.end_column, 1u);
  EXPECT_EQ(it->file, std::filesystem::path());
  EXPECT_EQ(utf8_of(it->text), utf8_of(run->source));
  // The failed line is classified: '=' and '+' operators, 1 a number.
  EXPECT_EQ(run->classes_at(4), (std::vector<intptr_t>{2, 2, 3}));
}

TEST(Preprocessor, ParserMessageSpanCountsOnlySourceTokens) {
  auto run = preprocess("#define BAD ERR\n#define P ?\nP 1 + BAD\n");
  ASSERT_EQ(run->pp->messages.size(), 1u);
  const auto& m = run->pp->messages.front();
  EXPECT_EQ(m.location.begin_column, 7u);  // ERR carries the location of BAD
  EXPECT_EQ(m.span.begin_column, 2u);      // the blank after P: the first token from the text
  EXPECT_EQ(m.span.end_line, 4u);
}

TEST(Preprocessor, SkippedLinesAreParsedButNeitherForwardedNorReported) {
  auto run = preprocess("#ifdef NO\nKW x\nERR\n#endif\nKW y\n");
  EXPECT_EQ(texts(run->lines), Lines{"KW y\n"});
  EXPECT_TRUE(run->pp->messages.empty());
  // Line 2: the parser's keyword item is forwarded, the statement becomes an inactive item.
  EXPECT_EQ(run->classes_at(2), (std::vector<intptr_t>{1, 7}));
  EXPECT_EQ(run->classes_at(5), (std::vector<intptr_t>{1}));
}

TEST(Preprocessor, DirectiveAndMacroLinesAreClassified) {
  auto run = preprocess("#define  A 1\nreplace &f with 10\n");
  EXPECT_EQ(run->classes_at(1), (std::vector<intptr_t>{5, 5, 5}));  // '#', the name, the blanks
  EXPECT_EQ(run->classes_at(2), (std::vector<intptr_t>{1, 1, 3}));  // REPLACE, WITH, 10
  EXPECT_EQ(run->lines, Lines{"260:replace &f with 10\n"});
}

TEST(Preprocessor, DiscardedTokensHoldUnusedDirectiveParts) {
  auto run = preprocess("#!shebang\n#undef A rest\n#ifdef B more\n#endif\n");
  EXPECT_EQ(text_of(run->pp->discarded), "shebang\nA rest\nB more\n");
}

// --- Faults mended -----------------------------------------------------------------------------

TEST(PreprocessorFaults, StrayElseAndEndifAreReportedAndTheTextGoesOn) {
  auto run = preprocess("a\n#endif\nb\n  #else\nc\n");
  EXPECT_EQ(texts(run->lines), (Lines{"a\n", "b\n", "c\n"}));
  ASSERT_EQ(run->codes(), (Codes{1211, 1211}));
  EXPECT_EQ(run->pp->messages.front().location.begin_line, 2u);
  EXPECT_EQ(run->pp->messages.back().location.begin_line, 4u);
  EXPECT_EQ(run->pp->messages.back().location.begin_column, 3u);
}

TEST(PreprocessorFaults, SecondElseIsReportedAndIgnored) {
  auto run = preprocess("#ifdef NO\na\n#else\nb\n#else\nc\n#endif\nd\n");
  EXPECT_EQ(texts(run->lines), (Lines{"b\n", "c\n", "d\n"}));
  ASSERT_EQ(run->codes(), (Codes{1211}));
  EXPECT_EQ(run->pp->messages.front().location.begin_line, 5u);
}

TEST(PreprocessorFaults, MissingEndifIsReportedAtTheEndOfTheText) {
  for (const char* source : {"#ifdef NO\na\nb\n", "#ifdef __linux__\na\nb\n", "#ifdef NO\n#else\nb\n"}) {
    SCOPED_TRACE(source);
    auto run = preprocess(source);
    ASSERT_EQ(run->codes(), (Codes{1211}));
    const auto& m = run->pp->messages.front();
    EXPECT_EQ(m.location.begin_line, 4u);
    EXPECT_EQ(m.location.begin_column, 1u);
  }
  auto nested = preprocess("#ifdef NO\n#ifdef X\n");
  EXPECT_EQ(nested->codes(), (Codes{1211, 1211}));
}

TEST(PreprocessorFaults, DefineUndefIncludeDoNothingInSkippedBranches) {
  auto run = preprocess(
      "#define B 2\n"
      "#ifdef NO\n#define A 9\n#undef B\n#include \"no such file.prg\"\n#endif\n"
      "#define A 1\n? A B\n");
  EXPECT_EQ(texts(run->lines), Lines{"? 1 2\n"});
  EXPECT_TRUE(run->pp->messages.empty());
  EXPECT_EQ(text_of(run->pp->discarded), "NO\nA 9\nB\n\"no such file.prg\"\n");
}

TEST(PreprocessorFaults, IncludeDepthIsLimited) {
  TempDir dir;
  auto self = dir.write("self.prg", "#define SELF 1\n#include \"self.prg\"\n");
  auto run = preprocess("#include \"" + self.string() + "\"\n? SELF\n", dir.path() / "main.prg");
  EXPECT_EQ(texts(run->lines), Lines{"? 1\n"});
  ASSERT_EQ(run->codes(), (Codes{PP_ERROR_NESTING}));
  const auto& m = run->pp->messages.front();
  EXPECT_EQ(m.file, std::filesystem::canonical(self));
  EXPECT_EQ(m.location.begin_line, 2u);
  EXPECT_EQ(run->pp->included_texts.size(), kMaxIncludeDepth);
  EXPECT_EQ(run->pp->include_depth, 0u);
}

// Conditionals nest without native recursion past the bound: far deeper than the stack would
// take is one 103 at the first one too many, and nothing after it is read or reported.
TEST(PreprocessorFaults, ConditionalNestingIsLimited) {
  struct nesting_case {
    unsigned depth;
    Lines lines;
    Codes codes;
  };
  const nesting_case cases[] = {
      {kMaxConditionalDepth, {"? 1\n", "? 2\n"}, {}},
      {kMaxConditionalDepth + 1, {}, {PP_ERROR_NESTING}},
      {50000, {}, {PP_ERROR_NESTING}},
  };
  // #ifdef and #if (whose condition is evaluated) open the same kind of level.
  for (const char* opening : {"#ifdef __LINUX__\n", "#if yes\n"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(opening) + std::to_string(c.depth));
      std::string text;
      for (unsigned i = 0; i < c.depth; ++i) text += opening;
      text += "? 1\n";
      for (unsigned i = 0; i < c.depth; ++i) text += "#endif\n";
      text += "? 2\n";
      auto run = preprocess(text);
      EXPECT_EQ(texts(run->lines), c.lines);
      ASSERT_EQ(run->codes(), c.codes);
      if (!c.codes.empty()) {
        EXPECT_EQ(run->pp->messages.front().location.begin_line, kMaxConditionalDepth + 1);
      }
      EXPECT_EQ(run->pp->nesting_depth, 0u);
    }
  }
}

TEST(PreprocessorFaults, MacroExpansionIsBounded) {
  // Each level doubles the one below: level k holds 2^(k+1) - 1 tokens, so level 18 is the first
  // past the bound.
  static_assert(kMaxExpansionTokens == size_t{1} << 18);
  std::string text = "#define A0 x\n";
  for (int i = 1; i <= 36; ++i) {
    text += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + " A" + std::to_string(i - 1) + "\n";
  }
  text += "? A3\n? A17 A17\n? A36\n? 5\n";
  auto run = preprocess(text);
  // A18 and A36 (18 levels above A18, which stays an undefined word) are refused where they are
  // defined; the line of two A17 is refused where it is used.
  ASSERT_EQ(run->codes(), (Codes{PP_ERROR_EXPANSION, PP_ERROR_EXPANSION, PP_ERROR_EXPANSION}));
  std::vector<uint32_t> at;
  for (const auto& m : run->pp->messages) at.push_back(m.location.begin_line);
  EXPECT_EQ(at, (Codes{19, 37, 39}));
  EXPECT_FALSE(run->pp->find_macro(String("A18")));
  EXPECT_TRUE(run->pp->find_macro(String("A35")));
  EXPECT_EQ(texts(run->lines), (Lines{"? x x x x x x x x\n", "? A36\n", "? 5\n"}));
}

TEST(PreprocessorFaults, MessagesFromAnIncludedFileKeepItsNameAndText) {
  TempDir dir;
  auto inc = dir.write("sub/defs.h", "\n  x = ERR\n#endif\n#error inside\n");
  auto run = preprocess("#include \"sub/defs.h\"\nERR\n", dir.path() / "main.prg");
  ASSERT_EQ(run->codes(), (Codes{10, 1211, 1098, 10}));
  auto it = run->pp->messages.begin();
  for (int i = 0; i < 3; ++i, ++it) {
    EXPECT_EQ(it->file, std::filesystem::canonical(inc));
    EXPECT_EQ(utf8_of(it->text), "\n  x = ERR\n#endif\n#error inside\n");
  }
  EXPECT_EQ(run->pp->messages.front().location.begin_line, 2u);
  EXPECT_EQ(run->pp->messages.front().location.begin_column, 7u);
  EXPECT_EQ(it->file, dir.path() / "main.prg");
  EXPECT_EQ(utf8_of(it->text), utf8_of(run->source));
  EXPECT_EQ(it->location.begin_line, 2u);
}

TEST(PreprocessorFaults, TablesAreBuiltOnceForConcurrentUse) {
  constexpr int kThreads = 8;
  std::barrier start(kThreads);
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      auto run = preprocess("#IfDef __LINUX__\n? __line__\n#endif\n");
      if (texts(run->lines) == Lines{"? 2\n"} && run->pp->messages.empty()) ++good;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), kThreads);
}

// --- #include ----------------------------------------------------------------------------------

TEST(PreprocessorInclude, ContributesDefinitionsButNoStatements) {
  TempDir dir;
  dir.write("defs.h", "#define ONE 1\nx = ONE\n#define HERE __FILE__\n");
  auto run = preprocess("#include \"defs.h\"\n? ONE, HERE\n", dir.path() / "main.prg");
  std::string here = "\"" + std::filesystem::canonical(dir.path() / "defs.h").string() + "\"";
  EXPECT_EQ(texts(run->lines), Lines{"? 1, " + here + "\n"});
  EXPECT_TRUE(run->pp->messages.empty());
  EXPECT_EQ(run->pp->current_file, dir.path() / "main.prg");
  ASSERT_EQ(run->pp->included_texts.size(), 1u);
}

TEST(PreprocessorInclude, NamesQuotedBareAbsoluteOrThroughMacros) {
  TempDir dir;
  dir.write("a.h", "#define FROM_A 1\n");
  dir.write("b.h", "#define FROM_B 1\n");
  auto abs = dir.write("c.h", "#define FROM_C 1\n");
  std::string source = "#define NAME \"a.h\"\n#include NAME\n#include b.h\n#include \"" + abs.string() +
                       "\"\n? FROM_A FROM_B FROM_C\n";
  auto run = preprocess(source, dir.path() / "main.prg");
  EXPECT_EQ(texts(run->lines), Lines{"? 1 1 1\n"});
  EXPECT_TRUE(run->pp->messages.empty());
}

TEST(PreprocessorInclude, MissingFileRecords202AndGoesOn) {
  TempDir dir;
  auto run = preprocess("#include   \"nope.h\"\n#include\nx\n", dir.path() / "main.prg");
  EXPECT_EQ(texts(run->lines), Lines{"x\n"});
  ASSERT_EQ(run->codes(), (Codes{202, 202}));
  EXPECT_EQ(run->pp->messages.front().location.begin_column, 12u);  // the argument's first token
}

// --- Screen during compile-time evaluation -----------------------------------------------------

Runtime* seen_runtime = nullptr;
Screen* seen_field = nullptr;
Screen* seen_screen = nullptr;
bool probing_condition(VmStack* stack, const String& text) {
  seen_runtime = stack->get_runtime();
  seen_field = seen_runtime->screen;
  seen_screen = seen_runtime->get_screen();
  return fake_condition(stack, text);
}

TEST(PreprocessorScreen, EvaluationOutputIsDiscardedOnTheCallingThreadOnly) {
  TestStack ts;
  for (const char* source : {"#if yes\n#endif\n", "#if boom\n#endif\n", "#include \"x\"\n"}) {
    SCOPED_TRACE(source);
    seen_screen = nullptr;
    Preprocessor pp(ts.stack.get());
    pp.parse_line = &fake_parse;
    pp.evaluate_condition = &probing_condition;
    pp.evaluate_text = &fake_text;
    String text(source);
    token_list_type tokens;
    tokenize(text.read(), text.end(), text.get_charset(), &tokens);
    pp.preprocess(tokens.cbegin(), tokens.cend());
    if (source[1] == 'i' && source[2] == 'f') {
      EXPECT_EQ(seen_field, &ts.screen);  // the shared field is never swapped
      ASSERT_NE(seen_screen, nullptr);
      EXPECT_NE(seen_screen, &ts.screen);
    }
    EXPECT_EQ(ts.runtime.get_screen(), &ts.screen);  // restored, also after an error
  }
  EXPECT_EQ(ts.screen.out_text, "");
}

TEST(PreprocessorScreen, ExceptionsOtherThanRuntimeErrorLeaveWithTheScreenRestored) {
  TestStack ts;
  Preprocessor pp(ts.stack.get());
  pp.parse_line = &fake_parse;
  pp.evaluate_condition = [](VmStack*, const String&) -> bool { throw std::runtime_error("broken"); };
  String text("#if x\n#endif\n");
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  EXPECT_THROW(pp.preprocess(tokens.cbegin(), tokens.cend()), std::runtime_error);
  EXPECT_EQ(ts.runtime.get_screen(), &ts.screen);
  EXPECT_FALSE(pp.skip);
  EXPECT_EQ(pp.conditional_depth, 0u);
}

TEST(PreprocessorHooks, WithoutEvaluatorsIfIsFalseAndIncludeTakesTheText) {
  set_preprocessor_evaluators(nullptr, nullptr);  // the stand-ins, in place of the front door's
  TempDir dir;
  dir.write("bare.h", "#define BARE 1\n");
  Preprocessor pp(nullptr);
  PpRun run;
  pp.parse_line = &fake_parse;
  pp.callback = &receive;
  pp.callback_data = &run;
  pp.current_file = dir.path() / "main.prg";
  String text("#if .t.\nx\n#endif\n#include bare.h\n? BARE\n");
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  pp.preprocess(tokens.cbegin(), tokens.cend());
  EXPECT_EQ(texts(run.lines), Lines{"? 1\n"});
  std::vector<uint32_t> codes;
  for (const auto& m : pp.messages) codes.push_back(m.code);
  EXPECT_EQ(codes, (Codes{1001}));
}

TEST(PreprocessorHooks, RegisteredEvaluatorsServeLaterPreprocessors) {
  set_preprocessor_evaluators(&fake_condition, &fake_text);
  Preprocessor registered(nullptr);
  set_preprocessor_evaluators(nullptr, nullptr);
  Preprocessor plain(nullptr);
  EXPECT_TRUE(registered.evaluate_condition(nullptr, String("yes")));
  EXPECT_EQ(utf8_of(registered.evaluate_text(nullptr, String("\"f.h\""))), "f.h");
  try {
    plain.evaluate_condition(nullptr, String("yes"));
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
  }
}

// With the real parser: statements, TEXT blocks and the kinds that drive TEXT mode.
TEST(PreprocessorRealParser, StatementsAndTextBlocks) {
  Preprocessor pp(nullptr);
  std::vector<uint32_t> kinds;
  pp.callback = [](void* data, int event, intptr_t value, const document_location_st&) {
    if (event != QZPARSE_EVENT_STATEMENT) return;
    auto* statement = reinterpret_cast<Statement*>(value);
    static_cast<std::vector<uint32_t>*>(data)->push_back(statement->kind);
    delete statement;
  };
  pp.callback_data = &kinds;
  String text("#define ONE 1\nx = ONE + ;\n  2 && sum\nTEXT\n#ifdef\n* ;\nENDTEXT\nx = = 1\n");
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  pp.preprocess(tokens.cbegin(), tokens.cend());
  ASSERT_EQ(kinds.size(), 5u);
  EXPECT_EQ(kinds[1], STMT_TEXT);
  EXPECT_EQ(kinds[2], STMT_TEXT_LINE);
  EXPECT_EQ(kinds[3], STMT_TEXT_LINE);
  EXPECT_EQ(kinds[4], STMT_ENDTEXT);
  ASSERT_EQ(pp.messages.size(), 1u);
  EXPECT_EQ(pp.messages.front().origin, PP_ORIGIN_PARSER);
  EXPECT_EQ(pp.messages.front().code, 10u);
  EXPECT_EQ(pp.messages.front().span.begin_line, 8u);
}

}  // namespace
}  // namespace qzbase
