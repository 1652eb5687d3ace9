// system_functions.h - the system and console built-ins, the SYS() family and the temporary-name
// generator behind SYS(3). Native calling convention (entry_points.h).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// system_functions.cpp
void bi_os(VmStack* stack, size_t argc, Variant* result);           // OS
void bi_version(VmStack* stack, size_t argc, Variant* result);      // VERSION
void bi_curexe(VmStack* stack, size_t argc, Variant* result);       // CUREXE
void bi_getenv(VmStack* stack, size_t argc, Variant* result);       // GETENV
void bi_setenv(VmStack* stack, size_t argc, Variant* result);       // SETENV
void bi_unsetenv(VmStack* stack, size_t argc, Variant* result);     // UNSETENV
void bi_userhomedir(VmStack* stack, size_t argc, Variant* result);  // USERHOMEDIR
void bi_sleep(VmStack* stack, size_t argc, Variant* result);        // SLEEP
void bi_system(VmStack* stack, size_t argc, Variant* result);       // SYSTEM
void bi_exec(VmStack* stack, size_t argc, Variant* result);         // EXEC
void bi_parseargs(VmStack* stack, size_t argc, Variant* result);    // PARSEARGS
void bi_messagebox(VmStack* stack, size_t argc, Variant* result);   // MESSAGEBOX
void void_stackcall_run(VmStack* stack, size_t argc);               // RUN
void void_stackcall_clear(VmStack* stack, size_t argc);             // CLEAR
void void_stackcall_modify_command(VmStack* stack, size_t argc);    // MODIFY COMMAND
void void_stackcall_browse(VmStack* stack, size_t argc);            // BROWSE
void void_stackcall_wait(VmStack* stack, size_t argc);              // WAIT

// sys_functions.cpp
void bi_sys(VmStack* stack, size_t argc, Variant* result);  // SYS
// Calls the handler of a SYS id (argc counts the id); an id without one gives an empty text.
void sys_dispatch(int id, VmStack* stack, size_t argc, Variant* result);
// The number of ids in the SYS table.
size_t sys_function_count();

}  // namespace qzbase
