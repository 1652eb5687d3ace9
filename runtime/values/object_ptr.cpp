// object_ptr.cpp - the object handle and its counts.
//
// Every Variant of tag 11, every reference with an owner and every object_ptr share one control
// block per object: `refs` keeps the block, `strong` keeps the object. The strong count is raised
// only by compare-and-swap from a non-zero value, so a dead object is never revived.
#include "values/object_ptr.h"

#include <memory>

#include "values/release_nesting.h"

namespace qzbase {

object_hooks_st object_hooks{};

uint64_t object_ptr_base::increment_strong(object_control_st* control) {
  QZ_TRACE;
  uint64_t count = control->strong.load();
  while (count != 0 && !control->strong.compare_exchange_weak(count, count + 1)) {
  }
  return count;
}

void object_ptr_base::release_control(object_control_st* control) noexcept {
  QZ_TRACE;
  if (control->refs.fetch_sub(1) == 1) delete control;
}

namespace {

struct teardown_st {
  object_control_st* control;
  Object* object;
};

// Runs DESTROY and destroy down the chain, then deletes the object.
void tear_down(void* item, VmStack* stack) {
  auto* t = static_cast<teardown_st*>(item);
  object_control_st* control = t->control;
  Object* obj = t->object;
  try {
    object_hooks.tear_down(obj, stack, stack != nullptr && control->destroyed.load() == 0);
  } catch (...) {
    // The teardown failed: DESTROY is not run again, the object is not deleted, and the
    // teardown's hold is dropped so that the last of the references still held (values taken on
    // the object meanwhile) ends it later.
    control->destroying.exchange(0);
    control->destroyed.exchange(1);
    control->strong.fetch_sub(1);
    throw;
  }
  // Values taken on the object during its teardown keep the control block, not the object.
  control->strong.exchange(0);
  object_hooks.free(obj);
}

// A queued teardown owns its record and one control reference.
void tear_down_queued(void* item, VmStack* stack) {
  std::unique_ptr<teardown_st> t(static_cast<teardown_st*>(item));
  ControlRef guard(t->control);
  tear_down(t.get(), stack);
}

}  // namespace

uint64_t object_ptr_base::release_strong(object_ptr_st* ptr, VmStack* stack) {
  QZ_TRACE;
  object_control_st* control = ptr->control;
  uint64_t count = control->strong.load();
  do {
    if (count == 0) return 0;
  } while (!control->strong.compare_exchange_weak(count, count - 1));
  if (count != 1) return count;

  // The last strong reference: tear the object down unless that is already under way.
  if (control->destroying.load() != 0) return count;
  control->destroying.exchange(1);
  control->strong.exchange(1);  // the teardown's own hold keeps the object usable meanwhile
  if (release_nesting_exceeded()) {
    // Objects nested deeper than the release levels wait in the queue (no native recursion).
    auto queued = std::make_unique<teardown_st>(teardown_st{control, ptr->object});
    control->refs.fetch_add(1);
    queue_release(&tear_down_queued, queued.release(), stack);
    return count;
  }
  teardown_st now{control, ptr->object};
  run_release(&tear_down, &now, stack);
  return count;
}

void object_ptr_base::attach(Object* obj) {
  QZ_TRACE;
  if (control != nullptr) throw_assert_failed();
  object = obj;
  object_control_st*& field = control_of(obj);
  if (field == nullptr) {
    control = new object_control_st{1, 1, 0, 0};
    field = control;
  } else {
    control = field;
    increment_strong(control);
    control->refs.fetch_add(1);
  }
}

void object_ptr_base::copy_from(const object_ptr_st& src) {
  QZ_TRACE;
  if (control != nullptr) throw_assert_failed();
  control = src.control;
  object = src.object;
  if (control != nullptr) {
    increment_strong(control);
    control->refs.fetch_add(1);
  }
}

void object_ptr_base::add_ref() {
  QZ_TRACE;
  if (control == nullptr) throw_assert_failed();
  increment_strong(control);
  control->refs.fetch_add(1);
}

void object_ptr_base::release(VmStack* stack) {
  QZ_TRACE;
  object_control_st* held = control;
  if (held == nullptr) return;
  object_ptr_st ptr{held, object};
  control = nullptr;
  object = nullptr;
  ControlRef guard(held);  // the control reference goes also when the teardown throws
  release_strong(&ptr, stack);
}

Object* object_ptr_base::get_object() const {
  QZ_TRACE;
  if (control == nullptr) return nullptr;
  if (control->strong.load() == 0) throw_assert_failed();
  return object;
}

}  // namespace qzbase
