// library.h - the built-in library: its description, registered through Library (vm/library.h).
#pragma once

#include <qzbase.h>

#include "vm/library.h"

namespace qzbase {

// The built-in library's description (the built-in tables).
void describe_builtin_module(module_description_st* out);

}  // namespace qzbase
