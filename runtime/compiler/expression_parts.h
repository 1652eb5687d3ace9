// expression_parts.h - the operand compilers behind the dispatch table: variables, paths and
// references (variables.cpp), operators and constant folding (operators.cpp), calls and the
// intrinsic functions (calls.cpp). All follow the conventions of expression_compiler.h.
#pragma once

#include <qzbase.h>

#include "vm/library.h"
#include "compiler/expression_compiler.h"

namespace qzbase {

class Table_Object;

// ---- variables.cpp --------------------------------------------------------------------------

// What the compiler learns of the table bound to its stack (only while a table compiles its own
// key, filter or LOCATE expression). The table layer installs the hooks; null hooks: no fields.
struct compiler_field_st {
  String name;    // in the table's character set
  char type = 0;  // the field type letter (C, M, I, ...)
  int64_t width = 0;
  bool nullable = false;
};
struct compiler_table_hooks_st {
  size_t (*field_count)(Table_Object* table) = nullptr;
  void (*field)(Table_Object* table, size_t index, compiler_field_st* out) = nullptr;
};
extern compiler_table_hooks_st compiler_table_hooks;

void compile_operand_variable(const Operand* operand, bool default_read, bool want_value,
                              CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);
void compile_variable_with_index(const Operand* operand, bool default_read, bool want_value,
                                 CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);
void compile_operand_path(const Operand* operand, bool default_read, bool want_value,
                          CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);
void compile_operand_reference(const Operand* operand, bool default_read, bool want_value,
                               CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);

// A plain name with default read compiles as a memory variable: the variable is the target.
void compile_read_variable(const document_location_st& location, symbol_id_type symbol, const String& name,
                           bool memvar_only, bool default_read, CompiledCodeCollection* collection, CodePath& path,
                           compiler_type_info_st* type);
void compile_read_variable_by_name(const document_location_st& location, const String& name, bool memvar_only,
                                   bool default_read, CompiledCodeCollection* collection, CodePath& path,
                                   compiler_type_info_st* type);
void compile_read_variable_ref(const document_location_st& location, symbol_id_type symbol, bool default_read,
                               CompiledCodeCollection* collection, CodePath& path);
void compile_read_array_element(const document_location_st& location, const String& name, const OperandList* indexes,
                                CompiledCodeCollection* collection, CodePath& path);
// Each operand as a value with a fresh type record.
void compile_operand_list(const OperandList* list, CompiledCodeCollection* collection, CodePath& path);
// drop_last: the last step is left to the caller (the path then needs two steps at least; fewer
// is a broken invariant).
void compile_evaluate_path(const Path* p, bool drop_last, CompiledCodeCollection* collection, CodePath& path,
                           compiler_type_info_st* type);
void compile_evaluate_path_ref(const Path* p, bool drop_last, bool default_read, CompiledCodeCollection* collection,
                               CodePath& path, compiler_type_info_st* type);
// A reference to a variable or a path; anything else is a value with allow_rvalue, else message 9004.
void compile_operand_ref(const Operand* operand, bool default_read, bool allow_rvalue,
                         CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);

// ---- operators.cpp --------------------------------------------------------------------------

void compile_operand_unary(const Operand* operand, bool default_read, bool want_value,
                           CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);
void compile_binary_operator(const Operand* operand, bool default_read, bool want_value,
                             CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);
// Compiles an expression; a constant one of two or more records is run now and replaced by one
// constant load.
void compiletime_compact_constexpr(const Operand* operand, CompiledCodeCollection* destination, CodePath& path,
                                   compiler_type_info_st* type);
// Runs the constant code in scratch on the compiler's stack and appends its value as one constant
// load to destination (result receives the value, empty on entry). A language error becomes a
// compiler message at location, a null load stands in for the value and the type is no longer
// constant; returns false then.
bool compiletime_eval_constexpr(const document_location_st& location, CompiledCodeCollection* scratch,
                                CompiledCodeCollection* destination, CodePath& path, compiler_type_info_st* type,
                                VmStack* stack, Variant* result);

// ---- calls.cpp ------------------------------------------------------------------------------

void compile_operand_call(const Operand* operand, bool default_read, bool want_value,
                          CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);
void compile_call(const document_location_st& location, const String& name, Operand* const* arguments, uint64_t count,
                  CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);
void compile_pass_parameter(const Operand* operand, CompiledCodeCollection* collection, CodePath& path,
                            compiler_type_info_st* type);
void compile_pass_parameters(Operand* const* arguments, uint64_t count, CompiledCodeCollection* collection, CodePath& path);
void compile_call_spec_do(const document_location_st& location, Operand* const* arguments, uint64_t count, Library* library,
                          const library_func_def_st& definition, CompiledCodeCollection* collection, CodePath& path,
                          compiler_type_info_st* type);
void compile_call_spec_void(const document_location_st& location, Operand* const* arguments, uint64_t count, Library* library,
                            const library_command_def_st& definition, CompiledCodeCollection* collection,
                            CodePath& path);
// Built-in function or command by a fixed name; a name the built-in library lacks is a broken
// invariant.
void compile_call_builtin_function(const document_location_st& location, Operand* const* arguments, uint64_t count,
                                   const char* name, CompiledCodeCollection* collection, CodePath& path,
                                   compiler_type_info_st* type);
void compile_call_spec_void_core(const document_location_st& location, Operand* const* arguments, uint64_t count,
                                 const char* name, CompiledCodeCollection* collection, CodePath& path);
// The items and count of a list that may be null.
Operand* const* items_of(const OperandList* list);
uint64_t count_of(const OperandList* list);
// The runtime's own library (the one of the compiler's stack).
Library* builtin_library_of(CodePath& path);

}  // namespace qzbase
