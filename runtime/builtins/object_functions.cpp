// object_functions.cpp - the class lookup of the language and the object built-ins.
#include "builtins/object_functions.h"

#include "builtins/library.h"
#include "objects/object.h"
#include "objects/user_class.h"
#include "values/value_text.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

Class* getclass(VmStack* stack, const String& name) {
  QZ_TRACE;
  if (stack->symtable == nullptr) return nullptr;
  symbol_id_type symbol = stack->symtable->symbolize(name);
  const Module* module = stack->frame != nullptr && stack->frame->program != nullptr
                             ? stack->frame->program->owner_module()
                             : nullptr;
  if (module != nullptr) {
    auto it = module->classes.find(symbol);
    if (it != module->classes.end()) return it->second;
  }
  Library* lib = stack->runtime != nullptr ? stack->runtime->builtin_library() : nullptr;
  return lib != nullptr ? lib->find_class(symbol) : nullptr;
}

// CREATEOBJECT(class [, init arguments ...]): the arguments after the class name go to INIT.
void bi_createobject(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc == 0) throw RuntimeError(11);
  Variant* name_argument = Param(stack, 1);
  if (name_argument->tag == VT_NULL) {
    result->set_null();
    return;
  }
  String name;
  variant_cast(*name_argument, &name);
  Class* cls = getclass(stack, name);
  if (cls == nullptr) throw RuntimeError(1733, name);
  createobject_internal(stack, cls, name_argument, static_cast<int>(argc - 1), result);
}

}  // namespace qzbase
