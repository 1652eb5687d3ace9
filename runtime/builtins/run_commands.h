// run_commands.h - the commands that call program files and procedures by name: DO, SET PROCEDURE
// TO and SET LIBRARY TO.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// DO name [IN file] [WITH args]: argument 1 the procedure or program name, 2 the IN file (or
// null), 3 the return target (unused), 4.. the WITH arguments. With IN the procedure is taken
// from that file (loaded through the DO cache); without, a procedure of the running module wins,
// else the name is loaded as a program file and its entry procedure runs. RuntimeError 1 with the
// file or procedure name when there is none. The procedure's return value is discarded.
void void_stackcall_do(VmStack* stack, size_t argc);

// SET PROCEDURE TO [file, ...] [ADDITIVE] and SET LIBRARY TO [name, ...] [ADDITIVE]: argument 1
// the flag bits (1 = ADDITIVE), then the entries. Without ADDITIVE, or without entries, the list
// is emptied first; an entry that fails stops the command, the ones before it stay.
void void_stackcall_set_procedure_to(VmStack* stack, size_t argc);
void void_stackcall_set_library_to(VmStack* stack, size_t argc);

}  // namespace qzbase
