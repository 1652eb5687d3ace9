// operand_object.cpp - the native class "Operand".
#include "objects/operand_object.h"

#include <mutex>
#include <shared_mutex>

#include "compiler/build_input.h"
#include "values/value_text.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

void Operand_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  Object::destroy(stack);
  std::shared_ptr<const Program> old;
  std::unique_lock<std::shared_mutex> lock(property_lock);
  old.swap(program);
}

namespace {

Operand_Object* self_of(VmStack* stack) { return static_cast<Operand_Object*>(stack->method_context.owner); }

void expression_access(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (nargs != 0) throw RuntimeError(11);
  Operand_Object* self = self_of(stack);
  String text;
  {
    std::shared_lock<std::shared_mutex> lock(self->property_lock);
    text = self->expression;
  }
  result->set_string(text);
}

// Compiles the text in the caller's module; the text is stored also when it does not compile (the
// program is then none).
void expression_assign(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  if (nargs != 1) throw RuntimeError(11);
  String text;
  variant_cast(stack->sp[0].value, &text);  // 11 for anything but character data
  Operand_Object* self = self_of(stack);
  std::shared_ptr<const Program> old;
  {
    std::unique_lock<std::shared_mutex> lock(self->property_lock);
    old.swap(self->program);
  }
  old.reset();
  std::shared_ptr<const Program> fresh;
  try {
    const Program* built = nullptr;
    {
      BuildInput input(stack);
      input.set_module_context_from_frame(stack);
      if (stack->runtime != nullptr && stack->runtime->builtin_library() != nullptr) {
        input.import_library(stack->runtime->builtin_library());
      }
      input.build_expression(text, &built);
    }
    fresh.reset(built);
  } catch (...) {
    std::unique_lock<std::shared_mutex> lock(self->property_lock);
    self->expression = text;
    self->program.reset();
    throw;
  }
  std::unique_lock<std::shared_mutex> lock(self->property_lock);
  self->expression = text;
  self->program.swap(fresh);
}

void operand_evaluate(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Operand_Object* self = self_of(stack);
  std::shared_ptr<const Program> program;
  {
    std::shared_lock<std::shared_mutex> lock(self->property_lock);
    program = self->program;
  }
  if (program == nullptr) throw RuntimeError(11);  // never assigned, or the text did not compile
  if (stack->frame != nullptr) {
    execute_expression(stack, program.get(), result);
  } else {
    execute_program(stack, 0, false, program.get(), result);
  }
}

}  // namespace

const native_member_def_st operand_members[] = {
    {"Expression", 1, expression_access, expression_assign, nullptr},
    {"evaluate", 1, nullptr, nullptr, operand_evaluate},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

Object* new_operand(VmStack*, Class* cls) {
  QZ_TRACE;
  return new Operand_Object(cls);
}

}  // namespace qzbase
