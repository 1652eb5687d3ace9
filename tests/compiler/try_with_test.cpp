// try_with_test.cpp - TRY ... CATCH ... FINALLY ... ENDTRY and WITH ... ENDWITH, and truncated
// block programs.
#include "block_run_support.h"

#include <sstream>

namespace qzbase::testing_compiler {
namespace {

using Codes = std::vector<uint32_t>;

class TryWith : public BlockRun {};

// Each text runs as a script (frame slots) and as a command text (names only). NOSUCH is never
// defined: reading it raises 12.
TEST_F(TryWith, RunsInBothCompileKinds) {
  struct Case {
    const char* text;
    const char* printed;
  } cases[] = {
      // The protected block stops at the error; CATCH TO receives the exception object.
      {"TRY\n?? \"a\"\nx = nosuch\n?? \"b\"\nCATCH TO e\n?? e.ErrorNo\nENDTRY\n?? \"/\"\n", "a12/"},
      {"TRY\n?? \"a\"\nCATCH\n?? \"c\"\nENDTRY\n", "a"},
      // TRY without CATCH catches nothing.
      {"TRY\nx = nosuch\nENDTRY\n?? \"never\"\n", "!12"},
      // The first clause whose WHEN holds is taken; WHEN sees the TRY's variables.
      {"n = 5\nTRY\nx = nosuch\nCATCH TO e WHEN n < 3\n?? 1\nCATCH TO e WHEN e.ErrorNo = 12 AND n = 5\n?? 2\nCATCH\n?? 3\n"
       "ENDTRY\n",
       "2"},
      {"LOCAL n\nn = 1\nTRY\nx = nosuch\nCATCH TO e WHEN n < 3\n?? \"c\", e.ErrorNo\nENDTRY\n", "c 12"},
      // A catch-all clause hides the later ones.
      {"TRY\nx = nosuch\nCATCH\n?? 1\nCATCH\n?? 2\nENDTRY\n", "1"},
      // WHEN may call a built-in function.
      {"TRY\nx = nosuch\nCATCH TO e WHEN at(\"b\", \"abc\") = 2\n?? \"c\"\nENDTRY\n", "c"},
      // No clause takes the error: it goes on, after the FINALLY body.
      {"TRY\nx = nosuch\nCATCH TO e WHEN .F.\n?? \"c\"\nFINALLY\n?? \"f\"\nENDTRY\n?? \"never\"\n", "f!12"},
      {"TRY\nx = nosuch\nCATCH TO e WHEN .F.\n?? \"c\"\nENDTRY\n?? \"never\"\n", "!12"},
      {"TRY\n?? \"a\"\nx = nosuch\nFINALLY\n?? \"f\"\nENDTRY\n?? \"never\"\n", "af!12"},
      // FINALLY after the protected block and after a CATCH body.
      {"TRY\n?? \"a\"\nCATCH\n?? \"c\"\nFINALLY\n?? \"f\"\nENDTRY\n?? \"/\"\n", "af/"},
      {"TRY\nx = nosuch\nCATCH\n?? \"c\"\nFINALLY\n?? \"f\"\nENDTRY\n?? \"/\"\n", "cf/"},
      // An error in a CATCH body or in a WHEN is not caught by its own TRY; FINALLY runs first.
      {"TRY\nx = nosuch\nCATCH\n?? \"c\"\ny = nosuch\n?? \"never\"\nFINALLY\n?? \"f\"\nENDTRY\n", "cf!12"},
      {"TRY\nx = nosuch\nCATCH TO e WHEN nosuch\n?? \"c\"\nFINALLY\n?? \"f\"\nENDTRY\n", "f!12"},
      {"TRY\nx = nosuch\nCATCH\nz = 1\ny = z + \"a\"\nCATCH\n?? \"never\"\nENDTRY\n", "!107"},
      // An error in the FINALLY body simply goes on.
      {"TRY\n?? \"a\"\nFINALLY\nx = nosuch\n?? \"never\"\nENDTRY\n", "a!12"},
      // Nested: the inner FINALLY runs before the outer CATCH; the same error number arrives.
      {"TRY\nTRY\nx = nosuch\nFINALLY\n?? \"i\"\nENDTRY\n?? \"never\"\nCATCH TO e\n?? \"o\", e.ErrorNo\n"
       "FINALLY\n?? \"F\"\nENDTRY\n",
       "io 12F"},
      {"TRY\nx = 1\nTRY\ny = x + \"a\"\nCATCH TO e WHEN e.ErrorNo = 12\n?? \"inner\"\nENDTRY\nCATCH TO e\n?? e.ErrorNo\n"
       "ENDTRY\n",
       "107"},
      // EXIT and LOOP leave the block through FINALLY, then act on the loop.
      {"FOR i = 1 TO 3\nTRY\n?? i\nEXIT\n?? \"never\"\nFINALLY\n?? \"f\"\nENDTRY\n?? \"never\"\nENDFOR\n?? \"/\", i\n",
       "1f/ 1"},
      {"FOR i = 1 TO 3\nTRY\n?? i\nLOOP\nFINALLY\n?? \"f\"\nENDTRY\n?? \"never\"\nENDFOR\n?? \"/\", i\n",
       "1f2f3f/ 4"},
      {"x = 0\nDO WHILE x < 2\nx = x + 1\nTRY\nTRY\nLOOP\nFINALLY\n?? \"i\"\nENDTRY\nFINALLY\n?? \"o\"\nENDTRY\n"
       "?? \"never\"\nENDDO\n?? x\n",
       "ioio2"},
      {"x = 0\nDO WHILE .T.\nx = x + 1\nTRY\nx = nosuch\nCATCH\n?? \"c\"\nEXIT\nFINALLY\n?? \"f\"\nENDTRY\nENDDO\n?? x\n",
       "cf1"},
      // ENDDO inside a TRY in the loop acts like LOOP, also through FINALLY.
      {"x = 0\nDO WHILE x < 2\nx = x + 1\nTRY\nENDDO\nFINALLY\n?? \"f\"\nENDTRY\nENDDO\n?? x\n", "ff2"},
      // A loop inside the TRY is left without running FINALLY before the TRY ends.
      {"TRY\nFOR i = 1 TO 3\nEXIT\nENDFOR\n?? \"a\"\nFINALLY\n?? \"f\"\nENDTRY\n", "af"},
      // A TRY entered again and again.
      {"FOR i = 1 TO 3\nTRY\nIF_NOT_A_COMMAND = nosuch\nCATCH TO e\n?? i\nFINALLY\n?? \"f\"\nENDTRY\nENDFOR\n",
       "1f2f3f"},
  };
  for (const Case& c : cases) {
    for (uint32_t kind : {COMPILE_KIND_PROGRAM, COMPILE_KIND_COMMAND}) {
      SCOPED_TRACE(std::string(c.text) + (kind == COMPILE_KIND_PROGRAM ? " (script)" : " (command)"));
      EXPECT_EQ(run(c.text, kind), c.printed);
      EXPECT_TRUE(codes.empty());
    }
  }
}

// RETURN leaves every TRY block through its FINALLY, innermost first, with the value it had
// before the FINALLY bodies ran.
TEST_F(TryWith, ReturnRunsFinally) {
  struct Case {
    const char* text;
    const char* printed;
  } cases[] = {
      {"x = \"r\"\nTRY\nRETURN x\nFINALLY\n?? \"f\"\nx = \"changed\"\nENDTRY\n?? \"never\"\n", "f=r"},
      {"TRY\nTRY\nRETURN \"r\"\nFINALLY\n?? \"i\"\nENDTRY\nFINALLY\n?? \"o\"\nENDTRY\n", "io=r"},
      {"TRY\nx = nosuch\nCATCH\nRETURN \"c\"\nFINALLY\n?? \"f\"\nENDTRY\n", "f=c"},
      {"FOR i = 1 TO 3\nTRY\nRETURN \"r\"\nFINALLY\n?? i\nENDTRY\nENDFOR\n", "1=r"},
      // RETURN inside FINALLY wins over the pending error.
      {"TRY\nx = nosuch\nFINALLY\nRETURN \"f\"\nENDTRY\n", "=f"},
      // A RETURN inside a FINALLY that the pending one passes is given up (an error caught inside
      // that FINALLY, or EXIT from a loop inside it): the pending RETURN goes on with its own value.
      {"TRY\nRETURN \"r\"\nFINALLY\nTRY\nTRY\nRETURN \"s\"\nFINALLY\nx = nosuch\nENDTRY\nCATCH\n?? \"c\"\n"
       "ENDTRY\nENDTRY\n",
       "c=r"},
      {"TRY\nTRY\nRETURN \"r\"\nFINALLY\n?? \"i\"\nENDTRY\nFINALLY\nDO WHILE .T.\nTRY\nRETURN \"s\"\nFINALLY\nEXIT\n"
       "ENDTRY\nENDDO\n?? \"o\"\nENDTRY\n",
       "io=r"},
      {"TRY\nTRY\nRETURN \"r\"\nFINALLY\nTRY\nRETURN \"s\"\nFINALLY\nx = nosuch\nENDTRY\nENDTRY\nCATCH\n?? \"c\"\n"
       "ENDTRY\nRETURN \"after\"\n",
       "c=after"},
      {"TRY\nTRY\nRETURN \"r\"\nFINALLY\n?? \"i\"\nENDTRY\nFINALLY\nTRY\nTRY\nRETURN \"s\"\nFINALLY\nx = nosuch\n"
       "ENDTRY\nCATCH\n?? \"c\"\nENDTRY\nENDTRY\n",
       "ic=r"},
      // The same, where the pending RETURN itself sits in a FINALLY.
      {"TRY\nTRY\nFINALLY\nRETURN \"r\"\nENDTRY\nFINALLY\nTRY\nTRY\nRETURN \"s\"\nFINALLY\nx = nosuch\nENDTRY\n"
       "CATCH\n?? \"c\"\nENDTRY\nENDTRY\n",
       "c=r"},
      // TRY blocks one after the other, and several RETURNs in one: each returns its own value.
      {"n = 2\nTRY\nIF n = 1\nRETURN \"a\"\nENDIF\nFINALLY\nENDTRY\nTRY\nIF n = 3\nRETURN \"b\"\nENDIF\nIF n = 2\n"
       "RETURN \"c\"\nENDIF\nFINALLY\n?? \"f\"\nENDTRY\n",
       "f=c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(run(c.text), c.printed);
    EXPECT_TRUE(codes.empty());
  }
}

// The value of a RETURN inside a TRY waits in a hidden slot until the FINALLY bodies have run.
// RETURNs of one TRY and TRY blocks one after the other share it, and so do TRY blocks in a row
// inside another; a TRY inside the FINALLY that a pending RETURN passes needs a slot of its own.
TEST_F(TryWith, ReturnsShareTheirSlotUnlessAFinallyHoldsIt) {
  auto slots = [&](const std::string& text) -> size_t {
    std::unique_ptr<Program> program = build(text);
    EXPECT_NE(program, nullptr) << text;
    return program != nullptr ? program->slot_count() : 0;
  };
  const std::string ret = "IF n = 1\nRETURN n\nENDIF\n";
  const std::string one = "TRY\n" + ret + "FINALLY\nENDTRY\n";
  std::string in_a_row, returns;
  for (int i = 0; i < 20; ++i) {
    in_a_row += one;
    returns += ret;
  }
  const size_t single = slots(one);
  EXPECT_EQ(slots(in_a_row), single);
  EXPECT_EQ(slots("TRY\n" + returns + "FINALLY\nENDTRY\n"), single);
  EXPECT_EQ(slots("TRY\n" + ret + in_a_row + "FINALLY\nENDTRY\n"), slots("TRY\n" + ret + one + "FINALLY\nENDTRY\n"));
  EXPECT_EQ(slots("TRY\n" + in_a_row + "FINALLY\nENDTRY\n" + in_a_row), slots("TRY\n" + one + "FINALLY\nENDTRY\n"));
  const size_t nested = slots("TRY\n" + ret + "FINALLY\n" + one + "ENDTRY\n");
  EXPECT_GT(nested, single);
  EXPECT_EQ(slots("TRY\n" + ret + "FINALLY\n" + in_a_row + "ENDTRY\n"), nested);
}

// The WHEN condition is compiled in the unit: its messages are the unit's build messages.
TEST_F(TryWith, ConditionMessagesAreTheUnits) {
  EXPECT_EQ(build("TRY\nCATCH TO e WHEN .p = 1\nENDTRY\n"), nullptr);
  EXPECT_EQ(codes, (Codes{1940}));
}

TEST_F(TryWith, TryDump) {
  auto program = build("TRY\nx = 1\nCATCH TO e WHEN e.ErrorNo = 12\nx = 2\nFINALLY\nx = 3\nENDTRY\n");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(dump(program.get()),
            "0: DefLocalOffset @1 .LOCAL~TRYERROR~0\n1: DefLocalOffset @2 .LOCAL~TRYNEXT~1\n"
            "2: InstallErrorHandler [ -> 2 .. -> 5 ] catch -> 6 to .LOCAL~TRYERROR~0\n"
            "3: ReadConstInteger 1\n4: WriteMemarByName X\n5: Jump -> 23\n"
            "6: UnwindContinue\n7: InstallErrorHandler [ -> 7 .. -> 19 ] catch -> 19 to .LOCAL~TRYERROR~0\n"
            "8: ReadLocalMemvarByOffset @1\n9: WriteMemarByName E\n10: EspAlloc\n"
            "11: ReadFileObjectOrMemvarByName E\n12: ObjectReadProperty ERRORNO 0\n13: ReadConstInteger 12\n"
            "14: BinaryEq\n15: CondFalseOrNullJump -> 19\n16: ReadConstInteger 2\n17: WriteMemarByName X\n"
            "18: Jump -> 23\n"
            // no clause taken, or an error in the CATCH part: FINALLY, then the error goes on
            "19: UnwindContinue\n20: ReadConstInteger 1\n21: WriteMemvarByOffset @2\n22: Jump -> 25\n"
            "23: ReadConstInteger 0\n24: WriteMemvarByOffset @2\n"
            "25: ReadConstInteger 3\n26: WriteMemarByName X\n"
            "27: ReadLocalMemvarByOffset @2\n28: ReadConstInteger 1\n29: BinaryEq\n30: CondTrueJump -> 32\n"
            "31: Jump -> 34\n32: ReadLocalMemvarByOffset @1\n33: CallSpecVoid 1\n34: Return\n35: end\n");
}

// WITH keeps the object in a temporary that "." references read; ENDWITH lets go of it.
TEST_F(TryWith, WithDumps) {
  auto program = build("WITH a\nWITH b\n? .p\nENDWITH\n? .p\nENDWITH\n");
  ASSERT_NE(program, nullptr);
  EXPECT_TRUE(codes.empty());
  EXPECT_EQ(dump(program.get()),
            "0: DefLocalOffset @1 .LOCAL~WITH~0\n1: ReadByName A\n2: WriteMemvarByOffset @1\n"
            "3: DefLocalOffset @2 .LOCAL~WITH~1\n4: ReadByName B\n5: WriteMemvarByOffset @2\n"
            "6: EspAlloc\n7: ReadLocalMemvarByOffset @2\n8: ObjectReadProperty P 0\n9: CallSpecVoid 1\n"
            "10: ReadConstFalse\n11: WriteMemvarByOffset @2\n"
            "12: EspAlloc\n13: ReadLocalMemvarByOffset @1\n14: ObjectReadProperty P 0\n15: CallSpecVoid 1\n"
            "16: ReadConstFalse\n17: WriteMemvarByOffset @1\n18: Return\n19: end\n");
  // A WITH relative to the enclosing one reads the enclosing object, not its own empty temporary.
  program = build("WITH a\nWITH .child\nENDWITH\nENDWITH\n");
  ASSERT_NE(program, nullptr);
  std::string text = dump(program.get());
  EXPECT_NE(text.find("3: DefLocalOffset @2 .LOCAL~WITH~1\n4: EspAlloc\n5: ReadLocalMemvarByOffset @1\n"
                      "6: ObjectReadProperty CHILD 0\n7: WriteMemvarByOffset @2\n"),
            std::string::npos)
      << text;
  // A WITH left open fails the build at the WITH.
  EXPECT_EQ(build("WITH a\n? .p\n"), nullptr);
  EXPECT_EQ(codes, (Codes{96}));
  EXPECT_EQ(build("ENDWITH\n"), nullptr);
  EXPECT_EQ(codes, (Codes{1940}));
  EXPECT_EQ(build("? .p\n"), nullptr);
  EXPECT_EQ(codes, (Codes{1940}));
  // STORE to such a property: one message, though the target is compiled for the check and the write.
  EXPECT_EQ(build("STORE 1 TO .p\n"), nullptr);
  EXPECT_EQ(codes, (Codes{1940}));
  EXPECT_EQ(build("STORE 1 TO x, .p, .q\n"), nullptr);
  EXPECT_EQ(codes, (Codes{1940, 1940}));
  // The WITH of a loop body ends with the body's scope.
  EXPECT_EQ(build("DO WHILE .F.\nWITH a\nENDDO\nENDWITH\n"), nullptr);
  EXPECT_EQ(codes, (Codes{96, 1940}));
}

TEST_F(TryWith, UnfinishedTryRecordsNestingError) {
  struct Case {
    const char* text;
    Codes codes;
  } cases[] = {
      {"TRY\n", {96}},
      {"TRY\nx = 1\n", {96}},
      {"TRY\nCATCH\n", {96}},
      {"TRY\nCATCH TO e WHEN .T.\nx = 1\n", {96}},
      {"TRY\nFINALLY\n", {96}},
      {"TRY\nFINALLY\nx = 1\n", {96}},
      {"DO WHILE .T.\nTRY\nENDDO\n", {96, 96}},
      // An end statement of the loop in the FINALLY statements closes the loop; ENDTRY is stray.
      {"DO WHILE .T.\nTRY\nFINALLY\nENDDO\nENDTRY\n", {96, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(build(c.text), nullptr);
    EXPECT_EQ(build_error, 10);
    EXPECT_EQ(codes, c.codes);
  }
  BuildInput input(rt.stack);
  EXPECT_EQ(error_of([&] { delete input.build_script(String("x = 1\nTRY\n  x = 2\nCATCH\n"), nullptr); }), 10);
  ASSERT_EQ(input.messages.size(), 1u);
  EXPECT_EQ(input.messages.records.front().location.begin_line, 2u);
}

// Valid programs with every block, nested; each is cut after every line and started at every
// line: each piece compiles to a program or to build messages, never to a broken invariant.
TEST_F(TryWith, TruncatedBlocksCompileToProgramsOrMessages) {
  const char* corpus[] = {
      "x = 0\nDO WHILE x < 3\nx = x + 1\nIF_NOT = 1\nLOOP\nENDDO\n",
      "FOR i = 1 TO 3\nFOR j = i TO 1 STEP -1\nIF_NOT = j\nEXIT\nENDFOR\nLOOP\nNEXT\n",
      "FOR EACH KEY k VALUE v IN arr\nFOR EACH w IN v QZOBJECT\nEXIT\nENDFOR\nENDFOR\n",
      "SCAN REST FOR a > 1 WHILE b\nSCAN\nLOOP\nENDSCAN\nEXIT\nENDSCAN\n",
      "SCAN &c\nDO WHILE &d\nEXIT\nENDDO\nENDSCAN\n",
      "TRY\nTRY\nx = nosuch\nCATCH TO e WHEN e.ErrorNo = 12\nx = 1\nFINALLY\nx = 2\nENDTRY\nCATCH\nx = 3\nENDTRY\n",
      "FOR i = 1 TO 2\nTRY\nDO WHILE .T.\nTRY\nEXIT\nFINALLY\nLOOP\nENDTRY\nENDDO\nRETURN 1\nCATCH\nEXIT\n"
      "FINALLY\nLOOP\nENDTRY\nENDFOR\n",
      "WITH a\nFOR i = 1 TO 2\nWITH .b\nTRY\n? .c\nCATCH TO e WHEN .d\nRETURN @x\nENDTRY\nENDWITH\nNEXT\nENDWITH\n",
      "DO WHILE .T.\nTRY\nENDDO\nFINALLY\nENDDO\nENDTRY\nENDDO\n",
  };
  for (const char* program : corpus) {
    std::vector<std::string> lines;
    std::istringstream in(program);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    for (size_t from = 0; from <= lines.size(); ++from) {
      for (size_t to = from; to <= lines.size(); ++to) {
        std::string text;
        for (size_t k = from; k < to; ++k) text += lines[k];
        for (uint32_t kind : {COMPILE_KIND_PROGRAM, COMPILE_KIND_COMMAND}) {
          SCOPED_TRACE(text);
          std::unique_ptr<Program> built = build(text, kind);
          EXPECT_TRUE(build_error == 0 || build_error == 10) << build_error;
          EXPECT_EQ(built != nullptr, build_error == 0);
        }
      }
    }
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
