// btree.cpp - search, navigation and update of one tag's B-tree.
//
// Branch nodes are basic nodes whose entries hold the greatest (key, record) pair of their child
// and the child's offset; pairs are ordered by key bytes, then record number. A descent reads one
// node per level straight from the file's node cache (no copy per level); only the leaf reached
// is copied into the caller's cursor. Updates work on copies of the path (waypoints) and write
// every node they change.
#include <algorithm>
#include <cstring>

#include "indexes/index.h"
#include "indexes/index_file.h"
#include "indexes/index_trace.h"
#include "tables/dbf_exceptions.h"

namespace qzbase {

namespace {

[[noreturn]] void corrupted() { throw dbf_index_file_corrupted(); }

constexpr size_t kBasicBody = idx_node_at::body_size;  // 500 bytes of entries
constexpr uint32_t kBitmapEntries = idx_node_at::bitmap_bits;
constexpr int kMaxDepth = 64;  // deeper than any real tree: a cycle in a damaged file

thread_local index_split_trace_fn split_trace = nullptr;
thread_local void* split_trace_context = nullptr;

inline char* basic_entry(index_node_st* node, uint32_t i) {
  return node->raw + idx_node_at::body + static_cast<size_t>(i) * (node->key_length + 8);
}
inline const char* basic_entry(const index_node_st& node, uint32_t i) {
  return node.raw + idx_node_at::body + static_cast<size_t>(i) * (node.key_length + 8);
}

// (a key, a record) against (b key, b record), keys over the length.
inline int compare_pair(const char* a, uint32_t a_record, const char* b, uint32_t b_record, size_t length) {
  const int c = length != 0 ? std::memcmp(a, b, length) : 0;
  if (c != 0) return c;
  return a_record < b_record ? -1 : (a_record > b_record ? 1 : 0);
}

// The relative position narrowed to entry `index` of `count`.
inline void narrow(double* position, double* range, int32_t index, uint32_t count) {
  if (count == 0) return;
  *position -= (1.0 - static_cast<double>(index + 1) / count) * *range;
  *range /= count;
}

inline bool bitmap_bit(const index_node_st& node, uint32_t entry) {
  const auto byte = static_cast<uint8_t>(node.raw[idx_node_at::bitmap + entry / 8]);
  return ((byte >> (entry % 8)) & 1) != 0;
}

inline void set_bitmap_bit(index_node_st* node, uint32_t entry, bool on) {
  auto byte = static_cast<uint8_t>(node->raw[idx_node_at::bitmap + entry / 8]);
  const auto bit = static_cast<uint8_t>(1u << (entry % 8));
  byte = on ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
  node->raw[idx_node_at::bitmap + entry / 8] = static_cast<char>(byte);
}

}  // namespace

void set_trace_idx_split_after_write_right_left(index_split_trace_fn fn, void* context) {
  QZ_TRACE;
  split_trace = fn;
  split_trace_context = context;
}

void trace_idx_split_after_write_right_left() {
  QZ_TRACE;
  if (split_trace != nullptr) split_trace(split_trace_context);
}

// --- Version check ------------------------------------------------------------------------------

void Index::check_version() {
  QZ_TRACE;
  if (!file->shared()) return;
  if (file->is_locked() && confirmed_generation == file->lock_generation()) return;
  // Root and version are all another writer changes: while they stand, the header is as known.
  if (file->header_unchanged(header, header_offset)) {
    confirmed_generation = file->lock_generation();
    return;
  }
  const uint64_t before = header.version;
  file->read_header(&header, header_offset);
  if (header.version != before) file->drop_cache();
  confirmed_generation = file->lock_generation();
}

// --- Node scans -----------------------------------------------------------------------------------

int Index::seek_first_key(const index_node_st& node, key_iterator_st* it, const char* key, size_t n) const {
  QZ_TRACE;
  if (!node.compact) {
    uint32_t lo = 0;
    uint32_t hi = node.count;
    while (lo < hi) {
      const uint32_t mid = lo + (hi - lo) / 2;
      if (std::memcmp(basic_entry(node, mid), key, n) < 0) lo = mid + 1; else hi = mid;
    }
    goto_basic_key(node, it, lo);
    if (lo == node.count) return SEEK_RESULT_NONE;
    return std::memcmp(it->key(), key, n) == 0 ? SEEK_RESULT_FOUND : SEEK_RESULT_NEAR;
  }
  if (node.bitmap) throw dbf_error_not_impl();
  goto_first_compact_key(node, it);
  while (it->index < static_cast<int32_t>(node.count)) {
    const int c = std::memcmp(it->key(), key, n);
    if (c >= 0) return c == 0 ? SEEK_RESULT_FOUND : SEEK_RESULT_NEAR;
    goto_next_compact_key(node, it);
  }
  return SEEK_RESULT_NONE;
}

int Index::seek_first_unique_key(const index_node_st& node, key_iterator_st* it, const char* key,
                                 uint32_t record) const {
  QZ_TRACE;
  const size_t length = node.key_length;
  if (!node.compact) {
    uint32_t lo = 0;
    uint32_t hi = node.count;
    while (lo < hi) {
      const uint32_t mid = lo + (hi - lo) / 2;
      const char* e = basic_entry(node, mid);
      if (compare_pair(e, idx_load_be32(e + length), key, record, length) < 0) lo = mid + 1; else hi = mid;
    }
    goto_basic_key(node, it, lo);
    if (lo == node.count) return SEEK_RESULT_NONE;
    return compare_pair(it->key(), it->record, key, record, length) == 0 ? SEEK_RESULT_FOUND : SEEK_RESULT_NEAR;
  }
  if (node.bitmap) return seek_bitmap_entry(node, it, record);
  goto_first_compact_key(node, it);
  while (it->index < static_cast<int32_t>(node.count)) {
    const int c = compare_pair(it->key(), it->record, key, record, length);
    if (c >= 0) return c == 0 ? SEEK_RESULT_FOUND : SEEK_RESULT_NEAR;
    goto_next_compact_key(node, it);
  }
  return SEEK_RESULT_NONE;
}

int Index::seek_bitmap_entry(const index_node_st& node, key_iterator_st* it, uint32_t record) const {
  QZ_TRACE;
  const uint32_t entry = record - node.bitmap_base;  // below the base wraps beyond the count
  if (node.count == 0 || entry >= node.count) {
    it->index = static_cast<int32_t>(node.count);
    return SEEK_RESULT_NONE;
  }
  it->index = static_cast<int32_t>(entry);
  it->record = record;
  it->child = bitmap_bit(node, entry) ? 1 : 0;
  it->keys[it->current][0] = bitmap_bit(node, entry) ? 'T' : 'F';
  return SEEK_RESULT_FOUND;
}

// --- Descent --------------------------------------------------------------------------------------

int Index::descend(const char* key, size_t n, bool by_record, uint32_t record, index_node_st* out,
                   key_iterator_st* it, index_path* path) {
  QZ_TRACE;
  check_version();
  double position = 1.0;
  double range = 1.0;
  std::streamoff offset = header.root;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const index_node_st& node = file->node(this, offset);
    int result;
    if (by_record) {
      result = seek_first_unique_key(node, it, key, record);
    } else {
      result = seek_first_key(node, it, key, n);
    }
    if (node.leaf) {
      narrow(&position, &range, it->index, node.count);
      it->position = node.count == 0 ? 0 : position;
      it->step = node.count == 0 ? 0 : range;
      *out = node;
      return result;
    }
    // An empty branch leads nowhere: only a damaged file has one.
    if (node.count == 0) corrupted();
    if (result == SEEK_RESULT_NONE) goto_basic_key(node, it, node.count - 1);
    narrow(&position, &range, it->index, node.count);
    if (path != nullptr) path->push_back(index_waypoint_st{node, *it});
    offset = it->child;
  }
  corrupted();
}

int Index::internal_seek(const char* key, size_t n, index_node_st* node, key_iterator_st* it) {
  QZ_TRACE;
  return descend(key, n, false, 0, node, it, nullptr);
}

int Index::seek_record(const char* key, uint32_t record, index_node_st* node, key_iterator_st* it) {
  QZ_TRACE;
  return descend(key, header.key_length, true, record, node, it, nullptr);
}

int Index::internal_seek_record_for_update(const char* key, uint32_t record, index_node_st* node,
                                           key_iterator_st* it, index_path* path) {
  QZ_TRACE;
  path->clear();
  return descend(key, header.key_length, true, record, node, it, path);
}

int Index::seek(const char* key, size_t n, index_node_st* node, key_iterator_st* it, SeekDir dir, int rng) {
  QZ_TRACE;
  QZ_ASSERT(dir == SEEK_DIR_FORWARD || dir == SEEK_DIR_BACKWARD);
  // A raw key longer than the tag's would overrun the buffer and compare bytes no key has.
  n = std::min<size_t>(n, header.key_length);
  const bool exclusive = rng == SEEK_RNG_OPEN;
  char k[kIndexMaxKeyLength];
  std::memcpy(k, key, n);
  if (dir == SEEK_DIR_FORWARD) {
    if (!exclusive) return internal_seek(k, n, node, it);
    // Nothing lies above a key of all 0xFF bytes: the stepped copy would wrap to the first key.
    if (!IncreaseRawKey(k, n)) {
      if (go_bottom(node, it)) it->index = static_cast<int32_t>(node->count);
      return SEEK_RESULT_NONE;
    }
    return internal_seek(k, n, node, it);
  }
  // Nothing lies below a key of all 0x00 bytes.
  if (exclusive && !ShrinkRawKey(k, n)) {
    go_top(node, it);
    it->index = -1;
    return SEEK_RESULT_NONE;
  }
  char above[kIndexMaxKeyLength];
  std::memcpy(above, k, n);
  if (!IncreaseRawKey(above, n)) {
    // Every key is at most k: the candidate is the last.
    if (!go_bottom(node, it)) return SEEK_RESULT_NONE;
  } else {
    internal_seek(above, n, node, it);
    // Found or not, the key before the position reached is the candidate; from beyond the last
    // key of the rightmost leaf that is the last key.
    if (!go_prev(node, it)) return SEEK_RESULT_NONE;
  }
  const int c = std::memcmp(it->key(), k, n);
  return c == 0 ? SEEK_RESULT_FOUND : (c < 0 ? SEEK_RESULT_NEAR : SEEK_RESULT_NONE);
}

// --- Navigation -----------------------------------------------------------------------------------

bool Index::go_top(index_node_st* node, key_iterator_st* it) {
  QZ_TRACE;
  // Another process may have split the root since the header was read.
  check_version();
  std::streamoff offset = header.root;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const index_node_st& n = file->node(this, offset);
    if (n.leaf) {
      *node = n;
      if (node->bitmap) throw dbf_error_not_impl();
      goto_first_key(*node, it);
      it->position = 0;
      it->step = 0;
      return it->index >= 0 && it->index < static_cast<int32_t>(node->count);
    }
    if (n.count == 0) corrupted();
    offset = idx_load_be32(basic_entry(n, 0) + n.key_length + 4);
  }
  corrupted();
}

bool Index::go_bottom(index_node_st* node, key_iterator_st* it) {
  QZ_TRACE;
  check_version();
  std::streamoff offset = header.root;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const index_node_st& n = file->node(this, offset);
    if (n.leaf) {
      *node = n;
      if (node->bitmap) throw dbf_error_not_impl();
      it->index = static_cast<int32_t>(node->count);
      it->position = 0;
      it->step = 0;
      if (node->count == 0) {
        it->index = -1;
        return false;
      }
      step_back_in_leaf(*node, it);
      return true;
    }
    if (n.count == 0) corrupted();
    offset = idx_load_be32(basic_entry(n, n.count - 1) + n.key_length + 4);
  }
  corrupted();
}

bool Index::go_next(index_node_st* node, key_iterator_st* it) {
  QZ_TRACE;
  if (node->bitmap) throw dbf_error_not_impl();
  if (it->index < static_cast<int32_t>(node->count)) goto_next_key(*node, it);
  for (int hops = 0; it->index >= static_cast<int32_t>(node->count); ++hops) {
    if (node->right == kIndexNoNode) return false;
    if (hops > 1 << 20) corrupted();
    *node = file->node(this, node->right);
    if (!node->leaf || node->bitmap) corrupted();
    goto_first_key(*node, it);
  }
  it->position += it->step;
  return true;
}

bool Index::go_prev(index_node_st* node, key_iterator_st* it) {
  QZ_TRACE;
  if (node->bitmap) throw dbf_error_not_impl();
  if (it->index >= 0) step_back_in_leaf(*node, it);
  for (int hops = 0; it->index < 0; ++hops) {
    if (node->left == kIndexNoNode) return false;
    if (hops > 1 << 20) corrupted();
    *node = file->node(this, node->left);
    if (!node->leaf || node->bitmap) corrupted();
    it->index = static_cast<int32_t>(node->count);
    if (node->count != 0) step_back_in_leaf(*node, it);
    else it->index = -1;
  }
  it->position -= it->step;
  return true;
}

void Index::step_back_in_leaf(const index_node_st& node, key_iterator_st* it) {
  QZ_TRACE;
  if (!node.compact) {
    goto_prev_key(node, it);
    return;
  }
  const int32_t target = std::min<int32_t>(it->index, static_cast<int32_t>(node.count)) - 1;
  if (target < 0) {
    it->index = -1;
    return;
  }
  const uint32_t length = node.key_length;
  leaf_keys_memo& m = memo_;
  if (m.offset != node.offset || m.count != node.count || std::memcmp(m.raw, node.raw, sizeof m.raw) != 0) {
    // Compression runs forwards only: decode the leaf once and keep every key of it.
    m.offset = node.offset;
    m.count = node.count;
    std::memcpy(m.raw, node.raw, sizeof m.raw);
    m.keys.resize(static_cast<size_t>(node.count) * length);
    m.entries.resize(node.count);
    key_iterator_st walk;
    goto_first_compact_key(node, &walk);
    for (uint32_t i = 0; i < node.count; ++i) {
      std::memcpy(m.keys.data() + static_cast<size_t>(i) * length, walk.key(), length);
      m.entries[i] = leaf_keys_entry{walk.data_pos, walk.stored, walk.dup, walk.trail, walk.record};
      goto_next_compact_key(node, &walk);
    }
  }
  const auto t = static_cast<uint32_t>(target);
  const leaf_keys_entry& e = m.entries[t];
  std::memcpy(it->key(), m.keys.data() + static_cast<size_t>(t) * length, length);
  if (t > 0) std::memcpy(it->keys[it->current ^ 1], m.keys.data() + static_cast<size_t>(t - 1) * length, length);
  it->index = target;
  it->data_pos = e.data_pos;
  it->stored = e.stored;
  it->dup = e.dup;
  it->trail = e.trail;
  it->record = e.record;
  it->child = 0;
}

// --- Node edits -----------------------------------------------------------------------------------

void Index::init_branch_node(index_node_st* node) const {
  QZ_TRACE;
  const std::streamoff offset = node->offset;
  *node = index_node_st();
  node->offset = offset;
  node->key_length = index_leaf_kind(header.options) == IndexLeafKind::bitmap ? 0 : header.key_length;
}

void Index::init_leaf_node(index_node_st* node) const {
  QZ_TRACE;
  const std::streamoff offset = node->offset;
  if (index_leaf_kind(header.options) == IndexLeafKind::bitmap) {
    *node = index_node_st();
    node->offset = offset;
    node->leaf = true;
    node->compact = true;
    node->bitmap = true;
    return;
  }
  // Record maximum of a new tag's leaf; wider records widen the leaf when they come.
  init_compact_node(node, header.key_length, 255, header.key_length, header.key_length, true);
  node->offset = offset;
}

bool Index::insert_bitmap_entry(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const {
  QZ_TRACE;
  QZ_ASSERT(node->bitmap);
  if (node->count == 0) node->bitmap_base = record;
  if (record < node->bitmap_base) corrupted();  // records only ever join at the end
  const uint32_t entry = record - node->bitmap_base;
  if (entry >= kBitmapEntries) return false;
  set_bitmap_bit(node, entry, key[0] == 'T');
  if (entry + 1 > node->count) node->count = entry + 1;
  it->index = static_cast<int32_t>(entry);
  it->record = record;
  return true;
}

bool Index::insert_leaf_key(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) {
  QZ_TRACE;
  if (node->bitmap) return insert_bitmap_entry(node, it, key, record);
  if (node->compact && node->leaf) return insert_compact_key(node, it, key, record);
  throw_assert_failed();
}

bool Index::insert_basic_key(index_node_st* node, key_iterator_st* it, const char* key, uint32_t child,
                             uint32_t record) const {
  QZ_TRACE;
  QZ_ASSERT(!node->compact && !node->leaf);
  const size_t entry = node->key_length + 8;
  if ((node->count + 1) * entry > kBasicBody) return false;
  const auto i = static_cast<uint32_t>(std::clamp<int32_t>(it->index, 0, static_cast<int32_t>(node->count)));
  char* at = basic_entry(node, i);
  std::memmove(at + entry, at, (node->count - i) * entry);
  if (node->key_length != 0) std::memcpy(at, key, node->key_length);
  idx_store_be32(at + node->key_length, record);
  idx_store_be32(at + node->key_length + 4, child);
  node->count += 1;
  goto_basic_key(*node, it, i);
  return true;
}

void Index::replace_basic_key(index_node_st* node, key_iterator_st* it, const char* key) const {
  QZ_TRACE;
  QZ_ASSERT(it->index >= 0 && it->index < static_cast<int32_t>(node->count));
  if (node->key_length != 0) std::memcpy(basic_entry(node, static_cast<uint32_t>(it->index)), key, node->key_length);
  goto_basic_key(*node, it, static_cast<uint32_t>(it->index));
}

void Index::replace_basic_recno(index_node_st* node, key_iterator_st* it, uint32_t record) const {
  QZ_TRACE;
  QZ_ASSERT(it->index >= 0 && it->index < static_cast<int32_t>(node->count));
  idx_store_be32(basic_entry(node, static_cast<uint32_t>(it->index)) + node->key_length, record);
  goto_basic_key(*node, it, static_cast<uint32_t>(it->index));
}

void Index::replace_basic_pointer(index_node_st* node, key_iterator_st* it, uint32_t child) const {
  QZ_TRACE;
  QZ_ASSERT(it->index >= 0 && it->index < static_cast<int32_t>(node->count));
  idx_store_be32(basic_entry(node, static_cast<uint32_t>(it->index)) + node->key_length + 4, child);
  goto_basic_key(*node, it, static_cast<uint32_t>(it->index));
}

void Index::delete_key(index_node_st* node, key_iterator_st* it) const {
  QZ_TRACE;
  if (node->compact) {
    if (node->bitmap) throw dbf_error_not_impl();
    delete_compact_key(node, it);
    return;
  }
  QZ_ASSERT(it->index >= 0 && it->index < static_cast<int32_t>(node->count));
  const size_t entry = node->key_length + 8;
  const auto i = static_cast<uint32_t>(it->index);
  char* at = basic_entry(node, i);
  std::memmove(at, at + entry, (node->count - i - 1) * entry);
  node->count -= 1;
  std::memset(basic_entry(node, node->count), 0, entry);
  goto_basic_key(*node, it, i);
}

// --- Update ---------------------------------------------------------------------------------------

std::streamoff Index::alloc(size_t size) {
  QZ_TRACE;
  QZ_ASSERT(size != 0 && size % kIndexBlockSize == 0);
  // Two writers appending at one end would overwrite each other's blocks.
  if (file->shared() && !file->is_locked()) throw_assert_failed();
  const auto block = static_cast<std::streamoff>(kIndexBlockSize);
  const std::streamoff at = (file->end_offset + block - 1) / block * block;
  if (at + static_cast<std::streamoff>(size) > 0xFFFFFE00LL) throw dbf_error_not_impl();  // offsets are 32-bit
  file->end_offset = at + static_cast<std::streamoff>(size);
  return at;
}

void Index::require_update() const {
  QZ_TRACE;
  // Leaves of the basic kind are read but never written: refuse before anything changes.
  if (index_leaf_kind(header.options) == IndexLeafKind::basic) {
    throw RuntimeError(1001, String("Index with basic leaves cannot be updated."));
  }
  if (!file->is_locked()) throw dbf_error_index_file_not_locked();
}

void Index::finish_change() {
  QZ_TRACE;
  header.version = (header.version + 1) & 0xFFFFFFFFu;
  file->write_header(&header, header_offset);
}

bool Index::insert_key(const char* key, size_t record) {
  QZ_TRACE;
  require_update();
  if (record > 0xFFFFFFFFu) throw dbf_error_not_impl();
  const auto rec = static_cast<uint32_t>(record);
  char k[kIndexMaxKeyLength];
  std::memcpy(k, key, header.key_length);
  index_path path;
  index_node_st leaf;
  key_iterator_st it;
  if (internal_seek_record_for_update(k, rec, &leaf, &it, &path) == SEEK_RESULT_FOUND) corrupted();
  for (int splits = 0; !insert_leaf_key(&leaf, &it, k, rec); ++splits) {
    if (splits == 2) corrupted();
    split_node_recursive(&leaf, &it, &path, k, rec);
  }
  file->write_node(&leaf);
  parent_nodes_fixup(leaf, it, &path, path.size());
  finish_change();
  return true;
}

bool Index::delete_key(const char* key, size_t record) {
  QZ_TRACE;
  require_update();
  if (index_leaf_kind(header.options) == IndexLeafKind::bitmap) throw dbf_error_not_impl();
  if (record > 0xFFFFFFFFu) return false;
  const auto rec = static_cast<uint32_t>(record);
  char k[kIndexMaxKeyLength];
  std::memcpy(k, key, header.key_length);
  index_path path;
  index_node_st leaf;
  key_iterator_st it;
  if (internal_seek_record_for_update(k, rec, &leaf, &it, &path) != SEEK_RESULT_FOUND) return false;
  unlink_child_node_recursive(&leaf, &it, &path, path.size());
  finish_change();
  return true;
}

bool Index::replace_bit(size_t record, const char* key) {
  QZ_TRACE;
  if (!file->is_locked()) throw dbf_error_index_file_not_locked();
  if (index_leaf_kind(header.options) != IndexLeafKind::bitmap) throw_assert_failed();
  index_node_st leaf;
  key_iterator_st it;
  if (record > 0xFFFFFFFFu) corrupted();
  const auto rec = static_cast<uint32_t>(record);
  if (seek_record(nullptr, rec, &leaf, &it) != SEEK_RESULT_FOUND || !leaf.bitmap) corrupted();
  set_bitmap_bit(&leaf, rec - leaf.bitmap_base, key[0] == 'T');
  file->write_node(&leaf);
  finish_change();
  return true;
}

void Index::load_sorted(const char* pairs, size_t count) {
  QZ_TRACE;
  require_update();
  if (index_leaf_kind(header.options) != IndexLeafKind::compact) throw_assert_failed();
  if (count == 0) return;
  const uint32_t length = header.key_length;
  const size_t stride = static_cast<size_t>(length) + 4;
  // The tag's empty root leaf is the first leaf; every other leaf takes its geometry.
  const index_node_st first = file->node(this, header.root);
  if (!first.leaf || first.bitmap || first.count != 0) corrupted();
  struct entry_st {
    const char* key;
    uint32_t record;
    uint32_t child;
  };
  std::vector<entry_st> above;  // the greatest pair of each node of the level below

  // Leaves: filled in order, each to the last key it holds.
  index_node_st leaf = first;
  leaf.root = false;
  key_iterator_st it;
  goto_first_compact_key(leaf, &it);
  const char* last_key = nullptr;
  uint32_t last_record = 0;
  for (size_t i = 0; i < count; ++i) {
    const char* key = pairs + i * stride;
    uint32_t record;
    std::memcpy(&record, key + length, sizeof record);
    if (!insert_compact_key(&leaf, &it, key, record)) {
      if (leaf.count == 0) corrupted();  // an empty leaf always has room
      index_node_st next = first;
      next.root = false;
      next.offset = alloc(kIndexNodeSize);
      next.left = static_cast<uint32_t>(leaf.offset);
      leaf.right = static_cast<uint32_t>(next.offset);
      file->write_node(&leaf);
      above.push_back({last_key, last_record, static_cast<uint32_t>(leaf.offset)});
      trace_idx_split_after_write_right_left();
      leaf = next;
      goto_first_compact_key(leaf, &it);
      if (!insert_compact_key(&leaf, &it, key, record)) corrupted();
    }
    goto_next_compact_key(leaf, &it);  // beyond the new last key
    last_key = key;
    last_record = record;
  }
  if (above.empty()) {
    leaf.root = true;
    file->write_node(&leaf);
    finish_change();
    return;
  }
  file->write_node(&leaf);
  above.push_back({last_key, last_record, static_cast<uint32_t>(leaf.offset)});

  // Branch levels, each node as full as its entries allow, up to the one root.
  const size_t entry_size = static_cast<size_t>(length) + 8;
  const auto per_node = static_cast<uint32_t>(kBasicBody / entry_size);
  if (per_node < 2) throw_assert_failed();
  while (above.size() > 1) {
    std::vector<entry_st> level;
    index_node_st node;
    node.offset = alloc(kIndexNodeSize);
    init_branch_node(&node);
    node.root = above.size() <= per_node;
    const entry_st* greatest = nullptr;  // the node's last entry so far; its key lives in pairs
    for (const entry_st& e : above) {
      if (node.count == per_node) {
        index_node_st next;
        next.offset = alloc(kIndexNodeSize);
        init_branch_node(&next);
        next.left = static_cast<uint32_t>(node.offset);
        node.right = static_cast<uint32_t>(next.offset);
        file->write_node(&node);
        level.push_back({greatest->key, greatest->record, static_cast<uint32_t>(node.offset)});
        trace_idx_split_after_write_right_left();
        node = next;
      }
      char* at = basic_entry(&node, node.count);
      std::memcpy(at, e.key, length);
      idx_store_be32(at + length, e.record);
      idx_store_be32(at + length + 4, e.child);
      ++node.count;
      greatest = &e;
    }
    file->write_node(&node);
    level.push_back({greatest->key, greatest->record, static_cast<uint32_t>(node.offset)});
    if (node.root) header.root = static_cast<uint32_t>(node.offset);
    above = std::move(level);
  }
  finish_change();
}

// The waypoint holding `node`, or path->size() for the leaf kept outside the path.
void Index::link_split_halves(const index_node_st& old, index_node_st* left, index_node_st* right) {
  QZ_TRACE;
  left->left = old.left;
  left->right = static_cast<uint32_t>(right->offset);
  right->left = static_cast<uint32_t>(left->offset);
  right->right = old.right;
  file->write_node(right);
  file->write_node(left);
  trace_idx_split_after_write_right_left();
  if (old.left != kIndexNoNode) {
    index_node_st n = file->node(this, old.left);
    n.right = static_cast<uint32_t>(left->offset);
    file->write_node(&n);
  }
  if (old.right != kIndexNoNode) {
    index_node_st n = file->node(this, old.right);
    n.left = static_cast<uint32_t>(right->offset);
    file->write_node(&n);
  }
}

static size_t level_of(const index_path& path, const index_node_st* node) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (&path[i].node == node) return i;
  }
  return path.size();
}

void Index::split_node_recursive(index_node_st* node, key_iterator_st* it, index_path* path, const char* key,
                                 uint32_t record) {
  QZ_TRACE;
  const size_t level = level_of(*path, node);
  index_waypoint_st* parent = level > 0 ? &(*path)[level - 1] : nullptr;
  const index_node_st old = *node;
  QZ_ASSERT(old.leaf);  // branches split while an entry goes in (insert_branch_key)
  if (old.count == 0) corrupted();  // an empty node always has room

  // The old node's greatest pair: what the parent's entry for it must hold.
  key_iterator_st last;
  char old_key[kIndexMaxKeyLength];
  uint32_t old_record;
  if (old.bitmap) {
    old_record = old.bitmap_base + old.count - 1;
  } else {
    goto_last_key(old, &last);
    std::memcpy(old_key, last.key(), old.key_length);
    old_record = last.record;
  }
  if (parent != nullptr) {
    const key_iterator_st& p = parent->it;
    if (p.child != static_cast<uint32_t>(old.offset) ||
        compare_pair(p.key(), p.record, old_key, old_record, parent->node.key_length) != 0) {
      corrupted();
    }
  }

  const bool at_end = it->index >= static_cast<int32_t>(old.count) && old.right == kIndexNoNode;
  // A key going in front of a compact leaf: the leaf stays whole as the right half and a new
  // empty node takes the key. Splitting by the byte rule would keep the first key on the left,
  // where a long key leaves no room for another.
  const bool at_start = !at_end && it->index <= 0 && old.compact && !old.bitmap;
  index_node_st left;
  index_node_st right;
  if (at_start) {
    right = old;
    left.offset = alloc(kIndexNodeSize);
    init_leaf_node(&left);
    left.geometry = old.geometry;
    // The old first key comes along when the new key still fits beside it. Otherwise a key put
    // in front and taken out again (a blank record's key, replaced at once) would split off a
    // leaf and unlink it on every record, leaving a dead block behind each time.
    if (old.count > 1) {
      key_iterator_st ri;
      goto_first_compact_key(right, &ri);
      char first[kIndexMaxKeyLength];
      std::memcpy(first, ri.key(), old.key_length);
      const uint32_t first_record = ri.record;
      index_node_st trial = left;
      key_iterator_st ti;
      goto_first_compact_key(trial, &ti);
      if (insert_compact_key(&trial, &ti, first, first_record)) {
        goto_first_compact_key(trial, &ti);
        index_node_st with_new = trial;
        if (insert_compact_key(&with_new, &ti, key, record)) {
          left = trial;
          delete_compact_key(&right, &ri);
        }
      }
    }
  } else if (at_end) {
    // Appending to the rightmost node: it stays whole and a new empty node takes what follows.
    left = old;
    right.offset = alloc(kIndexNodeSize);
    init_leaf_node(&right);
    if (!old.bitmap) right.geometry = old.geometry;
  } else {
    left.offset = alloc(kIndexNodeSize);
    right.offset = alloc(kIndexNodeSize);
    if (old.bitmap) corrupted();  // records join a bitmap only at its end
    key_iterator_st li;
    key_iterator_st ri;
    split_compact_node(old, &left, &li, &right, &ri);
    if (right.count == 0) {
      // Everything fitted the left half (a leaf that failed to widen): its last key moves right,
      // so that neither half is left empty below the root.
      goto_last_key(left, &li);
      char moved[kIndexMaxKeyLength];
      std::memcpy(moved, li.key(), left.key_length);
      const uint32_t moved_record = li.record;
      delete_compact_key(&left, &li);
      goto_first_compact_key(right, &ri);
      if (!insert_compact_key(&right, &ri, moved, moved_record)) corrupted();
    }
  }
  left.root = false;
  right.root = false;
  link_split_halves(old, &left, &right);

  // Greatest pairs of the halves. An empty right half takes the left's for now: the key about to
  // be inserted becomes its last, and the parent fix-up then sets the real one.
  char left_key[kIndexMaxKeyLength] = {};
  uint32_t left_record;
  char right_key[kIndexMaxKeyLength] = {};
  uint32_t right_record;
  // An empty left half likewise takes the right's, set right once the key is in.
  if (left.bitmap) {
    left_record = left.bitmap_base + left.count - 1;
    right_record = right.count != 0 ? right.bitmap_base + right.count - 1 : left_record;
  } else if (left.count == 0) {
    goto_last_key(right, &last);
    std::memcpy(right_key, last.key(), right.key_length);
    right_record = last.record;
    std::memcpy(left_key, right_key, left.key_length);
    left_record = right_record;
  } else {
    goto_last_key(left, &last);
    std::memcpy(left_key, last.key(), left.key_length);
    left_record = last.record;
    if (right.count != 0) {
      goto_last_key(right, &last);
      std::memcpy(right_key, last.key(), right.key_length);
      right_record = last.record;
    } else {
      std::memcpy(right_key, left_key, left.key_length);
      right_record = left_record;
    }
  }

  const uint32_t left_count = left.count;
  const bool goes_right = !at_start && it->index >= static_cast<int32_t>(left_count);
  if (parent == nullptr) {
    index_waypoint_st top;
    top.node.offset = alloc(kIndexNodeSize);
    init_branch_node(&top.node);
    top.node.root = true;
    top.it.index = 0;
    insert_basic_key(&top.node, &top.it, left_key, static_cast<uint32_t>(left.offset), left_record);
    top.it.index = 1;
    insert_basic_key(&top.node, &top.it, right_key, static_cast<uint32_t>(right.offset), right_record);
    goto_basic_key(top.node, &top.it, goes_right ? 1 : 0);
    file->write_node(&top.node);
    header.root = static_cast<uint32_t>(top.node.offset);
    path->push_front(top);
  } else {
    // The entry for the old node now leads to the right half; the left half's goes before it.
    replace_basic_pointer(&parent->node, &parent->it, static_cast<uint32_t>(right.offset));
    insert_branch_key(parent, left_key, left_record, static_cast<uint32_t>(left.offset), path, goes_right);
  }

  const int32_t index = it->index;
  if (goes_right) {
    *node = right;
    if (node->bitmap) {
      it->index = index - static_cast<int32_t>(left_count);
    } else {
      it->index = -1;
      goto_key(*node, it, static_cast<uint32_t>(index - static_cast<int32_t>(left_count)));
    }
  } else {
    *node = left;
    if (!node->bitmap) {
      it->index = -1;
      goto_key(*node, it, at_start ? 0 : static_cast<uint32_t>(index));
    }
  }
}

void Index::insert_branch_key(index_waypoint_st* parent, const char* key, uint32_t record, uint32_t child,
                              index_path* path, bool child_goes_right) {
  QZ_TRACE;
  // The new entry goes before the iterator's; the path then follows the entry that leads to the
  // half of the child holding the insert point.
  index_node_st& node = parent->node;
  const auto at = static_cast<uint32_t>(parent->it.index);
  const uint32_t follow = child_goes_right ? at + 1 : at;
  if (insert_basic_key(&node, &parent->it, key, child, record)) {
    goto_basic_key(node, &parent->it, follow);
    file->write_node(&node);
    return;
  }

  // Full: split the node with the new entry in it. Inserting at the front leaves one entry on the
  // left and appending leaves one on the right, so that runs of ascending or descending keys fill
  // nodes instead of leaving a trail of half-empty ones; otherwise the entries halve.
  const index_node_st old = node;
  const size_t size = old.key_length + 8;
  const uint32_t total = old.count + 1;
  std::vector<char> entries(total * size);
  std::memcpy(entries.data(), basic_entry(old, 0), at * size);
  if (old.key_length != 0) std::memcpy(entries.data() + at * size, key, old.key_length);
  idx_store_be32(entries.data() + at * size + old.key_length, record);
  idx_store_be32(entries.data() + at * size + old.key_length + 4, child);
  std::memcpy(entries.data() + (at + 1) * size, basic_entry(old, at), (old.count - at) * size);
  uint32_t keep;
  if (at == 0) {
    keep = 1;
  } else if (at + 1 >= old.count) {
    keep = old.count;
  } else {
    keep = total / 2;
  }

  const size_t level = level_of(*path, &node);
  index_waypoint_st* grand = level > 0 ? &(*path)[level - 1] : nullptr;
  if (grand != nullptr) {
    // The entry above must hold this node's greatest pair, which the new entry never changes.
    const char* last = basic_entry(old, old.count - 1);
    const key_iterator_st& g = grand->it;
    if (g.child != static_cast<uint32_t>(old.offset) ||
        compare_pair(g.key(), g.record, last, idx_load_be32(last + old.key_length), old.key_length) != 0) {
      corrupted();
    }
  }

  index_node_st left;
  index_node_st right;
  left.offset = alloc(kIndexNodeSize);
  right.offset = alloc(kIndexNodeSize);
  for (index_node_st* half : {&left, &right}) {
    const std::streamoff offset = half->offset;
    init_branch_node(half);
    half->offset = offset;
  }
  std::memcpy(basic_entry(&left, 0), entries.data(), keep * size);
  std::memcpy(basic_entry(&right, 0), entries.data() + keep * size, (total - keep) * size);
  left.count = keep;
  right.count = total - keep;
  link_split_halves(old, &left, &right);

  const char* left_last = basic_entry(left, left.count - 1);
  const char* right_last = basic_entry(right, right.count - 1);
  const bool goes_right = follow >= keep;
  if (grand == nullptr) {
    index_waypoint_st top;
    top.node.offset = alloc(kIndexNodeSize);
    init_branch_node(&top.node);
    top.node.root = true;
    top.it.index = 0;
    insert_basic_key(&top.node, &top.it, left_last, static_cast<uint32_t>(left.offset),
                     idx_load_be32(left_last + old.key_length));
    top.it.index = 1;
    insert_basic_key(&top.node, &top.it, right_last, static_cast<uint32_t>(right.offset),
                     idx_load_be32(right_last + old.key_length));
    goto_basic_key(top.node, &top.it, goes_right ? 1 : 0);
    file->write_node(&top.node);
    header.root = static_cast<uint32_t>(top.node.offset);
    path->push_front(top);
  } else {
    replace_basic_pointer(&grand->node, &grand->it, static_cast<uint32_t>(right.offset));
    char left_key[kIndexMaxKeyLength] = {};
    if (old.key_length != 0) std::memcpy(left_key, left_last, old.key_length);
    insert_branch_key(grand, left_key, idx_load_be32(left_last + old.key_length), static_cast<uint32_t>(left.offset),
                      path, goes_right);
  }
  node = goes_right ? right : left;
  goto_basic_key(node, &parent->it, goes_right ? follow - keep : follow);
}

void Index::parent_nodes_fixup(const index_node_st& node, const key_iterator_st& it, index_path* path,
                               size_t level) {
  QZ_TRACE;
  const index_node_st* child = &node;
  key_iterator_st cit = it;
  while (level-- > 0) {
    index_waypoint_st& p = (*path)[level];
    if (p.it.child != static_cast<uint32_t>(child->offset)) corrupted();
    if (child->count == 0 || cit.index != static_cast<int32_t>(child->count) - 1) return;
    const char* key = cit.key();
    if (compare_pair(p.it.key(), p.it.record, key, cit.record, p.node.key_length) != 0) {
      replace_basic_key(&p.node, &p.it, key);
      replace_basic_recno(&p.node, &p.it, cit.record);
      file->write_node(&p.node);
    }
    child = &p.node;
    cit = p.it;
  }
}

void Index::unlink_child_node_recursive(index_node_st* node, key_iterator_st* it, index_path* path, size_t level) {
  QZ_TRACE;
  if (node->count > 1 || level == 0) {
    const bool was_last = it->index + 1 == static_cast<int32_t>(node->count);
    delete_key(node, it);
    if (level == 0 && !node->leaf && node->count == 0) {
      // A branch root without entries has nothing to descend into: it becomes an empty root leaf.
      init_leaf_node(node);
      node->root = true;
    }
    file->write_node(node);
    if (was_last && node->count > 0) {
      goto_last_key(*node, it);
      parent_nodes_fixup(*node, *it, path, level);
    }
    return;
  }
  // The only key of a node below the root: the node leaves the tree.
  if (node->left != kIndexNoNode) {
    index_node_st n = file->node(this, node->left);
    n.right = node->right;
    file->write_node(&n);
  }
  if (node->right != kIndexNoNode) {
    index_node_st n = file->node(this, node->right);
    n.left = node->left;
    file->write_node(&n);
  }
  index_waypoint_st& parent = (*path)[level - 1];
  if (parent.it.child != static_cast<uint32_t>(node->offset)) corrupted();
  unlink_child_node_recursive(&parent.node, &parent.it, path, level - 1);
}

}  // namespace qzbase
