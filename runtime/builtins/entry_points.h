// entry_points.h - the built-in functions and commands built so far, by family. Each follows the
// native calling convention: argument i is Param(stack, i), the result an empty Variant.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// True for a null argument and for an object reference whose object is gone (followed through a
// reference): what a "?" argument answers with a null result.
bool is_null_argument(const Variant* v);

// String functions.
void bi_concat(VmStack* stack, size_t argc, Variant* result);  // CONCAT
void bi_at(VmStack* stack, size_t argc, Variant* result);      // AT, AT_C

// Array functions.
void bi_dimension(VmStack* stack, size_t argc, Variant* result);  // DIMENSION

// Language functions.
void bi_test_asserts_on(VmStack* stack, size_t argc, Variant* result);  // TEST_ASSERTS_ON
void bi_store(VmStack* stack, size_t argc, Variant* result);            // STORE
void bi_evaluate(VmStack* stack, size_t argc, Variant* result);         // EVALUATE
void bi_execscript(VmStack* stack, size_t argc, Variant* result);       // EXECSCRIPT
void bi_type(VmStack* stack, size_t argc, Variant* result);             // TYPE
void bi_vartype(VmStack* stack, size_t argc, Variant* result);          // VARTYPE
void bi_cast(VmStack* stack, size_t argc, Variant* result);             // CAST
void bi_iif(VmStack* stack, size_t argc, Variant* result);              // IIF
void bi_pcount(VmStack* stack, size_t argc, Variant* result);           // PCOUNT
void bi_parameters(VmStack* stack, size_t argc, Variant* result);       // PARAMETERS
void bi_program(VmStack* stack, size_t argc, Variant* result);          // PROGRAM
void bi_error(VmStack* stack, size_t argc, Variant* result);            // ERROR
void bi_message(VmStack* stack, size_t argc, Variant* result);          // MESSAGE
void bi_syntaxinfo(VmStack* stack, size_t argc, Variant* result);       // SYNTAXINFO
void bi_syntaxinfo2(VmStack* stack, size_t argc, Variant* result);      // SYNTAXINFO2
void bi_debugbreak(VmStack* stack, size_t argc, Variant* result);       // __DEBUGBREAK
void bi_regression1(VmStack* stack, size_t argc, Variant* result);      // __REGRESSION1
void bi_debug_set_trace_callback(VmStack* stack, size_t argc, Variant* result);  // __DEBUG_SET_TRACE_CALLBACK
void bi_catch_to_macro(VmStack* stack, size_t argc, Variant* result);            // CATCH TO &name
void bi_init_if_from_macro(VmStack* stack, size_t argc, Variant* result);        // IF &macro
void bi_init_do_while_from_macro(VmStack* stack, size_t argc, Variant* result);  // DO WHILE &macro
void bi_init_scan_from_macro(VmStack* stack, size_t argc, Variant* result);      // SCAN &macro

// Console commands.
void cmd_echo_linefeed(VmStack* stack, size_t argc);  // ?
void cmd_echo(VmStack* stack, size_t argc);           // ??

// Control commands.
void cmd_quit(VmStack* stack, size_t argc);
void cmd_cancel(VmStack* stack, size_t argc);
void cmd_assert(VmStack* stack, size_t argc);
void cmd_error(VmStack* stack, size_t argc);
void cmd_throw(VmStack* stack, size_t argc);
void cmd_private(VmStack* stack, size_t argc);

}  // namespace qzbase
