// index_support.h - small helpers of the index tests: byte vectors, an in-memory index file and
// a reference decoder of compact leaves written from the file format alone.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "indexes/index.h"
#include "indexes/index_file.h"
#include "indexes/index_format.h"
#include "values/charset_registry.h"

namespace qzbase::index_testing {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes_of(const char* p, size_t n) {
  return Bytes(reinterpret_cast<const uint8_t*>(p), reinterpret_cast<const uint8_t*>(p) + n);
}

inline std::string hex(const Bytes& b) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i) out += ' ';
    out += digits[b[i] >> 4];
    out += digits[b[i] & 15];
  }
  return out;
}

inline const Charset* cp1252() { return get_charset_by_codepage(1252, false); }

// An index file in memory (no disk, no locks).
inline std::unique_ptr<IndexFile> memory_index_file(const Charset* charset = cp1252()) {
  return std::make_unique<IndexFile>(create_file(String("memory:///t.cdx"), OPEN_WRITE), charset);
}

// A compact-leaf tag of the given key length whose pad byte is a blank.
inline void make_compact_tag(Index* index, uint16_t key_length) {
  index->header.key_length = key_length;
  index->header.options = IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_MACHINE;
  index->set_collation(nullptr);
}

// Every key and record of a compact leaf, decoded straight from the layout (not through Index).
// The node's head is encoded first, as write_node would.
inline std::vector<std::pair<std::string, uint32_t>> reference_decode(const index_node_st& node, char pad) {
  std::vector<std::pair<std::string, uint32_t>> out;
  index_node_st n = node;
  encode_index_node(&n);
  const char* r = n.raw;
  const unsigned e = static_cast<uint8_t>(r[23]);
  const uint32_t rmask = idx_load_le32(r + 14);
  const unsigned rbits = static_cast<uint8_t>(r[20]), dbits = static_cast<uint8_t>(r[21]);
  const unsigned dmask = static_cast<uint8_t>(r[18]), tmask = static_cast<uint8_t>(r[19]);
  const uint32_t count = idx_load_le16(r + 2);
  size_t top = 512;
  std::string prev;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t v = 0;
    for (unsigned k = 0; k < e; ++k) v |= static_cast<uint64_t>(static_cast<uint8_t>(r[24 + i * e + k])) << (8 * k);
    const uint32_t rec = static_cast<uint32_t>(v & rmask);
    const uint32_t d = static_cast<uint32_t>((v >> rbits) & dmask);
    const uint32_t t = static_cast<uint32_t>((v >> (rbits + dbits)) & tmask);
    const size_t s = n.key_length - d - t;
    std::string key = prev.substr(0, d) + std::string(r + top - s, s) + std::string(t, pad);
    top -= s;
    out.emplace_back(key, rec);
    prev = key;
  }
  return out;
}

}  // namespace qzbase::index_testing
