// Compiler: assembling a code collection into a Program (labels, jump fix-ups, threading and the
// debug maps).
#include <benchmark/benchmark.h>

#include <qzbase.h>

#include <memory>
#include <vector>

#include "compiler/compiler_state.h"
#include "vm/program.h"

namespace {

using namespace qzbase;

document_location_st line(uint32_t n) { return document_location_st{n * 8, n * 8, n, 1, n * 8 + 7, n * 8 + 7, n, 8}; }

// n ops with one label every ops/labels ops; every tenth op jumps to a label (forward and back),
// short-circuit jumps chain into each other as AND/OR code does.
void fill(Compiler& c, size_t ops, size_t labels) {
  std::vector<AddressLabelRecord*> l;
  l.reserve(labels);
  for (size_t i = 0; i < labels; ++i) l.push_back(c.create_addresslabel(String("label")));
  size_t every = ops / labels;
  for (size_t i = 0; i < ops; ++i) {
    if (i % every == 0) c.collection.place_label(l[i / every]);
    c.statement_number = i / 4 + 1;
    uint64_t target = l[(i * 7919) % labels]->key();
    switch (i % 10) {
      case 3:
        c.collection.push_back(line(static_cast<uint32_t>(i / 4 + 1)), new VmOpCondFalseOrNullJumpKeepEsp(target));
        break;
      case 6:
        c.collection.push_back(line(static_cast<uint32_t>(i / 4 + 1)), new VmOpCondTrueJumpKeepEsp(target));
        break;
      case 9:
        c.collection.push_jump(new VmOpJump(target));
        break;
      default:
        c.collection.push_back(line(static_cast<uint32_t>(i / 4 + 1)), new VmOpReadConstInteger(static_cast<int64_t>(i)));
    }
  }
}

void BM_AssembleCollection(benchmark::State& state) {
  const size_t ops = static_cast<size_t>(state.range(0));
  const size_t labels = static_cast<size_t>(state.range(1));
  Compiler c(nullptr, COMPILE_KIND_PROGRAM);
  for (auto _ : state) {
    state.PauseTiming();
    c.reset(COMPILE_KIND_PROGRAM, true);
    fill(c, ops, labels);
    state.ResumeTiming();
    std::unique_ptr<Program> p(c.build_program());
    benchmark::DoNotOptimize(p.get());
    state.PauseTiming();
    p.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ops));
}
BENCHMARK(BM_AssembleCollection)->Args({100000, 10000})->Unit(benchmark::kMillisecond);

// Appending alone: the cost every compiler function pays per op.
void BM_FillCollection(benchmark::State& state) {
  const size_t ops = static_cast<size_t>(state.range(0));
  const size_t labels = static_cast<size_t>(state.range(1));
  Compiler c(nullptr, COMPILE_KIND_PROGRAM);
  for (auto _ : state) {
    c.reset(COMPILE_KIND_PROGRAM, true);
    fill(c, ops, labels);
    c.collection.clear();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * ops));
}
BENCHMARK(BM_FillCollection)->Args({100000, 10000})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
