// class_registry.h - the native classes CreateObject can make.
//
// The factories of the classes the virtual machine builds itself ("session", "exception"). The
// built-in library's class rows create those classes through them, and CreateObject falls back on
// them for a stack whose runtime has no built-in library (a bare value stack). Every other class
// is found through the runtime's built-in library (GetClass).
#pragma once

#include <qzbase.h>

namespace qzbase {

// Makes a new instance on the stack; the caller takes the one reference.
using native_factory_type = Object* (*)(VmStack* stack);

struct native_class_st {
  const char* name;  // upper case
  native_factory_type factory;
};

// The create function of a class name (compared without regard to case); null when none.
native_factory_type find_native_class(const String& name);

}  // namespace qzbase
