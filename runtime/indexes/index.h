// index.h - one tag of an index file: its key builders and the codec of its nodes.
//
// The key builder is chosen once per tag from the key's type and flags and kept as a member
// function reference, so building a key is one indirect call. Keys compare with memcmp only.
//
// Nodes are walked one key at a time through a key_iterator_st. Compact leaves decode strictly
// forward from the first key (each key drops the prefix it shares with the one before and its
// trailing pad bytes); inserting or deleting a key re-encodes only the key that follows it.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <ios>

#include "indexes/index_format.h"

namespace qzbase {

class IndexFile;

// Type codes of a key expression (the low four bits of the expression's type code).
enum IndexKeyType : int {
  INDEX_KEY_LOGICAL = 1,
  INDEX_KEY_INTEGER = 5,
  INDEX_KEY_NUMERIC = 6,
  INDEX_KEY_CURRENCY = 7,
  INDEX_KEY_DATE = 8,
  INDEX_KEY_DATETIME = 9,
  INDEX_KEY_CHARACTER = 10,
};

class Index {
 public:
  // file may be null for a tag that only builds keys; charset is then the table's.
  Index(IndexFile* file, std::streampos header_offset, const Charset* charset = nullptr);
  ~Index();
  Index(const Index&) = delete;
  Index& operator=(const Index&) = delete;

  // --- keys ---

  using key_builder = size_t (Index::*)(const Variant* value, bool pad, char* buffer, size_t length) const;

  // The tag's collation; its pad byte becomes the tag's.
  void set_collation(const Collation* collation);
  const Collation* collation() const { return collation_; }
  char pad_byte() const { return pad_; }
  uint32_t key_length() const { return header.key_length; }

  // Chooses the builder for a key of this type and the tag's nullable option (header.options);
  // binary: the text is in the binary character set; nocptrans: it comes from a field stored
  // without code-page translation. dbf_error_type_index_expression for another type.
  void choose_key_builder(int key_type, bool binary, bool nocptrans);
  // Runs the tag's builder with the tag's key length; the buffer must hold it.
  size_t create_key(const Variant* value, char* buffer, size_t length, bool pad) const;

  size_t create_logical_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_int4_bigendian_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_float8_bigendian_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_currency8_bigendian_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_date_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_datetime_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_char_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_char_nocptrans_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  size_t create_binary_key(const Variant* value, bool pad, char* buffer, size_t length) const;
  // A marker byte (0 for null, 0x80 otherwise) in front of the inner builder's key.
  size_t create_nullable_key(const Variant* value, bool pad, char* buffer, size_t length) const;

  // --- nodes ---

  // A new empty compact leaf whose bit fields hold these maxima (record maximum non-zero,
  // duplicate and trailing maxima at least the key length).
  void init_compact_node(index_node_st* node, uint32_t key_length, uint64_t max_record, uint32_t max_dup,
                         uint32_t max_trail, bool leaf) const;

  // Stepping inside one node (basic or compact). First on an empty node stands beyond the last
  // key (index = count); last on an empty node stands before the first (-1). Next from beyond
  // the last key raises dbf_error_eof, previous from before the first dbf_error_bof.
  void goto_first_key(const index_node_st& node, key_iterator_st* it) const;
  void goto_next_key(const index_node_st& node, key_iterator_st* it) const;
  void goto_prev_key(const index_node_st& node, key_iterator_st* it) const;
  void goto_last_key(const index_node_st& node, key_iterator_st* it) const;
  // Stands on key `index` (0..count; count is beyond the last key).
  void goto_key(const index_node_st& node, key_iterator_st* it, uint32_t index) const;

  void goto_first_compact_key(const index_node_st& node, key_iterator_st* it) const;
  void goto_next_compact_key(const index_node_st& node, key_iterator_st* it) const;
  void goto_last_compact_key(const index_node_st& node, key_iterator_st* it) const;

  // Inserts the key before the iterator's key (or at the end when it stands beyond the last);
  // the iterator then stands on the new key. False, with the node unchanged, when the leaf lacks
  // the room. A record number above the record mask rebuilds the leaf with wider entries first.
  bool insert_compact_key(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const;
  // Removes the iterator's key; the iterator then stands on the key that followed it (or beyond
  // the last key).
  void delete_compact_key(index_node_st* node, key_iterator_st* it) const;
  // Copies the source's keys in order into two fresh leaves of its geometry: into the left while
  // its entries and data stay within 243 bytes (the first key always), the rest into the right.
  // Offsets of the halves are left as the caller set them; both iterators end beyond the last key.
  void split_compact_node(const index_node_st& source, index_node_st* left, key_iterator_st* left_it,
                          index_node_st* right, key_iterator_st* right_it) const;

  IndexFile* file;
  std::streampos header_offset;
  idx_header_st header;
  const Charset* charset;  // the table's

 private:
  bool insert_compact_fitting(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const;
  bool widen_compact_node(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const;
  void goto_basic_key(const index_node_st& node, key_iterator_st* it, uint32_t index) const;

  const Collation* collation_ = nullptr;
  char pad_ = ' ';
  key_builder builder_ = nullptr;
  key_builder inner_builder_ = nullptr;
};

}  // namespace qzbase
