// Member operations of objects: a native property read and written (Custom's Height), a native
// method called (a trivial one, on an object of a three-object chain and on a plain one), and an
// added property read and written.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include <memory>

#include "objects/class.h"
#include "objects/object.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

using namespace qzbase;

namespace {

struct World {
  World() : screen(CreateScreen(0)), runtime(CreateRuntime(screen)) { GetMainStack(runtime, &stack); }
  ~World() {
    ReleaseRuntime(runtime);
    ReleaseScreen(screen);
  }
  symbol_id_type sym(const char* name) { return stack->symtable->symbolize(name); }
  Screen* screen;
  Runtime* runtime;
  VmStack* stack = nullptr;
};

void nothing(VmStack*, size_t, Variant* result) { result->set_integer(1); }
Object* plain(VmStack*, Class* cls) { return new Object(cls); }

// A class with one method, "Work".
std::unique_ptr<Class> method_class(World& w, const char* name) {
  auto cls = std::make_unique<Class>(Symbol(String(name), w.stack->symtable), nullptr);
  ClassMember* m = cls->define(String("Work"));
  m->kind = MEMBER_PROPERTY;
  m->method = nothing;
  cls->factory = plain;
  cls->compile(w.runtime);
  return cls;
}

void BM_NativePropertyRead(benchmark::State& state) {
  World w;
  ObjectPointer obj = CreateObject(w.stack, String("Custom"), nullptr, 0);
  symbol_id_type height = w.sym("Height");
  for (auto _ : state) {
    Variant r;
    obj->virtual_access(w.stack, height, 0, &r);
    benchmark::DoNotOptimize(r.tag);
  }
  obj.release(w.stack);
}
BENCHMARK(BM_NativePropertyRead);

void BM_NativePropertyAssign(benchmark::State& state) {
  World w;
  ObjectPointer obj = CreateObject(w.stack, String("Custom"), nullptr, 0);
  symbol_id_type height = w.sym("Height");
  Memvar* slot = w.stack->push();
  slot->value.set_integer(7);
  for (auto _ : state) obj->virtual_assign(w.stack, height, 1);
  w.stack->pop();
  obj.release(w.stack);
}
BENCHMARK(BM_NativePropertyAssign);

void BM_NativeMethodCall(benchmark::State& state) {
  World w;
  auto cls = method_class(w, "Worker");
  Object* obj = nullptr;
  cls->create_instance(w.stack, &obj);
  ObjectPointer held(obj);
  symbol_id_type work = w.sym("Work");
  for (auto _ : state) {
    Variant r;
    obj->virtual_call(w.stack, work, 0, &r);
    benchmark::DoNotOptimize(r.tag);
  }
  held.release(w.stack);
}
BENCHMARK(BM_NativeMethodCall);

// The method held by the third object of a chain: three hash lookups.
void BM_NativeMethodCallThirdInChain(benchmark::State& state) {
  World w;
  auto first = method_class(w, "First");
  auto deep = method_class(w, "Deep");
  auto empty = std::make_unique<Class>(Symbol(String("Nothing"), w.stack->symtable), nullptr);
  empty->factory = plain;
  empty->compile(w.runtime);
  Object* a = nullptr;
  Object* b = nullptr;
  Object* c = nullptr;
  empty->create_instance(w.stack, &a);
  empty->create_instance(w.stack, &b);
  deep->create_instance(w.stack, &c);
  a->chained = b;
  b->chained = c;
  ObjectPointer held(a);
  symbol_id_type work = w.sym("Work");
  for (auto _ : state) {
    Variant r;
    a->virtual_call(w.stack, work, 0, &r);
    benchmark::DoNotOptimize(r.tag);
  }
  held.release(w.stack);
}
BENCHMARK(BM_NativeMethodCallThirdInChain);

void BM_AddedPropertyRead(benchmark::State& state) {
  World w;
  ObjectPointer obj = CreateObject(w.stack, String("Empty"), nullptr, 0);
  Variant v;
  v.set_integer(5);
  obj->addproperty(w.stack, String("Count"), &v);
  symbol_id_type count = w.sym("Count");
  for (auto _ : state) {
    Variant r;
    obj->virtual_access(w.stack, count, 0, &r);
    benchmark::DoNotOptimize(r.tag);
  }
  obj.release(w.stack);
}
BENCHMARK(BM_AddedPropertyRead);

void BM_AddedPropertyAssign(benchmark::State& state) {
  World w;
  ObjectPointer obj = CreateObject(w.stack, String("Empty"), nullptr, 0);
  obj->addproperty(w.stack, String("Count"), nullptr);
  symbol_id_type count = w.sym("Count");
  Memvar* slot = w.stack->push();
  slot->value.set_integer(7);
  for (auto _ : state) obj->virtual_assign(w.stack, count, 1);
  w.stack->pop();
  obj.release(w.stack);
}
BENCHMARK(BM_AddedPropertyAssign);

}  // namespace

BENCHMARK_MAIN();
