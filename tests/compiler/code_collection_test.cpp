// code_collection_test.cpp - appending ops and labels: statement numbers, locations, the
// location override, the block-closing ops, ownership and splicing.
#include "compiler_support.h"

namespace qzbase::testing_compiler {
namespace {

class CodeCollection : public CompilerTest {};

TEST_F(CodeCollection, PushBackStampsTheStatementAndCountsPushJumpDoesNeither) {
  compiler.statement_number = 7;
  code().push_back(loc(3), new VmOpReadConstTrue());
  code().push_jump(new VmOpJump());
  code().push_back_unnumbered(document_location_st{}, new VmOpInitLocalParameters(2));
  EXPECT_EQ(code().statement_at(0), 7);
  EXPECT_EQ(code().statement_at(1), 0);
  EXPECT_EQ(code().statement_at(2), 0);
  EXPECT_EQ(compiler.op_counter, 1u);
  ASSERT_EQ(code().size(), 3u);
  EXPECT_EQ(code().location_at(1).begin_line, 0u);
  EXPECT_EQ(code().location_at(0).begin_line, 3u);
  code().clear();
}

TEST_F(CodeCollection, TheLocationOverrideReplacesEveryPushBackLocation) {
  document_location_st over = loc(42, 5, 9);
  compiler.location_override = &over;
  code().push_back(loc(1), new VmOpReadConstTrue());
  code().push_back(document_location_st{}, new VmOpReadConstFalse());  // line 0 is fine under an override
  for (size_t i = 0; i < code().size(); ++i) {
    EXPECT_EQ(code().location_at(i).begin_line, 42u);
    EXPECT_EQ(code().location_at(i).end_char, 9u);
  }
  document_location_st bad{};
  compiler.location_override = &bad;
  EXPECT_EQ(error_of([&] { code().push_back(loc(1), new VmOpReadConstTrue()); }), -1);
  EXPECT_EQ(code().size(), 2u);
  code().clear();
}

TEST_F(CodeCollection, BrokenContractsAreRefusedAndTheOpIsNotAppended) {
  struct Case {
    const char* what;
    std::function<void()> push;
    int expected;
  };
  std::vector<Case> cases = {
      {"push_back at line 0", [&] { code().push_back(document_location_st{}, new VmOpReadConstTrue()); }, -1},
      {"push_jump of a conditional jump", [&] { code().push_jump(new VmOpCondTrueJump()); }, -1},
      {"push_jump of a constant", [&] { code().push_jump(new VmOpReadConstNull()); }, -1},
      {"push_jump of VmOpReturn", [&] { code().push_jump(new VmOpReturn()); }, 0},
      {"push_jump of VmOpJump", [&] { code().push_jump(new VmOpJump()); }, 0},
      {"push_jump of VmOpInitParameter", [&] { code().push_jump(new VmOpInitParameter(1, 2)); }, 0},
      {"push_jump of VmOpInitLocalParameters", [&] { code().push_jump(new VmOpInitLocalParameters(1)); }, 0},
  };
  size_t appended = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(error_of(c.push), c.expected) << c.what;
    appended += c.expected == 0;
    EXPECT_EQ(code().size(), appended) << c.what;
  }
  code().clear();
}

TEST_F(CodeCollection, LabelsOfOneNameStayDistinctAndBelongToTheCompiler) {
  AddressLabelRecord* a = label("label endcase");
  AddressLabelRecord* b = label("label endcase");
  EXPECT_NE(a->key(), b->key());
  EXPECT_EQ(a->kind, RECORD_LABEL);
  EXPECT_EQ(compiler.labels.size(), 2u);
  {
    CompiledCodeCollection scratch(&compiler);
    scratch.push_back(loc(1), new VmOpReadConstTrue());
    scratch.place_label(a);
    scratch.push_back(loc(1), new VmOpReadConstFalse());
  }  // the two op records go, the label stays (ASan would see a double free)
  EXPECT_EQ(a->name.u8str(), "label endcase");
  // Placing a does not place b: a jump to b cannot be assembled.
  code().place_label(a);
  code().push_back(loc(1), new VmOpJump(b->key()));
  EXPECT_EQ(error_of([&] { assemble(); }), -1);
  EXPECT_EQ(code().size(), 0u);  // an abandoned assembly leaves nothing behind
}

TEST_F(CodeCollection, SpliceBackMovesEveryRecordInOrder) {
  CompiledCodeCollection scratch(&compiler);
  code().splice_back(scratch);
  EXPECT_EQ(code().size(), 0u);
  AddressLabelRecord* l = label();
  scratch.push_back(loc(1), new VmOpReadConstInteger(1));
  scratch.place_label(l);
  scratch.push_back(loc(1), new VmOpReadConstInteger(2));
  code().push_back(loc(1), new VmOpReadConstInteger(0));
  code().splice_back(scratch);
  EXPECT_EQ(scratch.size(), 0u);
  EXPECT_EQ(code().size(), 4u);
  EXPECT_EQ(assemble(), "0: ReadConstInteger 0\n1: ReadConstInteger 1\n2: ReadConstInteger 2\n3: end\n");
}

TEST_F(CodeCollection, PushFrontPutsAnUnnumberedOpFirst) {
  compiler.statement_number = 3;
  code().push_back(loc(2), new VmOpReadConstTrue());
  code().push_front_unnumbered(document_location_st{}, new VmOpInitLocalParameters(1));
  EXPECT_EQ(compiler.op_counter, 1u);
  EXPECT_EQ(assemble(), "0: InitLocalParameters 1\n1: ReadConstTrue\n2: end\n");
  EXPECT_EQ(program->statement_of(0), 0);
  EXPECT_EQ(program->statement_of(1), 3);
  EXPECT_EQ(program->debug_info()->locations().count(program->code()), 0u);
}

}  // namespace
}  // namespace qzbase::testing_compiler

namespace qzbase::testing_compiler {
namespace {

// Labels stand apart from the ops with the position of the op they come before: splicing moves
// them along, an op put at the front goes before them, and element order, locations and statement
// numbers read back as appended.
TEST_F(CodeCollection, LabelsKeepTheirPlaceThroughSplicesAndPushFront) {
  AddressLabelRecord* start = label("start");
  AddressLabelRecord* middle = label("middle");
  AddressLabelRecord* twice = label("twice");
  AddressLabelRecord* end = label("end");
  CompiledCodeCollection scratch(&compiler);
  compiler.statement_number = 2;
  scratch.place_label(middle);
  scratch.push_back(loc(5, 40, 41), new VmOpReadConstInteger(1));
  scratch.place_label(twice);
  scratch.place_label(twice);  // the first placement wins
  scratch.push_back(loc(6, 50, 51), new VmOpJump(start->key()));
  scratch.place_label(end);  // stands for the next op appended after the splice
  compiler.statement_number = 1;
  code().place_label(start);
  code().push_back(loc(4, 30, 31), new VmOpJump(end->key()));
  code().splice_back(scratch);
  code().push_front_unnumbered(document_location_st{}, new VmOpInitLocalParameters(0));
  code().push_back(loc(7, 60, 61), new VmOpJump(twice->key()));
  code().push_back(loc(8, 70, 71), new VmOpJump(middle->key()));

  // Elements: init, start, jump end, middle, 1, twice, twice, jump start, end, jump twice, jump middle
  ASSERT_EQ(code().size(), 11u);
  EXPECT_EQ(code().label_at(1), start);
  EXPECT_EQ(code().label_at(3), middle);
  EXPECT_EQ(code().label_at(8), end);
  EXPECT_EQ(code().op_at(8), nullptr);
  EXPECT_EQ(code().op_at(4)->opcode, OP_READ_CONST_INTEGER);
  EXPECT_EQ(code().label_at(4), nullptr);
  EXPECT_EQ(code().location_at(4).begin_line, 5u);
  EXPECT_EQ(code().location_at(0).begin_line, 0u);
  EXPECT_EQ(code().location_at(3).begin_line, 0u);  // a label
  EXPECT_EQ(code().statement_at(4), 2);
  EXPECT_EQ(code().statement_at(2), 1);
  EXPECT_EQ(code().statement_at(10), 1);
  EXPECT_EQ(assemble(),
            "0: InitLocalParameters 0\n"
            "1: Jump -> 4\n"
            "2: ReadConstInteger 1\n"
            "3: Jump -> 1\n"
            "4: Jump -> 3\n"
            "5: Jump -> 2\n"
            "6: end\n");
  EXPECT_EQ(program->statement_of(0), 0);
  EXPECT_EQ(program->statement_of(2), 2);
  EXPECT_EQ(program->statement_of(5), 1);
  document_location_st at{};
  ASSERT_TRUE(program->debug_info()->location_of(program->code() + 3, &at));
  EXPECT_EQ(at.begin_line, 6u);
  EXPECT_EQ(at.begin_char, 50u);
  EXPECT_EQ(code().size(), 0u);
}

}  // namespace
}  // namespace qzbase::testing_compiler
