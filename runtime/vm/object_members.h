// object_members.h - the member operations of an object, as the VM calls them.
//
// The VM knows an Object only by name. The objects layer (objects/object.cpp) installs these when
// the library loads; each one calls the object's own virtual operation.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

struct object_member_hooks_st {
  // Calls the method symbol into result (empty on entry).
  void (*call)(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // Reads the property symbol (with nargs index values) into result.
  void (*access)(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // A reference to the property into result.
  void (*access_ref)(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // Assigns the property; the value is the oldest of the nargs slots.
  void (*assign)(Object* obj, VmStack* stack, symbol_id_type symbol, size_t nargs);
};
extern object_member_hooks_st object_member_hooks;

}  // namespace qzbase
