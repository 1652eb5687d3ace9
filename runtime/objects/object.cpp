// object.cpp - the Object base.
#include "objects/object.h"

#include "values/object_ptr.h"

namespace qzbase {

void (*Object::destroy_method_runner)(Object* obj, VmStack* stack) = nullptr;

namespace {

// What the value layer does to an Object (values/object_ptr.h).
object_control_st** control_field(Object* obj) { return &obj->control; }

void tear_down(Object* obj, VmStack* stack, bool run_destroy) {
  if (run_destroy) Object::call_destroy_method(obj, stack);
  for (Object* link = obj; link != nullptr; link = link->chained) link->destroy(stack);
}

void free_object(Object* obj) { delete obj; }

[[maybe_unused]] const bool object_hooks_installed = [] {
  object_hooks = object_hooks_st{control_field, tear_down, free_object};
  return true;
}();

}  // namespace

Object::~Object() {
  QZ_TRACE;
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

void Object::destroy(VmStack*) { QZ_TRACE; }

// The base has no members: every access is error 1734 (the objects subsystem overrides these).
void Object::virtual_call(VmStack*, symbol_id_type, size_t, Variant*) {
  QZ_TRACE;
  throw RuntimeError(1734);
}

void Object::virtual_access(VmStack*, symbol_id_type, size_t, Variant*) {
  QZ_TRACE;
  throw RuntimeError(1734);
}

void Object::virtual_access_ref(VmStack*, symbol_id_type, size_t, Variant*) {
  QZ_TRACE;
  throw RuntimeError(1734);
}

void Object::virtual_assign(VmStack*, symbol_id_type, size_t) {
  QZ_TRACE;
  throw RuntimeError(1734);
}

void Object::call_destroy_method(Object* obj, VmStack* stack) {
  QZ_TRACE;
  if (destroy_method_runner != nullptr) destroy_method_runner(obj, stack);
}

}  // namespace qzbase
