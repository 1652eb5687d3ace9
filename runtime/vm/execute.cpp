// execute.cpp - execute_program, execute_expression, UserFunction, Param and Pointer.
#include "vm/execute.h"

#include <new>

#include <memory>
#include <optional>
#include <utility>

#include "vm/code_array.h"
#include "vm/error_handlers.h"
#include "vm/frame_inline.h"
#include "vm/interpreter.h"
#include "vm/program.h"

namespace qzbase {

exception_handler_type vm_exception_handler = vm_handle_exception;

Function::~Function() = default;

UserFunction::~UserFunction() { delete program_; }

void UserFunction::exec(VmStack* stack, size_t nargs, bool extra, Variant* result) const {
  QZ_TRACE;
  stack->last_call_nargs = nargs;
  execute_program(stack, nargs, extra, program_, result);
}

code_position unwind_code() {
  static const VmOp* const* code = [] {
    auto** c = new_code_array(2);
    if (c == nullptr) throw std::bad_alloc();
    c[0] = new VmOpUnwind();
    return const_cast<const VmOp* const*>(c);
  }();
  return code;
}

Variant* Param(VmStack* stack, size_t n) {
  QZ_TRACE;
  return &(stack->native_arg_top - n)->value;
}

Variant* Pointer(VmStack* stack, size_t n) {
  QZ_TRACE;
  return (stack->native_arg_top - n)->value.reference.target;
}

operand_evaluator_type vm_operand_evaluator = nullptr;

void eval_int_array(VmStack* stack, const Operand* const* operands, size_t n, int* out, size_t outsize) {
  QZ_TRACE;
  if (outsize < n) throw RuntimeError(11);
  for (size_t i = 0; i < n; ++i) {
    if (vm_operand_evaluator == nullptr) throw RuntimeError(1001, "Operand evaluation");
    Variant value;
    try {
      vm_operand_evaluator(stack, operands[i], &value);
      out[i] = static_cast<int>(value);
    } catch (...) {
      value.release(stack);
      throw;
    }
    value.release(stack);
  }
}

namespace {

enum class Rethrow { none, error, pending_throw, quit };

// What execute_program raises once the frame is released.
// Kept to three words: every call sets one up, and only a call an error leaves fills it.
struct rethrow_st {
  Rethrow choice = Rethrow::none;
  std::unique_ptr<RuntimeError> error;  // copied when chosen: DESTROY code may replace the stack's
  std::unique_ptr<RuntimeThrow> pending;
  QuitKind quit = QUIT_QUIT;
};

// Points the frame at the unwind code (keeping the position where it stopped).
void start_unwind(VmFrame& frame) {
  code_position unwind = unwind_code();
  if (frame.position != unwind) {
    frame.saved_position = frame.position;
    frame.position = unwind;
  }
}

// Stores a copy of value in the CATCH TO variable (none for symbol 0).
void store_catch_variable(VmStack* stack, symbol_id_type symbol, const Variant& value) {
  if (symbol == 0) return;
  Memvar* m;
  stack->alloc_undefined_memvar(symbol, &m);
  m->value.release(stack);
  value.copy(&m->value);
}

// The same, handing value itself over (it is left empty once stored).
void move_to_catch_variable(VmStack* stack, symbol_id_type symbol, Variant& value) {
  if (symbol == 0) return;
  Memvar* m;
  stack->alloc_undefined_memvar(symbol, &m);
  m->value.release(stack);
  m->value = std::move(value);
}

// A RuntimeError caught in the frame.
void on_error(VmStack* stack, VmFrame& frame, const RuntimeError& e, rethrow_st& r) {
  if (r.choice != Rethrow::none) {  // already unwinding: the chosen rethrow stands
    start_unwind(frame);
    return;
  }
  if (e.handled) {
    r.choice = Rethrow::error;
    r.error = std::make_unique<RuntimeError>(e);
    start_unwind(frame);
    return;
  }
  stack->last_error = e;
  stack->last_error.handled = true;
  how_to_handle_st how;
  RuntimeErrorRecovery recovery = vm_exception_handler != nullptr ? vm_exception_handler(stack, how) : RECOVERY_PROPAGATE;
  switch (recovery) {
    case RECOVERY_HANDLER:
      if (how.frame == &frame) {
        move_to_catch_variable(stack, how.symbol, how.value);
        frame.position = reinterpret_cast<code_position>(how.target);
      } else {
        stack->pending_throw = RuntimeThrow(how.value, const_cast<VmFrame*>(how.frame), how.symbol,
                                            static_cast<size_t>(how.target));
        r.choice = Rethrow::pending_throw;
        r.pending = std::make_unique<RuntimeThrow>(stack->pending_throw);
        start_unwind(frame);
      }
      break;
    case RECOVERY_CONTINUE:
      break;
    case RECOVERY_PROPAGATE:
      r.choice = Rethrow::error;
      r.error = std::make_unique<RuntimeError>(stack->last_error);
      start_unwind(frame);
      break;
    default:
      throw_assert_failed();
  }
  how.value.release(stack);
}

// A RuntimeThrow caught in the frame.
void on_throw(VmStack* stack, VmFrame& frame, const RuntimeThrow& t, rethrow_st& r) {
  if (r.choice != Rethrow::none) {
    start_unwind(frame);
    return;
  }
  // Always taken over: a pending throw left from an earlier run (one that never arrived) may name
  // a frame at the very address of a frame now running, and would pass for this one.
  stack->pending_throw = t;
  if (t.target_frame == &frame) {
    store_catch_variable(stack, t.catch_symbol, t.value);
    stack->pending_throw.value.release(stack);
    stack->pending_throw.target_frame = nullptr;  // arrived: nothing is pending any more
    frame.position = reinterpret_cast<code_position>(t.target_position);
    return;
  }
  r.choice = Rethrow::pending_throw;
  r.pending = std::make_unique<RuntimeThrow>(stack->pending_throw);
  start_unwind(frame);
}

}  // namespace

namespace {

// True when the interpreter of a frame called the running command directly and holds nothing
// handed back yet.
bool may_hand_back(const VmStack* stack) {
  return stack->error_deferral_top != nullptr && stack->error_deferral_top == stack->native_arg_top &&
         stack->deferred == VmStack::Deferred::none;
}

}  // namespace

bool vm_defer_error(VmStack* stack, RuntimeError& e) {
  QZ_TRACE;
  if (!may_hand_back(stack)) return false;
  // Taken member by member: the texts change hands without being copied.
  RuntimeError& d = stack->deferred_error;
  d.code = e.code;
  d.message = std::move(e.message);
  d.detail = std::move(e.detail);
  d.handled = e.handled;
  stack->deferred = VmStack::Deferred::error;
  return true;
}

bool vm_defer_throw(VmStack* stack, const RuntimeThrow& t) {
  QZ_TRACE;
  if (!may_hand_back(stack)) return false;
  stack->deferred_throw = t;
  stack->deferred = VmStack::Deferred::thrown;
  return true;
}

void execute_program(VmStack* stack, size_t nargs, bool extra, const Program* program, Variant* result) {
  QZ_TRACE;
  const bool hand_back = stack->caller_takes_interrupt;  // for this call only
  stack->caller_takes_interrupt = false;
  VmFrame frame;
  // 94, 103 (nothing changed), 9010 (restored)
  if (!stack->enter_frame_quick(&frame, program, nargs, extra)) stack->enter_frame(&frame, program, nargs, extra);
  rethrow_st r;
  try {
    for (;;) {
      try {
        vm_execute_opcode(stack, frame.position, result, true);
      } catch (const RuntimeQuit& q) {
        if (r.choice == Rethrow::none) {
          r.choice = Rethrow::quit;
          r.quit = q.kind;
        }
        start_unwind(frame);
        continue;
      } catch (const RuntimeError& e) {
        on_error(stack, frame, e, r);
        continue;
      } catch (const RuntimeThrow& t) {
        on_throw(stack, frame, t, r);
        continue;
      } catch (const std::bad_alloc&) {
        // Memory ran out: the language's error, which TRY can catch.
        on_error(stack, frame, RuntimeError(43), r);
        continue;
      }
      if (__builtin_expect(stack->deferred == VmStack::Deferred::none, 1)) break;
      // A command's error or THROW handed back without unwinding: taken as if it had been thrown
      // there.
      if (stack->deferred == VmStack::Deferred::error) {
        RuntimeError e(std::move(stack->deferred_error));
        stack->deferred = VmStack::Deferred::none;
        on_error(stack, frame, e, r);
      } else {
        RuntimeThrow t(stack->deferred_throw);
        stack->deferred_throw.value.release(stack);
        stack->deferred = VmStack::Deferred::none;
        on_throw(stack, frame, t, r);
      }
    }
    if (stack->sp != stack->frame_local_base) throw_assert_failed();
  } catch (const assert_failed_exception&) {
    stack->leave_frame(&frame);  // a broken invariant: the registers only
    throw;
  } catch (...) {
    // Any other exception (std::bad_alloc, ...): the frame is released before it passes.
    try {
      stack->end_frame(&frame);
    } catch (...) {
    }
    throw;
  }
  // The loop has returned: the teardown is finished whatever DESTROY code raises, and what it
  // raises goes to the caller (a chosen rethrow wins over it).
  if (r.choice == Rethrow::none) {
    if (!stack->end_frame_quick(&frame)) stack->end_frame(&frame);
    return;
  }
  try {
    stack->end_frame(&frame);
  } catch (...) {
  }
  // The calling frame's interpreter takes an error or THROW without the unwinding of a rethrow.
  if (hand_back && stack->deferred == VmStack::Deferred::none) {
    if (r.choice == Rethrow::error) {
      stack->deferred_error = *r.error;
      stack->deferred = VmStack::Deferred::error;
      return;
    }
    if (r.choice == Rethrow::pending_throw) {
      stack->deferred_throw = *r.pending;
      stack->deferred = VmStack::Deferred::thrown;
      return;
    }
  }
  switch (r.choice) {
    case Rethrow::error: throw RuntimeError(*r.error);
    case Rethrow::pending_throw: throw RuntimeThrow(*r.pending);
    case Rethrow::quit: throw RuntimeQuit(r.quit);
    case Rethrow::none: break;
  }
}

void execute_expression(VmStack* stack, const Program* program, Variant* result) {
  QZ_TRACE;
  if (program->slot_count() != 0) throw_assert_failed();
  Memvar* before = stack->sp;
  code_position position = program->code();
  vm_execute_opcode(stack, position, result);
  if (stack->sp != before) throw_assert_failed();
}

}  // namespace qzbase
