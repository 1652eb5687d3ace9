// Compiled-module file: a module of about 10^4 operations compiled from its source, beside writing
// its file image and reading it back (in memory, and through the cache directory on disk).
#include <benchmark/benchmark.h>

#include <qzbase.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "compiler/build_input.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/module_file.h"
#include "vm/vm_stack.h"

namespace {

using namespace qzbase;
namespace fs = std::filesystem;

// 20 functions of statements that compile to constants, names, locals, arithmetic, comparisons,
// branches, loops and calls.
std::string source_text() {
  std::string text;
  for (int f = 0; f < 20; ++f) {
    text += "FUNCTION work" + std::to_string(f) + "(p, q)\n";
    text += "LOCAL a, b, s\n";
    text += "a = p\nb = q\ns = \"\"\n";
    for (int i = 0; i < 10; ++i) {
      const std::string n = std::to_string(i);
      text += "a = a + " + n + ".5 * b - q / 3\n";
      text += "IF a > " + n + " AND b <= {^2024-01-02} OR .NULL.\n";
      text += "  s = s + \"item " + n + "\"\n";
      text += "ELSE\n";
      text += "  b = helper(a, b, $" + n + ".25)\n";
      text += "ENDIF\n";
      text += "FOR k = 1 TO " + n + "\n";
      text += "  total = total + k\n";
      text += "ENDFOR\n";
    }
    for (int i = 0; i < 4; ++i) text += "b = b * 2\n";
    text += "RETURN s\n";
  }
  return text;
}

size_t operation_count(const Module* module) {
  size_t n = module->main != nullptr ? module->main->program()->code_length() : 0;
  for (const auto& entry : module->procedures) n += entry.second->program()->code_length();
  return n;
}

struct Setup {
  Setup() {
    char pattern[] = "/tmp/qz_bench_XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir = pattern;
    source = dir / "bench.prg";
    text = source_text();
    std::ofstream(source, std::ios::binary) << text;
    runtime = CreateRuntime(&screen);
    home = "HOME=" + dir.native();
    const char* envp[] = {home.c_str(), nullptr};
    runtime->pass_environment(envp);
    stack = new VmStack(runtime, 1024, 256);
    module = compile();
    image = module_file_image(module, stack->get_symtable(), 0);
  }
  ~Setup() {
    for (auto& entry : loaded) delete entry.second;
    delete stack;
    ReleaseRuntime(runtime);
    std::error_code error;
    fs::remove_all(dir, error);
  }

  Module* compile(string_key_map<Module*>* into = nullptr) {
    BuildInput input(stack);
    input.link_built_module = false;
    return input.build_module(String(source), String(text.c_str()), into != nullptr ? into : &loaded);
  }

  fs::path dir, source;
  std::string text, home, image;
  NullScreen screen;
  Runtime* runtime = nullptr;
  VmStack* stack = nullptr;
  string_key_map<Module*> loaded;
  Module* module = nullptr;
};

Setup& setup() {
  static Setup s;
  return s;
}

void counters(benchmark::State& state) {
  state.counters["ops"] = static_cast<double>(operation_count(setup().module));
  state.counters["bytes"] = static_cast<double>(setup().image.size());
}

void BM_CompileSource(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    string_key_map<Module*> loaded;
    benchmark::DoNotOptimize(s.compile(&loaded));
    state.PauseTiming();
    for (auto& entry : loaded) delete entry.second;
    state.ResumeTiming();
  }
  counters(state);
}
BENCHMARK(BM_CompileSource)->Unit(benchmark::kMillisecond);

void BM_WriteImage(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    std::string image = module_file_image(s.module, s.stack->get_symtable(), 0);
    benchmark::DoNotOptimize(image.data());
  }
  counters(state);
}
BENCHMARK(BM_WriteImage)->Unit(benchmark::kMillisecond);

void BM_ReadImage(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    Module* out = nullptr;
    if (!module_read_image(s.image.data(), s.image.size(), s.stack->get_symtable(), &out)) std::abort();
    state.PauseTiming();
    delete out;
    state.ResumeTiming();
  }
  counters(state);
}
BENCHMARK(BM_ReadImage)->Unit(benchmark::kMillisecond);

// The whole file written to the cache directory: image, temporary file, flush, rename.
void BM_SaveToCache(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    if (!module_save_to_opcode_cache(s.runtime, s.module, s.stack->get_symtable())) std::abort();
  }
  counters(state);
}
BENCHMARK(BM_SaveToCache)->Unit(benchmark::kMillisecond);

// Found by the source's name and time stamp, read and decoded.
void BM_LoadFromCache(benchmark::State& state) {
  Setup& s = setup();
  if (!module_save_to_opcode_cache(s.runtime, s.module, s.stack->get_symtable())) std::abort();
  for (auto _ : state) {
    Module* out = nullptr;
    if (!module_load_from_cache(s.runtime, String(s.source), s.stack->get_symtable(), &out)) std::abort();
    state.PauseTiming();
    delete out;
    state.ResumeTiming();
  }
  counters(state);
}
BENCHMARK(BM_LoadFromCache)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
