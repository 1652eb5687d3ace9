// arguments.h - reading the arguments of a built-in: the value an argument stands for (a
// by-reference argument's target) and its conversions.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

namespace qzbase {

// Argument n (1 = first) of the running built-in, a by-reference argument followed to its target.
Variant* argument_value(VmStack* stack, size_t n);
// Argument n as a String (RuntimeError 107 for another type).
String string_argument(VmStack* stack, size_t n);
// Argument n as an integer (numeric truncated, money in whole units; RuntimeError 11 for another
// type).
int64_t integer_argument(VmStack* stack, size_t n);
// Argument n as an integer that must fit 32 bits (RuntimeError 39 otherwise).
int int32_argument(VmStack* stack, size_t n);
// True when argument n was passed (argc of the call) and is not null.
bool has_argument(VmStack* stack, size_t argc, size_t n);

}  // namespace qzbase
