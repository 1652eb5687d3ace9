// index_format.h - the bytes of a compound index file and the records that mirror them.
//
// A file is made of 512-byte blocks: a tag header takes two (1024 bytes), a node one. Every offset
// of those structures lives in this header and nowhere else; the codecs below are the only code
// that reads or writes them. Byte orders are mixed on purpose, because other readers of the files
// expect them: header numbers, the node head and the compact-leaf head are little-endian; the
// record number and child offset of a basic entry and the base record of a bitmap leaf are
// big-endian.
//
// Everything decoded from a file is checked: a damaged block, or one caught half-written by
// another process, raises dbf_index_file_corrupted and never reaches an assertion.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ios>

namespace qzbase {

class Charset;

// --- Sizes and offsets -------------------------------------------------------------------------

inline constexpr size_t kIndexBlockSize = 512;
inline constexpr size_t kIndexHeaderSize = 1024;
inline constexpr size_t kIndexNodeSize = 512;
inline constexpr size_t kIndexMaxKeyLength = 240;
inline constexpr uint32_t kIndexNoNode = 0xFFFFFFFFu;  // an absent sibling

// Header.
namespace idx_header_at {
inline constexpr size_t root = 0;            // u32 LE
inline constexpr size_t free_list = 4;       // u32 LE
inline constexpr size_t version = 8;         // u32 LE
inline constexpr size_t key_length = 12;     // u16 LE
inline constexpr size_t options = 14;        // u16 LE
inline constexpr size_t kept_begin = 16;     // 16..493 written back as read
inline constexpr size_t kept_end = 494;
inline constexpr size_t collation = 494;     // 8 bytes ASCII, NUL-terminated when shorter
inline constexpr size_t collation_size = 8;
inline constexpr size_t descending = 502;    // u16 LE
inline constexpr size_t for_offset = 504;    // u16 LE, within the pool
inline constexpr size_t for_length = 506;    // u16 LE, text length + 1
inline constexpr size_t key_offset = 508;    // u16 LE, within the pool (written 0)
inline constexpr size_t key_length_text = 510;  // u16 LE, text length + 1
inline constexpr size_t pool = 512;          // 512 bytes: key text, NUL, FOR text, NUL
inline constexpr size_t pool_size = 512;
}  // namespace idx_header_at

// Option bits (header offset 14).
enum : uint16_t {
  IDX_OPT_UNIQUE = 1u << 0,
  IDX_OPT_NULLABLE = 1u << 1,
  IDX_OPT_ENFORCED_UNIQUE = 1u << 2,
  IDX_OPT_FOR = 1u << 3,
  IDX_OPT_UNKNOWN4 = 1u << 4,   // refused on read
  IDX_OPT_COMPACT = 1u << 5,
  IDX_OPT_CREATED = 1u << 6,    // bits 6 to 9 carry no behaviour: kept as read
  IDX_OPT_DIRECTORY = 1u << 7,
  IDX_OPT_MACHINE = 1u << 8,
  IDX_OPT_COLLATED = 1u << 9,
  IDX_OPT_BINARY = 1u << 10,
};

// Node head.
namespace idx_node_at {
inline constexpr size_t attributes = 0;  // u16 LE: bit 0 root, bit 1 leaf
inline constexpr size_t count = 2;       // u16 LE
inline constexpr size_t left = 4;        // u32 LE
inline constexpr size_t right = 8;       // u32 LE
inline constexpr size_t body = 12;
inline constexpr size_t body_size = 500;
// Compact leaf head.
inline constexpr size_t free_bytes = 12;    // u16 LE
inline constexpr size_t record_mask = 14;   // u32 LE
inline constexpr size_t dup_mask = 18;      // u8
inline constexpr size_t trail_mask = 19;    // u8
inline constexpr size_t record_bits = 20;   // u8
inline constexpr size_t dup_bits = 21;      // u8
inline constexpr size_t trail_bits = 22;    // u8
inline constexpr size_t entry_bytes = 23;   // u8
inline constexpr size_t entries = 24;       // key-info entries upwards, key data down from 511
inline constexpr size_t compact_room = 488; // bytes for entries and data in an empty leaf
// Bitmap leaf.
inline constexpr size_t bitmap_base = 12;   // u32 BE
inline constexpr size_t bitmap = 16;        // 496 bytes, one bit per record
inline constexpr size_t bitmap_bits = 496 * 8;
}  // namespace idx_node_at

enum : uint16_t { IDX_NODE_ROOT = 1, IDX_NODE_LEAF = 2 };

// --- Byte orders ---------------------------------------------------------------------------------

inline uint16_t idx_load_le16(const char* p) {
  const auto* u = reinterpret_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(u[0] | (u[1] << 8));
}
inline uint32_t idx_load_le32(const char* p) {
  const auto* u = reinterpret_cast<const uint8_t*>(p);
  return static_cast<uint32_t>(u[0]) | (static_cast<uint32_t>(u[1]) << 8) | (static_cast<uint32_t>(u[2]) << 16) |
         (static_cast<uint32_t>(u[3]) << 24);
}
inline uint32_t idx_load_be32(const char* p) {
  const auto* u = reinterpret_cast<const uint8_t*>(p);
  return (static_cast<uint32_t>(u[0]) << 24) | (static_cast<uint32_t>(u[1]) << 16) |
         (static_cast<uint32_t>(u[2]) << 8) | static_cast<uint32_t>(u[3]);
}
inline void idx_store_le16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}
inline void idx_store_le32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void idx_store_be32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

// --- Records -------------------------------------------------------------------------------------

// One tag header: the raw image and its decoded fields. Bits 6 to 9 and 11 to 15 of the options
// and bytes 16..493 carry nothing the program acts on; they go back to the file as they came.
struct idx_header_st {
  char raw[kIndexHeaderSize];
  uint32_t root = 0;
  uint32_t free_list = 0;
  uint64_t version = 0;
  uint16_t key_length = 0;
  String key_expression;
  String for_expression;
  String collation_name;  // upper case
  uint16_t options = 0;   // all 16 bits; bits 0 to 10 are the flags of IDX_OPT_*
  bool descending = false;

  idx_header_st() { std::memset(raw, 0, sizeof raw); }
  bool option(uint16_t bit) const { return (options & bit) != 0; }
};

// Bit fields of a compact leaf's key-info entries.
struct compact_geometry_st {
  uint32_t record_mask = 0;
  uint8_t record_bits = 0;
  uint8_t dup_mask = 0;
  uint8_t dup_bits = 0;
  uint8_t trail_mask = 0;
  uint8_t trail_bits = 0;
  uint8_t entry_bytes = 0;  // E, bytes per key-info entry
};

// One node: its offset, the raw block and the decoded head. A compact leaf carries `compact`; a
// bitmap leaf both `compact` and `bitmap`; branch nodes and basic leaves neither.
struct index_node_st {
  std::streamoff offset = 0;
  char raw[kIndexNodeSize];
  uint32_t count = 0;
  uint32_t key_length = 0;  // 0 in every node of a binary tag
  uint32_t left = kIndexNoNode;
  uint32_t right = kIndexNoNode;
  bool leaf = false;
  bool root = false;
  bool compact = false;
  bool bitmap = false;
  // Compact leaves.
  uint32_t free_bytes = 0;
  compact_geometry_st geometry;
  // Bitmap leaves.
  uint32_t bitmap_base = 0;

  index_node_st() { std::memset(raw, 0, sizeof raw); }
};

// A position in one node. Compact leaves decode strictly forward: the iterator keeps the key
// before the current one so that the next key's shared prefix can be taken from it. The two key
// buffers take turns (`current` names the one holding the current key), so a step writes each
// key byte once and never allocates.
struct key_iterator_st {
  int32_t index = -1;     // -1 before the first key; count beyond the last
  double position = 0;    // relative position in the whole tag, and its step (B-tree walk)
  double step = 0;
  // Compact decoding state; data positions count from byte 24 of the node.
  uint32_t data_pos = 0;  // the current key's data; beyond the last key: the lowest data byte
  uint32_t stored = 0;    // bytes stored for the current key (0 beyond the last)
  uint32_t dup = 0;
  uint32_t trail = 0;
  uint32_t record = 0;
  uint32_t child = 0;     // child offset of a basic entry
  uint8_t current = 0;
  char keys[2][kIndexMaxKeyLength];

  char* key() { return keys[current]; }
  const char* key() const { return keys[current]; }
  // The key before the current one (compact leaves; beyond the last key: the last key).
  const char* prev_key() const { return keys[current ^ 1]; }
};

// --- Codecs --------------------------------------------------------------------------------------

// Decodes the 1024 bytes in header->raw. Texts are tagged with `charset` (the table's), the
// collation name is ASCII and upper-cased. Option bit 4 raises RuntimeError 1001; anything out
// of shape (key length outside 1..240, a text outside the pool, a misaligned root) raises
// dbf_index_file_corrupted.
void decode_index_header(idx_header_st* header, const Charset* charset);
// Encodes the decoded fields into header->raw. Key and FOR texts are converted into `charset`;
// texts that do not fit the pool raise dbf_invalid_index_key_len and leave raw untouched; a
// collation name over 8 bytes is a broken invariant.
void encode_index_header(idx_header_st* header, const Charset* charset);

enum class IndexLeafKind { basic, compact, bitmap };
// The leaf kind of a tag with these options: bit 10 bitmap, bit 5 compact, else basic.
IndexLeafKind index_leaf_kind(uint16_t options);

// Decodes node->raw (node->offset set by the caller) for a tag of the given key length and leaf
// kind; every field and, in a compact leaf, every key is checked (dbf_index_file_corrupted).
void decode_index_node(index_node_st* node, uint32_t key_length, IndexLeafKind leaf_kind);
// Writes the head fields of the node into node->raw. A compact or bitmap node must be a leaf and
// a leaf must be compact or bitmap (basic leaves are never written): a broken invariant otherwise.
void encode_index_node(index_node_st* node);

// Bit length of the bit fields for these maxima; masks, bits and E. A record maximum above 32
// bits or a duplicate or trailing maximum above 8 bits raises dbf_error_not_impl.
compact_geometry_st calc_compact_node_geometry(uint64_t max_record, uint32_t max_dup, uint32_t max_trail);

// Validation of a compact head against the rules every decoder relies on (E 1..8, masks that
// match their bit counts, fields that fit E). dbf_index_file_corrupted.
void check_compact_geometry(const compact_geometry_st& g);
// Walks every key-info entry of a compact leaf: duplicate and trailing counts within the key
// length, a first key without duplicates, key data between the entries and byte 511, and data
// plus entries plus free bytes adding up to 488. dbf_index_file_corrupted.
void check_compact_leaf(const index_node_st& node, uint32_t key_length);

}  // namespace qzbase
