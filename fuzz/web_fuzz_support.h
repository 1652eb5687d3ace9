// web_fuzz_support.h - one runtime with the built-in library on a silent screen, shared by every
// input of a fuzz target over the web text functions, and calls of their entry points.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "vm/calls.h"
#include "vm/vm_stack.h"

namespace qzbase::web_fuzz {

struct shared_runtime_st {
  NullScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  VmStack* stack = new VmStack(runtime, 256, 64);
  ~shared_runtime_st() {
    delete stack;
    ReleaseRuntime(runtime);
  }
};

inline VmStack* shared_stack() {
  static shared_runtime_st shared;
  return shared.stack;
}

// Calls fn with the arguments; the result (released by the caller) or the RuntimeError it raised.
inline Variant call(VmStack* stack, native_function_type fn, std::initializer_list<const Variant*> args) {
  Memvar* mark = stack->sp;
  stack->push();
  for (const Variant* a : args) stack->push()->value.set_variant(a);
  Variant result;
  try {
    call_native_function(stack, fn, args.size());
    result = static_cast<Variant&&>(stack->sp->value);
  } catch (...) {
    stack->release_stack_to(mark);
    throw;
  }
  stack->release_stack_to(mark);
  return result;
}

// A RuntimeError outside the codes allowed is a fault.
inline void require_code(const RuntimeError& e, std::initializer_list<int> allowed) {
  for (int code : allowed) {
    if (e.code == code) return;
  }
  std::abort();
}

}  // namespace qzbase::web_fuzz
