// set_functions.h - SET with a logical or a number, SET("name"), and the SET ... TO commands of
// the data session's number and date formats. Native calling convention (entry_points.h).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// SET STEP / EXACT / EXCLUSIVE / DELETED / SPACE / DECIMALS / BLOCKSIZE / ASSERTS / NEAR:
// argument 1 the option's bit, argument 2 the value.
void void_stackcall_set(VmStack* stack, size_t argc);
// SET("name"): the setting of a keyword or its abbreviation.
void bi_set(VmStack* stack, size_t argc, Variant* result);

void set_century_to(VmStack* stack, size_t argc);    // SET CENTURY ON|OFF
void set_seconds_to(VmStack* stack, size_t argc);    // SET SECONDS ON|OFF
void set_hours_to(VmStack* stack, size_t argc);      // SET HOURS TO 12|24
void set_fdow_to(VmStack* stack, size_t argc);       // SET FDOW TO 1..7
void set_point_to(VmStack* stack, size_t argc);      // SET POINT TO text
void set_separator_to(VmStack* stack, size_t argc);  // SET SEPARATOR TO text
void set_date_to(VmStack* stack, size_t argc);       // SET DATE TO name

}  // namespace qzbase
