// class_definitions.h - DEFINE CLASS ... ENDDEFINE: one class of the module, built item by
// item (property initialisers, DIMENSION, PROTECTED, HIDDEN, methods).
//
// Property initialisers are compiled with the class but run only once the module's own functions
// are linked, since they may call them: build the module, link_module, then
// evaluate_class_initialisers, then look at the compiler's messages.
#pragma once

#include <qzbase.h>

#include "compiler/statements.h"

namespace qzbase {

class Module;
class ClassDefinition;

using class_item_compiler_fn = int (*)(const statement_list::const_iterator& end, statement_list::iterator& it,
                                       ClassDefinition* cls, CodePath& path);

// The module item of DEFINE CLASS: consumes the class up to and including ENDDEFINE (a following
// DEFINE CLASS or the end of the list also ends it) and registers the class unless the module
// has one of that name. A statement a class body does not allow records 1927 at it. Returns true.
bool compile_module_stmt_define(const statement_list::const_iterator& end, statement_list::iterator& it,
                                Module* module, CodePath& path);

// The class items; each consumes its statement (a method, its body and ENDFUNC) and returns 0,
// ENDDEFINE -1.
int compile_class_item_assign(const statement_list::const_iterator& end, statement_list::iterator& it,
                              ClassDefinition* cls, CodePath& path);
int compile_class_item_function(const statement_list::const_iterator& end, statement_list::iterator& it,
                                ClassDefinition* cls, CodePath& path);
int compile_class_item_dimension(const statement_list::const_iterator& end, statement_list::iterator& it,
                                 ClassDefinition* cls, CodePath& path);
int compile_class_item_hidden(const statement_list::const_iterator& end, statement_list::iterator& it,
                              ClassDefinition* cls, CodePath& path);
int compile_class_item_protected(const statement_list::const_iterator& end, statement_list::iterator& it,
                                 ClassDefinition* cls, CodePath& path);
int compile_class_item_enddefine(const statement_list::const_iterator& end, statement_list::iterator& it,
                                 ClassDefinition* cls, CodePath& path);

// Runs the pending property initialisers of every class the module defines, in definition order,
// on the compiler's stack with output discarded, and makes their results the defaults. An object,
// array or reference result records 1927, a runtime error its number, at the assignment; the
// default then stays empty. The module's own functions must be linked already.
void evaluate_class_initialisers(Module* module, Compiler& compiler);

}  // namespace qzbase
