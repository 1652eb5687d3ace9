// expression_compiler.h - compiling one operand: the dispatch on operand kinds and constant
// types, constants, and the implicit casts of arguments to typed parameters.
//
// Each compiler appends its ops at the node's location and leaves exactly one value (or a
// reference) on the stack when the code runs; it reports what it knows of the result in the
// caller's type record, which the caller starts as {0, false, -1}.
#pragma once

#include <qzbase.h>

#include "compiler/compiler_state.h"
#include "frontend/operands.h"
#include "vm/signatures.h"

namespace qzbase {

// Static type codes (the signature letters' codes; bit 16: may be null).
enum StaticType : uint32_t {
  TYPE_ANY = 0,
  TYPE_LOGICAL = 1,
  TYPE_NULL = 4,
  TYPE_INTEGER = 5,
  TYPE_NUMERIC = 6,
  TYPE_MONEY = 7,
  TYPE_DATE = 8,
  TYPE_DATETIME = 9,
  TYPE_STRING = 10,
  TYPE_OBJECT = 11,
  TYPE_ARRAY = 13,
  TYPE_NULLABLE = 16,
};

// default_read: a memory variable that does not exist reads as empty (the "*" modifier).
// want_value: a reference operand (@x) yields x's value.
using operand_compiler_type = void (*)(const Operand* operand, bool default_read, bool want_value,
                                       CompiledCodeCollection* collection, CodePath& path,
                                       compiler_type_info_st* type);

// Operands nested deeper than this record message 103 ("Allowed DO nesting or expression
// evaluation level exceeded.") instead of being compiled: each level costs native stack.
inline constexpr uint32_t kMaxOperandDepth = 4000;

// Dispatches on the operand kind. A kind without a compiler is RuntimeError 1001.
void compile_operand(const Operand* operand, bool default_read, bool want_value, CompiledCodeCollection* collection,
                     CodePath& path, compiler_type_info_st* type);

// Installs the compiler of an operand kind (2 .. 10); the variable, operator and call compilers
// register themselves. Only during load-time initialisation.
void set_operand_compiler(uint32_t kind, operand_compiler_type compiler);

// One constant load for a value computed at compile time; a value without a constant op (object,
// array, reference) is a broken invariant.
void compile_const_generic(const document_location_st& location, const Variant* value,
                           CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);

// The op that makes an argument of static type argument_type fit a parameter, or null when none
// is needed. An unknown parameter type is a broken invariant.
VmOp* select_implicit_cast(const function_signature_entry_st& parameter, uint32_t argument_type);
// Appends that op (if any) at location.
void compile_implicit_cast(const function_signature_entry_st& parameter, const compiler_type_info_st& argument,
                           const document_location_st& location, CompiledCodeCollection* collection);

}  // namespace qzbase
