// object.cpp - the Object base: member lookup, visibility, the member operations, added
// properties, the DESTROY member and object creation.
#include "objects/object.h"

#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "frontend/operands.h"
#include "values/object_ptr.h"
#include "vm/calls.h"
#include "vm/execute.h"
#include "vm/object_members.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

String member_name(VmStack* stack, symbol_id_type symbol) {
  return stack != nullptr && stack->symtable != nullptr ? stack->symtable->resolve(symbol) : String();
}

[[noreturn]] void throw_not_found(VmStack* stack, symbol_id_type symbol) {
  throw RuntimeError(1734, member_name(stack, symbol));
}

// Allowed bits: 1 always, 2 when THIS is the accessed object, 4 when the running member is held by
// the same object of the chain.
bool visible(const VmStack* stack, const Object* accessed, const member_lookup_st& m) {
  uint32_t allowed = VISIBLE_PUBLIC;
  if (stack->method_context.object == accessed) allowed |= VISIBLE_PROTECTED;
  if (stack->method_context.owner == m.owner) allowed |= VISIBLE_HIDDEN;
  return (m.visibility & ~allowed) == 0;
}

// Sets the method context, the native-call registers and (for an object made on this stack) the
// data session for one member function, and restores all of them on every exit.
class MemberScope {
 public:
  MemberScope(VmStack* stack, size_t nargs)
      : stack_(stack),
        saved_(stack->method_context),
        session_(stack->current_data_session),
        arg_top_(stack->native_arg_top),
        nargs_(stack->native_nargs) {
    stack->native_arg_top = stack->sp + nargs;
    stack->native_nargs = nargs;
  }
  ~MemberScope() {
    stack_->method_context = saved_;
    stack_->native_arg_top = arg_top_;
    stack_->native_nargs = nargs_;
    if (stack_->current_data_session != session_) restore_session();
  }
  MemberScope(const MemberScope&) = delete;
  MemberScope& operator=(const MemberScope&) = delete;

  const method_context_st& saved() const { return saved_; }

  void enter(Object* obj, Object* owner, symbol_id_type member, uint32_t mode) {
    method_context_st& c = stack_->method_context;
    c.object = obj;
    c.owner = owner;
    c.cls = owner->cls;
    c.member = member;
    c.mode = mode;
    switch_session(obj);
  }
  void reenter(uint32_t mode) { stack_->method_context.mode = mode; }

 private:
  // An object made through the language on this stack works in the data session it was made in.
  void switch_session(const Object* obj) {
    if (obj->creating_stack_id == 0 || obj->creating_stack_id != stack_->id) return;
    DataSession_Object* session = stack_->find_data_session(obj->data_session_id);
    if (session == nullptr) return;
    stack_->method_context.data_session_id = obj->data_session_id;
    if (session != stack_->current_data_session) stack_->set_current_data_session(session);
  }
  // The saved session again, unless the member ended it (then the stack already fell back on its
  // default session).
  void restore_session() {
    if (session_ == nullptr) {
      stack_->set_current_data_session(nullptr);
      return;
    }
    for (const auto& [id, link] : stack_->data_sessions) {
      if (link->session.load(std::memory_order_acquire) == session_) {
        stack_->set_current_data_session(session_);
        return;
      }
    }
  }

  VmStack* stack_;
  method_context_st saved_;
  DataSession_Object* session_;
  Memvar* arg_top_;
  uint64_t nargs_;
};

enum MemberOp { OP_CALL, OP_ACCESS, OP_ACCESS_REF, OP_ASSIGN };


// The DESTROY member: run with the object as THIS and its holder as owner, no visibility check.
void run_destroy_member(Object* obj, VmStack* stack) {
  QZ_TRACE;
  member_lookup_st m;
  if (!obj->find_member(symbol_DESTROY, &m) || m.method == nullptr) return;
  Memvar* mark = stack->sp;
  ScopedValue result(stack);
  {
    PushedScope pushed(stack);
    stack->push()->value.set(obj);
    MemberScope scope(stack, 0);
    scope.enter(obj, m.owner, symbol_DESTROY, ACCESS_CALL);
    m.method(stack, 0, &result.value);
    if (stack->sp != mark - 1) throw_assert_failed();
  }
}

}  // namespace

// Releases a list of values with the stack; every value is released, the first interrupt goes on.
void release_values(VmStack* stack, std::vector<Variant>& values) {
  QZ_TRACE;
  std::exception_ptr first;
  for (Variant& v : values) {
    try {
      v.release(stack);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void (*Object::destroy_method_runner)(Object* obj, VmStack* stack) = run_destroy_member;

Object::Object(Class* c)
    : control(nullptr), cls(c), chained(nullptr), data_session_id(0), creating_stack_id(0) {
  QZ_TRACE;
  if (c == nullptr) throw_assert_failed();
  members_in_use.store(&c->members(), std::memory_order_relaxed);
  symbols_in_use.store(&c->symbols(), std::memory_order_relaxed);
}

namespace {

// What the value layer does to an Object (values/object_ptr.h).
object_control_st** control_field(Object* obj) { return &obj->control; }

void tear_down(Object* obj, VmStack* stack, bool run_destroy) {
  if (run_destroy) Object::call_destroy_method(obj, stack);
  for (Object* link = obj; link != nullptr; link = link->chained) link->destroy(stack);
}

void free_object(Object* obj) { delete obj; }

// What the VM does to an Object (vm/object_members.h).
void member_call(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  obj->virtual_call(stack, symbol, nargs, result);
}
void member_access(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  obj->virtual_access(stack, symbol, nargs, result);
}
void member_access_ref(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  obj->virtual_access_ref(stack, symbol, nargs, result);
}
void member_assign(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs) {
  obj->virtual_assign(stack, symbol, nargs);
}

[[maybe_unused]] const bool object_hooks_installed = [] {
  object_hooks = object_hooks_st{control_field, tear_down, free_object};
  object_member_hooks = object_member_hooks_st{member_call, member_access, member_access_ref, member_assign};
  return true;
}();

}  // namespace

Object::~Object() {
  QZ_TRACE;
  for (auto& [symbol, record] : added_) {
    record->value.release(nullptr);
    delete record;
  }
  // The chain is deleted link by link so that a long chain does not recurse deeply.
  Object* next = chained;
  chained = nullptr;
  while (next != nullptr) {
    Object* after = next->chained;
    next->chained = nullptr;
    delete next;
    next = after;
  }
}

void Object::destroy(VmStack* stack) {
  QZ_TRACE;
  std::vector<Variant> values;
  {
    std::unique_lock<std::shared_mutex> lock(property_lock);
    values.reserve(added_.size());
    for (auto& [symbol, record] : added_) values.emplace_back(std::move(record->value));
  }
  struct Leave {
    Object* self;
    VmStack* stack;
    ~Leave() { self->cls->remove_instance(stack, self); }
  } leave{this, stack};
  release_values(stack, values);
}

void Object::destroy_releasing(VmStack* stack, const std::function<void(std::vector<Variant>*)>& take) {
  QZ_TRACE;
  std::exception_ptr first;
  try {
    Object::destroy(stack);
  } catch (...) {
    first = std::current_exception();
  }
  std::vector<Variant> taken;
  {
    std::unique_lock<std::shared_mutex> lock(property_lock);
    take(&taken);
  }
  try {
    release_values(stack, taken);
  } catch (...) {
    if (!first) first = std::current_exception();
  }
  if (first) std::rethrow_exception(first);
}

void Object::call_destroy_method(Object* obj, VmStack* stack) {
  QZ_TRACE;
  if (destroy_method_runner != nullptr) destroy_method_runner(obj, stack);
}

// ---------------------------------------------------------------------------------------------
// Lookup
// ---------------------------------------------------------------------------------------------

namespace {

void fill(const ClassMember* member, Object* owner, member_lookup_st* out) {
  out->owner = owner;
  out->visibility = member->visibility;
  out->method = member->method;
  out->getter = member->getter;
  out->ref_getter = member->ref_getter;
  out->setter = member->setter;
}

}  // namespace

bool Object::find_own(symbol_id_type symbol, member_lookup_st* out) {
  QZ_TRACE;
  const member_symbol_map* map = symbols_in_use.load(std::memory_order_acquire);
  if (map == &cls->symbols()) {
    auto it = map->find(symbol);
    if (it == map->end()) return false;
    fill(it->second, this, out);
    return true;
  }
  std::shared_lock<std::shared_mutex> lock(property_lock);
  auto it = own_symbols_.find(symbol);
  if (it == own_symbols_.end()) return false;
  fill(it->second, this, out);
  return true;
}

bool Object::find_member(symbol_id_type symbol, member_lookup_st* out) {
  QZ_TRACE;
  for (Object* o = this; o != nullptr; o = o->chained) {
    if (o->find_own(symbol, out)) return true;
  }
  return false;
}

bool Object::get_member(symbol_id_type symbol, const ClassMember** member, Object** owner) {
  QZ_TRACE;
  for (Object* o = this; o != nullptr; o = o->chained) {
    const member_symbol_map* map = o->symbols_in_use.load(std::memory_order_acquire);
    std::shared_lock<std::shared_mutex> lock(o->property_lock, std::defer_lock);
    if (map != &o->cls->symbols()) lock.lock();
    auto it = map->find(symbol);
    if (it != map->end()) {
      *member = it->second;
      *owner = o;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Member operations
// ---------------------------------------------------------------------------------------------

template <int Op>
void Object::member_operation(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  QZ_TRACE;
  member_lookup_st m;
  bool found = find_member(symbol, &m);
  if constexpr (Op == OP_CALL) {
    if (!found || m.method == nullptr) throw_not_found(stack, symbol);
  } else if constexpr (Op == OP_ACCESS) {
    if (!found || m.getter == nullptr) throw_not_found(stack, symbol);
  } else if constexpr (Op == OP_ACCESS_REF) {
    if (!found || m.ref_getter == nullptr) {
      if (found && m.getter != nullptr) throw RuntimeError(9008);
      throw_not_found(stack, symbol);
    }
  } else {
    if (!found || m.setter == nullptr) throw_not_found(stack, symbol);
  }
  if (!visible(stack, this, m)) {
    if constexpr (Op == OP_ACCESS_REF) throw RuntimeError(1743);
    throw_not_found(stack, symbol);
  }

  MemberScope scope(stack, nargs);
  const method_context_st& saved = scope.saved();
  if constexpr (Op == OP_CALL) {
    scope.enter(this, m.owner, symbol, ACCESS_CALL);
    m.method(stack, nargs, result);
  } else if constexpr (Op == OP_ASSIGN) {
    if (saved.mode == ACCESS_WRITE && saved.member == symbol && saved.owner == m.owner) {
      scope.reenter(ACCESS_WRITE_REENTERED);
    } else {
      scope.enter(this, m.owner, symbol, ACCESS_WRITE);
    }
    m.setter(stack, nargs);
  } else {
    if (saved.mode == ACCESS_READ && saved.member == symbol && saved.owner == m.owner) {
      scope.reenter(ACCESS_READ_REENTERED);
    } else {
      scope.enter(this, m.owner, symbol, ACCESS_READ);
    }
    if constexpr (Op == OP_ACCESS) {
      m.getter(stack, nargs, result);
    } else {
      m.ref_getter(stack, nargs, result);
    }
  }
}

void Object::virtual_call(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  QZ_TRACE;
  member_operation<OP_CALL>(stack, symbol, nargs, result);
}

void Object::virtual_access(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  QZ_TRACE;
  member_operation<OP_ACCESS>(stack, symbol, nargs, result);
}

void Object::virtual_access_ref(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  QZ_TRACE;
  member_operation<OP_ACCESS_REF>(stack, symbol, nargs, result);
}

void Object::virtual_assign(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  member_operation<OP_ASSIGN>(stack, symbol, nargs, nullptr);
}

int Object::enum_properties(EnumMembersCallback callback, void* context) {
  QZ_TRACE;
  const member_vector* members = members_in_use.load(std::memory_order_acquire);
  std::shared_lock<std::shared_mutex> lock(property_lock, std::defer_lock);
  if (members != &cls->members()) lock.lock();
  for (const ClassMember* m : *members) {
    if (int r = callback(context, this, m->symbol, *m); r != 0) return r;
  }
  return 0;
}

int Object::virtual_enum_properties(EnumMembersCallback callback, void* context) {
  QZ_TRACE;
  for (Object* o = this; o != nullptr; o = o->chained) {
    if (int r = o->enum_properties(callback, context); r != 0) return r;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Added properties
// ---------------------------------------------------------------------------------------------

void Object::add_property_record(VmStack* stack, symbol_id_type symbol, Variant* value) {
  QZ_TRACE;
  auto* record = new added_property_st{ClassMember(0, member_name(stack, symbol)), Variant()};
  record->member.kind = MEMBER_PROPERTY;
  record->member.symbol = symbol;
  record->member.getter = added_property_access;
  record->member.ref_getter = added_property_access_ref;
  record->member.setter = added_property_assign;
  record->value = std::move(*value);
  std::unique_lock<std::shared_mutex> lock(property_lock);
  try {
    if (added_.count(symbol) != 0) throw_assert_failed();  // it has a setter: assigned instead
    if (symbols_in_use.load(std::memory_order_relaxed) == &cls->symbols()) {
      own_members_ = cls->members();
      own_symbols_ = cls->symbols();
      members_in_use.store(&own_members_, std::memory_order_release);
      symbols_in_use.store(&own_symbols_, std::memory_order_release);
    }
    record->member.index = own_members_.size();
    own_members_.push_back(&record->member);
    own_symbols_.emplace(symbol, &record->member);
    added_.emplace(symbol, record);
  } catch (...) {
    if (!own_members_.empty() && own_members_.back() == &record->member) own_members_.pop_back();
    auto it = own_symbols_.find(symbol);
    if (it != own_symbols_.end() && it->second == &record->member) own_symbols_.erase(it);
    lock.unlock();
    *value = std::move(record->value);
    delete record;
    throw;
  }
}

void Object::addproperty(VmStack* stack, symbol_id_type symbol, const Variant* value) {
  QZ_TRACE;
  member_lookup_st m;
  if (find_member(symbol, &m) && m.setter != nullptr) {
    PushedScope pushed(stack);
    Memvar* self = stack->push();
    if (control != nullptr) self->value.set(this);
    Memvar* slot = stack->push();
    if (value != nullptr) value->copy(&slot->value);
    virtual_assign(stack, symbol, 1);
    return;
  }
  ScopedValue copy(stack);
  if (value != nullptr) value->copy(&copy.value);
  add_property_record(stack, symbol, &copy.value);
}

void Object::addproperty(VmStack* stack, const String& name, const Variant* value) {
  QZ_TRACE;
  if (stack->symtable == nullptr) throw_assert_failed();
  addproperty(stack, stack->symtable->symbolize(name), value);
}

void Object::addproperty(VmStack* stack, const Operand* operand, const Variant* value) {
  QZ_TRACE;
  if (stack->symtable == nullptr) throw_assert_failed();
  const String* name = nullptr;
  const OperandList* dimensions = nullptr;
  switch (operand != nullptr ? operand->kind : 0) {
    case OPERAND_NAME: name = &static_cast<const Name*>(operand)->name; break;
    case OPERAND_VARIABLE: name = &static_cast<const Variable*>(operand)->name; break;
    case OPERAND_VARIABLE_WITH_INDEX: {
      const auto* indexed = static_cast<const VariableWithIndex*>(operand);
      if (indexed->variable == nullptr || indexed->variable->kind != OPERAND_VARIABLE) throw RuntimeError(11);
      name = &static_cast<const Variable*>(indexed->variable)->name;
      dimensions = indexed->indexes;
      break;
    }
    case OPERAND_CALL: {
      // name(n) and name(rows, columns) read as a call.
      const auto* call = static_cast<const Call*>(operand);
      name = &call->name;
      dimensions = call->arguments;
      break;
    }
    default: throw RuntimeError(11);
  }
  symbol_id_type symbol = stack->symtable->symbolize(*name);
  if (operand->kind != OPERAND_VARIABLE_WITH_INDEX && operand->kind != OPERAND_CALL) {
    addproperty(stack, symbol, value);
    return;
  }
  if (dimensions == nullptr || dimensions->count == 0 || dimensions->count > 2) throw RuntimeError(11);
  member_lookup_st m;
  if (find_member(symbol, &m) && m.setter != nullptr) throw RuntimeError(1001);
  int dims[2] = {0, 0};
  eval_int_array(stack, dimensions->items, dimensions->count, dims, 2);
  if (dims[0] <= 0 || dims[1] < 0 || (dimensions->count == 2 && dims[1] == 0)) throw RuntimeError(11);
  ScopedValue array(stack);
  array.value.dimension(stack, static_cast<size_t>(dims[0]), static_cast<size_t>(dims[1]));
  add_property_record(stack, symbol, &array.value);
}

void Object::removeproperty(VmStack* stack, const String& name) {
  QZ_TRACE;
  symbol_id_type symbol = 0;
  if (stack->symtable == nullptr || !stack->symtable->find(name, &symbol)) throw RuntimeError(1760, name);
  added_property_st* record = nullptr;
  {
    std::unique_lock<std::shared_mutex> lock(property_lock);
    auto it = added_.find(symbol);
    if (it == added_.end()) {
      lock.unlock();
      throw RuntimeError(1760, name);
    }
    record = it->second;
    added_.erase(it);
    auto own = own_symbols_.find(symbol);
    if (own != own_symbols_.end() && own->second == &record->member) own_symbols_.erase(own);
    uint64_t index = record->member.index;
    if (index < own_members_.size() && own_members_[index] == &record->member) {
      own_members_.erase(own_members_.begin() + static_cast<std::ptrdiff_t>(index));
      for (size_t i = index; i < own_members_.size(); ++i) own_members_[i]->index = i;
    }
  }
  std::unique_ptr<added_property_st> owned(record);
  owned->value.release(stack);
}

namespace {

// The record of the running added property, for its own functions.
added_property_st* running_record(VmStack* stack, const std::unordered_map<symbol_id_type, added_property_st*>& added) {
  auto it = added.find(stack->method_context.member);
  if (it == added.end()) throw_not_found(stack, stack->method_context.member);  // removed meanwhile
  return it->second;
}

}  // namespace

void added_property_access(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  Object* owner = stack->method_context.owner;
  if (nargs == 0) {
    std::shared_lock<std::shared_mutex> lock(owner->property_lock);
    running_record(stack, owner->added_)->value.copy(result);
    return;
  }
  ScopedValue container(stack);
  {
    std::shared_lock<std::shared_mutex> lock(owner->property_lock);
    running_record(stack, owner->added_)->value.copy(&container.value);
  }
  read_array_item(stack, nargs, &container.value, result);
}

void added_property_access_ref(VmStack*, size_t, Variant*) { QZ_TRACE; }

void added_property_assign(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  Object* owner = stack->method_context.owner;
  ScopedValue old(stack);
  if (nargs < 2) {
    ScopedValue fresh(stack);
    if (nargs == 1) stack->sp[0].value.copy(&fresh.value);
    std::unique_lock<std::shared_mutex> lock(owner->property_lock);
    Variant& stored = running_record(stack, owner->added_)->value;
    old.value = std::move(stored);
    stored = std::move(fresh.value);
    return;
  }
  // An element: written into a copy outside the lock (an object's "[]" member runs code; an
  // array's replaced element may be an object with DESTROY code), then the copy is stored.
  ScopedValue target(stack);
  {
    std::shared_lock<std::shared_mutex> lock(owner->property_lock);
    running_record(stack, owner->added_)->value.copy(&target.value);
  }
  write_array_item(stack, nargs, &target.value);
  if (target.value.tag != VT_ARRAY) return;
  std::unique_lock<std::shared_mutex> lock(owner->property_lock);
  Variant& stored = running_record(stack, owner->added_)->value;
  old.value = std::move(stored);
  stored = std::move(target.value);
}

void call_parent_member(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  Object* owner = stack->method_context.owner;
  if (owner == nullptr || owner->chained == nullptr) return;
  symbol_id_type symbol = stack->method_context.member;
  uint32_t mode = stack->method_context.mode;
  member_lookup_st m;
  if (!owner->chained->find_member(symbol, &m) || m.visibility >= VISIBLE_HIDDEN) throw_not_found(stack, symbol);
  if (mode != ACCESS_READ && mode != ACCESS_WRITE && mode != ACCESS_CALL) throw RuntimeError(1001);
  Object* self = stack->method_context.object;
  MemberScope scope(stack, nargs);
  scope.enter(self, m.owner, symbol, mode);
  switch (mode) {
    case ACCESS_WRITE:
      if (m.setter != nullptr) m.setter(stack, nargs);
      break;
    case ACCESS_CALL:
      if (m.method != nullptr) m.method(stack, nargs, result);
      break;
    default:
      if (m.getter != nullptr) m.getter(stack, nargs, result);
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Context and creation
// ---------------------------------------------------------------------------------------------

Object* current_object(VmStack* stack) {
  QZ_TRACE;
  return stack->method_context.object;
}

Object* current_owner(VmStack* stack) {
  QZ_TRACE;
  return stack->method_context.owner;
}

void createobject_internal(VmStack* stack, Class* cls, Variant* slot, int argc, Variant* result) {
  QZ_TRACE;
  Object* obj = nullptr;
  cls->create_instance(stack, &obj);
  if (obj == nullptr) throw_assert_failed();
  obj->creating_stack_id = stack->id;
  for (const auto& [id, link] : stack->data_sessions) {
    if (link->session.load(std::memory_order_acquire) == stack->current_data_session) obj->data_session_id = id;
  }
  if (obj->control == nullptr) {
    try {
      result->set_new_object(obj);
    } catch (...) {
      delete obj;
      throw;
    }
  } else {
    result->set(obj);
  }
  obj->cls->add_instance(obj);
  member_lookup_st init;
  if (!obj->find_member(symbol_INIT, &init) || init.method == nullptr) return;
  slot->release(stack);
  slot->set(obj);
  ScopedValue ignored(stack);
  obj->virtual_call(stack, symbol_INIT, static_cast<size_t>(argc), &ignored.value);
}

}  // namespace qzbase
