// set_procedure.cpp - SET PROCEDURE TO and SET LIBRARY TO.
#include "builtins/run_commands.h"

#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

const Variant* argument(VmStack* stack, size_t n) {
  const Variant* v = Param(stack, n);
  return v->tag == VT_REFERENCE ? v->reference.target : v;
}

long flags_of(VmStack* stack, size_t argc) {
  return argc >= 1 ? static_cast<long>(*argument(stack, 1)) : 0;
}

}  // namespace

void void_stackcall_set_procedure_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr);
  if (!(flags_of(stack, argc) & 1) || argc < 2) runtime->set_procedure_to_null();
  for (size_t i = 2; i <= argc; ++i) runtime->set_procedure_to(stack, static_cast<String>(*argument(stack, i)), true);
}

void void_stackcall_set_library_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr);
  if (!(flags_of(stack, argc) & 1) || argc < 2) runtime->set_library_to_null();
  for (size_t i = 2; i <= argc; ++i) runtime->set_library_to(stack, static_cast<String>(*argument(stack, i)), true);
}

}  // namespace qzbase
