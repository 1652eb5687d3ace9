// user_class.cpp - classes defined in source and their instances.
#include "objects/user_class.h"

#include <exception>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "frontend/operands.h"
#include "vm/calls.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/runtime_vm.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The property a hook method's name names: the text before a final "_access" or "_assign"
// (compared without regard to case); empty when the name has neither ending or nothing before it.
String hook_property(const String& method, const char* ending) {
  std::string name = method.u8str();
  size_t n = std::char_traits<char>::length(ending);
  if (name.size() <= n) return String();
  for (size_t i = 0; i < n; ++i) {
    char c = name[name.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != ending[i]) return String();
  }
  return String(name.substr(0, name.size() - n).c_str());
}

void class_name_getter(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_string(stack->method_context.owner->cls->get_name());
}

Object* user_object_factory(VmStack*, Class* cls) {
  QZ_TRACE;
  return new UserObject(static_cast<UserClass*>(cls));
}

// The running member's object and the position of its value.
UserObject* running_owner(VmStack* stack, size_t* slot) {
  auto* owner = static_cast<UserObject*>(stack->method_context.owner);
  if (owner == nullptr || !static_cast<const UserClass*>(owner->cls)->property_slot(stack->method_context.member, slot)) {
    throw_assert_failed();
  }
  return owner;
}

// Frees a half-made chain: each link leaves its instance list, then the head deletes the rest.
void discard_chain(Object* head) {
  for (Object* link = head; link != nullptr; link = link->chained) {
    try {
      link->destroy(nullptr);
    } catch (...) {
    }
  }
  delete head;
}

}  // namespace

UserClass::UserClass(const Symbol& name_in, named_operand_st* parent) : Class(name_in, parent), name(name_in) {
  QZ_TRACE;
  if (parent != nullptr) parent_name = new String(parent->name);
}

UserClass::~UserClass() = default;

Variant* UserClass::define_property(const String& property, uint32_t visibility) {
  QZ_TRACE;
  ClassMember* member = define(property);
  member->kind = MEMBER_PROPERTY;
  if (visibility != 0) member->visibility = visibility;
  return &member->default_value;
}

namespace {

ClassDefinition* new_user_class(const Symbol& name, named_operand_st* parent) { return new UserClass(name, parent); }
[[maybe_unused]] const bool class_factory_installed = (make_class_definition = new_user_class, true);

}  // namespace

void UserClass::compile(Runtime* runtime) {
  QZ_TRACE;
  if (is_compiled()) return;
  RuntimeVmState* vm = find_runtime_vm(runtime);
  if (vm == nullptr) throw_assert_failed();
  Symtable& symtable = vm->symtable;
  for (const auto& [symbol, method] : methods) {
    String method_name = symtable.resolve(symbol);
    String property = hook_property(method_name, "_assign");
    if (property.size() != 0) {
      ClassMember* member = define(property);
      member->kind = MEMBER_PROPERTY;
      member->setter = user_class_generic_assign;
      write_hooks[symtable.symbolize(property)] = method.function;
      continue;
    }
    property = hook_property(method_name, "_access");
    if (property.size() != 0) {
      ClassMember* member = define(property);
      member->kind = MEMBER_PROPERTY;
      member->getter = user_class_generic_access;
      member->ref_getter = user_class_generic_access_ref;
      read_hooks[symtable.symbolize(property)] = method.function;
      continue;
    }
    // The method's name as the class spelt it.
    ClassMember* member = define(method.function->program()->name());
    member->kind = MEMBER_METHOD;
    member->visibility = method.visibility;
    member->method = user_class_generic_call;
  }
  ClassMember* class_member = define(String("Class"));
  for (ClassMember* member : members()) {
    if (member->kind != MEMBER_PROPERTY || member == class_member) continue;
    if (member->getter == nullptr) member->getter = user_class_generic_read;
    if (member->ref_getter == nullptr) member->ref_getter = user_class_generic_read_ref;
    if (member->setter == nullptr) member->setter = user_class_generic_write;
  }
  // Read-only: a property of that name written in the class gives way to it.
  class_member->kind = MEMBER_PROPERTY;
  class_member->getter = class_name_getter;
  class_member->ref_getter = nullptr;
  class_member->setter = nullptr;
  factory = user_object_factory;
  Class::compile(runtime);
  for (ClassMember* member : members()) {
    if (member->kind != MEMBER_PROPERTY || member == class_member) continue;
    if (slots.emplace(member->symbol, stored.size()).second) stored.push_back(member);
  }
}

void UserClass::create_instance(VmStack* stack, Object** out) {
  QZ_TRACE;
  if (factory == nullptr) throw RuntimeError(9005, get_name());
  Object* head = factory(stack, this);
  Object* last = head;
  try {
    for (size_t i = 1; i < ancestors.size(); ++i) {
      Class* parent = ancestors[i];
      if (parent->factory == nullptr) throw RuntimeError(9005, parent->get_name());
      last->chained = parent->factory(stack, parent);
      last = last->chained;
    }
  } catch (...) {
    discard_chain(head);
    throw;
  }
  *out = head;
}

UserObject::UserObject(UserClass* c) : Object(c) {
  QZ_TRACE;
  values.reserve(c->stored.size());
  for (const ClassMember* member : c->stored) values.emplace_back(member->default_value);
  c->add_instance(this);
}

UserObject::~UserObject() {
  QZ_TRACE;
  for (Variant& v : values) v.release(nullptr);
}

void UserObject::destroy(VmStack* stack) {
  QZ_TRACE;
  destroy_releasing(stack, [this](std::vector<Variant>* taken) {
    taken->reserve(values.size());
    for (Variant& v : values) taken->emplace_back(std::move(v));
  });
}

// ---------------------------------------------------------------------------------------------
// Generic member functions
// ---------------------------------------------------------------------------------------------

void user_class_run_function(VmStack* stack, const UserFunction* function, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (function == nullptr) throw_assert_failed();
  stack->last_call_nargs = nargs;
  // The object's slot above the arguments is passed as well: THIS, the method's first local.
  execute_program(stack, nargs, true, function->program(), result);
}

void user_class_generic_call(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  const auto* cls = static_cast<const UserClass*>(stack->method_context.owner->cls);
  auto it = cls->methods.find(stack->method_context.member);
  if (it == cls->methods.end()) throw_assert_failed();
  user_class_run_function(stack, it->second.function, nargs, result);
}

void user_class_generic_read(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  size_t slot = 0;
  UserObject* owner = running_owner(stack, &slot);
  if (nargs == 0) {
    std::shared_lock<std::shared_mutex> lock(owner->property_lock);
    owner->values[slot].copy(result);
    return;
  }
  // Indexes: an array's element, or an object's "[]" member, read from a copy outside the lock
  // (the member runs code).
  ScopedValue container(stack);
  {
    std::shared_lock<std::shared_mutex> lock(owner->property_lock);
    owner->values[slot].copy(&container.value);
  }
  read_array_item(stack, nargs, &container.value, result);
}

void user_class_generic_read_ref(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (nargs != 0) throw RuntimeError(9008);
  size_t slot = 0;
  UserObject* owner = running_owner(stack, &slot);
  Object* self = stack->method_context.object;
  ScopedValue old(stack);
  old.value = std::move(*result);
  std::shared_lock<std::shared_mutex> lock(owner->property_lock);
  owner->values[slot].ref(stack, result, self != nullptr && self->control != nullptr ? self : owner);
}

void user_class_generic_write(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  size_t slot = 0;
  UserObject* owner = running_owner(stack, &slot);
  ScopedValue old(stack);  // released after the lock is dropped
  if (nargs < 2) {
    ScopedValue fresh(stack);
    if (nargs == 1) stack->sp[0].value.copy(&fresh.value);
    std::unique_lock<std::shared_mutex> lock(owner->property_lock);
    old.value = std::move(owner->values[slot]);
    owner->values[slot] = std::move(fresh.value);
    return;
  }
  // An element: written into a copy outside the lock (an object's "[]" member runs code, a replaced
  // element may own an object with DESTROY code), then the copy is stored.
  ScopedValue target(stack);
  {
    std::shared_lock<std::shared_mutex> lock(owner->property_lock);
    owner->values[slot].copy(&target.value);
  }
  write_array_item(stack, nargs, &target.value);
  if (target.value.tag != VT_ARRAY) return;
  std::unique_lock<std::shared_mutex> lock(owner->property_lock);
  old.value = std::move(owner->values[slot]);
  owner->values[slot] = std::move(target.value);
}

namespace {

const UserFunction* hook_of(VmStack* stack, bool write) {
  const auto* cls = static_cast<const UserClass*>(stack->method_context.owner->cls);
  const auto& hooks = write ? cls->write_hooks : cls->read_hooks;
  auto it = hooks.find(stack->method_context.member);
  if (it == hooks.end()) throw_assert_failed();
  return it->second;
}

}  // namespace

void user_class_generic_access(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  switch (stack->method_context.mode) {
    case ACCESS_READ: user_class_run_function(stack, hook_of(stack, false), nargs, result); return;
    case ACCESS_READ_REENTERED: user_class_generic_read(stack, nargs, result); return;
    default: throw_assert_failed();
  }
}

void user_class_generic_access_ref(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  switch (stack->method_context.mode) {
    case ACCESS_READ: user_class_run_function(stack, hook_of(stack, false), nargs, result); return;
    case ACCESS_READ_REENTERED: user_class_generic_read_ref(stack, nargs, result); return;
    default: throw_assert_failed();
  }
}

void user_class_generic_assign(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  switch (stack->method_context.mode) {
    case ACCESS_WRITE: {
      ScopedValue ignored(stack);
      user_class_run_function(stack, hook_of(stack, true), nargs, &ignored.value);
      return;
    }
    case ACCESS_WRITE_REENTERED: user_class_generic_write(stack, nargs); return;
    default: throw_assert_failed();
  }
}

}  // namespace qzbase
