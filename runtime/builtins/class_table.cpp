// class_table.cpp - the native classes of the built-in library.
//
// "Session" and "Exception" are the virtual machine's own classes; the others raise 1001 with the
// class name until the object model builds them. "File" cannot be instantiated.
#include "builtins/tables.h"
#include "builtins/unavailable.h"
#include "objects/class_registry.h"

namespace qzbase {

namespace {

// The virtual machine's factory of a class name (its registry keeps them beside their objects).
template <row_name Name>
Object* vm_class(VmStack* stack, Class*) {
  QZ_TRACE;
  native_factory_type factory = find_native_class(String(Name.text));
  if (factory == nullptr) throw RuntimeError(1001, String(Name.text));
  return factory(stack);
}

}  // namespace

// clang-format off
const module_class_st builtin_classes[] = {
    {"Custom", unavailable_class<"Custom">, nullptr},
    {"ArrayIterator", unavailable_class<"ArrayIterator">, nullptr},
    {"Collection.ForwardIndexIterator", unavailable_class<"Collection.ForwardIndexIterator">, nullptr},
    {"Collection.ReverseIndexIterator", unavailable_class<"Collection.ReverseIndexIterator">, nullptr},
    {"Collection.ForwardKeyIterator", unavailable_class<"Collection.ForwardKeyIterator">, nullptr},
    {"Collection.ReverseKeyIterator", unavailable_class<"Collection.ReverseKeyIterator">, nullptr},
    {"Collection", unavailable_class<"Collection">, nullptr},
    {"Empty", unavailable_class<"Empty">, nullptr},
    {"Exception", vm_class<"Exception">, nullptr},
    {"File", nullptr, nullptr},
    {"Session", vm_class<"Session">, nullptr},
    {"Thread", unavailable_class<"Thread">, nullptr},
    {"Map", unavailable_class<"Map">, nullptr},
    {"Operand", unavailable_class<"Operand">, nullptr},
    {nullptr, nullptr, nullptr},
};
// clang-format on

const size_t builtin_class_count = sizeof(builtin_classes) / sizeof(builtin_classes[0]) - 1;

}  // namespace qzbase
