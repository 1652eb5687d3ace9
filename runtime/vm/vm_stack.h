// VmStack: the execution state of one language thread.
//
// Only the fields other subsystems already read are here; the virtual machine fills in the rest.
#pragma once

#include <qzbase.h>

namespace qzbase {

class VmStack {
 public:
  VmStack() = default;
  VmStack(const VmStack&) = delete;
  VmStack& operator=(const VmStack&) = delete;

  // The last error offered to the handlers of this stack (code 0: none).
  RuntimeError last_error;
};

}  // namespace qzbase
