// text_blocks_test.cpp - TEXT ... ENDTEXT blocks and the \ and \\ text-merge lines.
#include "statement_support.h"

#include <map>
#include <string>

#include "compiler/build_input.h"
#include "compiler/text_blocks.h"

namespace qzbase::testing_compiler {
namespace {

// The runtime's library is seen by the compiler, as in a module build.
class TextBlocks : public StatementTest {
 public:
  TextBlocks() { compiler.libraries.push_back(builtin_library_of(compiler)); }

  void restart() {
    for (Statement* s : statements) delete s;
    statements.clear();
    code().clear();
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    compiler.messages.clear();
  }
};

// The pairs as "tag:value" items: a literal as its text in quotes, an expression as its kind
// (a variable as its name).
std::string describe(const ptr_list<Operand>& pairs) {
  std::string out;
  bool tag = true;
  for (const Operand* operand : pairs) {
    if (tag) {
      EXPECT_EQ(operand->kind, OPERAND_CONSTANT);
      out += (out.empty() ? "" : " ") + std::to_string(static_cast<const Const<long>*>(operand)->value) + ":";
    } else if (operand->kind == OPERAND_CONSTANT &&
               static_cast<const SkalarType*>(operand)->const_type == CONST_STRING) {
      out += "\"" + static_cast<const Const_String*>(operand)->value.u8str() + "\"";
    } else if (operand->kind == OPERAND_VARIABLE) {
      out += static_cast<const Variable*>(operand)->name.u8str();
    } else {
      out += "expr" + std::to_string(operand->kind);
    }
    tag = !tag;
  }
  return out;
}

TEST_F(TextBlocks, MergeListSplitsLiteralsAndExpressions) {
  struct Case {
    const char* text;
    const char* pairs;
    int unparsed;
  } cases[] = {
      {"x <<1+1>> y", "0:\"x \" 1:expr9 0:\" y\"", 0},
      {"<<>>", "1:\"\"", 0},
      {"<<  >>", "1:\"\"", 0},
      {"<< name >>!", "1:name 0:\"!\"", 0},
      {"a >> b", "0:\"a >> b\"", 0},
      {"a << b", "0:\"a << b\"", 0},
      {"", "", 0},
      {"<<a<<b>>c", "0:\"<<a\" 1:b 0:\"c\"", 0},  // the first "<<" is abandoned, so literal
      {"<p><<x>></p><<y>>", "0:\"<p>\" 1:x 0:\"</p>\" 1:y", 0},
      // Shell and markup text: fragments that are no expression stay literal, delimiters and all.
      {"<p><<a b>></p>", "0:\"<p><<a b>></p>\"", 1},
      {"echo $((1 << 2)) >> out <<v>>", "0:\"echo $((1 << 2)) >> out \" 1:v", 1},
      {"<<x)>> <<@>>", "0:\"<<x)>> <<@>>\"", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ptr_list<Operand> pairs;
    EXPECT_EQ(create_merge_list(rt.stack, String(c.text), &pairs), c.unparsed);
    EXPECT_EQ(describe(pairs), c.pairs);
  }
}

TEST_F(TextBlocks, Dumps) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      // Two versions chosen by SET TEXTMERGE; no line break after the last line.
      {"TEXT\na\nb\nENDTEXT\n",
       "0: TestTextmergeOn\n1: CondTrueJump -> 14\n"
       "2: EspAlloc\n3: ReadConstInteger 0\n4: ReadConstInteger 1\n5: ReadConstInteger 0\n6: ReadConstString \"a\"\n"
       "7: ReadConstInteger 2\n8: ReadConstString \"\\n\"\n9: ReadConstInteger 0\n10: ReadConstString \"b\"\n"
       "11: CallSpecDo 8\n12: EspFree\n13: Jump -> 25\n"
       "14: EspAlloc\n15: ReadConstInteger 0\n16: ReadConstInteger 1\n17: ReadConstInteger 0\n"
       "18: ReadConstString \"a\"\n19: ReadConstInteger 2\n20: ReadConstString \"\\n\"\n21: ReadConstInteger 0\n"
       "22: ReadConstString \"b\"\n23: CallSpecDo 8\n24: EspFree\n25: end\n"},
      // TO with ADDITIVE appends, NOSHOW passes 0, PRETEXT comes first; the plain version keeps
      // the delimiters, the merging one splits the line. An empty line gives only its break.
      {"TEXT TO v ADDITIVE NOSHOW PRETEXT 3\n\nx <<y>>\nENDTEXT\n",
       "0: TestTextmergeOn\n1: CondTrueJump -> 12\n"
       "2: EspAlloc\n3: ReadConstInteger 3\n4: ReadConstInteger 0\n5: ReadConstInteger 2\n"
       "6: ReadConstString \"\\n\"\n7: ReadConstInteger 0\n8: ReadConstString \"x <<y>>\"\n9: CallSpecDo 6\n"
       "10: ReadAddWrite V\n11: Jump -> 23\n"
       "12: EspAlloc\n13: ReadConstInteger 3\n14: ReadConstInteger 0\n15: ReadConstInteger 2\n"
       "16: ReadConstString \"\\n\"\n17: ReadConstInteger 0\n18: ReadConstString \"x \"\n19: ReadConstInteger 1\n"
       "20: ReadByName Y\n21: CallSpecDo 8\n22: ReadAddWrite V\n23: end\n"},
      // TEXTMERGE merges in both versions; TO without ADDITIVE replaces.
      {"TEXT TO v TEXTMERGE\n<<y>>\nENDTEXT\n",
       "0: TestTextmergeOn\n1: CondTrueJump -> 10\n"
       "2: EspAlloc\n3: ReadConstInteger 0\n4: ReadConstInteger 1\n5: ReadConstInteger 1\n6: ReadByName Y\n"
       "7: CallSpecDo 4\n8: WriteMemarByName V\n9: Jump -> 17\n"
       "10: EspAlloc\n11: ReadConstInteger 0\n12: ReadConstInteger 1\n13: ReadConstInteger 1\n14: ReadByName Y\n"
       "15: CallSpecDo 4\n16: WriteMemarByName V\n17: end\n"},
      // A \ line: the plain version writes the line as it is, with its line break.
      {"\\a <<y>>\n",
       "0: TestTextmergeOn\n1: CondTrueJump -> 8\n2: ReadConstInteger 0\n3: ReadConstString \"a <<y>>\"\n"
       "4: ReadConstInteger 2\n5: ReadConstString \"\\n\"\n6: CallSpecVoid 4\n7: Jump -> 15\n"
       "8: ReadConstInteger 0\n9: ReadConstString \"a \"\n10: ReadConstInteger 1\n11: ReadByName Y\n"
       "12: ReadConstInteger 2\n13: ReadConstString \"\\n\"\n14: CallSpecVoid 6\n15: end\n"},
      // A \\ line has no line break.
      {"\\\\b\n",
       "0: TestTextmergeOn\n1: CondTrueJump -> 6\n2: ReadConstInteger 0\n3: ReadConstString \"b\"\n"
       "4: CallSpecVoid 2\n5: Jump -> 9\n6: ReadConstInteger 0\n7: ReadConstString \"b\"\n8: CallSpecVoid 2\n"
       "9: end\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    restart();
    int result = 1;
    ASSERT_EQ(error_of([&] { result = compile_all(c.text); }), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(consumed(), statements.size());
    EXPECT_TRUE(message_codes().empty());
    EXPECT_EQ(dump(), c.expected);
  }
}

// Every op of the block is placed at the TEXT statement, and of a \ line's merging call at the
// line; the location in force before is back afterwards.
TEST_F(TextBlocks, OpsAreAtTheStatementAndTheLocationIsRestored) {
  const document_location_st outer = loc(40, 2, 9);
  compiler.location_override = &outer;
  compile_all("TEXT TO v\nx <<y + 1>>\nENDTEXT\n\\ <<y + 2>>\n");
  EXPECT_EQ(compiler.location_override, &outer);
  compiler.location_override = nullptr;
  dump();
  std::map<uint32_t, size_t> lines;
  for (const auto& [position, location] : program->debug_info()->locations()) ++lines[location.begin_line];
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], 18u);   // both calls of the block
  EXPECT_EQ(lines[4], 9u);    // the merging call of the \ line
  EXPECT_EQ(lines[40], 11u);  // the tests and jumps, and the plain call of the \ line
}

// A target that cannot take a value is a syntax error of the statement, not a broken invariant;
// a method call target fails like the same assignment; the location is restored either way.
TEST_F(TextBlocks, TargetsThatCannotBeAssigned) {
  EXPECT_EQ(compile_all("TEXT TO 1 + 2\na\nENDTEXT\n"), 0);
  EXPECT_EQ(message_codes(), (std::vector<uint32_t>{10}));
  EXPECT_EQ(consumed(), statements.size());
  restart();
  // The PRETEXT operand stays the statement's when compiling fails (no double delete).
  EXPECT_EQ(error_of([&] { compile_all("TEXT TO o.m() ADDITIVE PRETEXT p\na\nENDTEXT\n"); }), 10);
  EXPECT_EQ(compiler.location_override, nullptr);
}

// Without ENDTEXT: one message 10 at the TEXT statement; the lines are still consumed.
TEST_F(TextBlocks, MissingEndtext) {
  EXPECT_EQ(compile_all("? 1\nTEXT\na\nb\n"), 0);
  EXPECT_EQ(consumed(), statements.size());
  ASSERT_EQ(message_codes(), (std::vector<uint32_t>{10}));
  EXPECT_EQ(compiler.messages.front().location.begin_line, 2u);
}

// Unparsable "<<...>>" fragments stay literal text; only a block that asks for merging with its
// TEXTMERGE clause reports them, once, at their line.
TEST_F(TextBlocks, UnparsableFragments) {
  EXPECT_EQ(compile_all("TEXT TO s\necho $((1 << 2)) >> log\nENDTEXT\n\\ cat <<EOF >> x\n"), 0);
  EXPECT_TRUE(message_codes().empty());
  restart();
  EXPECT_EQ(compile_all("TEXT TO s TEXTMERGE\nok <<y>>\n<p><<a b>></p>\nENDTEXT\n"), 0);
  ASSERT_EQ(message_codes(), (std::vector<uint32_t>{10}));
  EXPECT_EQ(compiler.messages.front().location.begin_line, 3u);

  // Through the front door: the build fails with the located message.
  BuildInput input(rt.stack);
  String source("x = 1\nTEXT TO s TEXTMERGE\n<<a b>>\nENDTEXT\n");
  EXPECT_EQ(error_of([&] { delete input.build_command(source, nullptr); }), 10);
  ASSERT_EQ(input.messages.size(), 1u);
  EXPECT_EQ(input.messages.records.front().code, 10u);
  EXPECT_EQ(input.messages.records.front().location.begin_line, 3u);
  // Without the clause the same block builds.
  BuildInput plain(rt.stack);
  std::unique_ptr<Program> built(plain.build_command(String("TEXT TO s\n<<a b>>\nENDTEXT\n"), nullptr));
  EXPECT_TRUE(plain.messages.empty());
}

}  // namespace
}  // namespace qzbase::testing_compiler
