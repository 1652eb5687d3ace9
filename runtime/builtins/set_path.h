// set_path.h - the SET PATH TO command.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// SET PATH TO [entry, ...] [ADDITIVE]: argument 1 is the flag bits (1 = ADDITIVE), then the
// entries. Without ADDITIVE, or without entries, the list is emptied first.
void void_stackcall_set_path_to(VmStack* stack, size_t argc);

}  // namespace qzbase
