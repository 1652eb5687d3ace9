// run.cpp - running program files and command lines on the main stack; the stacks of hosts; SET
// PROCEDURE.
//
// Deliberate choices (run_test.cpp):
// - argc and argv are handed to parameters named so; when both are declared, the call passes as
//   many arguments as the later of the two slots needs, whatever the order of declaration (taking
//   the last one's offset would leave the frame one slot short when argv comes first).
// - Whatever a run leaves on the main stack (the pushed arguments, a failed call's slots) is
//   popped before run_program returns, so runs do not accumulate slots.
#include <qzbase.h>

#include <algorithm>
#include <memory>

#include "compiler/build_input.h"
#include "host/module_cache.h"
#include "host/runtime.h"
#include "vm/debugger.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// Installs a debugger for one run and calls its run hooks; the previous one comes back on every
// exit.
class RunDebuggerScope {
 public:
  RunDebuggerScope(VmStack* stack, ProgramDebugger* debugger) : stack_(stack), saved_(stack->debugger) {
    stack_->debugger = debugger;
    debugger->on_run_start(stack_);
  }
  ~RunDebuggerScope() {
    try {
      stack_->debugger->on_run_end(stack_);
    } catch (...) {
    }
    stack_->debugger = saved_;
  }
  RunDebuggerScope(const RunDebuggerScope&) = delete;
  RunDebuggerScope& operator=(const RunDebuggerScope&) = delete;

 private:
  VmStack* stack_;
  ProgramDebugger* saved_;
};

// The argument slot of a parameter of program named name (with the new frame's argument top at
// top), pushing the stack down to it; null when the program has no such parameter. nargs grows
// to cover the slot.
Variant* parameter_slot(VmStack* stack, const Program* program, Memvar* top, const char* name, size_t* nargs) {
  Symtable* symtable = stack->get_symtable();
  symbol_id_type symbol = 0;
  if (symtable == nullptr || !symtable->find(String(name), &symbol)) return nullptr;
  auto it = program->local_offsets().find(symbol);
  if (it == program->local_offsets().end()) return nullptr;
  size_t offset = static_cast<size_t>(it->second);
  if (offset == 0 || offset > program->parameter_count()) return nullptr;
  Memvar* slot = top - offset;
  while (stack->sp > slot) stack->push();
  *nargs = std::max(*nargs, offset);
  return &slot->value;
}

}  // namespace

VmStack* Runtime::get_main_stack() {
  QZ_TRACE;
  if (priv->main_stack == nullptr) priv->main_stack = new VmStack(this, 65536, 8192);
  return priv->main_stack;
}

void Runtime::load_module(const String& name, VmStack* stack, const Module** out) {
  QZ_TRACE;
  *out = priv->program_cache.load_from_disk(stack, name, CACHE_UNLESS_OUTDATED);
}

int Runtime::run_program(const String& name, int argc, const char* const* argv) {
  QZ_TRACE;
  VmStack* stack = get_main_stack();
  NoProgramDebugger debugger;
  RunDebuggerScope scope(stack, &debugger);
  Memvar* mark = stack->sp;
  try {
    const Module* module = nullptr;
    load_module(name, stack, &module);
    const UserFunction* entry = module->entry;
    if (entry == nullptr) return 0;
    const Program* program = entry->program();
    size_t nargs = 0;
    if (Variant* slot = parameter_slot(stack, program, mark, "argc", &nargs)) slot->set_integer(argc);
    if (Variant* slot = parameter_slot(stack, program, mark, "argv", &nargs)) {
      Array* array = slot->dimension(stack, static_cast<size_t>(std::max(argc, 0)), 0);
      for (int i = 0; i < argc; ++i) {
        Variant* element = array->write(stack, static_cast<size_t>(i) + 1);
        element->release(stack);
        element->set_string(String(argv[i]));
      }
    }
    Variant result;
    try {
      entry->exec(stack, nargs, false, &result);
    } catch (...) {
      result.release(stack);
      throw;
    }
    result.release(stack);
    stack->release_stack_to(mark);
    return 0;
  } catch (const RuntimeQuit&) {
    stack->release_stack_to(mark);
    return 0;
  } catch (const RuntimeError& error) {
    stack->release_stack_to(mark);
    get_screen()->errendl(error.message);
    return error.code;
  }
}

int Runtime::run_command(String text) {
  QZ_TRACE;
  VmStack* stack = get_main_stack();
  BuildInput input(stack);
  input.import_library(builtin_library());
  Memvar* mark = stack->sp;
  Variant result;
  std::unique_ptr<Program> program;
  try {
    program.reset(input.build_command(text, nullptr));
    execute_expression(stack, program.get(), &result);
    result.release(stack);
    return 0;
  } catch (const RuntimeError& error) {
    program.reset();
    result.release(stack);
    format_build_error(input, text, get_screen());
    get_screen()->errendl(error.message);
    stack->release_stack_to(mark);
    return error.code;
  } catch (...) {
    result.release(stack);
    throw;
  }
}

void Runtime::set_procedure_to(VmStack* stack, String file, bool additive) {
  QZ_TRACE;
  if (!additive) set_procedure_to_null();
  priv->procedure_cache.load_from_disk(stack, file, CACHE_UNLESS_OUTDATED, true);
}

std::vector<String> Runtime::procedure_entries() const {
  QZ_TRACE;
  return priv->procedure_cache.keys();
}

void Runtime::set_procedure_to_null() {
  QZ_TRACE;
  priv->procedure_cache.clear();
}

const Module* Runtime::load_do_module(VmStack* stack, const String& name) {
  QZ_TRACE;
  return priv->call_cache.load_from_disk(stack, name, CACHE_UNLESS_OUTDATED, true);
}

int RunProgram(Runtime* runtime, const String& name) {
  QZ_TRACE;
  return runtime->run_program(name, 0, nullptr);
}

void RunCommand(Runtime* runtime, const String& text) {
  QZ_TRACE;
  runtime->run_command(text);
}

void RunScript(Runtime* runtime, const String& text) {
  QZ_TRACE;
  runtime->run_command(text);
}

int GetMainStack(Runtime* runtime, VmStack** out) {
  QZ_TRACE;
  *out = runtime->get_main_stack();
  return 0;
}

int CreateStack(Runtime* runtime, size_t size, VmStack** out) {
  QZ_TRACE;
  *out = new VmStack(runtime, size, size);
  return 0;
}

int ReleaseStack(VmStack* stack) {
  QZ_TRACE;
  delete stack;
  return 0;
}

}  // namespace qzbase
