// objects_support.h - a runtime with its built-in library, classes made from member rows, and the
// helpers the object tests share.
#pragma once

#include <gtest/gtest.h>
#include <qzbase.h>

#include "capture_screen.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "objects/class.h"
#include "objects/object.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase::testing_objects {

using testing_screen::CaptureScreen;

// CreateRuntime / ReleaseRuntime around one stack.
class RuntimeFixture {
 public:
  RuntimeFixture() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 1024, 128)) {}
  ~RuntimeFixture() {
    delete stack;
    ReleaseRuntime(runtime);
  }
  RuntimeFixture(const RuntimeFixture&) = delete;
  RuntimeFixture& operator=(const RuntimeFixture&) = delete;

  symbol_id_type sym(const char* name) { return stack->symtable->symbolize(name); }

  // A compiled class of the rows (visibility taken from each row), owned by the fixture.
  Class* make_class(const char* name, const std::vector<native_member_def_st>& rows, class_factory_type factory) {
    auto cls = std::make_unique<Class>(Symbol(String(name), stack->symtable), nullptr);
    for (const native_member_def_st& row : rows) {
      ClassMember* m = cls->define(String(row.name));
      m->native = true;
      m->kind = MEMBER_PROPERTY;
      m->visibility = static_cast<uint32_t>(row.visibility);
      m->getter = row.getter;
      m->setter = row.setter;
      m->method = row.method;
    }
    cls->factory = factory;
    cls->compile(runtime);
    classes.push_back(std::move(cls));
    return classes.back().get();
  }

  CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack;
  std::vector<std::unique_ptr<Class>> classes;  // freed after the stack (declared after it)
};

template <class F>
std::pair<int, std::string> error_of(F fn) {
  try {
    fn();
  } catch (const RuntimeError& e) {
    return {e.code, e.detail.u8str()};
  }
  return {0, ""};
}

// An object value made from a class (the caller's Variant holds the one reference).
inline Object* new_value(VmStack* stack, Class* cls, Variant* out) {
  Object* obj = nullptr;
  cls->create_instance(stack, &obj);
  out->set_new_object(obj);
  return obj;
}

// Reads a property (no indexes) into a fresh value.
inline Variant read(VmStack* stack, Object* obj, symbol_id_type symbol) {
  Variant r;
  obj->virtual_access(stack, symbol, 0, &r);
  return r;
}

// Assigns a value: the object slot and the value pushed as the interpreter does.
inline void assign(VmStack* stack, Object* obj, symbol_id_type symbol, const Variant& value) {
  Memvar* mark = stack->sp;
  try {
    Memvar* self = stack->push();
    if (obj->control != nullptr) self->value.set(obj);
    value.copy(&stack->push()->value);
    obj->virtual_assign(stack, symbol, 1);
  } catch (...) {
    stack->release_stack_to(mark);
    throw;
  }
  stack->release_stack_to(mark);
}

inline Variant integer(int64_t n) {
  Variant v;
  v.set(integer_type_st{n});
  return v;
}

inline Variant text(const char* s) {
  Variant v;
  v.set_string(String(s));
  return v;
}

inline std::string show(const Variant& v) {
  switch (v.tag) {
    case VT_INTEGER: return std::to_string(v.integer.value);
    case VT_STRING: return v.string.u8str();
    case VT_NULL: return ".NULL.";
    case VT_FALSE: return ".F.";
    case VT_TRUE: return ".T.";
    case VT_OBJECT: return "O";
    case VT_ARRAY: return "A";
    default: return "?" + std::to_string(v.tag);
  }
}

}  // namespace qzbase::testing_objects
