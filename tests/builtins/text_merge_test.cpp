// text_merge_test.cpp - TEXT blocks, the \ and \\ lines, SET TEXTMERGE and PRETEXT() at run time.
#include "builtins_support.h"

#include <memory>
#include <string>

#include "builtins/text_merge.h"
#include "compiler/build_input.h"
#include "vm/execute.h"

namespace qzbase::testing_builtins {
namespace {

class TextMerge : public ::testing::Test {
 public:
  // Builds the text as a script (the runtime's library imported, as the front door does) and runs
  // it; the text it returns.
  std::string run_script(const char* text) {
    BuildInput input(rt.stack);
    input.import_library(rt.runtime->builtin_library());
    std::unique_ptr<Program> program;
    try {
      program.reset(input.build_script(String(text), nullptr));
    } catch (const RuntimeError& e) {
      CaptureScreen messages;
      format_build_error(input, String(text), &messages);
      ADD_FAILURE() << "build error " << e.code << "\n" << messages.err;
      return "";
    }
    Variant result;
    try {
      execute_program(rt.stack, 0, false, program.get(), &result);
    } catch (const RuntimeError& e) {
      ADD_FAILURE() << "run error " << e.code << " " << e.detail.u8str();
      return "";
    }
    EXPECT_EQ(result.tag, VT_STRING);
    std::string out = result.tag == VT_STRING ? static_cast<String>(result).u8str() : std::string();
    result.release(rt.stack);
    return out;
  }

  std::string text_of(const std::vector<Variant>& args) {
    Variant result = call(rt.stack, bi_stackcall_text, args);
    std::string out = static_cast<String>(result).u8str();
    result.release(rt.stack);
    return out;
  }

  RuntimeFixture rt;
};

TEST_F(TextMerge, BlocksRunOnAStack) {
  struct Case {
    const char* script;
    const char* result;
    const char* shown;
  } cases[] = {
      // SET TEXTMERGE is off and no TEXTMERGE clause: the text as written, delimiters included.
      {"x = 5\nTEXT TO v NOSHOW\na <<x>>\n  b\nENDTEXT\nRETURN v\n", "a <<x>>\n  b", ""},
      // Shown as well, with a line end.
      {"TEXT TO v\none\nENDTEXT\nRETURN v\n", "one", "one\n"},
      {"x = 5\nTEXT TO v NOSHOW TEXTMERGE\na << x >>\n<<x*2>><<>>\nENDTEXT\nRETURN v\n", "a 5\n10", ""},
      {"SET TEXTMERGE ON\nx = 'y'\nTEXT TO v NOSHOW\n[<<x>>]\nENDTEXT\nSET TEXTMERGE OFF\nRETURN v\n", "[y]", ""},
      // A null merges as its text instead of failing the block.
      {"x = .NULL.\nTEXT TO v NOSHOW TEXTMERGE\n<<x>>!\nENDTEXT\nRETURN v\n", "null!", ""},
      // TO replaces, ADDITIVE appends.
      {"v = 'old '\nTEXT TO v NOSHOW\nnew\nENDTEXT\nRETURN v\n", "new", ""},
      {"v = 'old '\nTEXT TO v NOSHOW ADDITIVE\nnew\nENDTEXT\nRETURN v\n", "old new", ""},
      {"LOCAL v\nv = 'old '\nTEXT TO v NOSHOW ADDITIVE\nnew\nENDTEXT\nRETURN v\n", "old new", ""},
      {"DIMENSION a(2)\na(2) = 'old '\nTEXT TO a[2] NOSHOW ADDITIVE\nnew\nENDTEXT\nRETURN a[2]\n", "old new", ""},
      // PRETEXT flags: 1 leading blanks, 2 leading tabs, 4 no line end after an empty line, 8 no
      // line ends; a string goes before every line.
      {"TEXT TO v NOSHOW PRETEXT 1\n  a\n\t b\nENDTEXT\nRETURN v\n", "a\n\t b", ""},
      {"TEXT TO v NOSHOW PRETEXT 3\n  a\n\t b\nENDTEXT\nRETURN v\n", "a\nb", ""},
      {"TEXT TO v NOSHOW PRETEXT 4\na\n\nb\nENDTEXT\nRETURN v\n", "a\nb", ""},
      {"TEXT TO v NOSHOW PRETEXT 5\na\n   \nb\nENDTEXT\nRETURN v\n", "a\nb", ""},
      {"TEXT TO v NOSHOW PRETEXT 8\na\nb\nENDTEXT\nRETURN v\n", "ab", ""},
      {"TEXT TO v NOSHOW PRETEXT '> '\na\nb\nENDTEXT\nRETURN v\n", "> a\n> b", ""},
      // Shell text with SET TEXTMERGE ON: what does not parse stays as written.
      {"SET TEXTMERGE ON\nTEXT TO v NOSHOW\necho $((1 << 2)) >> out\nENDTEXT\nSET TEXTMERGE OFF\nRETURN v\n",
       "echo $((1 << 2)) >> out", ""},
      // Without TO the text is only shown.
      {"TEXT\nshown\nENDTEXT\nRETURN ''\n", "", "shown\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    rt.screen.out.clear();
    EXPECT_EQ(run_script(c.script), c.result);
    EXPECT_EQ(rt.screen.out, c.shown);
  }
}

TEST_F(TextMerge, MergeLinesAndSetTextmergeToMemvar) {
  EXPECT_EQ(run_script("x = 5\n\\a <<x>>\n\\\\b\nRETURN ''\n"), "");
  EXPECT_EQ(rt.screen.out, "a <<x>>\nb");
  rt.screen.out.clear();
  EXPECT_EQ(run_script("SET TEXTMERGE TO MEMVAR v\nSET TEXTMERGE ON NOSHOW\nx = 5\n\\a <<x>>\n\\b\n"
                       "SET TEXTMERGE TO\nSET TEXTMERGE OFF SHOW\nRETURN v\n"),
            "a 5\nb\n");
  EXPECT_EQ(rt.screen.out, "");
  EXPECT_EQ(rt.stack->textmerge_target, nullptr);
  // Collecting and showing at once.
  EXPECT_EQ(run_script("SET TEXTMERGE TO MEMVAR w\n\\\\one\n\\ two\nSET TEXTMERGE TO\nRETURN w\n"), "one two\n");
  EXPECT_EQ(rt.screen.out, "one two\n");
}

TEST_F(TextMerge, StackcallTextPieces) {
  Variant t;
  t.set_true();
  EXPECT_EQ(text_of({integer(0), integer(0), integer(0), str("a"), integer(2), str("\n"), integer(1), integer(7)}),
            "a\n7");
  EXPECT_EQ(text_of({integer(0), integer(0)}), "");
  // Trimming is at the start of a line only, and only of literal pieces.
  EXPECT_EQ(text_of({integer(1), integer(0), integer(1), str("  x"), integer(0), str("  y"), integer(2), str("\n"),
                     integer(0), str("  z")}),
            "  x  y\nz");
  // A pretext string starts the text and follows every line end.
  EXPECT_EQ(text_of({str("# "), integer(0), integer(0), str("a"), integer(2), str("\n"), integer(2), str("\n")}),
            "# a\n# \n# ");
  // A line holding only an empty expression is not empty.
  EXPECT_EQ(text_of({integer(4), integer(0), integer(1), str(""), integer(2), str("\n"), integer(0), str(""),
                     integer(2), str("\n"), integer(0), str("b")}),
            "\nb");
  rt.screen.out.clear();
  EXPECT_EQ(text_of({integer(0), integer(1), integer(0), str("seen")}), "seen");
  EXPECT_EQ(rt.screen.out, "seen\n");

  EXPECT_EQ(error_of([&] { text_of({t, integer(0)}); }).first, 11);
  EXPECT_EQ(error_of([&] { text_of({integer(0), integer(0), integer(3), str("x")}); }).first, 1001);
}

TEST_F(TextMerge, SetTextmergeTo) {
  VmStack* stack = rt.stack;
  run(stack, cmd_set_textmerge_to, {integer(1 | 8), null_value(), null_value()});
  EXPECT_EQ(stack->textmerge_on, 1);
  EXPECT_EQ(stack->textmerge_show, 0);
  // ADDITIVE is refused and changes nothing.
  EXPECT_EQ(error_of([&] { run(stack, cmd_set_textmerge_to, {integer(2 | 4 | 16), null_value(), null_value()}); })
                .first,
            1001);
  EXPECT_EQ(stack->textmerge_on, 1);
  EXPECT_EQ(stack->textmerge_show, 0);
  run(stack, cmd_set_textmerge_to, {integer(2 | 4), null_value(), null_value()});
  EXPECT_EQ(stack->textmerge_on, 0);
  EXPECT_EQ(stack->textmerge_show, 1);
  // TO without collecting does nothing; collecting twice is recursive.
  run(stack, cmd_set_textmerge_to, {integer(32), null_value(), null_value()});
  run(stack, cmd_set_textmerge_to, {integer(0), str("t"), null_value()});
  ASSERT_NE(stack->textmerge_target, nullptr);
  EXPECT_EQ(error_of([&] { run(stack, cmd_set_textmerge_to, {integer(0), str("u"), null_value()}); }).first, 2044);
  run(stack, cmd_textmerge, {integer(0), str("x"), integer(2), str("\n")});
  EXPECT_EQ(rt.screen.out, "x\n");
  run(stack, cmd_set_textmerge_to, {integer(32), null_value(), null_value()});
  EXPECT_EQ(stack->textmerge_target, nullptr);
  BuildInput input(stack);
  const Program* read = nullptr;
  input.build_expression(String("t"), &read);
  std::unique_ptr<const Program> owned(read);
  Variant value;
  execute_program(stack, 0, false, read, &value);
  EXPECT_EQ(static_cast<String>(value).u8str(), "x\n");
  value.release(stack);
}

TEST_F(TextMerge, PretextFunction) {
  struct Case {
    Variant text;
    Variant option;
    const char* result;
  } cases[] = {
      {str("a\nb"), str("> "), "> a\n> b"},
      {str("a\r\nb\n"), str("> "), "> a\r\n> b\n"},
      {str("  a\n\t b\n"), integer(1), "a\n\t b\n"},
      {str("  a\n\t b\n"), integer(3), "a\nb\n"},
      {str("a\n  \nb"), integer(5), "a\nb"},
      {str("a\n\rb"), integer(8), "a b "},
      {str(""), str("> "), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    Variant result = call(rt.stack, bi_pretext, {c.text, c.option});
    EXPECT_EQ(static_cast<String>(result).u8str(), c.result);
    result.release(rt.stack);
  }
  Variant result = call(rt.stack, bi_pretext, {null_value(), integer(1)});
  EXPECT_EQ(result.tag, VT_NULL);
  Variant t;
  t.set_true();
  EXPECT_EQ(error_of([&] { call(rt.stack, bi_pretext, {str("a"), t}); }).first, 11);
  // pretext_qz can leave the first line bare.
  String out;
  pretext_qz(String("a\nb"), String("# "), true, false, false, false, false, out);
  EXPECT_EQ(out.u8str(), "a\n# b");
}

}  // namespace
}  // namespace qzbase::testing_builtins
