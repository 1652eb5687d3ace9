// btree_support.h - helpers of the B-tree tests: a new tag in an index file, a tree checker that
// reads every node from the disk image, and a reference of the seeks over an ordered set.
#pragma once

#include <gtest/gtest.h>
#include <qzbase.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "index_support.h"
#include "indexes/index.h"
#include "indexes/index_file.h"
#include "indexes/index_format.h"
#include "platform/file.h"
#include "tables/dbf_exceptions.h"

namespace qzbase::index_testing {

using Pair = std::pair<std::string, uint32_t>;
using Reference = std::set<Pair>;

// A new tag at the file end: header, then an empty root leaf of its kind. The index file is
// locked for it when shared and left as it was.
inline void create_tag(IndexFile* file, Index* tag, uint16_t key_length, uint16_t options) {
  const bool was_locked = file->is_locked();
  file->lock();
  idx_header_st& h = tag->header;
  init_directory_header(&h);
  h.key_length = key_length;
  h.options = options;
  tag->set_collation(nullptr);
  tag->header_offset = tag->alloc(kIndexHeaderSize);
  index_node_st root;
  root.offset = tag->alloc(kIndexNodeSize);
  tag->init_leaf_node(&root);
  root.root = true;
  h.root = static_cast<uint32_t>(root.offset);
  file->write_header(&h, tag->header_offset);
  file->write_node(&root);
  if (!was_locked) file->unlock();
}

inline constexpr uint16_t kCompactOptions = IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_MACHINE;
inline constexpr uint16_t kBinaryOptions = IDX_OPT_BINARY | IDX_OPT_CREATED | IDX_OPT_MACHINE;

inline std::string key_of(const key_iterator_st& it, size_t length) { return std::string(it.key(), length); }

// Walks the whole tree from the disk image (the cache is dropped first) and checks its shape.
// Returns the pairs in descent order; failures are reported through gtest.
class TreeChecker {
 public:
  TreeChecker(Index* tag) : tag_(tag), file_(tag->file) {}

  std::vector<Pair> check() {
    file_->drop_cache();
    idx_header_st disk;
    file_->read_header(&disk, tag_->header_offset);
    EXPECT_EQ(disk.root, tag_->header.root);
    EXPECT_EQ(disk.version, tag_->header.version);
    pairs_.clear();
    leaves_.clear();
    leaf_depth_ = -1;
    const index_node_st root = node(disk.root);
    EXPECT_TRUE(root.root) << "root attribute";
    walk(root, 0, true);
    if (pairs_.empty()) {
      EXPECT_TRUE(root.leaf) << "an emptied tree is one root leaf";
      EXPECT_EQ(root.count, 0u);
    }
    // Sibling chain from the leftmost leaf: the same leaves, linked both ways.
    if (!leaves_.empty()) {
      uint32_t prev = kIndexNoNode;
      size_t i = 0;
      for (uint32_t at = leaves_.front(); at != kIndexNoNode; ++i) {
        if (i >= leaves_.size()) {
          ADD_FAILURE() << "sibling chain longer than the tree";
          break;
        }
        EXPECT_EQ(at, leaves_[i]) << "leaf " << i;
        const index_node_st n = node(at);
        EXPECT_EQ(n.left, prev) << "left link of leaf " << i;
        prev = at;
        at = n.right;
      }
      EXPECT_EQ(i, leaves_.size()) << "sibling chain shorter than the tree";
    }
    return pairs_;
  }

  // Bitmap tags: record -> bit over the sibling chain.
  std::map<uint32_t, bool> bits() {
    std::map<uint32_t, bool> out;
    check_bitmap_ = true;
    check();
    for (uint32_t at : leaves_) {
      const index_node_st n = node(at);
      for (uint32_t e = 0; e < n.count; ++e) {
        const auto byte = static_cast<uint8_t>(n.raw[idx_node_at::bitmap + e / 8]);
        out[n.bitmap_base + e] = ((byte >> (e % 8)) & 1) != 0;
      }
    }
    return out;
  }

 private:
  index_node_st node(uint32_t offset) {
    EXPECT_EQ(offset % kIndexBlockSize, 0u);
    EXPECT_LT(offset, file_->file->get_size());
    index_node_st n;
    file_->read_node(tag_, offset, &n);
    return n;
  }

  // The greatest pair below the node.
  Pair walk(const index_node_st& n, int depth, bool is_root) {
    if (!is_root) {
      EXPECT_FALSE(n.root) << "root attribute below the root";
      EXPECT_GT(n.count, 0u) << "empty node below the root at " << n.offset;
    }
    Pair greatest;
    if (n.leaf) {
      if (leaf_depth_ < 0) leaf_depth_ = depth;
      EXPECT_EQ(leaf_depth_, depth) << "leaves at different depths";
      leaves_.push_back(static_cast<uint32_t>(n.offset));
      if (n.bitmap) {
        if (n.count != 0) greatest = {std::string(), n.bitmap_base + n.count - 1};
        for (uint32_t e = 0; e < n.count; ++e) pairs_.emplace_back(std::string(), n.bitmap_base + e);
        return greatest;
      }
      key_iterator_st it;
      tag_->goto_first_key(n, &it);
      while (it.index < static_cast<int32_t>(n.count)) {
        greatest = {key_of(it, n.key_length), it.record};
        pairs_.push_back(greatest);
        tag_->goto_next_key(n, &it);
      }
      return greatest;
    }
    for (uint32_t i = 0; i < n.count; ++i) {
      key_iterator_st it;
      tag_->goto_key(n, &it, i);
      const Pair entry{key_of(it, n.key_length), it.record};
      const Pair below = walk(node(it.child), depth + 1, false);
      EXPECT_EQ(entry, below) << "branch entry " << i << " of " << n.offset << " against its child's greatest";
      greatest = entry;
    }
    return greatest;
  }

  Index* tag_;
  IndexFile* file_;
  std::vector<Pair> pairs_;
  std::vector<uint32_t> leaves_;
  int leaf_depth_ = -1;
  bool check_bitmap_ = false;
};

// --- Reference seeks --------------------------------------------------------------------------

struct SeekAnswer {
  int result;
  Pair at;  // the pair stood on (result 0 or 1)
};

inline bool step_up(std::string* k) { return IncreaseRawKey(k->data(), k->size()); }
inline bool step_down(std::string* k) { return ShrinkRawKey(k->data(), k->size()); }

// The answer of a seek over the key's length, read from the ordered set.
inline SeekAnswer reference_seek_fast(const Reference& ref, std::string k, bool forward, bool exclusive) {
  const size_t n = k.size();
  auto prefix = [n](const Pair& p) { return p.first.substr(0, n); };
  if (forward) {
    if (exclusive && !step_up(&k)) return {SEEK_RESULT_NONE, {}};
    auto it = ref.lower_bound(Pair{k, 0});
    if (it == ref.end()) return {SEEK_RESULT_NONE, {}};
    return {prefix(*it) == k ? SEEK_RESULT_FOUND : SEEK_RESULT_NEAR, *it};
  }
  if (exclusive && !step_down(&k)) return {SEEK_RESULT_NONE, {}};
  // The last pair whose prefix is at most k: just before the first pair whose prefix exceeds k.
  std::string above = k;
  Reference::const_iterator it;
  if (step_up(&above)) {
    it = ref.lower_bound(Pair{above, 0});
  } else {
    it = ref.end();
  }
  if (it == ref.begin()) return {SEEK_RESULT_NONE, {}};
  --it;
  return {prefix(*it) == k ? SEEK_RESULT_FOUND : SEEK_RESULT_NEAR, *it};
}

}  // namespace qzbase::index_testing
