// eval_int_array: operands evaluated in order through the installed evaluator, stored as ints.
#include <gtest/gtest.h>

#include <map>

#include "vm/execute.h"
#include "vm_support.h"

namespace qzbase {
namespace {

using testing_vm::TestRuntime;

// Operands are opaque here: the fake evaluator maps each pointer to a value, or throws for null.
std::map<const Operand*, double> g_values;
int g_evaluations = 0;

void fake_evaluator(VmStack*, const Operand* operand, Variant* result) {
  ++g_evaluations;
  auto it = g_values.find(operand);
  if (it == g_values.end()) throw RuntimeError(12, "X");
  result->set_float(it->second, 2);
}

class EvalIntArray : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = vm_operand_evaluator;
    vm_operand_evaluator = fake_evaluator;
    g_values.clear();
    g_evaluations = 0;
  }
  void TearDown() override { vm_operand_evaluator = saved_; }

  const Operand* op(int n) { return reinterpret_cast<const Operand*>(&slots_[n]); }

  TestRuntime rt_;
  VmStack stack_{rt_.get(), 64, 8};
  operand_evaluator_type saved_ = nullptr;
  char slots_[4] = {};
};

TEST_F(EvalIntArray, StoresEachValueAsAnIntInOrder) {
  g_values = {{op(0), 3.0}, {op(1), 7.9}, {op(2), -2.5}};
  const Operand* ops[] = {op(0), op(1), op(2)};
  int out[3] = {0, 0, 0};
  eval_int_array(&stack_, ops, 3, out, 3);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[1], 7);  // the int conversion truncates
  EXPECT_EQ(out[2], -2);
  EXPECT_EQ(g_evaluations, 3);
}

TEST_F(EvalIntArray, ShortOutputRaises11BeforeEvaluatingAnything) {
  const Operand* ops[] = {op(0), op(1)};
  int out[1] = {42};
  try {
    eval_int_array(&stack_, ops, 2, out, 1);
    FAIL() << "expected error 11";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 11);
  }
  EXPECT_EQ(out[0], 42);
  EXPECT_EQ(g_evaluations, 0);
}

TEST_F(EvalIntArray, AnEvaluationErrorPassesThroughAndStopsTheLoop) {
  g_values = {{op(0), 1.0}};
  const Operand* ops[] = {op(0), op(1), op(2)};
  int out[3] = {0, 0, 0};
  try {
    eval_int_array(&stack_, ops, 3, out, 3);
    FAIL() << "expected error 12";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 12);
  }
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(g_evaluations, 2);
}

TEST_F(EvalIntArray, WithoutAnEvaluatorTheFeatureIsUnavailable) {
  vm_operand_evaluator = nullptr;
  const Operand* ops[] = {op(0)};
  int out[1] = {0};
  try {
    eval_int_array(&stack_, ops, 1, out, 1);
    FAIL() << "expected error 1001";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
  }
}

}  // namespace
}  // namespace qzbase
