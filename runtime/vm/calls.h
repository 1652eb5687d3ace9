// calls.h - calls, object members and array elements (the operations that leave the frame's own
// code), and the interface through which a call by name finds its callee.
//
// Call layout: a result slot, then the arguments (argument n is slot 0). Object operations put the
// object's slot between the result slot and the arguments; VmOpObjectWriteProperty has no result
// slot. Array reads: result slot, then the index values; array writes: the value, then the
// indexes.
//
// Faults guarded against (calls_test.cpp):
// - The native-call argument top and count are restored on every exit (a scope guard), not only on
//   the normal path: a built-in that catches an error of nested code finds its own arguments again.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <exception>

#include "vm/signatures.h"
#include "vm/vm_stack.h"

namespace qzbase {

class Function;

// Pops everything pushed above mark when it goes out of scope (also during unwinding).
class PushedScope {
 public:
  explicit PushedScope(VmStack* stack) : stack_(stack), mark_(stack->sp) {}
  ~PushedScope() noexcept(false) {
    if (std::uncaught_exceptions() > uncaught_) {
      try {
        stack_->release_stack_to(mark_);
      } catch (...) {
      }
    } else {
      stack_->release_stack_to(mark_);
    }
  }
  PushedScope(const PushedScope&) = delete;
  PushedScope& operator=(const PushedScope&) = delete;

 private:
  VmStack* stack_;
  Memvar* mark_;
  int uncaught_ = std::uncaught_exceptions();
};

// A native function of a library and its parsed parameter signature.
struct library_function_st {
  native_function_type function = nullptr;
  const function_signature_st* signature = nullptr;
};

// Where a call by name (VmOpCallSpecDynamic) looks: the runtime's SET LIBRARY list, then its SET
// PROCEDURE modules. The runtime fills it (RuntimeVmState::call_resolver); built-in functions
// bind at compile time and are not searched here.
class CallResolver {
 public:
  virtual ~CallResolver();
  // The first library in SET LIBRARY order with a native function of that name (names compare
  // case-insensitively); false when none has it.
  virtual bool find_library_function(VmStack* stack, const String& name, library_function_st* out) = 0;
  // The procedure or function with that symbol in the first SET PROCEDURE module that has one;
  // null when none has it.
  virtual const Function* find_procedure(VmStack* stack, symbol_id_type symbol) = 0;
};

// The operations' bodies (the interpreter calls them with the operands).
void call_native_function(VmStack* stack, native_function_type function, size_t nargs);
void call_native_command(VmStack* stack, native_command_type function, size_t nargs);
void call_user_function(VmStack* stack, const UserFunction* function, size_t nargs);
void call_dynamic(VmStack* stack, symbol_id_type symbol, size_t nargs);
void object_call(VmStack* stack, symbol_id_type symbol, size_t nargs);
void object_call_pointer(VmStack* stack, symbol_id_type symbol, size_t nargs);
void object_read_property(VmStack* stack, symbol_id_type symbol, size_t nargs);
void object_read_property_pointer(VmStack* stack, symbol_id_type symbol, size_t nargs);
void object_write_property(VmStack* stack, symbol_id_type symbol, size_t nargs);

// Reads element(s) of container (an array, or an object's "[]" member) with the nidx index values
// at the top of the stack into out (empty). 11 for a wrong index count, 232 for another value.
void read_array_item(VmStack* stack, size_t nidx, Variant* container, Variant* out);
// Writes the value (the oldest of the nvalues slots at the top) into target's element at the
// indexes (the other slots). 11 for a wrong count, 232 for a value neither array nor object.
void write_array_item(VmStack* stack, size_t nvalues, Variant* target);

}  // namespace qzbase
