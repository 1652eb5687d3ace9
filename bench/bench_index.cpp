// Index codecs: walking a full compact leaf (per key), inserting into a leaf, and each key builder
// per call.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "indexes/index.h"
#include "indexes/index_keys.h"
#include "values/charset_registry.h"

using namespace qzbase;

namespace {

const Charset* cp1252() { return get_charset_by_codepage(1252, false); }

// A leaf of key length 16 filled with keys that share prefixes and end in blanks.
struct FullLeaf {
  Index tag{nullptr, 0, cp1252()};
  index_node_st node;
  FullLeaf() {
    tag.header.key_length = 16;
    tag.header.options = IDX_OPT_COMPACT;
    tag.set_collation(nullptr);
    tag.init_compact_node(&node, 16, 100000, 16, 16, true);
    key_iterator_st it;
    tag.goto_first_key(node, &it);
    for (int i = 0;; ++i) {
      char key[32];  // sixteen key bytes are read; the rest only keeps snprintf from cutting the text short
      std::snprintf(key, sizeof key, "CUSTOMER%05d   ", i * 7);
      if (!tag.insert_compact_key(&node, &it, key, static_cast<uint32_t>(i + 1))) break;
      tag.goto_next_key(node, &it);
    }
  }
};

void BM_DecodeFullCompactLeaf(benchmark::State& state) {
  FullLeaf leaf;
  for (auto _ : state) {
    key_iterator_st it;
    leaf.tag.goto_first_compact_key(leaf.node, &it);
    while (it.index < static_cast<int32_t>(leaf.node.count)) leaf.tag.goto_next_compact_key(leaf.node, &it);
    benchmark::DoNotOptimize(it.record);
  }
  state.SetItemsProcessed(state.iterations() * leaf.node.count);
  state.counters["keys"] = leaf.node.count;
}
BENCHMARK(BM_DecodeFullCompactLeaf);

// One key into the middle of a half-full leaf (positioning included), from the same image each time.
void BM_InsertIntoLeaf(benchmark::State& state) {
  FullLeaf full;
  Index& tag = full.tag;
  index_node_st half;
  tag.init_compact_node(&half, 16, 100000, 16, 16, true);
  key_iterator_st it;
  tag.goto_first_key(half, &it);
  for (int i = 0; i < 30; ++i) {
    char key[17];
    std::snprintf(key, sizeof key, "CUSTOMER%05d   ", i * 7);
    tag.insert_compact_key(&half, &it, key, static_cast<uint32_t>(i + 1));
    tag.goto_next_key(half, &it);
  }
  index_node_st work;
  for (auto _ : state) {
    work = half;
    key_iterator_st at;
    tag.goto_key(work, &at, 15);
    benchmark::DoNotOptimize(tag.insert_compact_key(&work, &at, "CUSTOMER00100X  ", 77));
  }
}
BENCHMARK(BM_InsertIntoLeaf);

void run_builder(benchmark::State& state, int type, uint16_t length, bool nullable, bool binary,
                 const Variant& value) {
  Index tag(nullptr, 0, cp1252());
  tag.header.key_length = length;
  tag.header.options = nullable ? IDX_OPT_NULLABLE : 0;
  tag.set_collation(collation_for_group(cp1252(), String("MACHINE")));
  tag.choose_key_builder(type, binary, false);
  char buffer[kIndexMaxKeyLength];
  for (auto _ : state) {
    benchmark::DoNotOptimize(tag.create_key(&value, buffer, length, true));
    benchmark::ClobberMemory();
  }
}

Variant make(void (*set)(Variant*)) {
  Variant v;
  set(&v);
  return v;
}

void BM_KeyLogical(benchmark::State& s) { run_builder(s, INDEX_KEY_LOGICAL, 1, false, false, make([](Variant* v) { v->set_true(); })); }
void BM_KeyInteger(benchmark::State& s) { run_builder(s, INDEX_KEY_INTEGER, 4, false, false, make([](Variant* v) { v->set(integer_type_st{-12345}); })); }
void BM_KeyNumeric(benchmark::State& s) { run_builder(s, INDEX_KEY_NUMERIC, 8, false, false, make([](Variant* v) { v->set_float(3.25, 2); })); }
void BM_KeyCurrency(benchmark::State& s) {
  run_builder(s, INDEX_KEY_CURRENCY, 8, false, false, make([](Variant* v) {
                money_type_st m;
                m.value = 123456789;
                v->set(m);
              }));
}
void BM_KeyDate(benchmark::State& s) { run_builder(s, INDEX_KEY_DATE, 8, false, false, make([](Variant* v) { v->set(date_st{2460000}); })); }
void BM_KeyDatetime(benchmark::State& s) { run_builder(s, INDEX_KEY_DATETIME, 8, false, false, make([](Variant* v) { v->set(datetime_st{2460000, 4321}); })); }
void BM_KeyCharacter(benchmark::State& s) {
  run_builder(s, INDEX_KEY_CHARACTER, 20, false, false, make([](Variant* v) { v->set_string(String::fromBytes("Smith", 5, cp1252())); }));
}
void BM_KeyCharacterBinary(benchmark::State& s) {
  run_builder(s, INDEX_KEY_CHARACTER, 20, false, true, make([](Variant* v) { v->set_string(String::fromBytes("Smith", 5, Charset::binary)); }));
}
void BM_KeyNullableCharacter(benchmark::State& s) {
  run_builder(s, INDEX_KEY_CHARACTER, 21, true, false, make([](Variant* v) { v->set_string(String::fromBytes("Smith", 5, cp1252())); }));
}
void BM_KeyNullableCharacterConverted(benchmark::State& s) {
  run_builder(s, INDEX_KEY_CHARACTER, 21, true, false, make([](Variant* v) { v->set_string(String::fromBytes("Gr\xC3\xBC\xC3\x9F" "e", 7, Charset::utf8)); }));
}
void BM_KeyNullableIntegerNull(benchmark::State& s) { run_builder(s, INDEX_KEY_INTEGER, 5, true, false, make([](Variant* v) { v->set_null(); })); }
BENCHMARK(BM_KeyLogical);
BENCHMARK(BM_KeyInteger);
BENCHMARK(BM_KeyNumeric);
BENCHMARK(BM_KeyCurrency);
BENCHMARK(BM_KeyDate);
BENCHMARK(BM_KeyDatetime);
BENCHMARK(BM_KeyCharacter);
BENCHMARK(BM_KeyCharacterBinary);
BENCHMARK(BM_KeyNullableCharacter);
BENCHMARK(BM_KeyNullableCharacterConverted);
BENCHMARK(BM_KeyNullableIntegerNull);

}  // namespace

BENCHMARK_MAIN();
