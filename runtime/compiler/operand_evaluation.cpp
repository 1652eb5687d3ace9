// operand_evaluation.cpp - evaluating a syntax-tree operand while the virtual machine runs.
#include <qzbase.h>

#include <memory>

#include "compiler/build_input.h"
#include "frontend/operands.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

void evaluate_operand(VmStack* stack, const Operand* operand, Variant* out) { operand->val(stack, out); }

// The virtual machine's seam for run-time operand evaluation.
[[maybe_unused]] const bool evaluator_installed = (vm_operand_evaluator = &evaluate_operand, true);

}  // namespace

void Operand::val(VmStack* stack, Variant* out) const {
  QZ_TRACE;
  // The main library's functions bind at compile time; calls of the running module's FUNCTIONs are
  // linked against it; a build message is RuntimeError 10.
  const Program* built = nullptr;
  {
    BuildInput input(stack);
    input.set_module_context_from_frame(stack);
    input.import_library(stack->get_runtime()->builtin_library());
    input.compile_operand(this, &built);
  }
  std::unique_ptr<const Program> program(built);
  if (stack->frame != nullptr) {
    execute_expression(stack, program.get(), out);
  } else {
    execute_program(stack, 0, false, program.get(), out);
  }
}

void Operand::val(VmStack* stack, bool* out) const {
  QZ_TRACE;
  ScopedValue local(stack);
  val(stack, &local.value);
  if (local.value.tag == VT_TRUE) {
    *out = true;
  } else if (local.value.tag == VT_FALSE) {
    *out = false;
  } else {
    throw RuntimeError(11);
  }
}

void Operand::val(VmStack* stack, int64_t* out) const {
  QZ_TRACE;
  ScopedValue local(stack);
  val(stack, &local.value);
  *out = static_cast<long>(local.value);
}

void Operand::val(VmStack* stack, int32_t* out) const {
  QZ_TRACE;
  int64_t value = 0;
  val(stack, &value);
  if (value < INT32_MIN || value > INT32_MAX) throw RuntimeError(39);
  *out = static_cast<int32_t>(value);
}

void Operand::val(VmStack* stack, uint32_t* out) const {
  QZ_TRACE;
  int64_t value = 0;
  val(stack, &value);
  if (static_cast<uint64_t>(value) > UINT32_MAX) throw RuntimeError(39);
  *out = static_cast<uint32_t>(value);
}

void Operand::val(VmStack* stack, String* out) const {
  QZ_TRACE;
  ScopedValue local(stack);
  val(stack, &local.value);
  if (local.value.tag != VT_STRING) throw RuntimeError(11);
  *out = static_cast<String>(local.value);
}

}  // namespace qzbase
