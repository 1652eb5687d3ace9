// session_settings.h - the SET values of a data session, as the value layer reads them.
//
// The data-session class embeds one SessionSettings and points its stack's
// VmStack::session_settings at it while it is the current session. Until then, and for a null
// stack or a stack with no current session, readers get the defaults through
// current_settings(). The SET commands and SET SYSFORMATS write the fields; comparison reads
// EXACT, and the money and date conversions read POINT, SEPARATOR, DECIMALS and the date
// settings.
//
// The value layer knows a stack only by name: the VM installs stack_settings_hook and
// stack_runtime_hook (vm_stack.cpp) so that comparison and the conversions reach a stack's
// settings and runtime without depending on the VM.
#pragma once

#include <qzbase.h>

#include <cstdint>

namespace qzbase {

// The SET DATE styles as codes; the field holds the `DateTimeFormat` value.
inline constexpr uint32_t kSetDateAmerican = 0;

struct SessionSettings {
  // SET POINT: the text as UTF-8 (at most 4 bytes and a zero byte), its code point, and whether
  // the text is plain ASCII.
  char decimal_point[5] = ".";
  char32_t decimal_point_code = U'.';
  bool point_is_ascii = true;
  // SET SEPARATOR, a code point.
  char32_t separator = U',';
  // SET DECIMALS: digits shown for numbers with free decimals.
  uint32_t decimals = 2;
  // SET DATE style (`DateTimeFormat`); 0 is AMERICAN.
  uint32_t date_format = kSetDateAmerican;
  // SET MARK: the date separator as UTF-8 (at most 4 bytes and a zero byte).
  char mark[5] = "/";
  bool century = false;
  // SET HOURS: 12 or 24.
  uint32_t hours = 12;
  bool seconds = true;
  bool exact = false;
  bool near = false;
  bool exclusive = true;
  bool deleted = false;
  // SET BLOCKSIZE: memo block size for tables created without one.
  uint64_t blocksize = 64;
};

// The initial values (shared, never written).
const SessionSettings& default_session_settings();

// The settings of a (non-null) stack's current data session, or null when it has none; and the
// runtime a (non-null) stack belongs to. Until the VM installs them they answer null.
using stack_settings_fn = const SessionSettings* (*)(const VmStack* stack);
using stack_runtime_fn = Runtime* (*)(const VmStack* stack);
extern stack_settings_fn stack_settings_hook;
extern stack_runtime_fn stack_runtime_hook;

// The settings of the stack's current data session; the defaults for a null stack or a stack
// without one.
inline const SessionSettings& current_settings(const VmStack* stack) {
  if (stack != nullptr) {
    if (const SessionSettings* s = stack_settings_hook(stack)) return *s;
  }
  return default_session_settings();
}

}  // namespace qzbase
