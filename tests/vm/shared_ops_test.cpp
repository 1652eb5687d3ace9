// One operation object per kind of operation, and the code arrays programs are made of.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "vm/code_array.h"
#include "vm/program.h"
#include "vm/shared_ops.h"
#include "vm/vm_op.h"

namespace qzbase {
namespace {

// Equal operations come back as one object; any operand or opcode difference keeps them apart.
TEST(SharedOps, EqualOperationsAreOneObjectAndDifferentOnesStayApart) {
  SharedOps ops;
  struct Case {
    const char* what;
    VmOp* (*make_a)();
    VmOp* (*make_b)();
    bool same;
  };
  const Case cases[] = {
      {"integer", []() -> VmOp* { return new VmOpReadConstInteger(1); }, []() -> VmOp* { return new VmOpReadConstInteger(1); }, true},
      {"integer value", []() -> VmOp* { return new VmOpReadConstInteger(1); }, []() -> VmOp* { return new VmOpReadConstInteger(-1); }, false},
      {"zero signs", []() -> VmOp* { return new VmOpReadConstNumeric({0.0, 1}); }, []() -> VmOp* { return new VmOpReadConstNumeric({-0.0, 1}); }, false},
      {"decimals", []() -> VmOp* { return new VmOpReadConstNumeric({1.5, 1}); }, []() -> VmOp* { return new VmOpReadConstNumeric({1.5, 2}); }, false},
      {"NaN", []() -> VmOp* { return new VmOpReadConstNumeric({std::nan(""), 0}); }, []() -> VmOp* { return new VmOpReadConstNumeric({std::nan(""), 0}); }, true},
      {"symbol", []() -> VmOp* { return new VmOpWriteMemarByName(7); }, []() -> VmOp* { return new VmOpWriteMemarByName(7); }, true},
      {"opcode", []() -> VmOp* { return new VmOpReadByName(7); }, []() -> VmOp* { return new VmOpWriteMemarByName(7); }, false},
      {"count", []() -> VmOp* { return new VmOpObjectCall(7, 1); }, []() -> VmOp* { return new VmOpObjectCall(7, 2); }, false},
      {"plain", []() -> VmOp* { return new VmOpBinaryAdd(); }, []() -> VmOp* { return new VmOpBinaryAdd(); }, true},
      {"cast", []() -> VmOp* { return new VmOpCastToStringImplicitly(0); }, []() -> VmOp* { return new VmOpCastToStringImplicitly(1); }, false},
      {"time", []() -> VmOp* { return new VmOpReadConstDatetime({2460000, 5}); }, []() -> VmOp* { return new VmOpReadConstDatetime({2460000, 6}); }, false},
  };
  for (const Case& c : cases) {
    VmOp* a = ops.intern(c.make_a());
    VmOp* b = ops.intern(c.make_b());
    EXPECT_EQ(a == b, c.same) << c.what;
    EXPECT_EQ(a->shared, 1) << c.what;
    EXPECT_EQ(b->shared, 1) << c.what;
  }
}

// Operations that hold a position, own storage or are replaced later are never shared.
TEST(SharedOps, JumpsStringsAndUnresolvedCallsAreNeverShared) {
  SharedOps ops;
  std::vector<std::unique_ptr<VmOp>> kept;
  kept.emplace_back(new VmOpJump(0));
  kept.emplace_back(new VmOpReadConstString(String("a")));
  kept.emplace_back(new VmOpUnresolvedCall(String("f"), 0));
  kept.emplace_back(new VmOpInstallErrorHandler());
  for (auto& op : kept) {
    EXPECT_FALSE(sharable_opcode(op->opcode));
    EXPECT_EQ(ops.intern(op.get()), op.get());
    EXPECT_EQ(op->shared, 0);
  }
  EXPECT_EQ(ops.size(), 0u);
}

// Many distinct operations: the table grows and each is still found as itself.
TEST(SharedOps, ManyDistinctOperationsAreEachFoundAgain) {
  SharedOps ops;
  std::vector<VmOp*> first;
  for (int64_t i = 0; i < 20000; ++i) first.push_back(ops.intern(new VmOpReadConstInteger(i)));
  for (int64_t i = 0; i < 20000; ++i) {
    ASSERT_EQ(ops.intern(new VmOpReadConstInteger(i)), first[static_cast<size_t>(i)]) << i;
  }
  EXPECT_EQ(ops.size(), 20000u);
}

// A shared operation about to be changed in place is replaced by a copy of its own; the shared
// one and the other positions are untouched.
TEST(SharedOps, UnshareGivesAPrivateCopyAndLeavesTheSharedOne) {
  SharedOps ops;
  VmOp* shared = ops.intern(new VmOpReadConstInteger(42));
  VmOp* code[2] = {shared, shared};
  ASSERT_TRUE(unshare_op(&code[0]));
  ASSERT_NE(code[0], shared);
  EXPECT_EQ(code[0]->shared, 0);
  EXPECT_EQ(code[0]->opcode, OP_READ_CONST_INTEGER);
  EXPECT_EQ(static_cast<VmOpReadConstInteger*>(code[0])->value, 42);
  code[0]->opcode = OP_FUSED_CONST_ADD_SUB;
  EXPECT_EQ(code[1], shared);
  EXPECT_EQ(shared->opcode, OP_READ_CONST_INTEGER);
  VmOp* own = code[0];
  ASSERT_TRUE(unshare_op(&code[0]));  // already its own: unchanged
  EXPECT_EQ(code[0], own);
  release_op(code[0]);
  release_op(code[1]);  // the shared one stays with the table, which deletes it
}

// A program keeps the shared operations it points at after the table's first owner is gone.
TEST(SharedOps, AProgramKeepsItsSharedOperations) {
  auto table = std::make_shared<SharedOps>();
  VmOp* one = table->intern(new VmOpReadConstInteger(1));
  VmOp** code = new_code_array(4);
  code[0] = one;
  code[1] = one;
  code[2] = table->intern(new VmOpReturnValue());
  auto program = std::make_unique<Program>(String("P"), code, 3, 0, local_offset_map(), nullptr, nullptr);
  program->share_ops(table);
  table.reset();
  EXPECT_EQ(static_cast<const VmOpReadConstInteger*>(program->op(1))->value, 1);
  program.reset();  // deletes the table's operations once (the sanitizers see a double delete)
}

// Code arrays keep their elements through every resize, across the size where they become
// mappings, and read zero past the old end.
TEST(CodeArray, ResizesKeepElementsAndZeroTheRest) {
  const size_t sizes[] = {1, 16, 100000, 131072, 131073, 400000, 3, 262144, 0, 5};
  size_t n = 2;
  VmOp** code = new_code_array(n);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code[0], nullptr);
  EXPECT_EQ(code[1], nullptr);
  auto mark = [](size_t i) { return reinterpret_cast<VmOp*>(i * 16 + 8); };
  code[0] = mark(0);
  code[1] = mark(1);
  size_t marked = 2;
  for (size_t next : sizes) {
    code = resize_code_array(code, n, next);
    ASSERT_NE(code, nullptr) << next;
    size_t kept = std::min(marked, next);
    for (size_t i = 0; i < kept; ++i) ASSERT_EQ(code[i], mark(i)) << next << " " << i;
    for (size_t i = kept; i < next; ++i) ASSERT_EQ(code[i], nullptr) << next << " " << i;
    for (size_t i = kept; i < next; ++i) code[i] = mark(i);
    marked = next;
    n = next;
  }
  delete_code_array(code, n);
}

}  // namespace
}  // namespace qzbase
