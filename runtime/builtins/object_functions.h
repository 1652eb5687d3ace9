// object_functions.h - the class lookup of the language and the object built-ins.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// The class a program names: the class map of the module running in the stack's current frame,
// then the runtime's built-in library; null when neither has it.
Class* getclass(VmStack* stack, const String& name);

void bi_createobject(VmStack* stack, size_t argc, Variant* result);  // CREATEOBJECT

}  // namespace qzbase
