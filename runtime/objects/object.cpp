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

void Object::call_destroy_method(Object* obj, VmStack* stack) {
  QZ_TRACE;
  if (destroy_method_runner != nullptr) destroy_method_runner(obj, stack);
}

}  // namespace qzbase
