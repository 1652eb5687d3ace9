// Collations and string operations: string compares (the same-charset memcmp fast path against the
// decoding path), hashing, index keys of a machine and a mapped collation, and strtran over 10 MB.
//
// Run from a Release tree: build/release/bench/bench_collation.
#include <qzbase.h>

#include <benchmark/benchmark.h>

#include <string>

#include "values/charset_registry.h"
#include "values/collation.h"

using namespace qzbase;

namespace {

String in(const std::string& utf8, const Charset* cs) {
  String s(utf8.c_str());
  s.convert(cs, CON_NONE, 0);
  return s;
}

// A text of n bytes of mixed Latin text with accents; the two compared texts differ in their last
// character only, so the compare runs over the whole text.
std::string text_of(size_t n, char last) {
  static const std::string words = "Müller straße élan ñandú zoë café ";
  std::string s;
  while (s.size() < n) s += words;
  s.resize(n > 0 ? n - 1 : 0);
  while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();  // whole characters
  if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
  s.push_back(last);
  return s;
}

void compare_bench(benchmark::State& state, const Collation* c, const Charset* lcs, const Charset* rcs) {
  std::string a = text_of(static_cast<size_t>(state.range(0)), 'a');
  std::string b = text_of(static_cast<size_t>(state.range(0)), 'b');
  String l = in(a, lcs), r = in(b, rcs);
  for (auto _ : state) {
    int x = c->compare(l.read(), l.end(), l.get_charset(), r.read(), r.end(), r.get_charset());
    benchmark::DoNotOptimize(x);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(l.size()));
}

// Same charset object on both sides: the memcmp fast path.
void BM_CompareMachine_UTF8_Same(benchmark::State& state) {
  compare_bench(state, Collation::unicode_machine, Charset::utf8, Charset::utf8);
}
// The flagged UTF-8 instance on one side: same encoding, different object: the decoding path.
void BM_CompareMachine_UTF8_Decoding(benchmark::State& state) {
  compare_bench(state, Collation::unicode_machine, Charset::utf8, get_charset_by_csid(36 | 0x10000));
}
void BM_CompareMachine_UTF16_Same(benchmark::State& state) {
  compare_bench(state, Collation::unicode_machine, Charset::utf16le, Charset::utf16le);
}
void BM_CompareMachine_1252_Same(benchmark::State& state) {
  const Charset* cs = get_charset_by_codepage(1252, false);
  compare_bench(state, Collation::unicode_machine, cs, cs);
}
void BM_CompareMachine_UTF8_vs_UTF16(benchmark::State& state) {
  compare_bench(state, Collation::unicode_machine, Charset::utf8, Charset::utf16le);
}
void BM_CompareMachineCI_UTF8_Same(benchmark::State& state) {
  compare_bench(state, Collation::unicode_machine_ci, Charset::utf8, Charset::utf8);
}
void BM_CompareMachineCI_UTF8_Decoding(benchmark::State& state) {
  compare_bench(state, Collation::unicode_machine_ci, Charset::utf8, get_charset_by_csid(36 | 0x10000));
}

// Short keys as names and map keys are: the common case of the runtime's own compares.
void BM_CompareMachine_ShortNames(benchmark::State& state) {
  String a("customer_name"), b("customer_note");
  for (auto _ : state) {
    int x = Collation::unicode_machine->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                                b.get_charset());
    benchmark::DoNotOptimize(x);
  }
}
void BM_CompareMachineCI_ShortNames(benchmark::State& state) {
  String a("CUSTOMER_NAME"), b("customer_note");
  for (auto _ : state) {
    int x = Collation::unicode_machine_ci->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                                   b.get_charset());
    benchmark::DoNotOptimize(x);
  }
}

void BM_Hash_CI_UTF8(benchmark::State& state) {
  String s = in(text_of(static_cast<size_t>(state.range(0)), 'x'), Charset::utf8);
  for (auto _ : state) {
    unsigned h = Collation::unicode_machine_ci->hash(s.read(), s.end(), s.get_charset());
    benchmark::DoNotOptimize(h);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.size()));
}

void key_bench(benchmark::State& state, int colid, const Charset* text_cs) {
  const Collation* c = GetCollationByCOLID(colid);
  size_t keylen = static_cast<size_t>(state.range(0));
  String s = in(text_of(keylen, 'z'), text_cs);
  std::string key(keylen, '\0');
  for (auto _ : state) {
    size_t n = c->create_char_key(s, true, key.data(), keylen);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(key.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Text already in the collation's charset.
void BM_Key_Machine1252(benchmark::State& state) { key_bench(state, 20, get_charset_by_codepage(1252, false)); }
void BM_Key_Mapped1252General(benchmark::State& state) {
  key_bench(state, 2020, get_charset_by_codepage(1252, false));
}
void BM_Key_Mapped1252Spanish(benchmark::State& state) {
  key_bench(state, 15020, get_charset_by_codepage(1252, false));
}
void BM_Key_Mapped1250Hungary(benchmark::State& state) {
  key_bench(state, 14018, get_charset_by_codepage(1250, false));
}
// UTF-8 text converted into the code page first.
void BM_Key_Mapped1252General_FromUTF8(benchmark::State& state) { key_bench(state, 2020, Charset::utf8); }

// strtran over 10 MB.
void strtran_bench(benchmark::State& state, const Charset* cs) {
  std::string line = "The quick brown fox jumps over the lazy dog; le cœur déçu mais l'âme plutôt naïve. ";
  std::string big;
  big.reserve(10u << 20);
  while (big.size() + line.size() <= (10u << 20)) big += line;
  String text = in(big, cs);
  String search = in("fox", cs), replace = in("renard", cs);
  for (auto _ : state) {
    String r = text.strtran(search, replace);
    benchmark::DoNotOptimize(r.read());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
void BM_Strtran10MB_UTF8(benchmark::State& state) { strtran_bench(state, Charset::utf8); }
void BM_Strtran10MB_1252(benchmark::State& state) { strtran_bench(state, get_charset_by_codepage(1252, false)); }
void BM_Strtran10MB_UTF16(benchmark::State& state) { strtran_bench(state, Charset::utf16le); }

}  // namespace

BENCHMARK(BM_CompareMachine_UTF8_Same)->Arg(16)->Arg(256)->Arg(4096);
BENCHMARK(BM_CompareMachine_UTF8_Decoding)->Arg(16)->Arg(256)->Arg(4096);
BENCHMARK(BM_CompareMachine_UTF16_Same)->Arg(256)->Arg(4096);
BENCHMARK(BM_CompareMachine_1252_Same)->Arg(256)->Arg(4096);
BENCHMARK(BM_CompareMachine_UTF8_vs_UTF16)->Arg(256)->Arg(4096);
BENCHMARK(BM_CompareMachineCI_UTF8_Same)->Arg(256)->Arg(4096);
BENCHMARK(BM_CompareMachineCI_UTF8_Decoding)->Arg(256)->Arg(4096);
BENCHMARK(BM_CompareMachine_ShortNames);
BENCHMARK(BM_CompareMachineCI_ShortNames);
BENCHMARK(BM_Hash_CI_UTF8)->Arg(256)->Arg(4096);
BENCHMARK(BM_Key_Machine1252)->Arg(32)->Arg(240);
BENCHMARK(BM_Key_Mapped1252General)->Arg(32)->Arg(240);
BENCHMARK(BM_Key_Mapped1252Spanish)->Arg(32)->Arg(240);
BENCHMARK(BM_Key_Mapped1250Hungary)->Arg(32)->Arg(240);
BENCHMARK(BM_Key_Mapped1252General_FromUTF8)->Arg(32)->Arg(240);
BENCHMARK(BM_Strtran10MB_UTF8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Strtran10MB_1252)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Strtran10MB_UTF16)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
