// Json.Encode and Json.Decode of a 10 MB JSON text of arrays of objects, and http.urlencode and
// http.urldecode of 10 MB of text, in bytes per second. bench/web/json_python.py times python3's
// json module on the same text (the generator below and the script's make the same text);
// bench/web/run_web_bench.sh runs both and prints medians.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include <initializer_list>
#include <string>

#include "builtins/web_functions.h"
#include "vm/calls.h"
#include "vm/vm_stack.h"

using namespace qzbase;

namespace {

constexpr size_t target_size = 10 * 1024 * 1024;

// Records until the text passes 10 MB, e.g.
// {"id":17,"name":"user 17 \u00e9t\u00e9","score":17.25,"active":false,"tags":["a17","b"],"note":null}
std::string json_text() {
  std::string doc = "[";
  for (long i = 0; doc.size() < target_size; ++i) {
    if (i > 0) doc += ",";
    std::string n = std::to_string(i);
    doc += "{\"id\":" + n + ",\"name\":\"user " + n + " \xC3\xA9t\xC3\xA9\",\"score\":" + n + "." +
           std::to_string(i % 4 * 25) + (i % 4 == 0 ? "0" : "") + ",\"active\":" + (i % 2 ? "true" : "false") +
           ",\"tags\":[\"a" + n + "\",\"b\"],\"note\":null}";
  }
  return doc + "]";
}

std::string url_text() {
  std::string text;
  while (text.size() < target_size) text += "name=J\xC3\xB6rg & co/ x_1-2.3~ (\xE2\x82\xAC 5) ";
  return text;
}

struct fixture_st {
  NullScreen screen;
  Runtime* runtime = CreateRuntime(&screen);
  VmStack* stack = new VmStack(runtime, 256, 64);
  ~fixture_st() {
    delete stack;
    ReleaseRuntime(runtime);
  }
  Variant call(native_function_type fn, const Variant& argument) {
    Memvar* mark = stack->sp;
    stack->push();
    stack->push()->value.set_variant(&argument);
    call_native_function(stack, fn, 1);
    Variant result = static_cast<Variant&&>(stack->sp->value);
    stack->release_stack_to(mark);
    return result;
  }
};

Variant utf8_value(const std::string& s) {
  Variant v;
  v.set_string(String(s.data(), s.size(), Charset::utf8));
  return v;
}

void BM_JsonDecode(benchmark::State& state) {
  fixture_st f;
  Variant text = utf8_value(json_text());
  for (auto _ : state) {
    Variant v = f.call(bi_json_decode, text);
    v.release(f.stack);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.string.size()));
  text.release(f.stack);
}
BENCHMARK(BM_JsonDecode)->Unit(benchmark::kMillisecond);

void BM_JsonEncode(benchmark::State& state) {
  fixture_st f;
  Variant text = utf8_value(json_text());
  Variant value = f.call(bi_json_decode, text);
  size_t size = 0;
  for (auto _ : state) {
    Variant out = f.call(bi_json_encode, value);
    size = out.string.size();
    out.release(f.stack);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  value.release(f.stack);
  text.release(f.stack);
}
BENCHMARK(BM_JsonEncode)->Unit(benchmark::kMillisecond);

void BM_UrlEncode(benchmark::State& state) {
  fixture_st f;
  Variant text = utf8_value(url_text());
  for (auto _ : state) {
    Variant out = f.call(bi_http_urlencode, text);
    out.release(f.stack);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.string.size()));
  text.release(f.stack);
}
BENCHMARK(BM_UrlEncode)->Unit(benchmark::kMillisecond);

void BM_UrlDecode(benchmark::State& state) {
  fixture_st f;
  Variant plain = utf8_value(url_text());
  Variant text = f.call(bi_http_urlencode, plain);
  for (auto _ : state) {
    Variant out = f.call(bi_http_urldecode, text);
    out.release(f.stack);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.string.size()));
  text.release(f.stack);
  plain.release(f.stack);
}
BENCHMARK(BM_UrlDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
