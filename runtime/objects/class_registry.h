// class_registry.h - the classes a stack can create before any built-in library serves it.
//
// A stack whose runtime has no built-in library (a bare value stack, a virtual machine without the
// library) still needs its default data session and the exception objects of its handlers. The
// built-in library installs its class rows here at load. On a stack with a runtime a row becomes,
// on first use, a class of that runtime with its members (kept in the runtime's VM state); on a
// stack without one, a process-wide class without members (there is no symbol table to resolve
// them).
#pragma once

#include <qzbase.h>

namespace qzbase {

// Installs the rows (ended by a row with a null name); the table must live for the process.
void set_bare_class_rows(const module_class_st* rows);
// The class of that name (case-insensitive) among the installed rows for the stack; null when none.
Class* find_bare_class(VmStack* stack, const String& name);

}  // namespace qzbase
