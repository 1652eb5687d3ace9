// linker.h - binding the calls a build left unresolved, and completing modules and classes.
//
// A call the compiler could not bind becomes a direct call of a FUNCTION of the module, else of
// its first imported module that has one, else a call by name resolved when it runs; the call the
// TRY code leaves to raise a caught error again becomes that command (try_with.h). Linking a
// module also completes each class it defines (members and ancestor chain) and picks its entry
// procedure: the main program, else the FUNCTION named like the file's stem.
#pragma once

#include <qzbase.h>

#include "vm/module.h"
#include "vm/program.h"

namespace qzbase {

class ClassDefinition;

struct LinkerInfo {
  explicit LinkerInfo(Runtime* runtime) : runtime(runtime) {}
  Runtime* runtime;
};

// Binds the program to the module and resolves its calls. A program that has a module already,
// or a null module, is a broken invariant.
void link_program(LinkerInfo& linker, Program* program, const Module* module);
// Every call of a program of no module becomes a call by name.
void link_anonymous_program(LinkerInfo& linker, Program* program);
// Links the main program, the procedures and the classes the module defines, then sets the entry
// procedure. Linking a module again only completes what is not linked yet (the build links its
// module before running class initialisers, the loader links what it loads). RuntimeError 1733
// with the name when a parent class cannot be found or comes round again.
void link_module(LinkerInfo& linker, Module* module);
// Links the methods not linked yet, compiles the class once and sets its ancestor chain.
void link_userclass(LinkerInfo& linker, ClassDefinition* cls, const Module* module);
// Stores the replacement of one unresolved call (never null for this resolver).
void link_declspec_udf(LinkerInfo& linker, const Module* module, const VmOpUnresolvedCall* call, VmOp** replacement);

}  // namespace qzbase
