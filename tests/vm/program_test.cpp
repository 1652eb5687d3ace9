// Operations and programs: opcode numbers and classes, operands, Program ownership and moves,
// line information, and the test assembler's jump fix-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "assembler.h"
#include "vm/program.h"
#include "vm/vm_op.h"

namespace qzbase {
namespace {

using testing_vm::Assembler;

// Counts its deletions (an operation in a condition program).
int g_deleted_probes = 0;
class DeleteProbeOp : public VmOp {
 public:
  DeleteProbeOp() : VmOp(OP_RETURN) {}
  ~DeleteProbeOp() override { ++g_deleted_probes; }
};

void native_fn(VmStack*, size_t, Variant*) {}
void native_cmd(VmStack*, size_t) {}

struct OpCase {
  std::unique_ptr<VmOp> op;
  unsigned opcode;
};

// One operation of every class, built with its operands in field order.
std::vector<OpCase> every_op() {
  std::vector<OpCase> v;
  auto add = [&](VmOp* op, unsigned code) { v.push_back(OpCase{std::unique_ptr<VmOp>(op), code}); };
  add(new VmOpUnwind(), 0);
  add(new VmOpUnwindContinue(), 1);
  add(new VmOpBinaryAdd(), 2);
  add(new VmOpBinarySub(), 3);
  add(new VmOpBinaryMul(), 4);
  add(new VmOpBinaryDiv(), 5);
  add(new VmOpBinaryPow(), 6);
  add(new VmOpBinaryMod(), 7);
  add(new VmOpBinaryEq(), 8);
  add(new VmOpBinaryLt(), 9);
  add(new VmOpBinaryLtEq(), 10);
  add(new VmOpBinaryGt(), 11);
  add(new VmOpBinaryGtEq(), 12);
  add(new VmOpBinaryLtGt(), 13);
  add(new VmOpBinaryEqEq(), 14);
  add(new VmOpCallSpecUser(nullptr, 2), 15);
  add(new VmOpCallSpecDynamic(1024, 2), 16);
  add(new VmOpCallSpecDo(native_fn, 1), 17);
  add(new VmOpCallSpecVoid(native_cmd, 1), 18);
  add(new VmOpCastToBooleanImplicitly(1), 19);
  add(new VmOpCastToIntegerImplicitly(0), 20);
  add(new VmOpCastToNumericImplicitly(0), 21);
  add(new VmOpCastToMoneyImplicitly(0), 22);
  add(new VmOpCastToDateImplicitly(0), 23);
  add(new VmOpCastToDatetimeImplicitly(0), 24);
  add(new VmOpCastToStringImplicitly(0), 25);
  add(new VmOpCastToObjectImplicitly(1), 26);
  add(new VmOpCastToNotNull(), 27);
  add(new VmOpCheckArgument(VT_INTEGER, CHECK_ARG_NULL_ALLOWED), 28);
  add(new VmOpCondTrueJump(), 29);
  add(new VmOpCondTrueJumpKeepEsp(), 30);
  add(new VmOpCondFalseOrNullJump(), 31);
  add(new VmOpCondFalseOrNullJumpKeepEsp(), 32);
  add(new VmOpCondTrueOrNullMerge2P(), 33);
  add(new VmOpReadMemvarPointerByNameDefault(1024), 34);
  add(new VmOpDefLocal(1024), 35);
  add(new VmOpDefLocalOffset(1, 1024), 36);
  add(new VmOpDefPrivateSymbol(1024), 37);
  add(new VmOpDefPublicOffset(1, 1024), 38);
  add(new VmOpEspAlloc(), 39);
  add(new VmOpEspFree(), 40);
  add(new VmOpForCondFalseJump(), 41);
  add(new VmOpInitLocalParameters(2), 42);
  add(new VmOpInitParameter(1, 1024), 43);
  add(new VmOpJump(), 44);
  add(new VmOpMacro(1), 45);
  add(new VmOpObjectCall(1024, 0), 46);
  add(new VmOpObjectCallPointer(1024, 0), 47);
  add(new VmOpReturnValue(), 48);
  add(new VmOpReturnPointer(), 49);
  add(new VmOpReturn(), 50);
  add(new VmOpReadByName(1024), 51);
  add(new VmOpReadMemvarByName(1024), 52);
  add(new VmOpReadMemvarByNameDefault(1024), 53);
  add(new VmOpReadFileObjectOrMemvarByName(1024), 54);
  add(new VmOpReadLocalMemvarByOffset(1), 55);
  add(new VmOpReadArrayItemByName(1024, 1), 56);
  add(new VmOpReadMemvarIndexLocal(1, 1), 57);
  add(new VmOpReadConstTrue(), 58);
  add(new VmOpReadConstFalse(), 59);
  add(new VmOpReadConstInteger(-5), 60);
  add(new VmOpReadConstNumeric(numeric_type_st{1.5, 1}), 61);
  add(new VmOpReadConstMoney(money_type_st{12345}), 62);
  add(new VmOpReadConstString(String("abc")), 63);
  add(new VmOpReadConstDate(date_st{2451545}), 64);
  add(new VmOpReadConstDatetime(datetime_st{2451545, 1000}), 65);
  add(new VmOpReadConstNull(), 66);
  add(new VmOpObjectReadProperty(1024, 0), 68);
  add(new VmOpObjectReadPropertyPointer(1024, 0), 69);
  add(new VmOpReadMemvarPointerByName(1024), 70);
  add(new VmOpReadLocalMemvarPointerByOffset(1), 71);
  add(new VmOpReadAddWrite(1024), 72);
  add(new VmOpReadAddWriteLocal(1), 73);
  add(new VmOpStore(), 74);
  add(new VmOpUnaryNot(), 75);
  add(new VmOpUnaryNeg(), 76);
  add(new VmOpTestTextmergeOn(), 77);
  add(new VmOpWriteMemarByName(1024), 78);
  add(new VmOpWriteMemvarByOffset(1), 79);
  add(new VmOpWriteArrayByName(1024, 1), 80);
  add(new VmOpWriteArrayByOffset(1, 1), 81);
  add(new VmOpObjectWriteProperty(1024, 1), 82);
  add(new VmOpUnresolvedCall(String("foo"), 0), 83);
  add(new VmOpInstallErrorHandler(), 84);
  add(new VmOpReadFieldByFieldNum(3), 85);
  return v;
}

TEST(VmOp, EveryClassHasItsOpcode) {
  auto ops = every_op();
  EXPECT_EQ(ops.size(), 85u);
  std::set<unsigned> codes;
  for (const auto& c : ops) {
    EXPECT_EQ(c.op->opcode, c.opcode) << vmop_class_name(c.opcode);
    codes.insert(c.opcode);
  }
  EXPECT_EQ(codes.size(), 85u);
  EXPECT_EQ(codes.count(67), 0u);
  EXPECT_EQ(*codes.rbegin(), 85u);
}

TEST(VmOp, ClassNames) {
  EXPECT_STREQ(vmop_class_name(0), "VmOpUnwind");
  EXPECT_STREQ(vmop_class_name(44), "VmOpJump");
  EXPECT_STREQ(vmop_class_name(78), "VmOpWriteMemarByName");
  EXPECT_STREQ(vmop_class_name(85), "VmOpReadFieldByFieldNum");
  EXPECT_EQ(vmop_class_name(67), nullptr);
  EXPECT_EQ(vmop_class_name(86), nullptr);
  int named = 0;
  for (unsigned i = 0; i < 256; ++i) named += vmop_class_name(i) != nullptr;
  EXPECT_EQ(named, 85);
  EXPECT_EQ(kVmOpCount, 86u);
}

TEST(VmOp, JumpsAndOperands) {
  for (unsigned code : {29u, 30u, 31u, 32u, 41u, 44u}) EXPECT_TRUE(vmop_is_jump(code)) << code;
  EXPECT_FALSE(vmop_is_jump(84));
  EXPECT_FALSE(vmop_is_jump(50));
  VmOpCondFalseOrNullJump without;
  EXPECT_EQ(without.target, 0u);
  VmOpJump with(1234);
  EXPECT_EQ(with.target, 1234u);
  VmOpCondFalseOrNullJump with2(99);
  EXPECT_EQ(with2.target, 99u);

  VmOpCheckArgument check(VT_STRING, CHECK_ARG_BY_REFERENCE | CHECK_ARG_NULL_ALLOWED);
  EXPECT_EQ(check.expected_tag, VT_STRING);
  EXPECT_EQ(check.flags, 5);
  VmOpDefPublicOffset pub(3, 1030);
  EXPECT_EQ(pub.offset, 3u);
  EXPECT_EQ(pub.symbol, 1030u);
  VmOpReadConstMoney money(money_type_st{7});
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&money.value) % 16, 0u);
  EXPECT_EQ(static_cast<long long>(money.value.value), 7);
  VmOpUnresolvedCall call(String("Later"), 3);
  EXPECT_EQ(call.name.u8str(), "Later");
  EXPECT_EQ(call.count, 3u);
}

TEST(VmOp, ConstStringSharesItsBuffer) {
  String s("shared text");
  size_t before = s.buffer()->count.load();
  {
    VmOpReadConstString op(s);
    EXPECT_EQ(op.value.buffer(), s.buffer());
    EXPECT_EQ(s.buffer()->count.load(), before + 1);
  }
  EXPECT_EQ(s.buffer()->count.load(), before);
}

TEST(Program, EmptyProgram) {
  Program p(String("EMPTY"), nullptr, 0, 0, {}, nullptr, nullptr);
  ASSERT_NE(p.code(), nullptr);
  EXPECT_EQ(p.code()[0], nullptr);
  EXPECT_EQ(p.code_length(), 0u);
  EXPECT_EQ(p.slot_count(), 0u);
  EXPECT_EQ(p.debug_info(), nullptr);
  EXPECT_EQ(p.owner_module(), nullptr);
  EXPECT_EQ(p.user_word, 0u);
  EXPECT_EQ(p.type_info().type, 0u);
  EXPECT_FALSE(p.type_info().constant);
  EXPECT_EQ(p.type_info().width, -1);
}

TEST(Program, FieldsAndOwnership) {
  local_offset_map offsets;
  offsets.rehash(37);
  offsets[1024] = 1;
  offsets[1025] = 2;
  offsets[1026] = 3;
  auto** code = new_code_array(3);
  code[0] = new VmOpReadConstInteger(4);
  code[1] = new VmOpReturnValue();
  compiler_type_info_st type{5, true, 10};
  Program p(String("F"), code, 2, 2, offsets, nullptr, type);
  EXPECT_EQ(p.name().u8str(), "F");
  EXPECT_EQ(p.code_length(), 2u);
  EXPECT_EQ(p.code()[2], nullptr);
  EXPECT_EQ(p.op(0)->opcode, OP_READ_CONST_INTEGER);
  EXPECT_EQ(p.parameter_count(), 2u);
  EXPECT_EQ(p.slot_count(), 3u);
  EXPECT_EQ(p.local_offsets().at(1025), 2u);
  EXPECT_EQ(p.local_offsets().bucket_count(), offsets.bucket_count());
  EXPECT_EQ(p.type_info().type, 5u);
  EXPECT_TRUE(p.type_info().constant);
  EXPECT_EQ(p.type_info().width, 10);
}

TEST(Program, CodeArrayMustBeNullTerminated) {
  auto** code = new_code_array(2);
  code[0] = new VmOpReturn();
  code[1] = new VmOpReturn();
  EXPECT_THROW(Program(String("BAD"), code, 1, 0, {}, nullptr, nullptr), assert_failed_exception);
  delete code[0];
  delete code[1];
  delete_code_array(code, 2);
}

TEST(Program, MoveTransfersCodeAndDebugInfo) {
  Assembler a;
  a.line(1).op<VmOpReadConstTrue>();
  a.op<VmOpReturnValue>();
  a.local(1024, 1);
  std::unique_ptr<Program> src(a.build(String("SRC")));
  src->user_word = 77;
  auto* module = reinterpret_cast<const Module*>(0x1000);
  src->set_owner_module(module);
  code_position code = src->code();
  const DebugInfo* debug = src->debug_info();

  Program moved(std::move(*src));
  EXPECT_EQ(moved.code(), code);
  EXPECT_EQ(moved.debug_info(), debug);
  EXPECT_EQ(moved.user_word, 77u);
  EXPECT_EQ(moved.owner_module(), module);
  EXPECT_EQ(moved.slot_count(), 1u);
  EXPECT_EQ(moved.name().u8str(), "SRC");
  EXPECT_EQ(src->code(), nullptr);
  EXPECT_EQ(src->code_length(), 0u);
  EXPECT_EQ(src->debug_info(), nullptr);
  EXPECT_EQ(src->name().u8str(), "SRC");  // the other fields are copied

  Program target(String("T"), nullptr, 0, 0, {}, nullptr, nullptr);
  target = std::move(moved);
  EXPECT_EQ(target.code(), code);
  EXPECT_EQ(target.debug_info(), debug);
  EXPECT_EQ(target.code_length(), 2u);
  EXPECT_EQ(moved.code(), nullptr);
}

TEST(Program, DeletingFreesConditionPrograms) {
  g_deleted_probes = 0;
  auto make_condition = [] {
    Assembler c;
    c.append(new DeleteProbeOp());
    return c.build(String("COND"));
  };
  {
    Assembler a;
    auto start = a.new_label();
    auto end = a.new_label();
    auto catch1 = a.new_label();
    auto catch2 = a.new_label();
    a.handler(start, end, {{catch1, 1024, make_condition()}, {catch2, 0, make_condition()}});
    a.bind(start);
    a.op<VmOpReadConstTrue>();
    a.op<VmOpEspFree>();
    a.bind(end);
    a.bind(catch1);
    a.op<VmOpUnwindContinue>();
    a.bind(catch2);
    a.op<VmOpUnwindContinue>();
    a.op<VmOpReturn>();
    std::unique_ptr<Program> p(a.build());

    auto* h = static_cast<const VmOpInstallErrorHandler*>(p->op(0));
    EXPECT_EQ(h->start_position(), p->code() + 1);
    EXPECT_EQ(h->end_position(), p->code() + 3);
    ASSERT_EQ(h->clauses.size(), 2u);
    EXPECT_EQ(h->clauses[0].target_position(), p->code() + 3);
    EXPECT_EQ(h->clauses[1].target_position(), p->code() + 4);
    EXPECT_EQ(h->clauses[0].variable, 1024u);
    EXPECT_TRUE(h->protects(p->code() + 1));
    EXPECT_TRUE(h->protects(p->code() + 2));
    EXPECT_FALSE(h->protects(p->code() + 3));
    EXPECT_FALSE(h->protects(p->code()));
    EXPECT_EQ(g_deleted_probes, 0);
  }
  EXPECT_EQ(g_deleted_probes, 2);
}

TEST(Program, AssemblerFixesJumpTargets) {
  Assembler a;
  auto loop = a.new_label();
  auto out = a.new_label();
  a.bind(loop);
  a.op<VmOpReadConstFalse>();                     // 0
  a.jump<VmOpCondFalseOrNullJump>(out);           // 1
  a.jump<VmOpJump>(loop);                         // 2
  a.bind(out);                                    // after the last op: the null end
  std::unique_ptr<Program> p(a.build());
  auto* cond = static_cast<const VmOpCondFalseOrNullJump*>(p->op(1));
  auto* back = static_cast<const VmOpJump*>(p->op(2));
  EXPECT_EQ(cond->target_position(), p->code() + 3);
  EXPECT_EQ(*cond->target_position(), nullptr);
  EXPECT_EQ(back->target_position(), p->code());
}

TEST(DebugInfo, FindOpcodeForLineNo) {
  Assembler a;
  a.line(2).statement(1);
  a.op<VmOpReadConstInteger>(1);  // 0: line 2
  a.op<VmOpWriteMemvarByOffset>(1);  // 1: line 2
  a.line(0).statement(0);
  a.op<VmOpEspAlloc>();  // 2: no line
  a.line(4).statement(2);
  a.op<VmOpReadConstInteger>(2);  // 3: line 4
  a.line(5).statement(3);
  a.op<VmOpReturn>();  // 4: line 5
  a.local(1024, 1);
  std::unique_ptr<Program> p(a.build());
  const DebugInfo* d = p->debug_info();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->find_opcode_for_line_no(2), p->code() + 0);  // the first of the line's two ops
  EXPECT_EQ(d->find_opcode_for_line_no(4), p->code() + 3);
  EXPECT_EQ(d->find_opcode_for_line_no(5), p->code() + 4);
  EXPECT_EQ(d->find_opcode_for_line_no(1), nullptr);  // before the code
  EXPECT_EQ(d->find_opcode_for_line_no(3), nullptr);  // a line without code
  EXPECT_EQ(d->find_opcode_for_line_no(99), nullptr);  // past the end
  EXPECT_EQ(d->find_opcode_for_line_no(0), nullptr);
  document_location_st loc{};
  ASSERT_TRUE(d->location_of(p->code() + 1, &loc));
  EXPECT_EQ(loc.begin_line, 2u);
  loc.begin_line = 77;
  EXPECT_FALSE(d->location_of(p->code() + 2, &loc));
  EXPECT_EQ(loc.begin_line, 77u) << "left as it was";
  EXPECT_FALSE(d->location_of(p->code() + 5, &loc));  // the null element after the code
  EXPECT_FALSE(d->location_of(p->code() - 1, &loc));
  EXPECT_EQ(d->statements().count(1), 2u);
  EXPECT_EQ(d->span().begin_line, 2u);
  EXPECT_EQ(d->span().end_line, 5u);
  EXPECT_EQ(p->statement_of(1), 1);
  EXPECT_EQ(p->statement_of(2), 0);
  EXPECT_EQ(p->statement_of(4), 3);
  EXPECT_EQ(p->statement_of(5), 0);  // the null element after the code
}

TEST(DebugInfo, FirstOpOfALineIsFoundWhateverTheMapOrder) {
  // Many ops on one line: the answer is the lowest position, not whichever the hash map yields.
  Assembler a;
  a.line(7);
  for (int i = 0; i < 200; ++i) a.op<VmOpReadConstInteger>(i);
  a.line(8);
  a.op<VmOpReturn>();
  std::unique_ptr<Program> p(a.build());
  EXPECT_EQ(p->debug_info()->find_opcode_for_line_no(7), p->code());
  EXPECT_EQ(p->debug_info()->find_opcode_for_line_no(8), p->code() + 200);
}

// Location sequences that break every guess of the compact table: lines and columns going back,
// multibyte text (bytes ahead of characters), zero and extreme fields, gaps between positions and
// runs of one statement number broken and resumed. Every position (and those around the code)
// answers as the maps it was built from.
TEST(DebugInfo, CompactTablesAnswerAsTheirMaps) {
  struct Case {
    const char* what;
    std::vector<document_location_st> locations;  // one per op; begin_line 0: the op has none
    std::vector<int64_t> statements;              // one per op; 0: none
  };
  auto series = [](size_t n, uint32_t seed) {
    std::vector<document_location_st> out;
    uint32_t x = seed;
    auto next = [&] { return x = x * 1103515245u + 12345u; };
    for (size_t i = 0; i < n; ++i) {
      const uint32_t r = next();
      document_location_st l{};
      l.begin_line = (r % 7 == 0) ? 0 : 1 + (r >> 8) % 50;
      l.begin_char = (r >> 4) % 5000;
      l.begin_byte = l.begin_char + (r >> 12) % 30;
      l.begin_column = 1 + (r >> 16) % 80;
      l.end_char = l.begin_char + (r >> 20) % 40;
      l.end_byte = l.begin_byte + (r >> 22) % 60;
      l.end_line = l.begin_line + (r >> 28) % 3;
      l.end_column = (r >> 24) % 90;
      out.push_back(l);
    }
    return out;
  };
  auto numbers = [](size_t n) {
    std::vector<int64_t> out;
    for (size_t i = 0; i < n; ++i) out.push_back(i % 11 == 0 ? 0 : static_cast<int64_t>(i / 3 + (i % 5 == 0 ? 100 : 0)));
    return out;
  };
  const document_location_st extreme{UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX,
                                      UINT32_MAX, UINT32_MAX};
  const document_location_st lowest{0, 0, 1, 0, 0, 0, 0, 0};
  const document_location_st ordinary{10, 12, 2, 3, 15, 17, 2, 8};
  std::vector<Case> cases = {
      {"one op", {ordinary}, {1}},
      {"no locations at all", {document_location_st{}, document_location_st{}}, {0, 0}},
      {"extremes next to the smallest", {lowest, extreme, lowest, extreme, ordinary}, {1, INT64_MAX, INT64_MIN, 1, 2}},
      {"a gap at the start and at the end", {document_location_st{}, ordinary, ordinary, document_location_st{}}, {0, 5, 5, 0}},
      {"many ops, past several full entries", series(300, 7), numbers(300)},
      {"exactly two blocks of full entries", series(64, 99), numbers(64)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.locations.size(), c.statements.size());
    const size_t n = c.locations.size();
    std::vector<VmOp*> storage(n + 1, nullptr);
    code_position code = storage.data();
    location_map locations;
    statement_map statements;
    for (size_t i = 0; i < n; ++i) {
      if (c.locations[i].begin_line != 0) locations.emplace(code + i, c.locations[i]);
      if (c.statements[i] != 0) statements.emplace(c.statements[i], code + i);
    }
    document_location_st span{1, 2, 3, 4, 5, 6, 7, 8};
    DebugInfo d(span, locations, statements);
    locations.seal();
    statements.seal();
    EXPECT_EQ(d.span().end_column, 8u);
    // Every position, and the ones just outside.
    for (ptrdiff_t i = -2; i <= static_cast<ptrdiff_t>(n) + 2; ++i) {
      SCOPED_TRACE(i);
      document_location_st got{};
      const bool expected = i >= 0 && i < static_cast<ptrdiff_t>(n) && c.locations[static_cast<size_t>(i)].begin_line != 0;
      ASSERT_EQ(d.location_of(code + i, &got), expected);
      if (expected) {
        EXPECT_EQ(std::memcmp(&got, &c.locations[static_cast<size_t>(i)], sizeof got), 0);
      }
    }
    // The whole tables.
    location_map back = d.locations();
    ASSERT_EQ(back.size(), locations.size());
    for (auto a = back.begin(), b = locations.begin(); a != back.end(); ++a, ++b) {
      EXPECT_EQ(a->first, b->first);
      EXPECT_EQ(std::memcmp(&a->second, &b->second, sizeof a->second), 0);
    }
    statement_map numbers_back = d.statements();
    ASSERT_EQ(numbers_back.size(), statements.size());
    EXPECT_TRUE(std::equal(numbers_back.begin(), numbers_back.end(), statements.begin()));
    // The first op of each line, against a search of the ops in order.
    for (uint32_t line : {0u, 1u, 2u, 3u, 25u, 50u, 51u, 52u, UINT32_MAX}) {
      code_position first = nullptr;
      for (size_t i = 0; i < n && first == nullptr; ++i) {
        if (c.locations[i].begin_line != 0 && c.locations[i].begin_line == line) first = code + i;
      }
      EXPECT_EQ(d.find_opcode_for_line_no(line), line == 0 ? nullptr : first) << line;
    }
  }
}

TEST(DebugInfo, NoLineInformation) {
  Assembler a;
  a.without_debug_info();
  a.op<VmOpReturn>();
  std::unique_ptr<Program> p(a.build());
  EXPECT_EQ(p->debug_info(), nullptr);
}

}  // namespace
}  // namespace qzbase
