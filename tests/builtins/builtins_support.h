// builtins_support.h - a runtime on a capturing screen, and calls of entry points with arguments.
#pragma once

#include <gtest/gtest.h>
#include <qzbase.h>

#include "capture_screen.h"

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "vm/calls.h"
#include "vm/vm_stack.h"

namespace qzbase {
namespace testing_builtins {

using testing_screen::CaptureScreen;

// CreateRuntime / ReleaseRuntime around one stack.
class RuntimeFixture {
 public:
  RuntimeFixture() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 256, 64)) {}
  ~RuntimeFixture() {
    delete stack;
    ReleaseRuntime(runtime);
  }
  CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack;
};

// Pushes one argument; a reference is pushed as a reference to the same target.
inline void push_argument(VmStack* stack, const Variant& a) {
  Memvar* slot = stack->push();
  if (a.tag == VT_REFERENCE) {
    a.reference.target->ref(stack, &slot->value, nullptr);
  } else {
    slot->value.set_variant(&a);
  }
}

// Pushes a result slot and the arguments (argument 1 first), calls the function, and hands back
// the result (the caller releases it).
inline Variant call(VmStack* stack, native_function_type fn, const std::vector<Variant>& args) {
  Memvar* mark = stack->sp;
  stack->push();
  for (const Variant& a : args) push_argument(stack, a);
  Variant result;
  try {
    call_native_function(stack, fn, args.size());
    result = std::move(stack->sp->value);
  } catch (...) {
    stack->release_stack_to(mark);
    throw;
  }
  stack->release_stack_to(mark);
  return result;
}

inline void run(VmStack* stack, native_command_type fn, const std::vector<Variant>& args) {
  Memvar* mark = stack->sp;
  for (const Variant& a : args) push_argument(stack, a);
  try {
    call_native_command(stack, fn, args.size());
  } catch (...) {
    stack->release_stack_to(mark);
    throw;
  }
  stack->release_stack_to(mark);
}

inline Variant str(const char* s) {
  Variant v;
  v.set_string(String(s));
  return v;
}
inline Variant integer(long n) {
  Variant v;
  v.set_integer(n);
  return v;
}
inline Variant null_value() {
  Variant v;
  v.set_null();
  return v;
}

// The code and detail of the RuntimeError fn raises (code 0 when none).
template <typename F>
std::pair<int, std::string> error_of(F fn) {
  try {
    fn();
  } catch (const RuntimeError& e) {
    return {e.code, e.detail.u8str()};
  }
  return {0, ""};
}

// Runs check where a permission failure can happen: as root (who may read and write every
// file) in a child process that has given up its privileges, else in this process. True when
// check returned true.
template <typename F>
bool as_unprivileged(F check) {
  if (geteuid() != 0) return check();
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    _exit(check() ? 0 : 101);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace testing_builtins
}  // namespace qzbase
