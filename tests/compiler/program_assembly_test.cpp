// program_assembly_test.cpp - code arrays, label resolution, jump fix-ups, threading of
// short-circuit jumps and the debug maps, on hand-built collections.
#include "compiler_support.h"

namespace qzbase::testing_compiler {
namespace {

class Assembly : public CompilerTest {
 public:
  template <class Op, class... A>
  Op* emit(uint32_t line, A... args) {
    auto* op = new Op(args...);
    code().push_back(loc(line, line * 10, line * 10 + 5), op);
    return op;
  }
};

TEST_F(Assembly, AnEmptyCollectionGivesAnEmptyProgram) {
  EXPECT_EQ(assemble("EMPTY"), "0: end\n");
  EXPECT_EQ(program->code_length(), 0u);
  EXPECT_EQ(program->code()[0], nullptr);
  EXPECT_EQ(program->name().u8str(), "EMPTY");
  const DebugInfo* d = program->debug_info();
  EXPECT_TRUE(d->locations().empty());
  EXPECT_TRUE(d->statements().empty());
  EXPECT_EQ(d->span().begin_line, 0u);
  EXPECT_EQ(d->span().end_char, 0u);
}

TEST_F(Assembly, LabelsResolveToTheNextOpTheFirstPlacementWinsAndTheEndIsTheNullSlot) {
  AddressLabelRecord* top = label("top");
  AddressLabelRecord* twice = label("twice");
  AddressLabelRecord* end = label("end");
  code().place_label(top);
  code().place_label(twice);
  emit<VmOpReadConstTrue>(1);
  emit<VmOpCondFalseOrNullJump>(1, end->key());
  emit<VmOpCondTrueJump>(1, twice->key());
  code().place_label(twice);  // ignored: already placed at slot 0
  emit<VmOpForCondFalseJump>(2, top->key());
  code().push_jump(new VmOpJump(top->key()));
  code().place_label(end);
  EXPECT_EQ(assemble(),
            "0: ReadConstTrue\n"
            "1: CondFalseOrNullJump -> 5\n"
            "2: CondTrueJump -> 0\n"
            "3: ForCondFalseJump -> 0\n"
            "4: Jump -> 0\n"
            "5: end\n");
  EXPECT_EQ(static_cast<const VmOpCondFalseOrNullJump*>(program->op(1))->target_position(), program->code() + 5);
  EXPECT_EQ(code().size(), 0u);
  EXPECT_EQ(compiler.labels.size(), 3u);  // labels stay until the next reset
}

// a AND b AND c: the first short-circuit jump goes straight to the end.
TEST_F(Assembly, ChainedAndJumpsAreThreaded) {
  AddressLabelRecord* l1 = label("and");
  AddressLabelRecord* l2 = label("and");
  emit<VmOpReadMemvarByName>(1, 1u);
  emit<VmOpCondFalseOrNullJumpKeepEsp>(1, l1->key());
  emit<VmOpReadMemvarByName>(1, 2u);
  code().place_label(l1);
  emit<VmOpCondFalseOrNullJumpKeepEsp>(1, l2->key());
  emit<VmOpReadMemvarByName>(1, 3u);
  code().place_label(l2);
  EXPECT_EQ(assemble(),
            "0: ReadMemvarByName $1\n"
            "1: CondFalseOrNullJumpKeepEsp -> 5\n"
            "2: ReadMemvarByName $2\n"
            "3: CondFalseOrNullJumpKeepEsp -> 5\n"
            "4: ReadMemvarByName $3\n"
            "5: end\n");
}

// (a AND b) OR c: a false a must not be tested by the OR's true jump; it goes past it to c.
TEST_F(Assembly, AnAndJumpLandingOnAnOrJumpSkipsIt) {
  AddressLabelRecord* l_and = label("and");
  AddressLabelRecord* l_or = label("or");
  emit<VmOpReadMemvarByName>(1, 1u);
  emit<VmOpCondFalseOrNullJumpKeepEsp>(1, l_and->key());
  emit<VmOpReadMemvarByName>(1, 2u);
  code().place_label(l_and);
  emit<VmOpCondTrueJumpKeepEsp>(1, l_or->key());
  emit<VmOpReadMemvarByName>(1, 3u);
  code().place_label(l_or);
  emit<VmOpCondTrueOrNullMerge2P>(1);
  EXPECT_EQ(assemble(),
            "0: ReadMemvarByName $1\n"
            "1: CondFalseOrNullJumpKeepEsp -> 4\n"
            "2: ReadMemvarByName $2\n"
            "3: CondTrueJumpKeepEsp -> 5\n"
            "4: ReadMemvarByName $3\n"
            "5: CondTrueOrNullMerge2P\n"
            "6: end\n");
}

TEST_F(Assembly, ThreadingEndsAtTheNullSlotAndAtAJumpToItself) {
  AddressLabelRecord* self = label("self");
  AddressLabelRecord* mid = label("mid");
  AddressLabelRecord* end = label("end");
  emit<VmOpCondFalseOrNullJumpKeepEsp>(1, mid->key());
  code().place_label(self);
  emit<VmOpCondFalseOrNullJumpKeepEsp>(1, self->key());  // hand-built: must not hang
  code().place_label(mid);
  emit<VmOpCondTrueJumpKeepEsp>(1, end->key());
  emit<VmOpCondFalseOrNullJumpKeepEsp>(1, end->key());
  code().place_label(end);
  EXPECT_EQ(assemble(),
            "0: CondFalseOrNullJumpKeepEsp -> 4\n"
            "1: CondFalseOrNullJumpKeepEsp -> 1\n"
            "2: CondTrueJumpKeepEsp -> 4\n"
            "3: CondFalseOrNullJumpKeepEsp -> 4\n"
            "4: end\n");
}

TEST_F(Assembly, DebugMapsSkipUnlocatedOpsAndSpanTheLocatedOnes) {
  compiler.statement_number = 4;
  code().push_back(loc(2, 10, 15), new VmOpReadConstTrue());
  code().push_back(loc(1, 3, 8), new VmOpReadConstFalse());
  code().push_jump(new VmOpJump(0));
  AddressLabelRecord* l = label();
  code().place_label(l);
  static_cast<VmOpJump*>(code().op_at(2))->target = l->key();
  compiler.statement_number = 5;
  code().push_back(loc(3, 20, 30), new VmOpReadConstNull());
  code().push_back_unnumbered(loc(4, 31, 32), new VmOpInitLocalParameters(0));
  assemble();
  const DebugInfo* d = program->debug_info();
  code_position c = program->code();
  EXPECT_EQ(d->locations().size(), 4u);
  EXPECT_EQ(d->locations().count(c + 2), 0u);  // the jump
  EXPECT_EQ(d->locations().at(c + 1).begin_line, 1u);
  std::vector<std::pair<int64_t, size_t>> statements;
  for (const auto& [number, p] : d->statements()) statements.emplace_back(number, slot(p));
  EXPECT_EQ(statements, (std::vector<std::pair<int64_t, size_t>>{{4, 0}, {4, 1}, {5, 3}}));
  EXPECT_EQ(d->span().begin_char, 3u);
  EXPECT_EQ(d->span().begin_line, 1u);
  EXPECT_EQ(d->span().end_char, 32u);
  EXPECT_EQ(d->span().end_line, 4u);
  EXPECT_EQ(d->find_opcode_for_line_no(3), c + 3);
}

TEST_F(Assembly, AnErrorHandlerGetsItsRangeAndEveryClauseTargetAsSlots) {
  AddressLabelRecord* start = label("try");
  AddressLabelRecord* end = label("endtry");
  AddressLabelRecord* catch1 = label("catch");
  AddressLabelRecord* catch2 = label("catch");
  symbol_id_type e = rt.sym("E");
  std::vector<catch_clause_st> clauses = {{catch1->key(), e, nullptr}, {catch2->key(), 0, nullptr}};
  emit<VmOpInstallErrorHandler>(1, start->key(), end->key(), clauses);
  code().place_label(start);
  emit<VmOpReadConstTrue>(2);
  code().place_label(end);
  code().push_jump(new VmOpJump(end->key()));
  code().place_label(catch1);
  emit<VmOpUnwindContinue>(3);
  code().place_label(catch2);
  emit<VmOpUnwindContinue>(4);
  EXPECT_EQ(assemble(),
            "0: InstallErrorHandler [ -> 1 .. -> 2 ] catch -> 3 to $" + std::to_string(e) +
                " catch -> 4\n"
                "1: ReadConstTrue\n"
                "2: Jump -> 2\n"
                "3: UnwindContinue\n"
                "4: UnwindContinue\n"
                "5: end\n");
  auto* h = static_cast<const VmOpInstallErrorHandler*>(program->op(0));
  EXPECT_TRUE(h->protects(program->code() + 1));
  EXPECT_FALSE(h->protects(program->code() + 2));
}

TEST_F(Assembly, UnresolvedCallsAreListedByTheirSlots) {
  emit<VmOpReadConstTrue>(1);
  emit<VmOpUnresolvedCall>(1, String("foo"), 2u);
  emit<VmOpUnresolvedCall>(2, String("bar"), 0u);
  assemble();
  ASSERT_EQ(compiler.unresolved_calls.size(), 2u);
  EXPECT_EQ(compiler.unresolved_calls.front(), program->mutable_code() + 1);
  EXPECT_EQ(compiler.unresolved_calls.back(), program->mutable_code() + 2);
  // The static form without a list, and the compiler's type record and offsets carried over.
  compiler.reset(COMPILE_KIND_PROGRAM, true);
  code().push_back(loc(1), new VmOpUnresolvedCall(String("x"), 0));
  offset_type off;
  compiler.compile_time_define_memvar(rt.sym("A"), &off);
  compiler.type = compiler_type_info_st{5, true, -1};
  program.reset(Compiler::create_program(String("p"), &code(), compiler.symbol_map, 1, compiler.type, nullptr));
  EXPECT_EQ(program->slot_count(), 1u);
  EXPECT_EQ(program->parameter_count(), 1u);
  EXPECT_EQ(program->type_info().type, 5u);
  EXPECT_TRUE(compiler.unresolved_calls.empty());
}

TEST_F(Assembly, TheDumpNamesSymbolsAndStatementsOnRequest) {
  compiler.statement_number = 2;
  symbol_id_type x = rt.sym("x");
  emit<VmOpDefLocalOffset>(1, offset_type{3}, x);
  emit<VmOpReadConstString>(1, String("a\"b"));
  emit<VmOpReadConstNumeric>(1, numeric_type_st{1.5, 2});
  emit<VmOpCastToIntegerImplicitly>(1, uint8_t{1});
  emit<VmOpCheckArgument>(1, uint8_t{12}, int32_t{5});
  emit<VmOpObjectCall>(1, x, uint64_t{2});
  assemble("P");
  program_dump_options_st o;
  o.symbols = rt.stack->get_symtable();
  o.statements = true;
  o.header = true;
  EXPECT_EQ(dump_program(program.get(), o),
            "program \"P\" ops=6 params=0 slots=0\n"
            "0: DefLocalOffset @3 X #2\n"
            "1: ReadConstString \"a\\\"b\" #2\n"
            "2: ReadConstNumeric 1.5 dec=2 #2\n"
            "3: CastToIntegerImplicitly null #2\n"
            "4: CheckArgument tag=12 flags=5 #2\n"
            "5: ObjectCall X 2 #2\n"
            "6: end\n");
}

}  // namespace
}  // namespace qzbase::testing_compiler
