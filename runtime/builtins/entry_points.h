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

// Console commands.
void cmd_echo_linefeed(VmStack* stack, size_t argc);  // ?
void cmd_echo(VmStack* stack, size_t argc);           // ??

// Control commands.
void cmd_quit(VmStack* stack, size_t argc);
void cmd_cancel(VmStack* stack, size_t argc);
void cmd_assert(VmStack* stack, size_t argc);

}  // namespace qzbase
