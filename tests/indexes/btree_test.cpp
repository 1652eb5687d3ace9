// The B-tree's seeks, walks and updates on small fixtures; the index lock, the version check and
// the node cache; the faults the tree mends.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "btree_support.h"
#include "indexes/index_trace.h"
#include "temp_dir.h"

namespace qzbase::index_testing {
namespace {

// A tag in memory, locked, of the given key length.
struct MemoryTag {
  explicit MemoryTag(uint16_t key_length, uint16_t options = kCompactOptions) : file(memory_index_file()) {
    tag = std::make_unique<Index>(file.get(), 0);
    create_tag(file.get(), tag.get(), key_length, options);
    file->lock();
  }
  void insert(const std::string& key, uint32_t record) { ASSERT_TRUE(tag->insert_key(key.data(), record)); }
  index_node_st root() {
    index_node_st n;
    file->read_node(tag.get(), tag->header.root, &n);
    return n;
  }
  int depth() {
    int d = 1;
    for (index_node_st n = root(); !n.leaf; ++d) {
      key_iterator_st it;
      tag->goto_key(n, &it, 0);
      file->read_node(tag.get(), it.child, &n);
    }
    return d;
  }
  std::unique_ptr<IndexFile> file;
  std::unique_ptr<Index> tag;
};

std::string key8(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "K%07d", i);
  return std::string(buf, 8);
}

// --- Seeks ------------------------------------------------------------------------------------

TEST(BTreeSeek, PrefixSeeksAmongThreeKeys) {
  struct Row {
    const char* keys[3];
    SeekDir dir;
    int rng;
    int result;
    const char* at;
  };
  // Keys compared over 2 bytes; the result compares with the stepped key.
  const Row rows[] = {
      {{"AA ", "ABX", "AD "}, SEEK_DIR_FORWARD, 0, SEEK_RESULT_FOUND, "ABX"},
      {{"AA ", "ABX", "AD "}, SEEK_DIR_FORWARD, 2, SEEK_RESULT_NEAR, "AD "},   // looks for AC
      {{"AA ", "ABX", "AC "}, SEEK_DIR_FORWARD, 2, SEEK_RESULT_FOUND, "AC "},
      {{"AA ", "ABX", "AD "}, SEEK_DIR_FORWARD, 3, SEEK_RESULT_FOUND, "ABX"},  // bits 0 and 1: inclusive
      {{"AA ", "ABX", "AD "}, SEEK_DIR_BACKWARD, 0, SEEK_RESULT_FOUND, "ABX"},
      {{"AA ", "ABX", "AD "}, SEEK_DIR_BACKWARD, 2, SEEK_RESULT_FOUND, "AA "},  // steps down to AA
  };
  for (const Row& r : rows) {
    MemoryTag t(3);
    for (int i = 0; i < 3; ++i) t.insert(r.keys[i], static_cast<uint32_t>(i + 1));
    index_node_st node;
    key_iterator_st it;
    EXPECT_EQ(t.tag->seek("AB", 2, &node, &it, r.dir, r.rng), r.result) << r.dir << "/" << r.rng;
    EXPECT_EQ(key_of(it, 3), r.at) << r.dir << "/" << r.rng;
  }
}

TEST(BTreeSeek, BeyondBothEndsFindsNothing) {
  MemoryTag t(2);
  t.insert("BB", 1);
  t.insert("CC", 2);
  index_node_st node;
  key_iterator_st it;
  EXPECT_EQ(t.tag->seek("DD", 2, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_NONE);
  EXPECT_EQ(t.tag->seek("AA", 2, &node, &it, SEEK_DIR_BACKWARD, 0), SEEK_RESULT_NONE);
  EXPECT_EQ(t.tag->seek("AA", 2, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_NEAR);
  EXPECT_EQ(key_of(it, 2), "BB");
  // An empty tag has nothing in either direction.
  MemoryTag empty(2);
  for (const SeekDir dir : {SEEK_DIR_FORWARD, SEEK_DIR_BACKWARD}) {
    for (const int rng : {0, 2}) EXPECT_EQ(empty.tag->seek("BB", 2, &node, &it, dir, rng), SEEK_RESULT_NONE);
  }
}

// Stepping a key of all 0xFF or all 0x00 bytes fails; the seek must not run on the wrapped copy.
TEST(BTreeSeek, KeysThatCannotBeSteppedDoNotWrap) {
  MemoryTag t(2);
  const std::string lowest("\x00\x00", 2);
  const std::string highest("\xFF\xFF", 2);
  t.insert(lowest, 1);  // the null key of a nullable tag
  t.insert("MM", 2);
  t.insert(highest, 3);
  index_node_st node;
  key_iterator_st it;
  // Nothing lies above all 0xFF: not the first key.
  EXPECT_EQ(t.tag->seek(highest.data(), 2, &node, &it, SEEK_DIR_FORWARD, 2), SEEK_RESULT_NONE);
  // Backward inclusive from all 0xFF stands on the last key, which equals it.
  EXPECT_EQ(t.tag->seek(highest.data(), 2, &node, &it, SEEK_DIR_BACKWARD, 0), SEEK_RESULT_FOUND);
  EXPECT_EQ(it.record, 3u);
  // Nothing lies below all 0x00.
  EXPECT_EQ(t.tag->seek(lowest.data(), 2, &node, &it, SEEK_DIR_BACKWARD, 2), SEEK_RESULT_NONE);
  // And the plain cases around them still work.
  EXPECT_EQ(t.tag->seek(lowest.data(), 2, &node, &it, SEEK_DIR_FORWARD, 2), SEEK_RESULT_NEAR);
  EXPECT_EQ(it.record, 2u);
  EXPECT_EQ(t.tag->seek(highest.data(), 2, &node, &it, SEEK_DIR_BACKWARD, 2), SEEK_RESULT_NEAR);
  EXPECT_EQ(it.record, 2u);
  // Over a one-byte prefix as well.
  EXPECT_EQ(t.tag->seek("\xFF", 1, &node, &it, SEEK_DIR_FORWARD, 2), SEEK_RESULT_NONE);
}

// A raw key longer than the tag's is cut to the key length (no overrun, no bytes beyond).
TEST(BTreeSeek, LongRawKeyIsClampedToTheKeyLength) {
  MemoryTag t(8);
  for (int i = 0; i < 50; ++i) t.insert(key8(i), static_cast<uint32_t>(i + 1));
  std::string raw = key8(7) + std::string(400, 'Z');
  index_node_st node;
  key_iterator_st it;
  for (const SeekDir dir : {SEEK_DIR_FORWARD, SEEK_DIR_BACKWARD}) {
    EXPECT_EQ(t.tag->seek(raw.data(), raw.size(), &node, &it, dir, 0), SEEK_RESULT_FOUND);
    EXPECT_EQ(it.record, 8u);
  }
  EXPECT_EQ(t.tag->seek(raw.data(), raw.size(), &node, &it, SEEK_DIR_FORWARD, 2), SEEK_RESULT_FOUND);
  EXPECT_EQ(it.record, 9u);
}

TEST(BTreeSeek, RelativePositionGrowsWithTheKey) {
  MemoryTag t(8);
  for (int i = 0; i < 3000; ++i) t.insert(key8(i), static_cast<uint32_t>(i + 1));
  ASSERT_GE(t.depth(), 2);
  index_node_st node;
  key_iterator_st it;
  double last = -1;
  for (int i = 0; i < 3000; i += 150) {
    ASSERT_EQ(t.tag->seek(key8(i).data(), 8, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_FOUND);
    EXPECT_GT(it.position, last) << i;
    EXPECT_NEAR(it.position, (i + 1) / 3000.0, 0.2) << i;
    last = it.position;
  }
}

// --- Walks ------------------------------------------------------------------------------------

TEST(BTreeWalk, TopBottomAndStepsAcrossLeaves) {
  MemoryTag t(8);
  index_node_st node;
  key_iterator_st it;
  EXPECT_FALSE(t.tag->go_top(&node, &it));
  EXPECT_FALSE(t.tag->go_bottom(&node, &it));
  for (int i = 0; i < 500; ++i) t.insert(key8(i), static_cast<uint32_t>(i + 1));
  ASSERT_TRUE(t.tag->go_bottom(&node, &it));
  EXPECT_EQ(it.record, 500u);
  EXPECT_FALSE(t.tag->go_next(&node, &it));  // beyond the last, and it stays there
  EXPECT_FALSE(t.tag->go_next(&node, &it));
  ASSERT_TRUE(t.tag->go_prev(&node, &it));
  EXPECT_EQ(it.record, 500u);
  ASSERT_TRUE(t.tag->go_top(&node, &it));
  EXPECT_EQ(it.record, 1u);
  EXPECT_FALSE(t.tag->go_prev(&node, &it));
  ASSERT_TRUE(t.tag->go_next(&node, &it));
  EXPECT_EQ(it.record, 1u);
}

// --- Updates ----------------------------------------------------------------------------------

// Appending ascending keys to a full rightmost leaf leaves it untouched and starts a new leaf.
TEST(BTreeUpdate, AppendToAFullRightmostLeafStartsANewLeaf) {
  MemoryTag t(8);
  int n = 0;
  while (t.root().leaf) {
    t.insert(key8(n), static_cast<uint32_t>(n + 1));
    ++n;
  }
  // The root split on the n-th key: the first leaf holds every key but the last, unchanged.
  const index_node_st root = t.root();
  ASSERT_EQ(root.count, 2u);
  key_iterator_st it;
  t.tag->goto_key(root, &it, 0);
  index_node_st left;
  t.file->read_node(t.tag.get(), it.child, &left);
  EXPECT_EQ(left.count, static_cast<uint32_t>(n - 1));
  EXPECT_EQ(key_of(it, 8), key8(n - 2));
  t.tag->goto_key(root, &it, 1);
  index_node_st right;
  t.file->read_node(t.tag.get(), it.child, &right);
  EXPECT_EQ(right.count, 1u);
  EXPECT_EQ(key_of(it, 8), key8(n - 1));  // the parent holds the new leaf's real greatest key
  EXPECT_EQ(right.left, static_cast<uint32_t>(left.offset));
  EXPECT_EQ(left.right, static_cast<uint32_t>(right.offset));
  // The header on disk records the new root.
  idx_header_st disk;
  t.file->read_header(&disk, t.tag->header_offset);
  EXPECT_EQ(disk.root, static_cast<uint32_t>(root.offset));
  EXPECT_TRUE(root.root);
  EXPECT_FALSE(left.root);
}

TEST(BTreeUpdate, DeletingGreatestKeysUpdatesTheEntriesAbove) {
  MemoryTag t(8);
  for (int i = 0; i < 6000; ++i) t.insert(key8(i), static_cast<uint32_t>(i + 1));
  ASSERT_GE(t.depth(), 3);
  // Delete from the top: each greatest key of a leaf is the greatest of its parents too.
  for (int i = 5999; i >= 3000; --i) ASSERT_TRUE(t.tag->delete_key(key8(i).data(), i + 1));
  TreeChecker checker(t.tag.get());
  EXPECT_EQ(checker.check().size(), 3000u);
  EXPECT_FALSE(t.tag->delete_key(key8(4000).data(), 4001));  // gone
  EXPECT_FALSE(t.tag->delete_key(key8(10).data(), 12));      // key there, record not
}

TEST(BTreeUpdate, TheOnlyKeyOfALeafUnlinksIt) {
  MemoryTag t(8);
  int n = 0;
  while (t.depth() < 2 || n < 400) {
    t.insert(key8(n), static_cast<uint32_t>(n + 1));
    ++n;
  }
  // Find a middle leaf and empty it.
  index_node_st node;
  key_iterator_st it;
  ASSERT_TRUE(t.tag->go_top(&node, &it));
  const index_node_st first = node;
  index_node_st middle;
  t.file->read_node(t.tag.get(), first.right, &middle);
  ASSERT_NE(middle.right, kIndexNoNode);
  std::vector<Pair> keys;
  key_iterator_st mi;
  for (t.tag->goto_first_key(middle, &mi); mi.index < static_cast<int32_t>(middle.count); t.tag->goto_next_key(middle, &mi)) {
    keys.emplace_back(key_of(mi, 8), mi.record);
  }
  for (const Pair& p : keys) ASSERT_TRUE(t.tag->delete_key(p.first.data(), p.second));
  index_node_st left;
  index_node_st right;
  t.file->read_node(t.tag.get(), first.offset, &left);
  t.file->read_node(t.tag.get(), middle.right, &right);
  EXPECT_EQ(left.right, static_cast<uint32_t>(right.offset));
  EXPECT_EQ(right.left, static_cast<uint32_t>(left.offset));
  TreeChecker checker(t.tag.get());
  EXPECT_EQ(checker.check().size(), static_cast<size_t>(n) - keys.size());
}

// A branch root that loses its last entry becomes an empty root leaf: GO TOP and the next insert
// have something to stand on.
TEST(BTreeUpdate, EmptyingATallTreeLeavesOneRootLeaf) {
  MemoryTag t(8);
  for (int i = 0; i < 2000; ++i) t.insert(key8(i), static_cast<uint32_t>(i + 1));
  ASSERT_GE(t.depth(), 2);
  const uint32_t root_offset = t.tag->header.root;
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(t.tag->delete_key(key8(i).data(), i + 1));
  const index_node_st root = t.root();
  EXPECT_EQ(root.offset, root_offset);  // the root never moves on delete
  EXPECT_TRUE(root.leaf);
  EXPECT_TRUE(root.root);
  EXPECT_EQ(root.count, 0u);
  index_node_st node;
  key_iterator_st it;
  EXPECT_FALSE(t.tag->go_top(&node, &it));
  EXPECT_EQ(t.tag->seek("K", 1, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_NONE);
  t.insert(key8(5), 6);
  ASSERT_TRUE(t.tag->go_top(&node, &it));
  EXPECT_EQ(it.record, 6u);
}

// Long keys leave one key per leaf and two entries per branch. Runs of ascending or descending
// keys must still give a tree of logarithmic height, not one level per split.
TEST(BTreeUpdate, RunsOfLongKeysKeepTheTreeLow) {
  for (const bool ascending : {true, false}) {
    MemoryTag t(240);
    std::mt19937 rng(9);
    const int n = 1500;
    for (int i = 0; i < n; ++i) {
      const int k = ascending ? i : n - i;
      std::string key(240, '\0');
      std::snprintf(key.data(), 240, "%06d", k);
      for (size_t b = 8; b < key.size(); ++b) key[b] = static_cast<char>(1 + rng() % 250);  // no compression
      t.insert(key, static_cast<uint32_t>(i + 1));
    }
    EXPECT_LE(t.depth(), 24) << (ascending ? "ascending" : "descending");
    TreeChecker checker(t.tag.get());
    EXPECT_EQ(checker.check().size(), static_cast<size_t>(n));
  }
}

// A key put in front of a full leaf and taken out again (a blank record's key, replaced at once)
// once split off a one-key leaf and unlinked it each time: a dead block per record.
TEST(BTreeUpdate, KeyInAndOutInFrontOfAFullLeafStopsTakingBlocks) {
  for (const uint16_t length : {uint16_t{8}, uint16_t{100}}) {
    MemoryTag t(length);
    auto key = [length](int i) {
      std::string k = key8(i);
      k.resize(length, static_cast<char>('a' + i % 7));  // long keys: little for compression to take
      return k;
    };
    int n = 1000;
    while (t.root().leaf || n < 1400) {
      t.insert(key(n), static_cast<uint32_t>(n));
      ++n;
    }
    const std::string front = key(0);
    t.insert(front, 5000);
    ASSERT_TRUE(t.tag->delete_key(front.data(), 5000));
    const std::streamoff end = t.file->end_offset;
    for (uint32_t r = 5001; r < 5200; ++r) {
      t.insert(front, r);
      ASSERT_TRUE(t.tag->delete_key(front.data(), r));
    }
    EXPECT_EQ(t.file->end_offset, end) << "key length " << length;
    TreeChecker checker(t.tag.get());
    EXPECT_EQ(checker.check().size(), static_cast<size_t>(n - 1000)) << "key length " << length;
  }
}

// A tag laid down from sorted pairs: a well-formed tree holding exactly those pairs in order,
// with leaves as full as key-by-key insertion of the same pairs leaves them at best, and one that
// takes further changes like any other.
TEST(BTreeBulkLoad, SortedPairsGiveAFullWellFormedTree) {
  struct Row {
    uint16_t length;
    int count;
  };
  for (const Row row : {Row{8, 0}, Row{8, 1}, Row{8, 30}, Row{8, 20000}, Row{100, 3000}, Row{240, 600}}) {
    SCOPED_TRACE("key length " + std::to_string(row.length) + ", " + std::to_string(row.count) + " pairs");
    std::mt19937 rng(static_cast<uint32_t>(row.count));
    Reference pairs;
    for (int i = 0; i < row.count; ++i) {
      std::string k(row.length, ' ');
      const int v = static_cast<int>(rng() % static_cast<uint32_t>(row.count / 3 + 1));  // duplicates
      char digits[16];
      std::snprintf(digits, sizeof digits, "%08d", v);
      std::memcpy(k.data(), digits, 8);
      if (row.length > 8) {
        for (size_t b = 8; b < k.size(); ++b) k[b] = static_cast<char>('A' + rng() % 3);  // little to compress
      }
      pairs.emplace(k, static_cast<uint32_t>(i + 1));
    }
    std::vector<char> flat;
    for (const Pair& p : pairs) {
      flat.insert(flat.end(), p.first.begin(), p.first.end());
      flat.insert(flat.end(), reinterpret_cast<const char*>(&p.second),
                  reinterpret_cast<const char*>(&p.second) + sizeof p.second);
    }
    MemoryTag t(row.length);
    t.tag->load_sorted(flat.data(), pairs.size());
    TreeChecker checker(t.tag.get());
    const std::vector<Pair> loaded = checker.check();
    EXPECT_EQ(loaded, std::vector<Pair>(pairs.begin(), pairs.end()));

    // The same pairs inserted one by one (in order: the densest that way gets) take no fewer blocks.
    MemoryTag one_by_one(row.length);
    for (const Pair& p : pairs) one_by_one.insert(p.first, p.second);
    EXPECT_LE(t.file->end_offset, one_by_one.file->end_offset);

    // Later changes: deletes, inserts into the full leaves, every pair findable.
    Reference now = pairs;
    std::vector<Pair> doomed(pairs.begin(), pairs.end());
    std::shuffle(doomed.begin(), doomed.end(), rng);
    doomed.resize(doomed.size() / 4);
    for (const Pair& p : doomed) {
      ASSERT_TRUE(t.tag->delete_key(p.first.data(), p.second));
      now.erase(p);
    }
    for (int i = 0; i < row.count / 4 + 5; ++i) {
      const std::string key = pairs.empty() ? std::string(row.length, 'x')
                                            : std::next(pairs.begin(), static_cast<long>(rng() % pairs.size()))->first;
      const Pair p{key, static_cast<uint32_t>(row.count + i + 1)};
      t.insert(p.first, p.second);
      now.insert(p);
    }
    EXPECT_EQ(checker.check(), std::vector<Pair>(now.begin(), now.end()));
    for (const Pair& p : now) {
      index_node_st node;
      key_iterator_st it;
      ASSERT_EQ(t.tag->seek_record(p.first.data(), p.second, &node, &it), SEEK_RESULT_FOUND);
    }
  }
}

TEST(BTreeUpdate, VersionRisesOncePerChangeAndTheFileEndGrowsByBlocks) {
  MemoryTag t(8);
  const uint64_t v = t.tag->header.version;
  t.insert(key8(1), 1);
  EXPECT_FALSE(t.tag->delete_key(key8(2).data(), 2));
  EXPECT_TRUE(t.tag->delete_key(key8(1).data(), 1));
  EXPECT_EQ(t.tag->header.version, v + 2);
  for (int i = 0; i < 300; ++i) t.insert(key8(i), static_cast<uint32_t>(i + 1));
  EXPECT_EQ(t.file->end_offset % 512, 0);
  EXPECT_EQ(static_cast<size_t>(t.file->end_offset), t.file->file->get_size());
}

TEST(BTreeUpdate, ChangesNeedTheLock) {
  MemoryTag t(8);
  t.file->unlock();
  EXPECT_THROW(t.tag->insert_key(key8(1).data(), 1), dbf_error_index_file_not_locked);
  EXPECT_THROW(t.tag->delete_key(key8(1).data(), 1), dbf_error_index_file_not_locked);
  MemoryTag b(1, kBinaryOptions);
  b.file->unlock();
  EXPECT_THROW(b.tag->replace_bit(1, "T"), dbf_error_index_file_not_locked);
}

// A tag of basic leaves (written by another program) is refused before anything is written.
TEST(BTreeUpdate, BasicLeavesAreRefusedUntouched) {
  auto file = memory_index_file();
  Index tag(file.get(), 0);
  create_tag(file.get(), &tag, 4, kCompactOptions);
  tag.header.options = IDX_OPT_CREATED | IDX_OPT_MACHINE;  // neither compact nor bitmap
  file->write_header(&tag.header, tag.header_offset);
  file->lock();
  const size_t size = file->file->get_size();
  std::vector<char> before(size);
  file->file->readex(0, before.data(), size);
  try {
    tag.insert_key("ABCD", 1);
    FAIL() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
    EXPECT_NE(e.detail.u8str().find("basic leaves"), std::string::npos);
  }
  EXPECT_THROW(tag.delete_key("ABCD", 1), RuntimeError);
  std::vector<char> after(file->file->get_size());
  file->file->readex(0, after.data(), after.size());
  EXPECT_EQ(before, after);
}

TEST(BTreeUpdate, BitmapLeafHoldsRecordsFromItsBase) {
  MemoryTag t(1, kBinaryOptions);
  index_node_st leaf = t.root();
  key_iterator_st it;
  EXPECT_TRUE(t.tag->insert_bitmap_entry(&leaf, &it, "T", 100));
  EXPECT_EQ(leaf.bitmap_base, 100u);
  EXPECT_TRUE(t.tag->insert_bitmap_entry(&leaf, &it, "F", 100 + 3967));
  EXPECT_EQ(leaf.count, 3968u);
  EXPECT_FALSE(t.tag->insert_bitmap_entry(&leaf, &it, "T", 100 + 3968));
  // Through the tree the record beyond starts a new leaf.
  t.insert("T", 1);
  t.insert("T", 1 + 3968);
  EXPECT_FALSE(t.root().leaf);
  TreeChecker checker(t.tag.get());
  const auto bits = checker.bits();
  EXPECT_TRUE(bits.at(1));
  EXPECT_TRUE(bits.at(1 + 3968));
  EXPECT_THROW(t.tag->replace_bit(5000, "T"), dbf_index_file_corrupted);  // not in the tag
}

TEST(BTreeUpdate, SplitHookRunsAfterEachSplitOnThisThreadOnly) {
  static int calls = 0;
  calls = 0;
  MemoryTag t(8);
  for (int i = 0; i < 100; ++i) t.insert(key8(i), static_cast<uint32_t>(i + 1));
  EXPECT_EQ(calls, 0);  // empty by default
  set_trace_idx_split_after_write_right_left([](void* c) { ++*static_cast<int*>(c); }, &calls);
  int n = 100;
  while (t.depth() < 3) {
    t.insert(key8(n), static_cast<uint32_t>(n + 1));
    ++n;
  }
  // Every leaf split, and the branch root's split: one call each.
  int leaves = 0;
  index_node_st node;
  key_iterator_st it;
  for (bool on = t.tag->go_top(&node, &it); on; on = t.tag->go_next(&node, &it)) {
    if (it.index == 0) ++leaves;
  }
  EXPECT_EQ(calls, (leaves - 1) + 1);  // the leaf splits since there was one leaf, and the root
  set_trace_idx_split_after_write_right_left(nullptr, nullptr);
}

// --- Lock, version check and cache ------------------------------------------------------------

TEST(IndexLock, TakenOnceRaisesTheGenerationOnce) {
  auto file = memory_index_file();
  EXPECT_FALSE(file->is_locked());
  file->lock();
  file->lock();
  EXPECT_TRUE(file->is_locked());
  EXPECT_EQ(file->lock_generation(), 1u);
  file->unlock();
  file->unlock();
  EXPECT_FALSE(file->is_locked());
  file->lock();
  EXPECT_EQ(file->lock_generation(), 2u);
}

TEST(IndexLock, LockSetTakesEachFileOnceAndANestedSetReleasesNothing) {
  auto a = memory_index_file();
  auto b = memory_index_file();
  IndexLockSet all;
  all.take({a.get(), b.get(), a.get()});
  EXPECT_EQ(all.taken(), 2u);
  EXPECT_TRUE(a->is_locked());
  EXPECT_TRUE(b->is_locked());
  EXPECT_EQ(a->lock_generation(), 1u);
  {
    IndexLockSet inner;
    inner.take({a.get(), b.get()});
    EXPECT_EQ(inner.taken(), 0u);
    inner.release();
  }
  EXPECT_TRUE(a->is_locked());
  EXPECT_TRUE(b->is_locked());
  all.release();
  EXPECT_FALSE(a->is_locked());
  EXPECT_FALSE(b->is_locked());
  // Updates while the set holds the file are allowed, after it refused.
  Index tag(a.get(), 0);
  create_tag(a.get(), &tag, 8, kCompactOptions);
  all.take({a.get()});
  EXPECT_TRUE(tag.insert_key(key8(1).data(), 1));
  all.release();
  EXPECT_THROW(tag.insert_key(key8(2).data(), 2), dbf_error_index_file_not_locked);
}

TEST(IndexCache, LeastRecentlyUsedNodeLeavesAfter64Others) {
  MemoryTag t(8);
  // 65 blocks that decode as empty leaves.
  std::vector<std::streamoff> offsets;
  for (int i = 0; i < 65; ++i) {
    index_node_st n;
    n.offset = t.tag->alloc(512);
    t.tag->init_leaf_node(&n);
    t.file->write_node(&n);
    offsets.push_back(n.offset);
  }
  t.file->drop_cache();
  const uint64_t reads = t.file->nodes_read;
  index_node_st n;
  for (std::streamoff o : offsets) t.file->read_node(t.tag.get(), o, &n);
  EXPECT_EQ(t.file->nodes_read - reads, 65u);
  EXPECT_EQ(t.file->cached_nodes(), 64u);
  EXPECT_FALSE(t.file->is_cached(offsets[0]));
  EXPECT_TRUE(t.file->is_cached(offsets[1]));
  // A hit moves a node to the front: reading offsets[1] again keeps it while offsets[2] goes.
  t.file->read_node(t.tag.get(), offsets[1], &n);
  t.file->read_node(t.tag.get(), offsets[0], &n);
  EXPECT_TRUE(t.file->is_cached(offsets[1]));
  EXPECT_FALSE(t.file->is_cached(offsets[2]));
  EXPECT_EQ(t.file->nodes_read - reads, 66u);
}

// Two opens of one file in this process: one writes, the other reads.
struct SharedPair {
  SharedPair() {
    path = (dir.path / "s.cdx").native();
    writer = std::make_unique<IndexFile>(create_file(String(path.c_str()), OPEN_SHARED), cp1252());
    wtag = std::make_unique<Index>(writer.get(), 0);
    create_tag(writer.get(), wtag.get(), 8, kCompactOptions);
    reader = std::make_unique<IndexFile>(open_file(String(path.c_str()), OPEN_WRITE | OPEN_SHARED), cp1252());
    rtag = std::make_unique<Index>(reader.get(), wtag->header_offset);
    reader->read_header(&rtag->header, rtag->header_offset);
  }
  void write(int from, int to) {
    writer->lock();
    for (int i = from; i < to; ++i) ASSERT_TRUE(wtag->insert_key(key8(i).data(), static_cast<uint32_t>(i + 1)));
    writer->unlock();
  }
  testing_files::TempDir dir;
  std::string path;
  std::unique_ptr<IndexFile> writer;
  std::unique_ptr<Index> wtag;
  std::unique_ptr<IndexFile> reader;
  std::unique_ptr<Index> rtag;
};

TEST(IndexVersion, AnotherWriterMakesTheNextSeekDropTheCache) {
  SharedPair s;
  s.write(0, 10);
  index_node_st node;
  key_iterator_st it;
  EXPECT_EQ(s.rtag->seek(key8(20).data(), 8, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_NONE);
  EXPECT_GT(s.reader->cached_nodes(), 0u);
  s.write(20, 21);
  const uint64_t headers = s.reader->headers_read;
  EXPECT_EQ(s.rtag->seek(key8(20).data(), 8, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_FOUND);
  EXPECT_EQ(s.reader->headers_read, headers + 1);
  EXPECT_EQ(s.rtag->header.version, s.wtag->header.version);
}

TEST(IndexVersion, HeldLockReadsTheHeaderOnce) {
  SharedPair s;
  s.write(0, 10);
  s.reader->lock();
  const uint64_t headers = s.reader->headers_read;
  index_node_st node;
  key_iterator_st it;
  for (int i = 0; i < 5; ++i) s.rtag->seek(key8(i).data(), 8, &node, &it, SEEK_DIR_FORWARD, 0);
  EXPECT_EQ(s.reader->headers_read, headers + 1);
  s.reader->unlock();
  // Without the lock every descent looks again.
  for (int i = 0; i < 3; ++i) s.rtag->seek(key8(i).data(), 8, &node, &it, SEEK_DIR_FORWARD, 0);
  EXPECT_EQ(s.reader->headers_read, headers + 4);
}

// GO TOP after another writer split the root walks the new tree, not the stale root.
TEST(IndexVersion, GoTopSeesARootSplitByAnotherWriter) {
  SharedPair s;
  s.write(0, 5);
  index_node_st node;
  key_iterator_st it;
  ASSERT_TRUE(s.rtag->go_top(&node, &it));
  const uint32_t old_root = s.rtag->header.root;
  int n = 5;
  while (s.wtag->header.root == old_root) s.write(n, n + 1), ++n;
  std::vector<uint32_t> seen;
  for (bool on = s.rtag->go_top(&node, &it); on; on = s.rtag->go_next(&node, &it)) seen.push_back(it.record);
  ASSERT_EQ(seen.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) EXPECT_EQ(seen[i], static_cast<uint32_t>(i + 1));
}

// Processes: the child changes the file under the lock while the parent holds cached nodes.
TEST(IndexVersion, ForkedWriterIsSeenByTheParent) {
  SharedPair s;
  s.write(0, 10);
  index_node_st node;
  key_iterator_st it;
  ASSERT_EQ(s.rtag->seek(key8(500).data(), 8, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_NONE);
  const uint32_t old_root = s.rtag->header.root;

  // The parent holds the lock while the child starts: the child's insert waits for it.
  s.reader->lock();
  const uint64_t version = s.rtag->header.version;
  const auto child = [&](int from, int to) {
    pid_t pid = fork();
    if (pid == 0) {
      int rc = 0;
      try {
        IndexFile f(open_file(String(s.path.c_str()), OPEN_WRITE | OPEN_SHARED), cp1252());
        Index tag(&f, s.wtag->header_offset);
        f.lock();
        f.read_header(&tag.header, tag.header_offset);
        for (int i = from; i < to; ++i) tag.insert_key(key8(i).data(), static_cast<uint32_t>(i + 1));
        f.unlock();
      } catch (...) {
        rc = 1;
      }
      _exit(rc);
    }
    return pid;
  };
  pid_t pid = child(500, 501);
  ASSERT_GT(pid, 0);
  usleep(200 * 1000);
  idx_header_st disk;
  s.reader->read_header(&disk, s.rtag->header_offset);
  EXPECT_EQ(disk.version, version) << "the child wrote without the lock";
  s.reader->unlock();
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(s.rtag->seek(key8(500).data(), 8, &node, &it, SEEK_DIR_FORWARD, 0), SEEK_RESULT_FOUND);
  EXPECT_EQ(it.record, 501u);

  // Now the child splits the root; the parent's GO TOP walks the new order.
  pid = child(10, 400);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<uint32_t> seen;
  for (bool on = s.rtag->go_top(&node, &it); on; on = s.rtag->go_next(&node, &it)) seen.push_back(it.record);
  EXPECT_NE(s.rtag->header.root, old_root);
  ASSERT_EQ(seen.size(), 401u);
  for (int i = 0; i < 400; ++i) EXPECT_EQ(seen[i], static_cast<uint32_t>(i + 1));
  EXPECT_EQ(seen[400], 501u);
}

}  // namespace
}  // namespace qzbase::index_testing
