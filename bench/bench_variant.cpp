// Variant copy and release per tag, and array element reads and writes.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include "objects/object.h"

using namespace qzbase;

namespace {

Class* bench_class() {
  static Class cls{Symbol(), nullptr};
  return &cls;
}

class BenchObject : public Object {
 public:
  BenchObject() : Object(bench_class()) {}
};

// One copy into an empty Variant and its release, for a source made by make.
template <class Make>
void copy_release(benchmark::State& state, Make make) {
  Variant src;
  make(&src);
  Variant dst;
  for (auto _ : state) {
    src.copy(&dst);
    benchmark::DoNotOptimize(dst);
    dst.release(nullptr);
  }
  src.release(nullptr);
}

void BM_CopyRelease_False(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->set_false(); });
}
void BM_CopyRelease_Integer(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->set_integer(42); });
}
void BM_CopyRelease_Numeric(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->set_float(2.5, 1); });
}
void BM_CopyRelease_Money(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->set(money_type_st{12345}); });
}
void BM_CopyRelease_Datetime(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->set(datetime_st{2451545, 1000}); });
}
void BM_CopyRelease_String(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->set_string(String("a string value")); });
}
void BM_CopyRelease_Object(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->set_new_object(new BenchObject); });
}
void BM_CopyRelease_Array(benchmark::State& s) {
  copy_release(s, [](Variant* v) { v->dimension(nullptr, 10, 0); });
}
// Copying a reference copies the referenced value (an integer here).
void BM_CopyRelease_ReferenceToInteger(benchmark::State& s) {
  static Variant target;
  if (target.empty()) target.set_integer(7);
  copy_release(s, [](Variant* v) { target.ref(nullptr, v, nullptr); });
}
BENCHMARK(BM_CopyRelease_False);
BENCHMARK(BM_CopyRelease_Integer);
BENCHMARK(BM_CopyRelease_Numeric);
BENCHMARK(BM_CopyRelease_Money);
BENCHMARK(BM_CopyRelease_Datetime);
BENCHMARK(BM_CopyRelease_String);
BENCHMARK(BM_CopyRelease_Object);
BENCHMARK(BM_CopyRelease_Array);
BENCHMARK(BM_CopyRelease_ReferenceToInteger);

// The same string copied on two or more threads: the cost of the shared atomic count.
void BM_CopyRelease_StringShared(benchmark::State& state) {
  static Variant shared;
  if (state.thread_index() == 0 && shared.empty()) shared.set_string(String("shared"));
  Variant dst;
  for (auto _ : state) {
    shared.copy(&dst);
    dst.release(nullptr);
  }
}
BENCHMARK(BM_CopyRelease_StringShared)->Threads(1)->Threads(2);

constexpr size_t kElements = 1000;

void BM_ArrayRead(benchmark::State& state) {
  Variant v;
  Array* a = v.dimension(nullptr, kElements, 0);
  for (size_t i = 1; i <= kElements; ++i) a->write(nullptr, i)->set_integer(static_cast<int>(i));
  int64_t sum = 0;
  for (auto _ : state) {
    for (size_t i = 1; i <= kElements; ++i) sum += a->read(i)->integer.value;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kElements);
  v.release(nullptr);
}
BENCHMARK(BM_ArrayRead);

void BM_ArrayReadRowCol(benchmark::State& state) {
  Variant v;
  Array* a = v.dimension(nullptr, kElements / 10, 10);
  int64_t n = 0;
  for (auto _ : state) {
    for (size_t r = 1; r <= kElements / 10; ++r) {
      for (size_t c = 1; c <= 10; ++c) n += a->read(r, c)->tag;
    }
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * kElements);
  v.release(nullptr);
}
BENCHMARK(BM_ArrayReadRowCol);

// Write of a private block: release the old element and set the new value.
void BM_ArrayWriteInteger(benchmark::State& state) {
  Variant v;
  Array* a = v.dimension(nullptr, kElements, 0);
  for (auto _ : state) {
    for (size_t i = 1; i <= kElements; ++i) a->write(nullptr, i)->set_integer(static_cast<int>(i));
  }
  state.SetItemsProcessed(state.iterations() * kElements);
  v.release(nullptr);
}
BENCHMARK(BM_ArrayWriteInteger);

void BM_ArrayWriteString(benchmark::State& state) {
  Variant v;
  Array* a = v.dimension(nullptr, kElements, 0);
  String s("element");
  for (auto _ : state) {
    for (size_t i = 1; i <= kElements; ++i) a->write(nullptr, i)->set_string(s);
  }
  state.SetItemsProcessed(state.iterations() * kElements);
  v.release(nullptr);
}
BENCHMARK(BM_ArrayWriteString);

void BM_ArrayWriteRowCol(benchmark::State& state) {
  Variant v;
  Array* a = v.dimension(nullptr, kElements / 10, 10);
  for (auto _ : state) {
    for (size_t r = 1; r <= kElements / 10; ++r) {
      for (size_t c = 1; c <= 10; ++c) a->write(nullptr, r, c)->set_integer(static_cast<int>(c));
    }
  }
  state.SetItemsProcessed(state.iterations() * kElements);
  v.release(nullptr);
}
BENCHMARK(BM_ArrayWriteRowCol);

// The first write after a share copies the whole block (1000 integer elements).
void BM_ArrayCopyOnWrite(benchmark::State& state) {
  Variant v;
  Array* a = v.dimension(nullptr, kElements, 0);
  for (size_t i = 1; i <= kElements; ++i) a->write(nullptr, i)->set_integer(static_cast<int>(i));
  for (auto _ : state) {
    Variant copy(v);
    copy.array.write(nullptr, 1)->set_integer(0);
    copy.release(nullptr);
  }
  v.release(nullptr);
}
BENCHMARK(BM_ArrayCopyOnWrite);

}  // namespace

BENCHMARK_MAIN();
