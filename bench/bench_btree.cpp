// B-tree of one tag over 10^6 keys through the Index API: exact seeks (a file opened exclusive and
// one opened shared, whose every descent confirms the header version), forward and backward walks
// (per key), inserts in random and ascending order (per key), and a new tag built over 10^5
// records with every change written at once or the writes deferred until it is complete.
// Counters: nodes visited and nodes read from the file per seek.
#include <benchmark/benchmark.h>
#include <qzbase.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "indexes/index.h"
#include "indexes/index_file.h"
#include "platform/file.h"
#include "values/charset_registry.h"

using namespace qzbase;

namespace {

constexpr int kKeys = 1000000;
constexpr uint16_t kKeyLength = 10;

const Charset* cp1252() { return get_charset_by_codepage(1252, false); }

std::string key_of(uint32_t i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "C%09u", i * 7);
  return std::string(buf, kKeyLength);
}

// A tag at the start of an empty file, its file locked for the updates.
struct Tree {
  explicit Tree(File* f) : file(std::make_unique<IndexFile>(f, cp1252())) {
    tag = std::make_unique<Index>(file.get(), 0);
    file->lock();
    idx_header_st& h = tag->header;
    init_directory_header(&h);
    h.options = IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_MACHINE;
    tag->set_collation(nullptr);
    tag->header_offset = tag->alloc(kIndexHeaderSize);
    index_node_st root;
    root.offset = tag->alloc(kIndexNodeSize);
    tag->init_leaf_node(&root);
    root.root = true;
    h.root = static_cast<uint32_t>(root.offset);
    file->write_header(&h, tag->header_offset);
    file->write_node(&root);
  }
  std::unique_ptr<IndexFile> file;
  std::unique_ptr<Index> tag;
};

std::vector<uint32_t> shuffled(int n, uint32_t seed) {
  std::vector<uint32_t> order(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) order[static_cast<size_t>(i)] = static_cast<uint32_t>(i);
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  return order;
}

std::string temp_path() {
  char pattern[] = "/tmp/qz_bench_btree_XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd >= 0) close(fd);
  return pattern;
}

// 10^6 keys on disk, built once by ascending inserts; opened again shared for the shared seeks.
struct Loaded {
  Loaded() : path(temp_path()), tree(create_file(String(path.c_str()), OPEN_SHARED)) {
    for (int i = 0; i < kKeys; ++i) tree.tag->insert_key(key_of(static_cast<uint32_t>(i)).c_str(), i + 1);
    tree.file->unlock();
    // A copy opened for exclusive use: the shared open's flock would refuse a second open here.
    std::filesystem::copy_file(path, copy_path, std::filesystem::copy_options::overwrite_existing);
    exclusive_file = std::make_unique<IndexFile>(open_file(String(copy_path.c_str()), OPEN_WRITE), cp1252());
    exclusive = std::make_unique<Index>(exclusive_file.get(), tree.tag->header_offset);
    exclusive_file->read_header(&exclusive->header, exclusive->header_offset);
    shared = tree.tag.get();
  }
  ~Loaded() {
    unlink(path.c_str());
    unlink(copy_path.c_str());
  }
  std::string path;
  std::string copy_path = path + ".copy";
  Tree tree;
  std::unique_ptr<IndexFile> exclusive_file;
  std::unique_ptr<Index> exclusive;
  Index* shared;
};

Loaded& loaded() {
  static Loaded l;
  return l;
}

int depth(Index* tag) {
  index_node_st node;
  key_iterator_st it;
  int d = 1;
  tag->file->read_node(tag, tag->header.root, &node);
  while (!node.leaf) {
    tag->goto_key(node, &it, 0);
    tag->file->read_node(tag, it.child, &node);
    ++d;
  }
  return d;
}

void seek_bench(benchmark::State& state, Index* tag) {
  const std::vector<uint32_t> order = shuffled(kKeys, 7);
  std::vector<std::string> keys;
  keys.reserve(order.size());
  for (uint32_t i : order) keys.push_back(key_of(i));
  index_node_st node;
  key_iterator_st it;
  size_t i = 0;
  const uint64_t reads = tag->file->nodes_read;
  int64_t seeks = 0;
  for (auto _ : state) {
    const std::string& k = keys[i];
    benchmark::DoNotOptimize(tag->seek(k.data(), kKeyLength, &node, &it, SEEK_DIR_FORWARD, 0));
    if (++i == keys.size()) i = 0;
    ++seeks;
  }
  state.SetItemsProcessed(seeks);
  state.counters["nodes_visited_per_seek"] = depth(tag);
  state.counters["nodes_read_per_seek"] =
      static_cast<double>(tag->file->nodes_read - reads) / static_cast<double>(std::max<int64_t>(seeks, 1));
}

void BM_BTreeSeekExclusive(benchmark::State& state) { seek_bench(state, loaded().exclusive.get()); }
BENCHMARK(BM_BTreeSeekExclusive);

// Shared and not locked: every descent first re-reads the tag header.
void BM_BTreeSeekShared(benchmark::State& state) { seek_bench(state, loaded().shared); }
BENCHMARK(BM_BTreeSeekShared);

void BM_BTreeWalkForward(benchmark::State& state) {
  Index* tag = loaded().exclusive.get();
  index_node_st node;
  key_iterator_st it;
  tag->go_top(&node, &it);
  int64_t steps = 0;
  for (auto _ : state) {
    if (!tag->go_next(&node, &it)) tag->go_top(&node, &it);
    ++steps;
  }
  state.SetItemsProcessed(steps);
}
BENCHMARK(BM_BTreeWalkForward);

void BM_BTreeWalkBackward(benchmark::State& state) {
  Index* tag = loaded().exclusive.get();
  index_node_st node;
  key_iterator_st it;
  tag->go_bottom(&node, &it);
  int64_t steps = 0;
  for (auto _ : state) {
    if (!tag->go_prev(&node, &it)) tag->go_bottom(&node, &it);
    ++steps;
  }
  state.SetItemsProcessed(steps);
}
BENCHMARK(BM_BTreeWalkBackward);

// Inserting 10^6 keys into an in-memory file, in the given order; items are keys.
void insert_bench(benchmark::State& state, bool ascending) {
  const std::vector<uint32_t> order = shuffled(kKeys, 11);
  for (auto _ : state) {
    Tree tree(create_file(String("memory:///bench.cdx"), OPEN_WRITE));
    for (int i = 0; i < kKeys; ++i) {
      const uint32_t n = ascending ? static_cast<uint32_t>(i) : order[static_cast<size_t>(i)];
      tree.tag->insert_key(key_of(n).c_str(), n + 1);
    }
    state.counters["depth"] = depth(tree.tag.get());
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_BTreeInsertAscending(benchmark::State& state) { insert_bench(state, true); }
BENCHMARK(BM_BTreeInsertAscending)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BTreeInsertRandom(benchmark::State& state) { insert_bench(state, false); }
BENCHMARK(BM_BTreeInsertRandom)->Unit(benchmark::kMillisecond)->Iterations(1);

// A new tag over 10^5 records of random C(20) keys (with repeats), inserted in record order into a
// file on disk, the way a tag is built: every change written at once, or the writes deferred
// until the tag is complete. Items are keys.
void build_bench(benchmark::State& state, bool deferred) {
  constexpr int kRecords = 100000;
  std::mt19937 rng(23);
  std::vector<std::string> keys;
  keys.reserve(kRecords);
  for (int i = 0; i < kRecords; ++i) {
    std::string k(20, ' ');
    for (char& c : k) c = static_cast<char>('A' + rng() % 26);
    if (i > 0 && rng() % 8 == 0) k = keys[rng() % keys.size()];
    keys.push_back(k);
  }
  const std::string path = temp_path();
  for (auto _ : state) {
    unlink(path.c_str());
    File* f = create_file(String(path.c_str()), OPEN_WRITE);
    auto file = std::make_unique<IndexFile>(f, cp1252());
    Index tag(file.get(), 0);
    file->lock();
    idx_header_st& h = tag.header;
    init_directory_header(&h);
    h.key_length = 20;
    h.options = IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_MACHINE;
    tag.set_collation(nullptr);
    tag.header_offset = tag.alloc(kIndexHeaderSize);
    std::unique_ptr<DeferredTagWrites> held;
    if (deferred) held = std::make_unique<DeferredTagWrites>(file.get(), tag.header_offset);
    index_node_st root;
    root.offset = tag.alloc(kIndexNodeSize);
    tag.init_leaf_node(&root);
    root.root = true;
    h.root = static_cast<uint32_t>(root.offset);
    file->write_header(&h, tag.header_offset);
    file->write_node(&root);
    for (size_t i = 0; i < keys.size(); ++i) tag.insert_key(keys[i].data(), i + 1);
    if (held) held->commit();
    file->unlock();
    state.counters["file_kb"] = static_cast<double>(f->get_size()) / 1024.0;
  }
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_TagBuildEveryWrite(benchmark::State& state) { build_bench(state, false); }
BENCHMARK(BM_TagBuildEveryWrite)->Unit(benchmark::kMillisecond);

void BM_TagBuildDeferred(benchmark::State& state) { build_bench(state, true); }
BENCHMARK(BM_TagBuildDeferred)->Unit(benchmark::kMillisecond);

// Peers from the same run: the same keys in an ordered set in memory.
void BM_PeerOrderedSetSeek(benchmark::State& state) {
  static const std::set<std::string> keys = [] {
    std::set<std::string> s;
    for (int i = 0; i < kKeys; ++i) s.insert(key_of(static_cast<uint32_t>(i)));
    return s;
  }();
  const std::vector<uint32_t> order = shuffled(kKeys, 7);
  std::vector<std::string> probes;
  probes.reserve(order.size());
  for (uint32_t i : order) probes.push_back(key_of(i));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(keys.lower_bound(probes[i]));
    if (++i == probes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerOrderedSetSeek);

void BM_PeerOrderedSetInsertRandom(benchmark::State& state) {
  const std::vector<uint32_t> order = shuffled(kKeys, 11);
  for (auto _ : state) {
    std::set<std::pair<std::string, uint32_t>> s;
    for (uint32_t n : order) s.emplace(key_of(n), n + 1);
    benchmark::DoNotOptimize(s.size());
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_PeerOrderedSetInsertRandom)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
