// A tag built with its writes deferred (kept in memory, written once when complete) must leave
// the very bytes that writing every change at once leaves, version counter included; a discarded
// build leaves the file as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "btree_support.h"
#include "indexes/index_keys.h"
#include "temp_dir.h"

using namespace qzbase;
using namespace qzbase::index_testing;

namespace {

enum class Defer { none, from_header, from_first_key };

struct KeySet {
  const char* name;
  uint16_t key_length;
  uint16_t options;
  std::vector<std::string> keys;  // key of record i + 1
};

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Character keys over a small alphabet (shared prefixes, inner and trailing blanks, repeats).
KeySet char_keys(size_t n, uint16_t length, uint32_t seed) {
  std::mt19937 rng(seed);
  KeySet s{"character", length, kCompactOptions, {}};
  const char alphabet[] = "AB C";
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && rng() % 5 == 0) {
      s.keys.push_back(s.keys[rng() % i]);  // a duplicate of an earlier record's key
      continue;
    }
    std::string k(length, ' ');
    const size_t used = rng() % (length + 1);
    for (size_t j = 0; j < used; ++j) k[j] = alphabet[rng() % 4];
    s.keys.push_back(k);
  }
  return s;
}

KeySet numeric_keys(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  KeySet s{"numeric", 8, kCompactOptions, {}};
  for (size_t i = 0; i < n; ++i) {
    const double v = static_cast<double>(static_cast<int>(rng() % 2001) - 1000) / 4.0;  // repeats
    std::string k(8, '\0');
    keyN8(v, k.data(), 8);
    s.keys.push_back(k);
  }
  return s;
}

KeySet date_keys(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  KeySet s{"date", 8, kCompactOptions, {}};
  for (size_t i = 0; i < n; ++i) {
    const double day = 2451545.0 + static_cast<double>(rng() % 3000);  // days from 2000 on
    std::string k(8, '\0');
    keyN8(day, k.data(), 8);
    s.keys.push_back(k);
  }
  return s;
}

KeySet logical_keys(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  KeySet s{"binary", 1, kBinaryOptions, {}};
  for (size_t i = 0; i < n; ++i) s.keys.push_back(rng() % 3 == 0 ? "F" : "T");
  return s;
}

// Builds the tag over the keys in record order at the end of the file, the way a new tag is
// made: header, empty root leaf, then one insert per record, all under the file lock.
void build(IndexFile* file, Index* tag, const KeySet& set, Defer defer) {
  ASSERT_TRUE(file->lock());
  idx_header_st& h = tag->header;
  init_directory_header(&h);
  h.key_length = set.key_length;
  h.options = set.options;
  h.collation_name = String("MACHINE");
  h.key_expression = String("KEYEXPR");
  tag->set_collation(nullptr);
  tag->header_offset = tag->alloc(kIndexHeaderSize);
  std::unique_ptr<DeferredTagWrites> deferred;
  if (defer == Defer::from_header) deferred = std::make_unique<DeferredTagWrites>(file, tag->header_offset);
  index_node_st root;
  root.offset = tag->alloc(kIndexNodeSize);
  tag->init_leaf_node(&root);
  root.root = true;
  h.root = static_cast<uint32_t>(root.offset);
  file->write_header(&h, tag->header_offset);
  file->write_node(&root);
  if (defer == Defer::from_first_key) deferred = std::make_unique<DeferredTagWrites>(file, tag->header_offset);
  for (size_t i = 0; i < set.keys.size(); ++i) tag->insert_key(set.keys[i].data(), i + 1);
  if (deferred) {
    // More nodes than the cache holds: none of them may have been let go before the commit.
    if (set.options != kBinaryOptions) {
      EXPECT_GT(file->deferred_nodes(), IndexFile::kCacheCapacity);
    }
    deferred->commit();
    EXPECT_FALSE(file->deferring());
  }
  file->unlock();
}

// A compound file with its empty directory, then the tag.
std::string build_file(const std::string& path, const KeySet& set, Defer defer, std::vector<Pair>* pairs = nullptr) {
  IndexFile file(create_file(String(path.c_str()), OPEN_WRITE), cp1252());
  file.create_compound();
  Index tag(&file, 0);
  build(&file, &tag, set, defer);
  if (pairs != nullptr) {
    TreeChecker checker(&tag);
    *pairs = set.options == kBinaryOptions ? std::vector<Pair>() : checker.check();
  }
  file.file->close();
  return read_all(path);
}

size_t first_difference(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

TEST(DeferredTagWrites, SameBytesAsWritingEveryChange) {
  testing_files::TempDir dir;
  const std::vector<KeySet> sets = {
      char_keys(6000, 20, 11), char_keys(3000, 100, 12), numeric_keys(8000, 13), date_keys(8000, 14),
      logical_keys(9000, 15),
  };
  for (const KeySet& set : sets) {
    SCOPED_TRACE(std::string(set.name) + " keys of length " + std::to_string(set.key_length));
    std::vector<Pair> pairs;
    const std::string plain = build_file((dir.path / "plain.cdx").string(), set, Defer::none, &pairs);
    if (set.options != kBinaryOptions) {
      // The plain build is a sound tree holding every record: what the deferred ones must match.
      Reference expected;
      for (size_t i = 0; i < set.keys.size(); ++i) expected.emplace(set.keys[i], static_cast<uint32_t>(i + 1));
      EXPECT_EQ(pairs, std::vector<Pair>(expected.begin(), expected.end()));
    }
    for (const Defer defer : {Defer::from_header, Defer::from_first_key}) {
      const std::string deferred = build_file((dir.path / "deferred.cdx").string(), set, defer);
      ASSERT_EQ(plain.size(), deferred.size());
      EXPECT_TRUE(plain == deferred) << "first different byte at " << first_difference(plain, deferred);
    }
  }
}

TEST(DeferredTagWrites, NothingReachesTheFileBeforeTheCommit) {
  testing_files::TempDir dir;
  const std::string path = (dir.path / "t.cdx").string();
  IndexFile file(create_file(String(path.c_str()), OPEN_WRITE), cp1252());
  file.create_compound();
  const std::string before = read_all(path);
  const KeySet set = char_keys(2000, 12, 21);

  Index tag(&file, 0);
  ASSERT_TRUE(file.lock());
  make_compact_tag(&tag, set.key_length);
  tag.header.collation_name = String("MACHINE");
  tag.header_offset = tag.alloc(kIndexHeaderSize);
  DeferredTagWrites deferred(&file, tag.header_offset);
  index_node_st root;
  root.offset = tag.alloc(kIndexNodeSize);
  tag.init_leaf_node(&root);
  root.root = true;
  tag.header.root = static_cast<uint32_t>(root.offset);
  file.write_header(&tag.header, tag.header_offset);
  file.write_node(&root);
  for (size_t i = 0; i < set.keys.size(); ++i) tag.insert_key(set.keys[i].data(), i + 1);

  // The tag reads back through the deferred nodes, header included, while the disk is untouched.
  EXPECT_EQ(read_all(path), before);
  idx_header_st reread;
  file.read_header(&reread, tag.header_offset);
  EXPECT_EQ(reread.version, set.keys.size());
  EXPECT_EQ(reread.root, tag.header.root);
  file.drop_cache();
  Reference expected;
  for (size_t i = 0; i < set.keys.size(); ++i) expected.emplace(set.keys[i], static_cast<uint32_t>(i + 1));
  std::vector<Pair> walked;
  index_node_st node;
  key_iterator_st it;
  for (bool more = tag.go_top(&node, &it); more; more = tag.go_next(&node, &it)) {
    walked.emplace_back(key_of(it, set.key_length), it.record);
  }
  EXPECT_EQ(walked, std::vector<Pair>(expected.begin(), expected.end()));

  deferred.commit();
  file.unlock();
  EXPECT_EQ(read_all(path).size(), static_cast<size_t>(file.end_offset));
  TreeChecker checker(&tag);
  EXPECT_EQ(checker.check(), walked);
}

// A build that fails leaves the file as it was, and the blocks it had taken are given back: the
// next tag goes where the failed one would have gone.
TEST(DeferredTagWrites, DiscardedBuildLeavesTheFileAsItWas) {
  testing_files::TempDir dir;
  const KeySet set = numeric_keys(3000, 31);
  const std::string reference = build_file((dir.path / "reference.cdx").string(), set, Defer::none);

  struct Case {
    const char* how;
    bool unlock_first;  // the lock going away discards as well
  };
  for (const Case c : {Case{"exception", false}, Case{"unlock", true}}) {
    SCOPED_TRACE(c.how);
    const std::string path = (dir.path / "t.cdx").string();
    std::remove(path.c_str());
    IndexFile file(create_file(String(path.c_str()), OPEN_WRITE), cp1252());
    file.create_compound();
    const std::string before = read_all(path);
    const std::streamoff end_before = file.end_offset;
    {
      Index failed(&file, 0);
      try {
        ASSERT_TRUE(file.lock());
        failed.header_offset = failed.alloc(kIndexHeaderSize);
        DeferredTagWrites deferred(&file, failed.header_offset);
        init_directory_header(&failed.header);
        failed.header.key_length = 8;
        failed.header.options = kCompactOptions;
        failed.set_collation(nullptr);
        index_node_st root;
        root.offset = failed.alloc(kIndexNodeSize);
        failed.init_leaf_node(&root);
        root.root = true;
        failed.header.root = static_cast<uint32_t>(root.offset);
        file.write_header(&failed.header, failed.header_offset);
        file.write_node(&root);
        for (size_t i = 0; i < set.keys.size(); ++i) failed.insert_key(set.keys[i].data(), i + 1);
        if (c.unlock_first) {
          file.unlock();
          EXPECT_FALSE(file.deferring());
        }
        throw std::runtime_error("key program failed");
      } catch (const std::runtime_error&) {
      }
      file.unlock();
    }
    EXPECT_FALSE(file.deferring());
    EXPECT_EQ(file.end_offset, end_before);
    EXPECT_EQ(read_all(path), before);

    // The next build starts from the same end: the same bytes as a file that never saw the failure.
    Index tag(&file, 0);
    build(&file, &tag, set, Defer::from_header);
    file.file->close();
    EXPECT_TRUE(read_all(path) == reference);
  }
}

// An exclusive file may start deferring before its lock is taken: taking the lock then must not
// give the blocks already taken to someone else.
TEST(DeferredTagWrites, TakingTheLockKeepsTheBlocksAlreadyTaken) {
  testing_files::TempDir dir;
  const std::string path = (dir.path / "t.cdx").string();
  IndexFile file(create_file(String(path.c_str()), OPEN_WRITE), cp1252());
  file.create_compound();
  Index tag(&file, 0);
  make_compact_tag(&tag, 8);
  tag.header_offset = tag.alloc(kIndexHeaderSize);
  DeferredTagWrites deferred(&file, tag.header_offset);
  file.write_header(&tag.header, tag.header_offset);
  ASSERT_TRUE(file.lock());
  const std::streamoff root = tag.alloc(kIndexNodeSize);
  EXPECT_EQ(root, static_cast<std::streamoff>(tag.header_offset) + static_cast<std::streamoff>(kIndexHeaderSize));
  file.unlock();
}
