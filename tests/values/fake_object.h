// fake_object.h - a test object class with a DESTROY member, for the Variant, Array and object_ptr
// tests. The fake installs itself as the runner of DESTROY members (Object::destroy_method_runner)
// for the duration of a test, in place of the object model's own.
#pragma once

#include <qzbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "objects/class.h"
#include "objects/object.h"
#include "vm/vm_stack.h"

namespace qzbase::testing_fakes {

// What happened to the fake objects, in order.
struct FakeLog {
  std::mutex lock;
  std::vector<std::string> events;

  void add(const std::string& e) {
    std::lock_guard<std::mutex> g(lock);
    events.push_back(e);
  }
  size_t count(const std::string& e) {
    std::lock_guard<std::mutex> g(lock);
    size_t n = 0;
    for (const auto& x : events) n += x == e;
    return n;
  }
};

// The class of every fake: no members.
inline Class* fake_class() {
  static Class cls{Symbol(), nullptr};
  return &cls;
}

class FakeObject : public Object {
 public:
  FakeObject(FakeLog* log, std::string name) : Object(fake_class()), log_(log), name_(std::move(name)) {}
  ~FakeObject() override { log_->add("delete " + name_); }

  void destroy(VmStack* stack) override {
    log_->add("destroy " + name_);
    if (on_destroy) on_destroy(this, stack);
  }

  const std::string& name() const { return name_; }
  FakeLog* log() const { return log_; }

  // The DESTROY member; null: the class has none.
  std::function<void(FakeObject*, VmStack*)> destroy_member;
  // Extra work of the virtual destroy (for instance throwing).
  std::function<void(FakeObject*, VmStack*)> on_destroy;

 private:
  FakeLog* log_;
  std::string name_;
};

inline void run_fake_destroy_member(Object* obj, VmStack* stack) {
  auto* fake = dynamic_cast<FakeObject*>(obj);
  if (fake == nullptr || !fake->destroy_member) return;
  fake->log()->add("DESTROY " + fake->name());
  fake->destroy_member(fake, stack);
}

// Installs the fake DESTROY runner for one test.
class FakeObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_runner_ = Object::destroy_method_runner;
    Object::destroy_method_runner = run_fake_destroy_member;
  }
  void TearDown() override { Object::destroy_method_runner = saved_runner_; }

  FakeLog log;
  VmStack stack;

 private:
  void (*saved_runner_)(Object*, VmStack*) = nullptr;
};

}  // namespace qzbase::testing_fakes
