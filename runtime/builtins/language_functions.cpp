// language_functions.cpp - the language built-ins built so far: TEST_ASSERTS_ON and STORE.
#include "builtins/entry_points.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

void bi_test_asserts_on(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  result->set_bool(runtime != nullptr && runtime->asserts);
}

// STORE(target, value): an array target receives the value in every element and is the result;
// any other target gets a copy of the value as the result, which the compiled code assigns.
void bi_store(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  const Variant* target = Param(stack, 1);
  if (target->tag == VT_REFERENCE) target = target->reference.target;
  const Variant* value = Param(stack, 2);
  if (target->tag != VT_ARRAY) {
    result->set_variant(value);
    return;
  }
  result->set_variant(target);
  try {
    Array* array = *result;
    for (size_t i = 1, n = array->count(); i <= n; ++i) {
      Variant* element = array->write(stack, i);
      element->release(stack);
      element->set_variant(value);
    }
  } catch (...) {
    result->release(stack);
    throw;
  }
}

}  // namespace qzbase
