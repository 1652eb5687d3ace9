// class.cpp - Class and ClassMember.
#include "objects/class.h"

#include "frontend/operands.h"
#include "vm/runtime_vm.h"

namespace qzbase {

Class::Class(const Symbol& name, named_operand_st* definition) : name_(name), definition_(definition) {
  QZ_TRACE;
}

Class::~Class() {
  QZ_TRACE;
  for (ClassMember* m : members_) {
    m->default_value.release(nullptr);
    delete m;
  }
  delete definition_;
}

void Class::compile(Runtime* runtime) {
  QZ_TRACE;
  if (compiled_) throw_assert_failed();
  RuntimeVmState* vm = find_runtime_vm(runtime);
  if (vm == nullptr) throw_assert_failed();
  for (ClassMember* m : members_) {
    m->symbol = vm->symtable.symbolize(m->name);
    if (!by_symbol_.emplace(m->symbol, m).second) throw_assert_failed();
  }
  compiled_ = true;
}

void Class::create_instance(VmStack* stack, Object** out) {
  QZ_TRACE;
  if (factory == nullptr) throw RuntimeError(9005, name_.name);
  *out = factory(stack, this);
}

ClassMember* Class::define(const String& name) {
  QZ_TRACE;
  auto it = by_name_.find(name);
  if (it != by_name_.end()) return it->second;
  auto* m = new ClassMember(members_.size(), name);
  try {
    members_.push_back(m);
  } catch (...) {
    delete m;
    throw;
  }
  by_name_.emplace(name, m);
  return m;
}

ClassMember* Class::find_member(const String& name) const {
  QZ_TRACE;
  auto it = by_name_.find(name);
  return it == by_name_.end() ? nullptr : it->second;
}

ClassMember* Class::find_member(symbol_id_type symbol) const {
  QZ_TRACE;
  auto it = by_symbol_.find(symbol);
  return it == by_symbol_.end() ? nullptr : it->second;
}

void Class::add_instance(Object* obj) {
  QZ_TRACE;
  std::lock_guard<std::mutex> lock(instances_lock_);
  instances_.insert(obj);
  registered_.store(instances_.size(), std::memory_order_release);
}

void Class::remove_instance(VmStack*, Object* obj) {
  QZ_TRACE;
  // Most objects of the runtime's own classes (exceptions of caught errors) are never registered.
  if (registered_.load(std::memory_order_acquire) == 0) return;
  std::lock_guard<std::mutex> lock(instances_lock_);
  instances_.erase(obj);
  registered_.store(instances_.size(), std::memory_order_release);
}

size_t Class::instance_count() const {
  QZ_TRACE;
  std::lock_guard<std::mutex> lock(instances_lock_);
  return instances_.size();
}

}  // namespace qzbase
