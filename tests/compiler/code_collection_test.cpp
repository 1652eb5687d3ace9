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
