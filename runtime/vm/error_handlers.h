// error_handlers.h - the handler search: VmStack::handle_exception and VmStack::find_handler
// (vm/error_handlers.cpp), THROW, and the runtime-error report.
//
// An error raised below a running frame is offered, once, to the TRY handlers of that frame and
// its callers (newest record first, each only while the frame's position lies in its protected
// range); a clause takes it when it has no WHEN condition or its condition yields .T.. A handler
// in the failing frame is a jump; one in an outer frame is reached by a RuntimeThrow that unwinds
// the frames between. Unhandled errors of module programs are reported on the screen's error
// stream and the user chooses Cancel, Retry or Ignore.
//
// Faults guarded against (tests/vm/error_handlers_test.cpp):
// - Retry and Ignore drop the failed statement's temporaries (release_stack_to the frame local
//   base) before the frame goes on: the frame-end check requires a balanced operand stack.
// - A WHEN condition naming the error object gets it in the slot below the stack pointer only when
//   that slot exists; on a full stack (error 9010) the search ends and the error goes on.
// - An error raised inside a WHEN condition is offered only to handlers inside the condition's own
//   frames (a search never goes back through the frames it is searching, which recursed up to
//   error 103), gets no report or question, and ends the search: it propagates as itself.
// - Ignore on the last statement of a program has no statement to go on with (the frame would run
//   into the end of the code): the error propagates.
// - A msgbox answer other than Cancel, Retry and Ignore (a screen without dialogs answers 0)
//   propagates the error without the stack trace; the runtime entry reports it.
#pragma once

#include <qzbase.h>

#include "vm/execute.h"

namespace qzbase {

// The name of a module as the report and the debugger show it; the module subsystem installs it.
// Null (or a null module) shows an empty name.
extern String (*vm_module_name)(const Module* module);

// The entry execute_program calls through vm_exception_handler (its initial value).
RuntimeErrorRecovery vm_handle_exception(VmStack* stack, how_to_handle_st& how);

// The THROW command: an exception object with value as its UserValue goes to the handler that
// takes it as a RuntimeThrow (also in the running frame); RuntimeError 2059 when none does.
// Returns only when the interrupt was handed back to the interpreter (vm_defer_throw,
// vm_defer_error): the command must then return at once.
void vm_throw(VmStack* stack, const Variant& value);

}  // namespace qzbase
