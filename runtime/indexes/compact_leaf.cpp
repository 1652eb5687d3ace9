// compact_leaf.cpp - walking nodes key by key; the compact leaf codec.
//
// Compact leaf: key-info entries of E bytes grow upwards from byte 24, key data grows downwards
// from byte 511 (key 0 topmost). Positions below count from byte 24, so an empty leaf's data
// starts at 488. The lowest data byte always lies at count * E + free bytes.
#include <bit>
#include <cstring>

#include "indexes/index.h"
#include "indexes/index_format.h"
#include "tables/dbf_exceptions.h"

namespace qzbase {

namespace {

static_assert(std::endian::native == std::endian::little, "key-info entries are read as little-endian words");

constexpr uint32_t kRoom = idx_node_at::compact_room;
// The left half of a split holds entries and data up to this many bytes.
constexpr uint32_t kSplitLimit = 243;

[[noreturn]] void corrupted() { throw dbf_index_file_corrupted(); }

inline char* body(index_node_st* node) { return node->raw + idx_node_at::entries; }
inline const char* body(const index_node_st& node) { return node.raw + idx_node_at::entries; }

inline uint64_t load_entry(const index_node_st& node, uint32_t i) {
  const unsigned e = node.geometry.entry_bytes;
  uint64_t v = 0;
  std::memcpy(&v, body(node) + static_cast<size_t>(i) * e, e);
  return v;
}

inline void store_entry(index_node_st* node, uint32_t i, uint64_t v) {
  const unsigned e = node->geometry.entry_bytes;
  std::memcpy(body(node) + static_cast<size_t>(i) * e, &v, e);
}

struct entry_st {
  uint32_t record;
  uint32_t dup;
  uint32_t trail;
};

inline entry_st split_entry(const compact_geometry_st& g, uint64_t v) {
  entry_st e;
  e.record = static_cast<uint32_t>(v & g.record_mask);
  e.dup = static_cast<uint32_t>((v >> g.record_bits) & g.dup_mask);
  e.trail = static_cast<uint32_t>((v >> (g.record_bits + g.dup_bits)) & g.trail_mask);
  return e;
}

inline uint64_t join_entry(const compact_geometry_st& g, uint32_t record, uint32_t dup, uint32_t trail) {
  return (static_cast<uint64_t>(trail) << (g.record_bits + g.dup_bits)) | (static_cast<uint64_t>(dup) << g.record_bits) |
         record;
}

// The lowest data byte of a leaf.
inline uint32_t data_floor(const index_node_st& node) {
  return node.count * node.geometry.entry_bytes + node.free_bytes;
}

// Pad bytes at the end of a key (analyzeSuffix).
inline uint32_t trailing_pad(const char* key, uint32_t length, char pad) {
  uint32_t n = 0;
  while (n < length && key[length - 1 - n] == pad) ++n;
  return n;
}

// Common prefix of two keys, limited to the shorter of their lengths without trailing pad bytes
// (analyzePrefix).
inline uint32_t shared_prefix(const char* a, uint32_t a_length, const char* b, uint32_t b_length) {
  const uint32_t limit = a_length < b_length ? a_length : b_length;
  uint32_t n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Decodes key i, whose data ends at `top`; the iterator's current key is key i - 1.
inline void decode_compact(const index_node_st& node, key_iterator_st* it, uint32_t i, uint32_t top, char pad) {
  const uint32_t length = node.key_length;
  const entry_st e = split_entry(node.geometry, load_entry(node, i));
  if (e.dup + e.trail > length || (i == 0 && e.dup != 0)) corrupted();
  const uint32_t stored = length - e.dup - e.trail;
  const uint32_t floor = data_floor(node);
  if (top < floor || stored > top - floor) corrupted();
  const uint32_t pos = top - stored;
  char* next = it->keys[it->current ^ 1];
  if (e.dup != 0) std::memcpy(next, it->keys[it->current], e.dup);
  if (stored != 0) std::memcpy(next + e.dup, body(node) + pos, stored);
  if (e.trail != 0) std::memset(next + e.dup + stored, pad, e.trail);
  it->current ^= 1;
  it->index = static_cast<int32_t>(i);
  it->data_pos = pos;
  it->stored = stored;
  it->dup = e.dup;
  it->trail = e.trail;
  it->record = e.record;
  it->child = 0;
}

// Beyond the last key: the data position is the lowest data byte and the previous key the last.
inline void stand_beyond(const index_node_st& node, key_iterator_st* it) {
  if (node.count != 0 && it->index == static_cast<int32_t>(node.count) - 1) {
    it->current ^= 1;  // the last key's data is the lowest: data_pos stays
  } else {
    it->data_pos = kRoom;
  }
  it->index = static_cast<int32_t>(node.count);
  it->stored = 0;
  it->dup = 0;
  it->trail = 0;
}

void require_compact_leaf(const index_node_st& node) {
  if (!node.compact || node.bitmap || !node.leaf) throw_assert_failed();
}

}  // namespace

void check_compact_leaf(const index_node_st& node, uint32_t key_length) {
  QZ_TRACE;
  const uint32_t floor = data_floor(node);
  if (floor > kRoom) corrupted();
  uint32_t top = kRoom;
  for (uint32_t i = 0; i < node.count; ++i) {
    const entry_st e = split_entry(node.geometry, load_entry(node, i));
    if (e.dup + e.trail > key_length || (i == 0 && e.dup != 0)) corrupted();
    const uint32_t stored = key_length - e.dup - e.trail;
    if (stored > top - floor) corrupted();
    top -= stored;
  }
  if (top != floor) corrupted();  // the free bytes must be exactly what is left
}

void Index::init_compact_node(index_node_st* node, uint32_t key_length, uint64_t max_record, uint32_t max_dup,
                              uint32_t max_trail, bool leaf) const {
  QZ_TRACE;
  QZ_ASSERT(max_record != 0 && leaf && max_dup >= key_length && max_trail >= key_length);
  QZ_ASSERT(key_length >= 1 && key_length <= kIndexMaxKeyLength);
  node->geometry = calc_compact_node_geometry(max_record, max_dup, max_trail);
  std::memset(node->raw, 0, sizeof node->raw);
  node->count = 0;
  node->key_length = key_length;
  node->left = kIndexNoNode;
  node->right = kIndexNoNode;
  node->leaf = true;
  node->root = false;
  node->compact = true;
  node->bitmap = false;
  node->free_bytes = kRoom;
  node->bitmap_base = 0;
}

// --- Walking ---------------------------------------------------------------------------------

void Index::goto_basic_key(const index_node_st& node, key_iterator_st* it, uint32_t index) const {
  QZ_TRACE;
  it->index = static_cast<int32_t>(index);
  if (index >= node.count) return;
  const uint32_t length = node.key_length;
  const char* entry = node.raw + idx_node_at::body + static_cast<size_t>(index) * (length + 8);
  if (length != 0) std::memcpy(it->key(), entry, length);
  it->record = idx_load_be32(entry + length);
  it->child = idx_load_be32(entry + length + 4);
}

void Index::goto_first_compact_key(const index_node_st& node, key_iterator_st* it) const {
  QZ_TRACE;
  if (node.count == 0) {
    it->index = -1;
    stand_beyond(node, it);
    return;
  }
  decode_compact(node, it, 0, kRoom, pad_);
}

void Index::goto_next_compact_key(const index_node_st& node, key_iterator_st* it) const {
  QZ_TRACE;
  if (it->index < 0) {
    goto_first_compact_key(node, it);
    return;
  }
  const auto i = static_cast<uint32_t>(it->index);
  if (i >= node.count) throw dbf_error_eof();
  if (i + 1 == node.count) {
    stand_beyond(node, it);
    return;
  }
  decode_compact(node, it, i + 1, it->data_pos, pad_);
}

void Index::goto_last_compact_key(const index_node_st& node, key_iterator_st* it) const {
  QZ_TRACE;
  if (node.count == 0) {
    it->index = -1;
    return;
  }
  goto_first_compact_key(node, it);
  while (static_cast<uint32_t>(it->index) + 1 < node.count) goto_next_compact_key(node, it);
}

void Index::goto_key(const index_node_st& node, key_iterator_st* it, uint32_t index) const {
  QZ_TRACE;
  QZ_ASSERT(index <= node.count);
  if (!node.compact) {
    goto_basic_key(node, it, index);
    return;
  }
  QZ_ASSERT(!node.bitmap);
  // Compression runs forwards only: decode from the first key (or on from the current one).
  if (it->index < 0 || it->index > static_cast<int32_t>(index) || it->index >= static_cast<int32_t>(node.count)) {
    goto_first_compact_key(node, it);
  }
  while (it->index < static_cast<int32_t>(index)) goto_next_compact_key(node, it);
}

void Index::goto_first_key(const index_node_st& node, key_iterator_st* it) const {
  QZ_TRACE;
  if (node.compact) {
    QZ_ASSERT(!node.bitmap);
    goto_first_compact_key(node, it);
  } else {
    goto_basic_key(node, it, 0);
  }
}

void Index::goto_next_key(const index_node_st& node, key_iterator_st* it) const {
  QZ_TRACE;
  if (node.compact) {
    QZ_ASSERT(!node.bitmap);
    goto_next_compact_key(node, it);
    return;
  }
  if (it->index >= static_cast<int32_t>(node.count)) throw dbf_error_eof();
  goto_basic_key(node, it, static_cast<uint32_t>(it->index + 1));
}

void Index::goto_prev_key(const index_node_st& node, key_iterator_st* it) const {
  QZ_TRACE;
  if (it->index < 0) throw dbf_error_bof();
  if (it->index == 0 || node.count == 0) {
    it->index = -1;
    return;
  }
  const uint32_t target = static_cast<uint32_t>(std::min<int32_t>(it->index, static_cast<int32_t>(node.count))) - 1;
  if (node.compact) {
    QZ_ASSERT(!node.bitmap);
    it->index = -1;  // decode again from the first key
  }
  goto_key(node, it, target);
}

void Index::goto_last_key(const index_node_st& node, key_iterator_st* it) const {
  QZ_TRACE;
  if (node.compact) {
    QZ_ASSERT(!node.bitmap);
    goto_last_compact_key(node, it);
  } else if (node.count == 0) {
    it->index = -1;
  } else {
    goto_basic_key(node, it, node.count - 1);
  }
}

// --- Insert, delete, split -------------------------------------------------------------------

bool Index::insert_compact_key(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const {
  QZ_TRACE;
  require_compact_leaf(*node);
  if (it->index < 0) goto_first_compact_key(*node, it);
  QZ_ASSERT(it->index <= static_cast<int32_t>(node->count));
  if (record > node->geometry.record_mask) return widen_compact_node(node, it, key, record);
  return insert_compact_fitting(node, it, key, record);
}

// A record number beyond the mask: every key goes again into a fresh leaf whose record field is
// wide enough, then the new key. The node changes only when all of it fits.
bool Index::widen_compact_node(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const {
  QZ_TRACE;
  const compact_geometry_st& old = node->geometry;
  const compact_geometry_st wide = calc_compact_node_geometry(record, old.dup_mask, old.trail_mask);
  const uint32_t growth = wide.entry_bytes > old.entry_bytes ? wide.entry_bytes - old.entry_bytes : 0;
  // Cheap refusal first; whether it really fits shows while the leaf is rebuilt.
  if (node->count * growth + wide.entry_bytes > node->free_bytes) return false;

  index_node_st fresh = *node;
  fresh.geometry = wide;
  fresh.count = 0;
  fresh.free_bytes = kRoom;
  std::memset(body(&fresh), 0, kRoom);
  const auto at = static_cast<uint32_t>(it->index);
  key_iterator_st src;
  key_iterator_st dst;
  goto_first_compact_key(*node, &src);
  goto_first_compact_key(fresh, &dst);
  while (src.index < static_cast<int32_t>(node->count)) {
    if (!insert_compact_fitting(&fresh, &dst, src.key(), src.record)) return false;
    goto_next_compact_key(fresh, &dst);
    goto_next_compact_key(*node, &src);
  }
  key_iterator_st place;
  goto_key(fresh, &place, at);
  if (!insert_compact_fitting(&fresh, &place, key, record)) return false;
  std::memcpy(node->raw, fresh.raw, sizeof node->raw);
  node->geometry = fresh.geometry;
  node->count = fresh.count;
  node->free_bytes = fresh.free_bytes;
  *it = place;
  return true;
}

bool Index::insert_compact_fitting(index_node_st* node, key_iterator_st* it, const char* key_in,
                                   uint32_t record) const {
  QZ_TRACE;
  const uint32_t length = node->key_length;
  const compact_geometry_st& g = node->geometry;
  const uint32_t e = g.entry_bytes;
  const auto i = static_cast<uint32_t>(it->index);
  const bool has_next = i < node->count;
  char key[kIndexMaxKeyLength];
  std::memcpy(key, key_in, length);  // the caller's key may live in the iterator

  const uint32_t trail = trailing_pad(key, length, pad_);
  uint32_t dup = 0;
  const char* prev = it->prev_key();
  if (i > 0) dup = shared_prefix(key, length - trail, prev, length - trailing_pad(prev, length, pad_));
  const uint32_t stored = length - dup - trail;

  // The following key shares its prefix with the new key now.
  uint32_t next_dup = 0;
  uint32_t next_stored = 0;
  uint32_t next_stored_before = 0;
  if (has_next) {
    next_dup = shared_prefix(it->key(), length - it->trail, key, length - trail);
    next_stored = length - next_dup - it->trail;
    next_stored_before = it->stored;
  }
  const int64_t shift = static_cast<int64_t>(stored) + next_stored - next_stored_before;  // data moving down
  const int64_t space = e + shift;
  if (space > static_cast<int64_t>(node->free_bytes)) return false;
  if (dup > g.dup_mask || trail > g.trail_mask || next_dup > g.dup_mask || record > g.record_mask) {
    throw idx_error_compact_node_geometry_missmatch();
  }
  const int64_t free_after = static_cast<int64_t>(node->free_bytes) - space;
  if (free_after > static_cast<int64_t>(kRoom)) throw_assert_failed();

  char* b = body(node);
  const uint32_t top = has_next ? it->data_pos + it->stored : it->data_pos;  // below the key before
  const uint32_t low = data_floor(*node);
  // The keys after the following one keep their bytes and move as a block.
  const uint32_t rest_end = top - next_stored_before;
  if (rest_end > low) std::memmove(b + (low - shift), b + low, rest_end - low);
  if (has_next && next_stored != 0) {
    std::memcpy(b + (top - stored - next_stored), it->key() + next_dup, next_stored);
  }
  if (stored != 0) std::memcpy(b + (top - stored), key + dup, stored);
  std::memmove(b + static_cast<size_t>(i + 1) * e, b + static_cast<size_t>(i) * e,
               static_cast<size_t>(node->count - i) * e);
  store_entry(node, i, join_entry(g, record, dup, trail));
  if (has_next) store_entry(node, i + 1, join_entry(g, it->record, next_dup, it->trail));
  node->count += 1;
  node->free_bytes = static_cast<uint32_t>(free_after);
  if (shift < 0) std::memset(b + static_cast<size_t>(node->count) * e, 0, node->free_bytes);

  std::memcpy(it->key(), key, length);
  it->index = static_cast<int32_t>(i);
  it->data_pos = top - stored;
  it->stored = stored;
  it->dup = dup;
  it->trail = trail;
  it->record = record;
  it->child = 0;
  return true;
}

void Index::delete_compact_key(index_node_st* node, key_iterator_st* it) const {
  QZ_TRACE;
  require_compact_leaf(*node);
  QZ_ASSERT(it->index >= 0 && it->index < static_cast<int32_t>(node->count));
  const uint32_t length = node->key_length;
  const compact_geometry_st& g = node->geometry;
  const uint32_t e = g.entry_bytes;
  const auto i = static_cast<uint32_t>(it->index);
  const uint32_t pos = it->data_pos;
  const uint32_t top = pos + it->stored;
  const uint32_t low = data_floor(*node);
  char* b = body(node);

  // The following key: its full value, then its prefix against the key before the deleted one.
  bool has_next = i + 1 < node->count;
  entry_st next{};
  uint32_t next_stored_before = 0;
  uint32_t next_dup = 0;
  uint32_t next_stored = 0;
  char next_key[kIndexMaxKeyLength];
  if (has_next) {
    next = split_entry(g, load_entry(*node, i + 1));
    if (next.dup + next.trail > length) corrupted();
    next_stored_before = length - next.dup - next.trail;
    if (next_stored_before > pos - low) corrupted();
    std::memcpy(next_key, it->key(), next.dup);
    std::memcpy(next_key + next.dup, b + (pos - next_stored_before), next_stored_before);
    std::memset(next_key + next.dup + next_stored_before, pad_, next.trail);
    if (i > 0) {
      const char* prev = it->prev_key();
      next_dup = shared_prefix(next_key, length - next.trail, prev, length - trailing_pad(prev, length, pad_));
    }
    next_stored = length - next_dup - next.trail;
  }
  const uint32_t shift = it->stored + next_stored_before - next_stored;  // data moving up
  const uint32_t rest_end = pos - next_stored_before;
  if (rest_end > low) std::memmove(b + low + shift, b + low, rest_end - low);
  if (has_next && next_stored != 0) std::memcpy(b + (top - next_stored), next_key + next_dup, next_stored);
  std::memmove(b + static_cast<size_t>(i) * e, b + static_cast<size_t>(i + 1) * e,
               static_cast<size_t>(node->count - i - 1) * e);
  if (has_next) store_entry(node, i, join_entry(g, next.record, next_dup, next.trail));
  node->count -= 1;
  node->free_bytes += e + shift;
  std::memset(b + static_cast<size_t>(node->count) * e, 0, node->free_bytes);

  if (has_next) {
    std::memcpy(it->key(), next_key, length);
    it->index = static_cast<int32_t>(i);
    it->data_pos = top - next_stored;
    it->stored = next_stored;
    it->dup = next_dup;
    it->trail = next.trail;
    it->record = next.record;
  } else {
    // Beyond the last key; the key before the deleted one is the last now.
    it->index = static_cast<int32_t>(node->count);
    it->data_pos = top;
    it->stored = 0;
    it->dup = 0;
    it->trail = 0;
  }
  it->child = 0;
}

void Index::split_compact_node(const index_node_st& source, index_node_st* left, key_iterator_st* left_it,
                               index_node_st* right, key_iterator_st* right_it) const {
  QZ_TRACE;
  require_compact_leaf(source);
  for (index_node_st* half : {left, right}) {
    const std::streamoff offset = half->offset;
    std::memset(half->raw, 0, sizeof half->raw);
    half->offset = offset;
    half->count = 0;
    half->key_length = source.key_length;
    half->left = kIndexNoNode;
    half->right = kIndexNoNode;
    half->leaf = true;
    half->root = false;
    half->compact = true;
    half->bitmap = false;
    half->free_bytes = kRoom;
    half->geometry = source.geometry;
    half->bitmap_base = 0;
  }
  const uint32_t e = source.geometry.entry_bytes;
  key_iterator_st src;
  goto_first_compact_key(source, &src);
  goto_first_compact_key(*left, left_it);
  goto_first_compact_key(*right, right_it);
  index_node_st* target = left;
  key_iterator_st* target_it = left_it;
  uint32_t used = 0;
  for (uint32_t k = 0; k < source.count; ++k) {
    used += src.stored;
    // The first key always goes left, so that a split always makes progress.
    if (target == left && k > 0 && (k + 1) * e + used > kSplitLimit) {
      target = right;
      target_it = right_it;
    }
    if (!insert_compact_fitting(target, target_it, src.key(), src.record)) throw dbf_error_file_corruption();
    goto_next_compact_key(*target, target_it);
    goto_next_compact_key(source, &src);
  }
}

}  // namespace qzbase
