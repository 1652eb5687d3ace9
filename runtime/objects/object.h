// object.h - the Object base.
//
// Only the part of Object that handles and Variants need exists so far: the control-block
// back-pointer, the chained object, the virtual `destroy`, the deleting destructor and the hook
// that runs the DESTROY member. The objects subsystem adds the class, the property lock, the
// member operations (virtual_call, virtual_access, virtual_access_ref, virtual_assign and
// enum_properties, in that slot order after `destroy`) and the added properties.
#pragma once

#include <qzbase.h>

namespace qzbase {

// The predefined symbol of the DESTROY member.
inline constexpr symbol_id_type symbol_DESTROY = 4;

class Object {
 public:
  Object() noexcept : control(nullptr), chained(nullptr) {}
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Deletes the chained object. Slot 0 and 1 (the deleting destructor, through which every
  // object is freed once its last strong reference is gone).
  virtual ~Object();

  // Slot 2: the end-of-life work of this object of the chain, called on the object and on each
  // chained object, in chain order, before the object is deleted. The base does nothing.
  virtual void destroy(VmStack* stack);

  // Runs the object's DESTROY member (symbol 4) on the stack with the object as THIS, when its
  // class has one; does nothing otherwise. A RuntimeInterrupt raised by the member propagates.
  static void call_destroy_method(Object* obj, VmStack* stack);

  // How call_destroy_method finds and runs the DESTROY member. Null (no object has a DESTROY
  // member) until the objects subsystem installs its member lookup at load; tests install fakes.
  static void (*destroy_method_runner)(Object* obj, VmStack* stack);

  // The member operations (slots 3..6), resolved by the object. The arguments, index values or
  // assigned values are the nargs slots at the top of the stack (slot 0 the last), the object's own
  // slot just above them; the members leave the stack pointer where they found it.
  // virtual_call: calls the method symbol into result (empty on entry).
  virtual void virtual_call(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // virtual_access: reads the property symbol (with nargs index values) into result.
  virtual void virtual_access(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // virtual_access_ref: a reference to the property into result.
  virtual void virtual_access_ref(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // virtual_assign: assigns the property; the value is the oldest of the nargs slots.
  virtual void virtual_assign(VmStack* stack, symbol_id_type symbol, size_t nargs);

  // The shared control block of object_ptr and Variant; null until the object is first bound.
  object_control_st* control;
  // (The property lock and the Class* come with the objects subsystem.)
  // The next object of the inheritance chain (owned), null at the end.
  Object* chained;
};

}  // namespace qzbase
