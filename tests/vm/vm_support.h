// vm_support.h - what the virtual-machine tests share: a Runtime with its VM state, and probe
// objects whose DESTROY member runs test code on the stack.
#pragma once

#include <qzbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "objects/object.h"
#include "vm/program.h"
#include "vm/runtime_vm.h"
#include "vm/vm_stack.h"

namespace qzbase::testing_vm {

// A Runtime on a NullScreen whose VM state is attached (its own when it attaches one itself).
class TestRuntime {
 public:
  TestRuntime() : runtime_(&screen_) {
    state_ = find_runtime_vm(&runtime_);
    if (state_ == nullptr) {
      own_ = std::make_unique<RuntimeVmState>();
      attach_runtime_vm(&runtime_, own_.get());
      state_ = own_.get();
    }
  }
  ~TestRuntime() {
    if (own_) detach_runtime_vm(&runtime_);
  }
  TestRuntime(const TestRuntime&) = delete;
  TestRuntime& operator=(const TestRuntime&) = delete;

  Runtime* get() { return &runtime_; }
  Symtable* symtable() { return &state_->symtable; }
  symbol_id_type sym(const char* name) { return state_->symtable.symbolize(name); }

 private:
  NullScreen screen_;
  Runtime runtime_;
  std::unique_ptr<RuntimeVmState> own_;
  RuntimeVmState* state_ = nullptr;
};

// What happened to the probes, in order: "DESTROY a", "destroy a", "free a".
using ProbeLog = std::vector<std::string>;

inline size_t count_events(const ProbeLog& log, const std::string& e) {
  size_t n = 0;
  for (const auto& x : log) n += x == e;
  return n;
}

// The class of every probe: no members.
inline Class* probe_class() {
  static Class cls{Symbol(), nullptr};
  return &cls;
}

class ProbeObject : public Object {
 public:
  ProbeObject(ProbeLog* log, std::string name) : Object(probe_class()), log_(log), name_(std::move(name)) {}
  ~ProbeObject() override { log_->push_back("free " + name_); }
  void destroy(VmStack* stack) override {
    log_->push_back("destroy " + name_);
    Object::destroy(stack);
  }

  // The DESTROY member's body; none when empty.
  std::function<void(VmStack*)> destroy_member;
  // Whether the member runs in a frame of its own, as compiled methods do (a native member may
  // run on the caller's frame).
  bool own_frame = true;

  ProbeLog* log() const { return log_; }
  const std::string& name() const { return name_; }

 private:
  ProbeLog* log_;
  std::string name_;
};

// A program without code or slots: the frame a faked member runs in.
inline const Program* empty_program() {
  static const Program program(String("EMPTY"), nullptr, 0, 0, {}, nullptr, nullptr);
  return &program;
}

// Runs fn in a new frame of program (with nargs arguments already pushed) and ends the frame.
template <class F>
void in_frame(VmStack* stack, const Program* program, size_t nargs, F&& fn) {
  VmFrame frame;
  stack->enter_frame(&frame, program, nargs, false);
  try {
    fn();
  } catch (...) {
    try {
      stack->end_frame(&frame);
    } catch (...) {
    }
    throw;
  }
  stack->end_frame(&frame);
}

// Runs a probe's DESTROY member on the stack (the objects subsystem's job, faked here).
inline void run_probe_destroy(Object* obj, VmStack* stack) {
  auto* probe = dynamic_cast<ProbeObject*>(obj);
  if (probe == nullptr) return;
  probe->log()->push_back("DESTROY " + probe->name());
  if (!probe->destroy_member) return;
  if (probe->own_frame) {
    in_frame(stack, empty_program(), 0, [&] { probe->destroy_member(stack); });
  } else {
    probe->destroy_member(stack);
  }
}

// Installs the probe DESTROY runner for the test's duration.
class ProbeRunnerScope {
 public:
  ProbeRunnerScope() : saved_(Object::destroy_method_runner) { Object::destroy_method_runner = run_probe_destroy; }
  ~ProbeRunnerScope() { Object::destroy_method_runner = saved_; }
  ProbeRunnerScope(const ProbeRunnerScope&) = delete;
  ProbeRunnerScope& operator=(const ProbeRunnerScope&) = delete;

 private:
  void (*saved_)(Object*, VmStack*);
};

// A new probe as a Variant (one reference, held by the Variant).
inline ProbeObject* set_probe(Variant* v, ProbeLog* log, const std::string& name,
                              std::function<void(VmStack*)> destroy_member = {}) {
  auto* p = new ProbeObject(log, name);
  p->destroy_member = std::move(destroy_member);
  v->set_new_object(p);
  return p;
}

// The language's assignment to a name: the variable an assignment writes (created as a PRIVATE of
// the running frame when unbound), released and set.
inline void assign(VmStack* stack, symbol_id_type symbol, const Variant& value) {
  Memvar* m;
  stack->alloc_undefined_memvar(symbol, &m);
  m->value.release(stack);
  value.copy(&m->value);
}

inline void assign_int(VmStack* stack, symbol_id_type symbol, int v) {
  Variant value;
  value.set_integer(v);
  assign(stack, symbol, value);
}

}  // namespace qzbase::testing_vm
