// programs.h - compiled code units: a run of statements made into one program (the main program
// of a module, a module FUNCTION or a class method), its parameter set-up, PARAMETERS and
// LPARAMETERS, and the module items.
#pragma once

#include <qzbase.h>

#include <list>

#include "compiler/statements.h"

namespace qzbase {

class Module;
class UserFunction;

// Compile-kind bits beyond frame slots (COMPILE_KIND_SLOTS).
enum CompileKindBits : uint32_t {
  COMPILE_KIND_METHOD_BODY = 4,   // THIS is local variable 1 and the first local parameter
  COMPILE_KIND_CLOSING_RETURN = 8,  // a closing VmOpReturn unless the code ends in a return
};

enum ParameterMemoryClass : uint32_t {
  PARAMETERS_LOCAL = 0,    // LPARAMETERS, a FUNCTION header's list
  PARAMETERS_PRIVATE = 1,  // PARAMETERS
  PARAMETERS_NONE = 2,     // not declared yet
};

// Compiles the statements from `it` up to the end or the first terminator into the root path's
// collection (which must be empty, with no statement dispatched). params may be null.
void compile_program(const statement_list::const_iterator& end, statement_list::iterator& it,
                     const std::list<Definition*>* params, CodePath& path);

// The parameter set-up of a unit. False (nothing emitted) when a unit declares its parameters a
// second time, after code with a source location, or without frame slots.
bool create_parameters_initalization_code(const std::list<Definition*>* params, ParameterMemoryClass memory_class,
                                          CompiledCodeCollection* code, CodePath& path);

// PARAMETERS and LPARAMETERS. A declaration the unit cannot take records message 10 at it.
int compile_stmt_parameters(const statement_list::const_iterator& end, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path);
int compile_stmt_lparameters(const statement_list::const_iterator& end, statement_list::iterator& it,
                             CompiledCodeCollection* code, CodePath& path);

// One complete unit; null when no statement was dispatched.
UserFunction* compile_function(uint32_t kind, const String& name, const statement_list::const_iterator& end,
                               statement_list::iterator& it, Module* module, const std::list<Definition*>* params,
                               CodePath& path);

// FUNCTION (kind 48) and DEFINE CLASS (kind 17); false, consuming nothing, for any other kind.
bool compile_module_item(const statement_list::const_iterator& end, statement_list::iterator& it, Module* module,
                         CodePath& path);
bool compile_module_stmt_function(const statement_list::const_iterator& end, statement_list::iterator& it,
                                  Module* module, CodePath& path);

// IMPORT (kind 58): evaluates the operand at compile time; a plug-in library joins the unit's
// libraries, a module file joins the compiler's import list (beside the module's own file first,
// then along the program search). Not found: message 202. Steps past the statement; returns 0.
int compile_module_stmt_import(const statement_list::const_iterator& end, statement_list::iterator& it,
                               CompiledCodeCollection* code, CodePath& path);
void resolve_import_path(const Statement* statement, CodePath& path);

}  // namespace qzbase
