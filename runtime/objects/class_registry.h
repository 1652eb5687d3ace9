// class_registry.h - the native classes CreateObject can make.
//
// A first, fixed registry: a table of class names and create functions. It holds what the virtual
// machine needs today (the class "session"); the object model replaces it with real classes
// (members, instance lists, the built-in library's class map).
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
