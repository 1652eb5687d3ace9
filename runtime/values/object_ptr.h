// object_ptr.h - internals of the object handle shared with Variant and Array.
#pragma once

#include <qzbase.h>

namespace qzbase {

// Holds one control reference and drops it when it goes out of scope, also during unwinding.
class ControlRef {
 public:
  explicit ControlRef(object_control_st* control) noexcept : control_(control) {}
  ~ControlRef() { object_ptr_base::release_control(control_); }
  ControlRef(const ControlRef&) = delete;
  ControlRef& operator=(const ControlRef&) = delete;

 private:
  object_control_st* control_;
};

// What the value layer needs of an Object, which it knows only by name. The object layer
// (objects/object.cpp) installs these when the library loads.
struct object_hooks_st {
  // The object's control-block field (null until the object is first bound).
  object_control_st** (*control_field)(Object* obj);
  // The end of an object's life once its last strong reference is gone: its DESTROY member when
  // run_destroy is set, then `destroy` down the chain. Lets what they throw pass.
  void (*tear_down)(Object* obj, VmStack* stack, bool run_destroy);
  // Deletes the object (and its chain).
  void (*free)(Object* obj);
};
extern object_hooks_st object_hooks;

// The control-block field of obj.
inline object_control_st*& control_of(Object* obj) { return *object_hooks.control_field(obj); }

// True when the control block belongs to a live object (not null, strong count above 0).
inline bool control_is_live(const object_control_st* control) {
  return control != nullptr && control->strong.load() != 0;
}

}  // namespace qzbase
