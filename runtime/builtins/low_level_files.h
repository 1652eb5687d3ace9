// low_level_files.h - FOPEN, FCLOSE, FREAD, FGETS, FSEEK, FTELL, FEOF and FERROR: numbered
// sequential text handles kept in the runtime's FileHandleRegistry (builtins/registry.h), and a
// last error code per stack (0 success, 2 cannot be opened, 6 no such handle).
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

namespace qzbase {

void bi_fopen(VmStack* stack, size_t argc, Variant* result);   // FOPEN
void bi_fclose(VmStack* stack, size_t argc, Variant* result);  // FCLOSE
void bi_fread(VmStack* stack, size_t argc, Variant* result);   // FREAD
void bi_fgets(VmStack* stack, size_t argc, Variant* result);   // FGETS
void bi_fseek(VmStack* stack, size_t argc, Variant* result);   // FSEEK
void bi_ftell(VmStack* stack, size_t argc, Variant* result);   // FTELL
void bi_feof(VmStack* stack, size_t argc, Variant* result);    // FEOF
void bi_ferror(VmStack* stack, size_t argc, Variant* result);  // FERROR

// The stack-release hook: drops the stack's FERROR code from its runtime's registry.
void forget_stack_file_error(VmStack* stack) noexcept;

// The number of stacks the runtime's registry keeps a FERROR code for.
size_t file_error_entries(Runtime* runtime);

}  // namespace qzbase
