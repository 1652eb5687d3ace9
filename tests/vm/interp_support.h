// interp_support.h - what the interpreter, execution and call tests share: a stack on a test
// runtime, assembled programs run as frames, and value helpers.
#pragma once

#include <qzbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "assembler.h"
#include "tables/data_session.h"
#include "values/value_text.h"
#include "vm/calls.h"
#include "vm/execute.h"
#include "vm/interpreter.h"
#include "vm_support.h"

namespace qzbase::testing_vm {

class InterpTest : public ::testing::Test {
 public:
  InterpTest() : stack(std::make_unique<VmStack>(rt.get(), 4096, 256)) {}

  // Runs p (owned here) as a frame with nargs arguments already pushed; returns its result.
  Variant run(Program* p, size_t nargs = 0) {
    programs.emplace_back(p);
    Variant r;
    execute_program(stack.get(), nargs, false, p, &r);
    return r;
  }
  // The error code a run raises (0: none).
  int run_error(Program* p) {
    try {
      run(p);
    } catch (const RuntimeError& e) {
      return e.code;
    }
    return 0;
  }
  // The stack is as it was before any program ran.
  void expect_clean() {
    EXPECT_EQ(stack->sp, stack->slots_end());
    EXPECT_EQ(stack->frame, nullptr);
    EXPECT_EQ(stack->frame_arg_top, stack->slots_end());
    EXPECT_EQ(stack->frame_local_base, stack->slots_end());
    EXPECT_EQ(stack->undo_top, stack->undo + stack->nundo);
    EXPECT_EQ(stack->frame_memvars, nullptr);
  }
  symbol_id_type sym(const char* name) { return rt.sym(name); }

  TestRuntime rt;
  std::unique_ptr<VmStack> stack;
  std::vector<std::unique_ptr<Program>> programs;
};

inline int64_t as_int(const Variant& v) {
  EXPECT_EQ(v.tag, VT_INTEGER);
  return v.integer.value;
}

inline std::string text(const Variant& v) {
  String s = variant_to_string(v);
  return s.u8str();
}

}  // namespace qzbase::testing_vm
