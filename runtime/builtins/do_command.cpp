// do_command.cpp - DO: calling a procedure or a program file by name.
#include "builtins/run_commands.h"

#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

const Variant* argument(VmStack* stack, size_t n) {
  const Variant* v = Param(stack, n);
  return v->tag == VT_REFERENCE ? v->reference.target : v;
}

bool is_absent(const Variant* v) {
  return v->tag == VT_NULL || (v->tag == VT_OBJECT && v->is_empty_object_reference());
}

const Function* find_in(const Module* module, symbol_id_type symbol) {
  if (module == nullptr) return nullptr;
  auto it = module->procedures.find(symbol);
  return it == module->procedures.end() ? nullptr : it->second;
}

}  // namespace

void void_stackcall_do(VmStack* stack, size_t argc) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr && stack->get_symtable() != nullptr);
  if (argc < 1) throw RuntimeError(11);
  String name = static_cast<String>(*argument(stack, 1));
  symbol_id_type symbol = stack->get_symtable()->symbolize(name);

  const Function* target = nullptr;
  if (argc >= 2 && !is_absent(argument(stack, 2))) {
    String file = static_cast<String>(*argument(stack, 2));
    const Module* module = runtime->load_do_module(stack, file);
    target = find_in(module, symbol);
    if (target == nullptr) throw RuntimeError(1, name);
  } else {
    if (stack->frame != nullptr) target = find_in(stack->frame->program->owner_module(), symbol);
    if (target == nullptr) {
      const Module* module = runtime->load_do_module(stack, name);
      target = module->entry;
      if (target == nullptr) throw RuntimeError(1, name);
    }
  }

  // The WITH arguments are the lowest slots of this command's arguments: the callee's frame takes
  // them as its own (by reference where the compiler pushed references).
  size_t nargs = argc > 3 ? argc - 3 : 0;
  Variant result;
  try {
    target->exec(stack, nargs, false, &result);
  } catch (...) {
    result.release(stack);
    throw;
  }
  result.release(stack);
}

}  // namespace qzbase
