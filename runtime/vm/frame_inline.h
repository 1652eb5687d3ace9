// frame_inline.h - the common start and end of a call, inline in the code that makes calls.
#pragma once

#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

inline void VmStack::fill_frame(VmFrame* f, const Program* program, uint64_t depth) {
  f->depth = depth;
  f->previous = frame;
  f->position = program->code();
  f->saved_position = nullptr;
  f->program = program;
  f->handlers = nullptr;
  f->caller_arg_top = frame_arg_top;
  f->caller_local_base = frame_local_base;
  f->caller_sp = sp;
  f->caller_undo_top = undo_top;
  f->caller_nargs = frame_nargs;
  f->stack = this;
  f->caller_frame_memvars = frame_memvars;
}

// Checks everything enter_frame raises on before changing a register: on false the full
// enter_frame runs and raises.
inline bool VmStack::enter_frame_quick(VmFrame* f, const Program* program, size_t nargs, bool extra) {
  if (nargs > program->parameter_count()) return false;
  uint64_t depth = frame != nullptr ? frame->depth + 1 : 1;
  if (depth > max_frame_depth) return false;
  size_t passed = nargs + (extra ? 1 : 0);
  size_t wanted = program->slot_count();
  size_t reserve = wanted > passed ? wanted - passed : 0;
  if (static_cast<size_t>(sp - slots) < reserve) return false;
  fill_frame(f, program, depth);
  frame_nargs = nargs;
  frame = f;
  if (frame_memvars != nullptr) bindings_changed();  // the caller's LOCALs by name are out of sight
  frame_memvars = nullptr;
  frame_arg_top = sp + passed;
  sp -= reserve;
  frame_local_base = sp;
  return true;
}

// No undo record, no frame memvars, plain values in the slots: nothing of the release can run
// code. On false the full end_frame finishes (the plain slots already released stay released).
inline bool VmStack::end_frame_quick(VmFrame* f) {
  if (undo_top != f->caller_undo_top || frame_memvars != nullptr) return false;
  Memvar* s = sp;
  Memvar* end = f->caller_sp;
  while (s < end && s->value.tag < VT_STRING) {
    s->value.tag = VT_FALSE;
    s->flag = MEMVAR_NONE;
    ++s;
  }
  sp = s;
  if (s != end) return false;
  if (f->handlers != nullptr || f->caller_frame_memvars != nullptr) {
    leave_frame(f);
    return true;
  }
  frame_arg_top = f->caller_arg_top;
  frame_local_base = f->caller_local_base;
  frame = f->previous;
  frame_nargs = f->caller_nargs;
  return true;
}

}  // namespace qzbase
