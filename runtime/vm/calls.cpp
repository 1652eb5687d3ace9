// calls.cpp - calls, object members and array elements.
#include "vm/calls.h"

#include "values/value_text.h"
#include "vm/execute.h"
#include "vm/object_members.h"
#include "vm/program.h"
#include "vm/runtime_vm.h"
#include "vm/symtable.h"

namespace qzbase {

CallResolver::~CallResolver() = default;

object_member_hooks_st object_member_hooks{};

namespace {

inline void pop_n(VmStack* stack, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    Memvar* p = stack->sp;
    p->value.release(stack);
    p->flag = MEMVAR_NONE;
    stack->sp = p + 1;
  }
}

// Saves the native-call argument top and count, sets them for a call with nargs arguments, and
// restores them on every exit.
class NativeCallScope {
 public:
  NativeCallScope(VmStack* stack, size_t nargs)
      : stack_(stack), top_(stack->native_arg_top), nargs_(stack->native_nargs) {
    stack->native_nargs = nargs;
    stack->native_arg_top = stack->sp + nargs;
  }
  ~NativeCallScope() {
    stack_->native_arg_top = top_;
    stack_->native_nargs = nargs_;
  }
  NativeCallScope(const NativeCallScope&) = delete;
  NativeCallScope& operator=(const NativeCallScope&) = delete;

 private:
  VmStack* stack_;
  Memvar* top_;
  uint64_t nargs_;
};

String name_of(VmStack* stack, symbol_id_type symbol) {
  return stack->symtable != nullptr ? stack->symtable->resolve(symbol) : String();
}

// The object of an object slot (the Variant's conversion raises for anything else).
Object* object_of(VmStack*, Memvar* slot) {
  Object* obj = static_cast<Object*>(slot->value);
  if (obj == nullptr) throw RuntimeError(11);
  return obj;
}

Memvar* push_slot(VmStack* stack) {
  if (stack->sp == stack->slots) throw RuntimeError(9010);
  return --stack->sp;
}

}  // namespace

void call_native_function(VmStack* stack, native_function_type function, size_t nargs) {
  QZ_TRACE;
  Memvar* before = stack->sp;
  {
    NativeCallScope scope(stack, nargs);
    function(stack, nargs, &before[nargs].value);
    if (stack->sp != before) throw_assert_failed();
  }
  pop_n(stack, nargs);
}

void call_native_command(VmStack* stack, native_command_type function, size_t nargs) {
  QZ_TRACE;
  Memvar* before = stack->sp;
  {
    NativeCallScope scope(stack, nargs);
    function(stack, nargs);
    if (stack->sp != before) throw_assert_failed();
  }
  pop_n(stack, nargs);
}

void call_user_function(VmStack* stack, const UserFunction* function, size_t nargs) {
  QZ_TRACE;
  stack->last_call_nargs = nargs;
  execute_program(stack, nargs, false, function->program(), &stack->sp[nargs].value);
  pop_n(stack, nargs);
}

void call_dynamic(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  String name = name_of(stack, symbol);
  CallResolver* resolver = stack->vm_state != nullptr ? stack->vm_state->call_resolver : nullptr;
  if (resolver != nullptr) {
    library_function_st lib;
    if (resolver->find_library_function(stack, name, &lib)) {
      function_signature_iter_st it;
      function_signature_iter_init(&it, lib.signature);
      for (size_t k = 1; k <= nargs; ++k) {
        Memvar* slot = stack->sp + (nargs - k);
        function_signature_entry_st e;
        if (!function_signature_iter_next(&it, &e)) throw RuntimeError(94);
        if (!e.by_reference) {
          variant_cast_implicitly(&slot->value, e.type);
        } else {
          variant_cast_implicitly(&slot->value, DECLARED_REFERENCE);
          if (slot->value.tag == VT_REFERENCE) variant_cast_implicitly(slot->value.reference.target, e.type);
        }
      }
      if (!function_signature_iter_done(&it)) throw RuntimeError(11);
      call_native_function(stack, lib.function, nargs);
      return;
    }
    const Function* f = resolver->find_procedure(stack, symbol);
    if (f != nullptr) {
      Variant* result = &stack->sp[nargs].value;
      if (auto* u = dynamic_cast<const UserFunction*>(f)) {
        stack->last_call_nargs = nargs;
        execute_program(stack, nargs, false, u->program(), result);
      } else {
        f->exec(stack, nargs, false, result);
      }
      pop_n(stack, nargs);
      return;
    }
  }
  // No function of that name: name(i) may read an element of a memory variable (arrays are read
  // both ways); anything else keeps error 1.
  Memvar* memvar = nullptr;
  if (stack->get_memvar(symbol, &memvar)) {
    Variant* container = &memvar->value;
    if (container->tag == VT_REFERENCE) container = container->reference.target;
    if (container->tag == VT_ARRAY || container->tag == VT_OBJECT) {
      for (size_t k = 0; k < nargs; ++k) {
        Variant* index = &stack->sp[k].value;
        if (index->tag != VT_REFERENCE) continue;
        Variant value;
        index->reference.target->copy(&value);
        index->release(stack);
        index->set_variant(&value);
        value.release(stack);
      }
      read_array_item(stack, nargs, container, &stack->sp[nargs].value);
      pop_n(stack, nargs);
      return;
    }
  }
  throw RuntimeError(1, name);
}

void object_call(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  Object* obj = object_of(stack, stack->sp + nargs);
  Variant temp;
  object_member_hooks.call(obj, stack, symbol, nargs, &temp);
  Variant* result = &stack->sp[nargs + 1].value;
  result->release(stack);
  result->set_variant(&temp);
  temp.release(stack);
  pop_n(stack, nargs + 1);
}

void object_call_pointer(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  Object* obj = object_of(stack, stack->sp + nargs);
  Variant* result = &stack->sp[nargs + 1].value;
  object_member_hooks.call(obj, stack, symbol, nargs, result);
  if (result->tag != VT_REFERENCE) throw RuntimeError(9004);  // before the arguments are popped
  pop_n(stack, nargs + 1);
}

void object_read_property(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  Object* obj = object_of(stack, stack->sp + nargs);
  Variant temp;
  object_member_hooks.access(obj, stack, symbol, nargs, &temp);
  Variant* result = &stack->sp[nargs + 1].value;
  result->release(stack);
  result->set_variant(&temp);
  temp.release(stack);
  pop_n(stack, nargs + 1);
}

void object_read_property_pointer(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  Object* obj = object_of(stack, stack->sp + nargs);
  Variant* result = &stack->sp[nargs + 1].value;
  object_member_hooks.access_ref(obj, stack, symbol, nargs, result);
  pop_n(stack, nargs + 1);
  if (result->tag != VT_REFERENCE) throw RuntimeError(9014);
}

void object_write_property(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  Object* obj = object_of(stack, stack->sp + nargs);
  object_member_hooks.assign(obj, stack, symbol, nargs);
  pop_n(stack, nargs + 1);
}

void read_array_item(VmStack* stack, size_t nidx, Variant* container, Variant* out) {
  QZ_TRACE;
  Memvar* idx = stack->sp;  // slot 0: the last index
  if (container->tag == VT_ARRAY) {
    const Variant* item;
    if (nidx == 1) {
      item = container->array.read(variant_to_ulong(idx[0].value));
    } else if (nidx == 2) {
      size_t col = variant_to_ulong(idx[0].value);
      // Column 0 addresses no element of a two-dimensional array (not the flat element).
      if (col == 0 && container->array.columns() != 0) throw RuntimeError(1234);
      item = container->array.read(variant_to_ulong(idx[1].value), col);
    } else {
      throw RuntimeError(11);
    }
    out->release(stack);
    item->copy(out);
    return;
  }
  if (container->tag == VT_OBJECT) {
    Variant temp;
    {
      PushedScope pushed(stack);
      container->copy(&push_slot(stack)->value);
      for (size_t k = nidx; k-- > 0;) idx[k].value.copy(&push_slot(stack)->value);
      Object* obj = static_cast<Object*>(*container);
      object_member_hooks.access(obj, stack, symbol_INDEXER, nidx, &temp);
    }
    out->release(stack);
    out->set_variant(&temp);
    temp.release(stack);
    return;
  }
  throw RuntimeError(232);
}

void write_array_item(VmStack* stack, size_t nvalues, Variant* target) {
  QZ_TRACE;
  Memvar* top = stack->sp;
  if (target->tag == VT_ARRAY) {
    Variant* element;
    const Variant* value;
    if (nvalues == 2) {
      value = &top[1].value;
      element = target->array.write(stack, variant_to_ulong(top[0].value));
    } else if (nvalues == 3) {
      value = &top[2].value;
      size_t col = variant_to_ulong(top[0].value);
      if (col == 0 && target->array.columns() != 0) throw RuntimeError(1234);
      element = target->array.write(stack, variant_to_ulong(top[1].value), col);
    } else {
      throw RuntimeError(11);
    }
    element->release(stack);
    value->copy(element);
    return;
  }
  if (target->tag == VT_OBJECT) {
    PushedScope pushed(stack);
    target->copy(&push_slot(stack)->value);
    for (size_t k = nvalues; k-- > 0;) top[k].value.copy(&push_slot(stack)->value);
    Object* obj = static_cast<Object*>(*target);
    object_member_hooks.assign(obj, stack, symbol_INDEXER, nvalues);
    return;
  }
  throw RuntimeError(232);
}

}  // namespace qzbase
