// object_ptr: attach, copy_from, add_ref, release and get, sharing one control block
// with Variants.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <thread>

#include "fake_object.h"
#include "objects/object.h"
#include "vm/vm_stack.h"

using namespace qzbase;
using qzbase::testing_fakes::FakeObject;
using qzbase::testing_fakes::FakeObjectTest;

namespace {

class ObjectPtr : public FakeObjectTest {};

TEST_F(ObjectPtr, AttachMakesOrSharesTheControlBlock) {
  auto* obj = new FakeObject(&log, "a");
  ObjectPointer first;
  first.attach(obj);
  object_control_st* c = obj->control;
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(first.control, c);
  EXPECT_EQ(c->refs.load(), 1u);
  EXPECT_EQ(c->strong.load(), 1u);
  ObjectPointer second;
  second.attach(obj);
  EXPECT_EQ(second.control, c);
  EXPECT_EQ(c->refs.load(), 2u);
  EXPECT_EQ(c->strong.load(), 2u);
  EXPECT_EQ(first.get(), obj);
  EXPECT_THROW(first.attach(obj), assert_failed_exception);  // not an empty handle
  second.release(&stack);
  EXPECT_TRUE(second.empty());
  EXPECT_EQ(second.get(), nullptr);
  first.release(&stack);
  EXPECT_EQ(log.count("delete a"), 1u);
}

TEST_F(ObjectPtr, LastReleaseDestroysOnTheGivenStack) {
  VmStack* seen = nullptr;
  auto* obj = new FakeObject(&log, "b");
  obj->destroy_member = [&](FakeObject*, VmStack* s) { seen = s; };
  ObjectPointer p(obj);
  p.release(&stack);
  EXPECT_EQ(seen, &stack);
  std::vector<std::string> expected = {"DESTROY b", "destroy b", "delete b"};
  EXPECT_EQ(log.events, expected);
}

TEST_F(ObjectPtr, HandlesAndVariantsShareTheCounts) {
  auto* obj = new FakeObject(&log, "c");
  ObjectPointer p(obj);
  Variant v;
  v.set(p);
  EXPECT_EQ(p.control->strong.load(), 2u);
  Variant w;
  w.set(static_cast<Object*>(obj));
  EXPECT_EQ(p.control->refs.load(), 3u);
  p.release(&stack);
  v.release(&stack);
  EXPECT_EQ(log.count("delete c"), 0u);
  w.release(&stack);
  EXPECT_EQ(log.count("delete c"), 1u);
}

TEST_F(ObjectPtr, CopyAfterDeathStaysDeadAndGetIsABrokenInvariant) {
  Variant keeper;
  auto* obj = new FakeObject(&log, "d");
  obj->destroy_member = [&](FakeObject* self, VmStack*) { keeper.set(static_cast<Object*>(self)); };
  ObjectPointer p(obj);
  p.release(&stack);
  ASSERT_EQ(log.count("delete d"), 1u);
  object_control_st* c = keeper.object.control;
  ObjectPointer dead;
  dead.copy_from(keeper.object);
  EXPECT_EQ(c->strong.load(), 0u);
  EXPECT_EQ(c->refs.load(), 2u);
  EXPECT_THROW(dead.get(), assert_failed_exception);
  ObjectPointer dead2;
  dead2.copy_from(dead);
  dead2.add_ref();  // a dead object gains no strong reference
  EXPECT_EQ(c->strong.load(), 0u);
  EXPECT_EQ(c->refs.load(), 4u);
  c->refs.fetch_sub(1);  // the add_ref's share
  dead2.release(&stack);
  dead.release(&stack);  // releasing still drops refs
  EXPECT_EQ(c->refs.load(), 1u);
  keeper.release(&stack);
}

TEST_F(ObjectPtr, CopyFromIntoANonEmptyHandleIsABrokenInvariant) {
  auto* obj = new FakeObject(&log, "e");
  ObjectPointer p(obj);
  ObjectPointer q(p);
  EXPECT_EQ(p.control->strong.load(), 2u);
  EXPECT_THROW(q.copy_from(p), assert_failed_exception);
  ObjectPointer r;
  r.copy_from(p);
  EXPECT_EQ(p.control->strong.load(), 3u);
  ObjectPointer empty;
  ObjectPointer also_empty;
  also_empty.copy_from(empty);
  EXPECT_TRUE(also_empty.empty());
}

TEST_F(ObjectPtr, RaiiCopiesMovesAndAssignments) {
  auto* obj = new FakeObject(&log, "f");
  {
    ObjectPointer p(obj);
    ObjectPointer q = p;
    ObjectPointer r = std::move(q);
    EXPECT_TRUE(q.empty());
    ObjectPointer s;
    s = r;
    s = s;
    EXPECT_EQ(p.control->strong.load(), 3u);
    EXPECT_EQ(static_cast<FakeObject*>(r.get())->name(), "f");
  }
  EXPECT_EQ(log.count("delete f"), 1u);
}

TEST_F(ObjectPtr, TypedHandle) {
  auto* obj = new FakeObject(&log, "g");
  object_ptr<FakeObject> p(obj);
  EXPECT_EQ(p->name(), "g");
  EXPECT_EQ(p.get(), obj);
}

TEST_F(ObjectPtr, ConcurrentHandlesKeepExactCounts) {
  auto* obj = new FakeObject(&log, "h");
  ObjectPointer p(obj);
  auto work = [&] {
    for (int i = 0; i < 200000; ++i) {
      ObjectPointer q(p);
      ObjectPointer r;
      r.copy_from(q);
      r.release(nullptr);
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(p.control->strong.load(), 1u);
  EXPECT_EQ(p.control->refs.load(), 1u);
}

}  // namespace
