// VmStack: the execution state of one language thread.
//
// Only the fields other subsystems already read are here; the virtual machine fills in the rest.
#pragma once

#include <qzbase.h>

namespace qzbase {

struct SessionSettings;  // runtime/tables/session_settings.h

class VmStack {
 public:
  VmStack() = default;
  VmStack(const VmStack&) = delete;
  VmStack& operator=(const VmStack&) = delete;

  // The last error offered to the handlers of this stack (code 0: none).
  RuntimeError last_error;

  // The SET values of the current data session. The data-session class points this at its own
  // record when it becomes current; null reads as the defaults. Read it through
  // current_settings() (tables/session_settings.h), never directly.
  SessionSettings* session_settings = nullptr;
};

}  // namespace qzbase
