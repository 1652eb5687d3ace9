// index_format.cpp - header and node codecs of the compound index file.
#include "indexes/index_format.h"

#include <algorithm>

#include "tables/dbf_exceptions.h"
#include "values/string_internal.h"

namespace qzbase {

namespace {

[[noreturn]] void corrupted() { throw dbf_index_file_corrupted(); }

bool sibling_ok(uint32_t offset) { return offset == kIndexNoNode || offset % kIndexBlockSize == 0; }

uint32_t mask_of(unsigned bits) { return bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u); }

unsigned bit_length(uint64_t v) {
  unsigned n = 0;
  while (v != 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

// The text at [offset, offset + length - 1) of the pool, cut at an inner NUL; length 0 is empty.
String pool_text(const char* raw, uint16_t offset, uint16_t length, const Charset* charset) {
  if (static_cast<size_t>(offset) + length > idx_header_at::pool_size) corrupted();
  if (length == 0) return String::fromBytes("", 0, charset);
  const char* begin = raw + idx_header_at::pool + offset;
  const size_t size = length - 1u;
  const void* nul = std::memchr(begin, 0, size);
  const size_t n = nul == nullptr ? size : static_cast<size_t>(static_cast<const char*>(nul) - begin);
  return String::fromBytes(begin, n, charset);
}

// The text's bytes in the table's character set (binary text and text already in it as is).
String in_charset(const String& text, const Charset* charset) {
  const Charset* cs = text.get_charset();
  if (charset == nullptr || cs == nullptr || is_binary_charset(cs) ||
      (cs->csid() & 0xFFFF) == (charset->csid() & 0xFFFF)) {
    return text;
  }
  String copy = text;
  try {
    copy.convert(charset, CON_NONE, 1);
  } catch (const cstran_chars_lost&) {
    throw dbf_error_cptrans_char_lost();
  } catch (const string_buffer_invalid_exception&) {
    throw dbf_error_cptrans_char_lost();
  }
  return copy;
}

}  // namespace

IndexLeafKind index_leaf_kind(uint16_t options) {
  QZ_TRACE;
  if (options & IDX_OPT_BINARY) return IndexLeafKind::bitmap;
  if (options & IDX_OPT_COMPACT) return IndexLeafKind::compact;
  return IndexLeafKind::basic;
}

void decode_index_header(idx_header_st* header, const Charset* charset) {
  QZ_TRACE;
  const char* r = header->raw;
  const uint16_t options = idx_load_le16(r + idx_header_at::options);
  if (options & IDX_OPT_UNKNOWN4) throw RuntimeError(1001, String("Index header unknown bit 5 is set"));
  const uint32_t root = idx_load_le32(r + idx_header_at::root);
  const uint16_t key_length = idx_load_le16(r + idx_header_at::key_length);
  if (key_length == 0 || key_length > kIndexMaxKeyLength) corrupted();
  if (root % kIndexBlockSize != 0) corrupted();

  char name[idx_header_at::collation_size];
  size_t name_size = 0;
  for (; name_size < sizeof name; ++name_size) {
    char c = r[idx_header_at::collation + name_size];
    if (c == 0) break;
    if (static_cast<unsigned char>(c) >= 0x80) corrupted();
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    name[name_size] = c;
  }

  String key = pool_text(r, idx_load_le16(r + idx_header_at::key_offset),
                         idx_load_le16(r + idx_header_at::key_length_text), charset);
  String filter = pool_text(r, idx_load_le16(r + idx_header_at::for_offset),
                            idx_load_le16(r + idx_header_at::for_length), charset);

  header->root = root;
  header->free_list = idx_load_le32(r + idx_header_at::free_list);
  header->version = idx_load_le32(r + idx_header_at::version);
  header->key_length = key_length;
  header->options = options;
  header->descending = idx_load_le16(r + idx_header_at::descending) != 0;
  header->collation_name = String::fromBytes(name, name_size, Charset::ascii);
  header->key_expression = std::move(key);
  header->for_expression = std::move(filter);
}

void encode_index_header(idx_header_st* header, const Charset* charset) {
  QZ_TRACE;
  const String key = in_charset(header->key_expression, charset);
  const String filter = in_charset(header->for_expression, charset);
  // Both texts and their NULs share the pool; the key text starts it.
  if (key.size() + 1 + filter.size() + 1 > idx_header_at::pool_size) throw dbf_invalid_index_key_len();
  const String& name = header->collation_name;
  QZ_ASSERT(name.size() <= idx_header_at::collation_size);
  QZ_ASSERT(header->key_length >= 1 && header->key_length <= kIndexMaxKeyLength);

  char image[kIndexHeaderSize];
  std::memcpy(image, header->raw, sizeof image);  // bytes 16..493 travel unchanged
  idx_store_le32(image + idx_header_at::root, header->root);
  idx_store_le32(image + idx_header_at::free_list, header->free_list);
  idx_store_le32(image + idx_header_at::version, static_cast<uint32_t>(header->version));
  idx_store_le16(image + idx_header_at::key_length, header->key_length);
  idx_store_le16(image + idx_header_at::options, header->options);
  std::memset(image + idx_header_at::collation, 0, idx_header_at::collation_size);
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name.read()[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    image[idx_header_at::collation + i] = c;
  }
  idx_store_le16(image + idx_header_at::descending, header->descending ? 1 : 0);
  const auto key_room = static_cast<uint16_t>(key.size() + 1);
  idx_store_le16(image + idx_header_at::key_offset, 0);
  idx_store_le16(image + idx_header_at::key_length_text, key_room);
  idx_store_le16(image + idx_header_at::for_offset, key_room);
  idx_store_le16(image + idx_header_at::for_length, static_cast<uint16_t>(filter.size() + 1));
  char* pool = image + idx_header_at::pool;
  std::memset(pool, 0, idx_header_at::pool_size);
  if (key.size() != 0) std::memcpy(pool, key.read(), key.size());
  if (filter.size() != 0) std::memcpy(pool + key_room, filter.read(), filter.size());
  std::memcpy(header->raw, image, sizeof image);
}

compact_geometry_st calc_compact_node_geometry(uint64_t max_record, uint32_t max_dup, uint32_t max_trail) {
  QZ_TRACE;
  unsigned record_bits = bit_length(max_record);
  const unsigned dup_bits = bit_length(max_dup);
  const unsigned trail_bits = bit_length(max_trail);
  if (record_bits > 32 || dup_bits > 8 || trail_bits > 8) throw dbf_error_not_impl();
  unsigned total = record_bits + dup_bits + trail_bits;
  // Spare bits up to the next byte go to the record number while the entry stays within 32 bits.
  while (total % 8 != 0 && total + 1 <= 32) {
    ++record_bits;
    ++total;
  }
  compact_geometry_st g;
  g.record_bits = static_cast<uint8_t>(record_bits);
  g.record_mask = mask_of(record_bits);
  g.dup_bits = static_cast<uint8_t>(dup_bits);
  g.dup_mask = static_cast<uint8_t>(mask_of(dup_bits));
  g.trail_bits = static_cast<uint8_t>(trail_bits);
  g.trail_mask = static_cast<uint8_t>(mask_of(trail_bits));
  g.entry_bytes = static_cast<uint8_t>((total + 7) / 8);
  if (g.entry_bytes > 8) throw dbf_error_not_impl();
  return g;
}

void check_compact_geometry(const compact_geometry_st& g) {
  QZ_TRACE;
  if (g.entry_bytes < 1 || g.entry_bytes > 8) corrupted();
  if (g.record_bits > 32 || g.dup_bits > 8 || g.trail_bits > 8) corrupted();
  if (g.record_mask != mask_of(g.record_bits) || g.dup_mask != mask_of(g.dup_bits) ||
      g.trail_mask != mask_of(g.trail_bits)) {
    corrupted();
  }
  if (static_cast<unsigned>(g.record_bits) + g.dup_bits + g.trail_bits > 8u * g.entry_bytes) corrupted();
}

void decode_index_node(index_node_st* node, uint32_t key_length, IndexLeafKind leaf_kind) {
  QZ_TRACE;
  const char* r = node->raw;
  const uint16_t attributes = idx_load_le16(r + idx_node_at::attributes);
  node->count = idx_load_le16(r + idx_node_at::count);
  node->left = idx_load_le32(r + idx_node_at::left);
  node->right = idx_load_le32(r + idx_node_at::right);
  node->root = (attributes & IDX_NODE_ROOT) != 0;
  node->leaf = (attributes & IDX_NODE_LEAF) != 0;
  node->compact = false;
  node->bitmap = false;
  node->free_bytes = 0;
  node->geometry = compact_geometry_st();
  node->bitmap_base = 0;
  if (!sibling_ok(node->left) || !sibling_ok(node->right)) corrupted();
  if (key_length == 0 || key_length > kIndexMaxKeyLength) corrupted();

  if (leaf_kind == IndexLeafKind::bitmap) {
    node->key_length = 0;  // branch entries of a binary tag carry no key bytes
    if (node->leaf) {
      node->compact = true;
      node->bitmap = true;
      node->bitmap_base = idx_load_be32(r + idx_node_at::bitmap_base);
      if (node->count > idx_node_at::bitmap_bits) corrupted();
      return;
    }
  } else {
    node->key_length = key_length;
  }

  if (node->leaf && leaf_kind == IndexLeafKind::compact) {
    node->compact = true;
    node->free_bytes = idx_load_le16(r + idx_node_at::free_bytes);
    compact_geometry_st& g = node->geometry;
    g.record_mask = idx_load_le32(r + idx_node_at::record_mask);
    g.dup_mask = static_cast<uint8_t>(r[idx_node_at::dup_mask]);
    g.trail_mask = static_cast<uint8_t>(r[idx_node_at::trail_mask]);
    g.record_bits = static_cast<uint8_t>(r[idx_node_at::record_bits]);
    g.dup_bits = static_cast<uint8_t>(r[idx_node_at::dup_bits]);
    g.trail_bits = static_cast<uint8_t>(r[idx_node_at::trail_bits]);
    g.entry_bytes = static_cast<uint8_t>(r[idx_node_at::entry_bytes]);
    check_compact_geometry(g);
    if (node->free_bytes > idx_node_at::compact_room) corrupted();
    if (static_cast<uint64_t>(node->count) * g.entry_bytes > idx_node_at::compact_room - node->free_bytes) {
      corrupted();
    }
    check_compact_leaf(*node, key_length);
    return;
  }

  // Basic node: a branch, or a leaf of a tag without compact leaves.
  if (static_cast<uint64_t>(node->count) * (node->key_length + 8) > idx_node_at::body_size) corrupted();
}

void encode_index_node(index_node_st* node) {
  QZ_TRACE;
  QZ_ASSERT(node->compact == node->leaf);  // basic leaves are read, never written
  QZ_ASSERT(!node->bitmap || node->compact);
  QZ_ASSERT(node->count <= 0xFFFF);
  char* r = node->raw;
  idx_store_le16(r + idx_node_at::attributes,
                 static_cast<uint16_t>((node->root ? IDX_NODE_ROOT : 0) | (node->leaf ? IDX_NODE_LEAF : 0)));
  idx_store_le16(r + idx_node_at::count, static_cast<uint16_t>(node->count));
  idx_store_le32(r + idx_node_at::left, node->left);
  idx_store_le32(r + idx_node_at::right, node->right);
  if (node->bitmap) {
    idx_store_be32(r + idx_node_at::bitmap_base, node->bitmap_base);
  } else if (node->compact) {
    const compact_geometry_st& g = node->geometry;
    QZ_ASSERT(node->free_bytes <= idx_node_at::compact_room);
    idx_store_le16(r + idx_node_at::free_bytes, static_cast<uint16_t>(node->free_bytes));
    idx_store_le32(r + idx_node_at::record_mask, g.record_mask);
    r[idx_node_at::dup_mask] = static_cast<char>(g.dup_mask);
    r[idx_node_at::trail_mask] = static_cast<char>(g.trail_mask);
    r[idx_node_at::record_bits] = static_cast<char>(g.record_bits);
    r[idx_node_at::dup_bits] = static_cast<char>(g.dup_bits);
    r[idx_node_at::trail_bits] = static_cast<char>(g.trail_bits);
    r[idx_node_at::entry_bytes] = static_cast<char>(g.entry_bytes);
  }
}

}  // namespace qzbase
