// set_path.cpp - SET PATH TO.
#include "builtins/set_path.h"

#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

void void_stackcall_set_path_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr);
  long flags = 0;
  if (argc >= 1) {
    const Variant* v = Param(stack, 1);
    if (v->tag == VT_REFERENCE) v = v->reference.target;
    flags = static_cast<long>(*v);
  }
  if (!(flags & 1) || argc < 2) runtime->set_path_to_null();
  // An entry that fails stops the command; the entries added before it stay.
  for (size_t i = 2; i <= argc; ++i) {
    const Variant* v = Param(stack, i);
    if (v->tag == VT_REFERENCE) v = v->reference.target;
    runtime->set_path_to(static_cast<String>(*v), true);
  }
}

}  // namespace qzbase
