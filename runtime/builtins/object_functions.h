// object_functions.h - the class lookup of the language and the object built-ins.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// The class a program names: the class map of the module running in the stack's current frame,
// then the runtime's built-in library; null when neither has it.
Class* getclass(VmStack* stack, const String& name);

void bi_createobject(VmStack* stack, size_t argc, Variant* result);     // CREATEOBJECT
void bi_newobject(VmStack* stack, size_t argc, Variant* result);        // NEWOBJECT
void bi_addproperty(VmStack* stack, size_t argc, Variant* result);      // ADDPROPERTY
void bi_removeproperty(VmStack* stack, size_t argc, Variant* result);   // REMOVEPROPERTY
void bi_getpem(VmStack* stack, size_t argc, Variant* result);           // GETPEM
void bi_pemstatus(VmStack* stack, size_t argc, Variant* result);        // PEMSTATUS
void bi_amembers(VmStack* stack, size_t argc, Variant* result);         // AMEMBERS
void bi_dodefault(VmStack* stack, size_t argc, Variant* result);        // DODEFAULT
void bi_get_enumerator(VmStack* stack, size_t argc, Variant* result);   // GET_ENUMERATOR
// The same function under its second name (a function of its own, so that each row is told apart).
void bi_get_qzobject_enumerator(VmStack* stack, size_t argc, Variant* result);
void bi_incrementref(VmStack* stack, size_t argc, Variant* result);     // INCREMENTREF
void bi_decrementref(VmStack* stack, size_t argc, Variant* result);     // DECREMENTREF

}  // namespace qzbase
