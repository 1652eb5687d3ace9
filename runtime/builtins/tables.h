// tables.h - the built-in library's five tables (each ends with a row whose name is null).
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

extern const module_function_st builtin_functions[];
extern const size_t builtin_function_count;
extern const module_command_st builtin_commands[];
extern const size_t builtin_command_count;
extern const module_result_width_st builtin_result_widths[];
extern const size_t builtin_result_width_count;
// Writable data, never changed: the row layout is shared with plug-ins.
extern module_sysvar_st builtin_sysvars[];
extern const size_t builtin_sysvar_count;
extern const module_class_st builtin_classes[];
extern const size_t builtin_class_count;

}  // namespace qzbase
