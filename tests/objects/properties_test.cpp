// Added properties, the end of an object's life, and threads sharing one object.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "compiler/build_input.h"
#include "frontend/operands.h"
#include "objects_support.h"

namespace qzbase {
namespace {

using namespace testing_objects;

Object* plain_factory(VmStack*, Class* cls) { return new Object(cls); }

// Member names of an object in enumeration order, with their indexes.
std::vector<std::string> member_list(Object* obj) {
  std::vector<std::string> out;
  obj->enum_properties(
      [](void* ctx, Object*, symbol_id_type, const ClassMember& m) {
        static_cast<std::vector<std::string>*>(ctx)->push_back(m.name.u8str() + "@" + std::to_string(m.index));
        return 0;
      },
      &out);
  return out;
}

std::unique_ptr<Operand> parse(VmStack* stack, const char* text) {
  BuildInput input(stack);
  return std::unique_ptr<Operand>(input.parse_expression(String(text)));
}

TEST(AddedProperties, AddReadWriteRemoveAndRenumber) {
  RuntimeFixture f;
  Variant v;
  ObjectPointer p = CreateObject(f.stack, String("Empty"), nullptr, 0);
  Object* obj = p.get();
  EXPECT_FALSE(obj->has_own_members());
  Variant one = integer(1);
  obj->addproperty(f.stack, String("alpha"), &one);
  obj->addproperty(f.stack, String("beta"), nullptr);
  obj->addproperty(f.stack, f.sym("gamma"), &one);
  EXPECT_TRUE(obj->has_own_members());
  EXPECT_EQ(member_list(obj), (std::vector<std::string>{"ALPHA@0", "BETA@1", "GAMMA@2"}));
  EXPECT_EQ(show(read(f.stack, obj, f.sym("alpha"))), "1");
  EXPECT_EQ(show(read(f.stack, obj, f.sym("beta"))), ".F.");
  assign(f.stack, obj, f.sym("beta"), text("b"));
  EXPECT_EQ(show(read(f.stack, obj, f.sym("BETA"))), "b");
  // Adding a name again assigns it through its setter.
  Variant two = integer(2);
  obj->addproperty(f.stack, String("Alpha"), &two);
  EXPECT_EQ(show(read(f.stack, obj, f.sym("alpha"))), "2");
  EXPECT_EQ(member_list(obj).size(), 3u);

  obj->removeproperty(f.stack, String("alpha"));
  EXPECT_EQ(member_list(obj), (std::vector<std::string>{"BETA@0", "GAMMA@1"}));
  EXPECT_EQ(error_of([&] { Variant r = read(f.stack, obj, f.sym("alpha")); }), std::make_pair(1734, std::string("ALPHA")));
  EXPECT_EQ(error_of([&] { obj->removeproperty(f.stack, String("alpha")); }), std::make_pair(1760, std::string("alpha")));
  EXPECT_EQ(error_of([&] { obj->removeproperty(f.stack, String("never_named_anywhere")); }),
            std::make_pair(1760, std::string("never_named_anywhere")));
  // A reference to an added property gives nothing, which the interpreter refuses.
  Variant r;
  obj->virtual_access_ref(f.stack, f.sym("beta"), 0, &r);
  EXPECT_EQ(r.tag, VT_FALSE);
  p.release(f.stack);
}

TEST(AddedProperties, OverAClassMemberWithASetterTheValueIsAssigned) {
  RuntimeFixture f;
  ObjectPointer p = CreateObject(f.stack, String("Custom"), nullptr, 0);
  Object* obj = p.get();
  Variant five = integer(5);
  obj->addproperty(f.stack, String("Height"), &five);
  EXPECT_FALSE(obj->has_own_members());
  EXPECT_EQ(show(read(f.stack, obj, f.sym("height"))), "5");
  // A read-only member has no setter: the added property is recorded, the class member keeps
  // its name in the map.
  EXPECT_EQ(error_of([&] { obj->removeproperty(f.stack, String("Width")); }), std::make_pair(1760, std::string("Width")));
  p.release(f.stack);
}

TEST(AddedProperties, ByOperand) {
  RuntimeFixture f;
  ObjectPointer p = CreateObject(f.stack, String("Custom"), nullptr, 0);
  Object* obj = p.get();
  Variant ignored = integer(9);
  struct Case {
    const char* text;
    int error;
    const char* shape;  // rows x columns of the new array, or the plain value
  } cases[] = {
      {"plain", 0, "9"},   {"grid(2, 3)", 0, "2x3"}, {"row(4)", 0, "4x0"}, {"Height(2)", 1001, nullptr},
      {"1 + 2", 11, nullptr}, {"'text'", 11, nullptr}, {"a.b", 11, nullptr},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Operand> op = parse(f.stack, c.text);
    auto e = error_of([&] { obj->addproperty(f.stack, op.get(), &ignored); });
    EXPECT_EQ(e.first, c.error) << c.text << " kind " << op->kind;
    if (c.error != 0) continue;
    std::string name(c.text);
    name = name.substr(0, name.find('('));
    Variant value = read(f.stack, obj, f.sym(name.c_str()));
    if (value.tag == VT_ARRAY) {
      EXPECT_EQ(std::to_string(value.array.rows()) + "x" + std::to_string(value.array.columns()), c.shape) << c.text;
    } else {
      EXPECT_EQ(show(value), c.shape) << c.text;
    }
    value.release(f.stack);
  }
  p.release(f.stack);
}

TEST(AddedProperties, ArrayElementsReadAndWriteThroughIndexes) {
  RuntimeFixture f;
  ObjectPointer p = CreateObject(f.stack, String("Empty"), nullptr, 0);
  Object* obj = p.get();
  std::unique_ptr<Operand> op = parse(f.stack, "cells(2, 2)");
  obj->addproperty(f.stack, op.get(), nullptr);
  symbol_id_type cells = f.sym("cells");
  // cells(2, 1) = 21: the object, the value, then the indexes.
  Memvar* mark = f.stack->sp;
  f.stack->push()->value.set(obj);
  integer(21).copy(&f.stack->push()->value);
  integer(2).copy(&f.stack->push()->value);
  integer(1).copy(&f.stack->push()->value);
  obj->virtual_assign(f.stack, cells, 3);
  f.stack->release_stack_to(mark);
  // A copy taken before keeps its own elements.
  f.stack->push()->value.set(obj);
  integer(2).copy(&f.stack->push()->value);
  integer(1).copy(&f.stack->push()->value);
  Variant r;
  obj->virtual_access(f.stack, cells, 2, &r);
  f.stack->release_stack_to(mark);
  EXPECT_EQ(show(r), "21");
  r.release(f.stack);
  p.release(f.stack);
}

// DESTROY members of the tests: count runs, store THIS, raise.
std::atomic<int> destroy_runs{0};
Variant* kept_this = nullptr;
bool destroy_raises = false;
void destroy_member(VmStack* stack, size_t nargs, Variant*) {
  ++destroy_runs;
  EXPECT_EQ(nargs, 0u);
  EXPECT_EQ(stack->method_context.mode, static_cast<uint32_t>(ACCESS_CALL));
  EXPECT_EQ(stack->method_context.member, symbol_DESTROY);
  if (kept_this != nullptr) kept_this->set(stack->method_context.object);
  if (destroy_raises) throw RuntimeError(1098, String("from DESTROY"));
}
void probe_getter(VmStack*, size_t, Variant* result) { result->set_integer(1); }

TEST(EndOfLife, DestroyRunsOnceAndAReferenceTakenThereReadsAsNoObject) {
  for (bool raises : {false, true}) {
    RuntimeFixture f;
    Class* cls = f.make_class("Mortal",
                              {{"destroy", 1, nullptr, nullptr, destroy_member}, {"probe", 1, probe_getter, nullptr, nullptr}},
                              plain_factory);
    destroy_runs = 0;
    destroy_raises = raises;
    Variant kept;  // a PUBLIC that DESTROY stores THIS in
    kept_this = &kept;
    Variant v;
    Object* obj = new_value(f.stack, cls, &v);
    cls->add_instance(obj);
    Variant dummy = integer(3);
    obj->addproperty(f.stack, String("extra"), &dummy);
    Memvar* sp = f.stack->sp;
    auto e = error_of([&] { v.release(f.stack); });
    EXPECT_EQ(e.first, raises ? 1098 : 0);
    EXPECT_EQ(f.stack->sp, sp);
    EXPECT_EQ(destroy_runs.load(), 1);
    EXPECT_EQ(kept.tag, VT_OBJECT);
    if (!raises) {
      // The object is gone: the value reads as no object and member access is 1924.
      EXPECT_TRUE(kept.is_empty_object_reference());
      EXPECT_EQ(kept.vartype().u8str(), "X");
      EXPECT_EQ(error_of([&] { (void)static_cast<Object*>(kept); }).first, 1924);
      EXPECT_EQ(cls->instance_count(), 0u);
    } else {
      // The failed teardown left the object to the value DESTROY stored; releasing that ends it
      // without a second DESTROY.
      EXPECT_FALSE(kept.is_empty_object_reference());
    }
    kept_this = nullptr;
    kept.release(f.stack);
    EXPECT_EQ(destroy_runs.load(), 1);
    EXPECT_EQ(cls->instance_count(), 0u);
  }
  destroy_raises = false;
}

TEST(EndOfLife, ReleasingWithoutAStackSkipsDestroy) {
  RuntimeFixture f;
  Class* cls = f.make_class("Quiet", {{"destroy", 1, nullptr, nullptr, destroy_member}}, plain_factory);
  destroy_runs = 0;
  Variant v;
  new_value(f.stack, cls, &v);
  v.release(nullptr);
  EXPECT_EQ(destroy_runs.load(), 0);
}

TEST(Threads, FourThreadsAddAndReadPropertiesOfOneSharedObject) {
  RuntimeFixture f;
  ObjectPointer shared = CreateObject(f.stack, String("Empty"), nullptr, 0);
  Object* obj = shared.get();
  Variant zero = integer(0);
  obj->addproperty(f.stack, String("common"), &zero);
  constexpr int kThreads = 4;
  constexpr int kProperties = 150;
  std::atomic<int> failures{0};
  auto work = [&](int t) {
    VmStack stack(f.runtime, 256, 32);
    for (int i = 0; i < kProperties; ++i) {
      std::string name = "p" + std::to_string(t) + "_" + std::to_string(i);
      Variant value = integer(t * 1000 + i);
      obj->addproperty(&stack, String(name.c_str()), &value);
      Variant mine = read(&stack, obj, stack.symtable->symbolize(name.c_str()));
      if (show(mine) != std::to_string(t * 1000 + i)) ++failures;
      mine.release(&stack);
      // Someone else's property, possibly not added yet.
      std::string other = "p" + std::to_string((t + 1) % kThreads) + "_" + std::to_string(i);
      Variant theirs;
      try {
        obj->virtual_access(&stack, stack.symtable->symbolize(other.c_str()), 0, &theirs);
      } catch (const RuntimeError& e) {
        if (e.code != 1734) ++failures;
      }
      theirs.release(&stack);
      assign(&stack, obj, stack.symtable->symbolize("common"), integer(i));
      Variant c = read(&stack, obj, stack.symtable->symbolize("common"));
      c.release(&stack);
      if (i % 10 == 9) obj->removeproperty(&stack, String(name.c_str()));
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(member_list(obj).size(), 1u + kThreads * (kProperties - kProperties / 10));
  shared.release(f.stack);
}

}  // namespace
}  // namespace qzbase
