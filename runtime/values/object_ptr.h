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

// True when the control block belongs to a live object (not null, strong count above 0).
inline bool control_is_live(const object_control_st* control) {
  return control != nullptr && control->strong.load() != 0;
}

}  // namespace qzbase
