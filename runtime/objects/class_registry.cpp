// class_registry.cpp - the classes of stacks without a built-in library.
#include "objects/class_registry.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "objects/class.h"
#include "vm/runtime_vm.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

std::atomic<const module_class_st*> g_rows{nullptr};

std::string upper_utf8(const String& name) { return name.upper().u8str(); }

struct class_map {
  std::map<std::string, std::unique_ptr<Class>> classes;
};

const module_class_st* find_row(const std::string& key) {
  const module_class_st* rows = g_rows.load();
  if (rows == nullptr) return nullptr;
  for (const module_class_st* row = rows; row->name != nullptr; ++row) {
    if (upper_utf8(String(row->name)) == key) return row;
  }
  return nullptr;
}

// A class of the row; with a runtime, its members are defined and compiled against it.
std::unique_ptr<Class> make_class(const module_class_st* row, Runtime* runtime, Symtable* symtable) {
  String name = String::fromBytes(row->name, std::strlen(row->name), Charset::ascii);
  Symbol symbol;
  if (symtable != nullptr) {
    symbol = Symbol(name, symtable);
  } else {
    symbol.name = name;
  }
  auto cls = std::make_unique<Class>(symbol, nullptr);
  cls->factory = row->factory;
  if (runtime == nullptr) return cls;
  for (const native_member_def_st* m = row->members; m != nullptr && m->name != nullptr; ++m) {
    ClassMember* member = cls->define(String::fromBytes(m->name, std::strlen(m->name), Charset::ascii));
    member->native = true;
    member->kind = MEMBER_PROPERTY;
    member->visibility = static_cast<uint32_t>(m->visibility);
    member->getter = m->getter;
    member->setter = m->setter;
    member->method = m->method;
  }
  cls->compile(runtime);
  return cls;
}

}  // namespace

void set_bare_class_rows(const module_class_st* rows) {
  QZ_TRACE;
  g_rows.store(rows);
}

Class* find_bare_class(VmStack* stack, const String& name) {
  QZ_TRACE;
  std::string key = upper_utf8(name);
  RuntimeVmState* vm = stack->vm_state;
  if (vm != nullptr && stack->runtime != nullptr) {
    std::lock_guard<std::mutex> guard(vm->objects_lock);
    if (vm->objects == nullptr) vm->objects = std::make_shared<class_map>();
    auto& classes = static_cast<class_map*>(vm->objects.get())->classes;
    auto it = classes.find(key);
    if (it != classes.end()) return it->second.get();
    const module_class_st* row = find_row(key);
    if (row == nullptr) return nullptr;
    return classes.emplace(key, make_class(row, stack->runtime, &vm->symtable)).first->second.get();
  }
  // Kept for the process: objects of these classes may outlive any stack.
  static std::mutex lock;
  static auto* classes = new std::map<std::string, Class*>();
  std::lock_guard<std::mutex> guard(lock);
  auto it = classes->find(key);
  if (it != classes->end()) return it->second;
  const module_class_st* row = find_row(key);
  if (row == nullptr) return nullptr;
  return classes->emplace(key, make_class(row, nullptr, nullptr).release()).first->second;
}

}  // namespace qzbase
