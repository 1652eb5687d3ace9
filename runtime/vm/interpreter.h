// interpreter.h - the interpreter loop (vm_execute_opcode) and what it needs from later layers.
//
// vm_execute_opcode runs the operations of one program on one stack from a position until an
// operation leaves (0, 48, 49, 50, or a macro that returns a value). Stack discipline: slot 0 is
// the newest slot; every pop releases the slot and clears its flag; an exception leaves the stack
// as it was at the throw (values already popped are released, values still on the stack stay
// there for execute_program or the handler search to pop).
//
// Seams for layers that do not exist yet (each filled at load by its layer; tests install fakes):
//   - vm_table_hooks: the table layer's field lookup and field read (VmOpReadByName, 85,
//     get_current_table);
//   - vm_macro_compiler: the compiler's BuildInput::build_command (VmOpMacro).
#pragma once

#include <qzbase.h>

#include <atomic>
#include <cstdint>

#include "vm/vm_stack.h"

namespace qzbase {

// Runs from the position ip until an operation leaves the loop; ip then designates that
// operation and result holds what 48, 49 or 50 returned (result is empty on entry).
// With may_defer (execute_program's own loop only), a command called by 18 may hand back its error
// or THROW (vm_defer_error, vm_defer_throw): the loop then leaves with ip at the command's
// operation and the interrupt in the stack's deferred_error or deferred_throw, for the caller to
// handle as if it had been thrown there. A user function called by 15 hands back what it would
// rethrow to its caller in the same way (VmStack::caller_takes_interrupt).
void vm_execute_opcode(VmStack* stack, code_position& ip, Variant* result, bool may_defer = false);

// Marks the sequences of the program that have a fused operation (see VmOpFusedType). Run once the
// program is linked, before it runs; running it again changes nothing.
void fuse_operations(Program* program);

// The stack's bound table; otherwise, with area absent or null, the current data session's
// selected table; otherwise the table of that alias or work area number. None and required:
// RuntimeError 52.
Table_Object* get_current_table(VmStack* stack, const Variant* area, bool required);

// What the interpreter asks of the table layer. Null members stand for "no tables": no name is a
// field, and 85 raises 52.
struct vm_table_hooks_st {
  // The field number (0-based) of the symbol in the table; -1 when the table has no such field.
  int (*field_by_symbol)(Table_Object* table, symbol_id_type symbol) = nullptr;
  // Reads field number field of the table into out (empty on entry).
  void (*read_field)(VmStack* stack, Table_Object* table, int field, Variant* out) = nullptr;
  // The table an object held by a work area is (null when it is none).
  Table_Object* (*table_of)(Object* object) = nullptr;
};
extern vm_table_hooks_st vm_table_hooks;

// The table epoch: the table layer increments it whenever a work area opens, closes or is
// selected, or a table's fields change. With the stack's binding version it keys the cache of
// plain name reads, so a name read costs one field lookup only when something changed.
extern std::atomic<uint64_t> vm_table_epoch;
inline void vm_tables_changed() { vm_table_epoch.fetch_add(1, std::memory_order_relaxed); }

// The compiler's entry for macros: compiles text as a command for the current frame's module
// context and returns the new program (owned by the caller). location is the source location of
// the macro operation, null when there is no frame.
using macro_compiler_type = Program* (*)(VmStack* stack, const String& text, const document_location_st* location);
// Null until the compiler is loaded; a macro then raises RuntimeError 1001.
extern macro_compiler_type vm_macro_compiler;

}  // namespace qzbase
