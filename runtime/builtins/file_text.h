// file_text.h - FILETOSTR and STRTOFILE; the readers they use are in platform/file_text.h.
#pragma once

#include <qzbase.h>

#include <cstddef>

#include "platform/file_text.h"

namespace qzbase {

// FILETOSTR(name [, charset]).
void _filetostr(VmStack* stack, size_t argc, Variant* result);
// STRTOFILE(text, name [, mode]).
void strtofile(VmStack* stack, size_t argc, Variant* result);

}  // namespace qzbase
