// array_functions.h - the array built-ins: creating, measuring, searching, sorting, copying and
// filling arrays, and the arrays of runtime information (errors, call stack, environment,
// character sets, class instances, lines of a text).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

void bi_array(VmStack* stack, size_t argc, Variant* result);           // ARRAY
void bi_alen(VmStack* stack, size_t argc, Variant* result);            // ALEN
void bi_aelement(VmStack* stack, size_t argc, Variant* result);        // AELEMENT
void bi_asubscript(VmStack* stack, size_t argc, Variant* result);      // ASUBSCRIPT
void bi_adel(VmStack* stack, size_t argc, Variant* result);            // ADEL
void bi_acopy(VmStack* stack, size_t argc, Variant* result);           // ACOPY
void bi_ascan(VmStack* stack, size_t argc, Variant* result);           // ASCAN
void bi_asort(VmStack* stack, size_t argc, Variant* result);           // ASORT
void bi_aerror(VmStack* stack, size_t argc, Variant* result);          // AERROR
void bi_alistallerrors(VmStack* stack, size_t argc, Variant* result);  // ALISTALLERRORS
void bi_astackinfo(VmStack* stack, size_t argc, Variant* result);      // ASTACKINFO
void bi_aenv(VmStack* stack, size_t argc, Variant* result);            // AENV
void bi_acharset(VmStack* stack, size_t argc, Variant* result);        // ACHARSET
void bi_alines(VmStack* stack, size_t argc, Variant* result);          // ALINES
void bi_ainstance(VmStack* stack, size_t argc, Variant* result);       // AINSTANCE

}  // namespace qzbase
