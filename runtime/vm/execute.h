// execute.h - running programs: execute_program, execute_expression, Function and UserFunction,
// the native-call convention (Param, Pointer) and the seam to the handler search.
//
// execute_program runs a program as a new frame: it checks the call, reserves the frame's slots,
// runs the interpreter loop, turns interrupts into handler jumps, unwinding or rethrows, and on
// every exit releases the frame and restores the caller's registers.
//
// Faults guarded against (execute_test.cpp):
// - The error to rethrow is copied into a local when the rethrow is chosen: DESTROY code run by
//   the teardown may replace the stack's last error.
// - Once the loop has returned, an interrupt raised by the teardown (DESTROY code) is not handed
//   to the frame's own handlers (which would jump back into a half-released frame): the teardown
//   is finished and the interrupt propagates to the caller (a chosen rethrow wins over it).
// - An exception that is not an interrupt of the language (std::bad_alloc, ...) still releases
//   the frame before it passes; only a broken invariant (assert_failed_exception) passes with the
//   registers restored but nothing released.
// - A RuntimeThrow caught on its way always replaces the stack's pending throw (copying it
//   only when its target frame differs from the pending one's lets a stale pending throw
//   naming a reused frame address make a new throw arrive without its value); the
//   pending throw is cleared when the throw arrives.
#pragma once

#include <qzbase.h>

#include <cstdint>

#include "vm/vm_stack.h"

namespace qzbase {

// A callable function of a module (or a class member).
class Function {
 public:
  Function() = default;
  virtual ~Function();
  Function(const Function&) = delete;
  Function& operator=(const Function&) = delete;
  // Runs the function with nargs arguments pushed (extra: one more slot above them belongs to the
  // frame's argument area); result is empty on entry.
  virtual void exec(VmStack* stack, size_t nargs, bool extra, Variant* result) const = 0;
};

// A function compiled to one Program, which it owns.
class UserFunction : public Function {
 public:
  explicit UserFunction(const Program* program) : program_(program) {}
  ~UserFunction() override;  // deletes the program
  // Sets the last call's argument count (PARAMETERS()) and runs execute_program.
  void exec(VmStack* stack, size_t nargs, bool extra, Variant* result) const override;
  const Program* program() const { return program_; }

 private:
  const Program* program_;
};

// Runs program as a call with nargs arguments already pushed (argument 1 highest). RuntimeError
// 94 for more arguments than the program takes, 103 above 128 frames (stack unchanged), 9010 when
// its locals do not fit (the caller's registers restored, the arguments left for the caller).
void execute_program(VmStack* stack, size_t nargs, bool extra, const Program* program, Variant* result);

// For a command about to raise e: when the interpreter of a frame called this command directly
// (and so takes the error in that frame as it would take it thrown), e moves into the stack and
// true is returned; the command must then return at once. False: the command throws e itself.
bool vm_defer_error(VmStack* stack, RuntimeError& e);
// The same for a THROW on its way to its handler (vm_throw).
bool vm_defer_throw(VmStack* stack, const RuntimeThrow& t);

// Runs an expression program (no slots of its own) on the running frame; it must leave the stack
// pointer as it found it. Interrupts pass through untouched.
void execute_expression(VmStack* stack, const Program* program, Variant* result);

// A result value released on every path, for code that runs a program and reads what it gave.
struct ScopedValue {
  explicit ScopedValue(VmStack* stack) : stack(stack) {}
  ~ScopedValue() { value.release(stack); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;
  VmStack* stack;
  Variant value;
};

// The unwind code: VmOpUnwind followed by a null entry, shared by all stacks.
code_position unwind_code();

class Operand;  // frontend/operands.h

// Evaluates a syntax-tree operand at run time into the empty result. The compiler's front door
// installs it; until then evaluating an operand raises 1001.
using operand_evaluator_type = void (*)(VmStack* stack, const Operand* operand, Variant* result);
extern operand_evaluator_type vm_operand_evaluator;

// Evaluates n operands in order and stores each as an int into out (DIMENSION sizes in class
// bodies, ADDPROPERTY). RuntimeError 11 when out holds fewer than n entries.
void eval_int_array(VmStack* stack, const Operand* const* operands, size_t n, int* out, size_t outsize);

// --- the seam to the handler search ----------------------------------------------------------

enum RuntimeErrorRecovery : int {
  RECOVERY_PROPAGATE = 0,  // unwind this frame and rethrow
  RECOVERY_CONTINUE = 1,   // go on at the frame's (possibly moved) position
  RECOVERY_HANDLER = 2,    // a handler was found: frame, target and symbol are filled
};

struct how_to_handle_st {
  Variant value;                   // the exception object
  intptr_t target = 0;             // the handler clause's code position
  const VmFrame* frame = nullptr;  // the frame of the handler
  symbol_id_type symbol = 0;       // the CATCH TO variable (0: none)
};

// Offers the stack's last error (copied there, handled flag set) to the handlers. Initially the
// handler search (VmStack::handle_exception, vm/error_handlers.h); tests may install doubles; null
// propagates every error.
using exception_handler_type = RuntimeErrorRecovery (*)(VmStack* stack, how_to_handle_st& how);
extern exception_handler_type vm_exception_handler;

}  // namespace qzbase
