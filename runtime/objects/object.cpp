// object.cpp - the Object base.
#include "objects/object.h"

namespace qzbase {

void (*Object::destroy_method_runner)(Object* obj, VmStack* stack) = nullptr;

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
