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
#include <deque>
#include <ios>
#include <memory>
#include <vector>

#include "indexes/index_format.h"
#include "tables/table_types.h"
#include "vm/program.h"

namespace qzbase {

class DbfFile;
class IndexFile;

// What analysing a key or FOR expression found out.
struct IndexExpressionInfo {
  std::unique_ptr<const Program> program;
  int key_type = 0;         // IndexKeyType; 0 when the expression's type is not known
  size_t key_length = 0;    // bytes, the null marker included
  bool nullable = false;
  bool binary = false;      // the text is in the binary character set
  bool nocptrans = false;   // the text comes from a field stored without code-page translation
  bool untyped_number = false;  // a number of no static type: integer on one record, numeric on another
  std::vector<uint16_t> fields;  // field numbers the program reads
};

// Answer of a seek: a key whose first n bytes equal the searched ones; the nearest key in the
// search direction that does not match; no key in that direction.
enum SeekResult : int { SEEK_RESULT_FOUND = 0, SEEK_RESULT_NEAR = 1, SEEK_RESULT_NONE = 2 };

// One step of a descent: a copy of a branch node and the iterator on the entry that led down.
struct index_waypoint_st {
  index_node_st node;
  key_iterator_st it;
};
using index_path = std::deque<index_waypoint_st>;  // root first; references survive push_front

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

  // --- the tag's expressions (the table must be bound to the stack) ---

  // Compiles text as an expression of the table, runs it once on the current record and fills
  // info: the key type and length the value needs (dbf_invalid_index_key_len when the value's
  // type contradicts the static one, dbf_error_type_index_expression for a type no key holds).
  static void analze_expression(VmStack* stack, DbfFile* dbf, const String& text, const Collation* collation,
                                IndexExpressionInfo* info);
  // Reads the header, takes its collation and analyses the key and FOR texts; then chooses the
  // key builder. RuntimeError 112 for a key that no longer fits its text, 37 for a FOR that is not
  // logical. Without a stack only the header and collation are taken: such a tag can be walked
  // and sought but builds no keys (has_expressions() is false).
  void open(VmStack* stack, DbfFile* dbf);
  bool has_expressions() const { return key_info.program != nullptr; }
  bool has_key_builder() const { return builder_ != nullptr; }
  // The key of the current record, padded to the key length; returns the key length.
  // dbf_error_index_cannot_store_null for a null key of a tag without the nullable option.
  size_t eval_key(VmStack* stack, char* buffer, size_t size);
  // The FOR condition on the current record; true without one. RuntimeError 11 for a value that
  // is neither logical nor null.
  bool eval_filter(VmStack* stack);
  // False when the key expression is one plain field read.
  bool key_is_expression() const;

  IndexExpressionInfo key_info;
  IndexExpressionInfo for_info;
  // The pending change of one record write (key upkeep).
  char new_key[kIndexMaxKeyLength] = {};
  char old_key[kIndexMaxKeyLength] = {};
  bool insert_new = false;
  bool delete_old = false;

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

  // --- B-tree: search and navigation ---
  //
  // Every descent, top and bottom first confirms the header version (check_version). The node
  // and iterator filled in are the caller's cursor; the walk steps never re-read the header.

  // Shared files: re-reads the header unless the lock has been held since it was last confirmed;
  // a changed version drops the file's cached nodes.
  void check_version();
  // The first key whose first n bytes are at least the key's: SeekResult.
  int internal_seek(const char* key, size_t n, index_node_st* node, key_iterator_st* it);
  // dir 1 or 2; rng 2 makes the bound exclusive. n is clamped to the key length.
  int seek(const char* key, size_t n, index_node_st* node, key_iterator_st* it, SeekDir dir, int rng);
  // The first pair at least (key, record) over the whole key: 0 that pair, 1 another, 2 none.
  int seek_record(const char* key, uint32_t record, index_node_st* node, key_iterator_st* it);
  int internal_seek_record_for_update(const char* key, uint32_t record, index_node_st* node, key_iterator_st* it,
                                      index_path* path);
  // Stand on the first or last key of the tag; false when the tag is empty (the iterator then
  // stands beyond the last key, or before the first).
  bool go_top(index_node_st* node, key_iterator_st* it);
  bool go_bottom(index_node_st* node, key_iterator_st* it);
  // One key on or back, crossing to the sibling leaf; false beyond the last key or before the
  // first (the iterator stays there).
  bool go_next(index_node_st* node, key_iterator_st* it);
  bool go_prev(index_node_st* node, key_iterator_st* it);

  // Node scans: 0 equal, 1 greater, 2 past the end (the iterator then stands beyond the last).
  int seek_first_key(const index_node_st& node, key_iterator_st* it, const char* key, size_t n) const;
  int seek_first_unique_key(const index_node_st& node, key_iterator_st* it, const char* key, uint32_t record) const;
  int seek_bitmap_entry(const index_node_st& node, key_iterator_st* it, uint32_t record) const;

  // --- B-tree: update (the index file must be locked) ---

  bool insert_key(const char* key, size_t record);
  // Fills the empty tag of compact leaves from count pairs in ascending (key, record) order,
  // each the key's bytes followed by the record number (4 bytes, native order): leaves and
  // branches as full as their keys allow, built from the bottom up.
  void load_sorted(const char* pairs, size_t count);
  // False when the pair is not in the tag.
  bool delete_key(const char* key, size_t record);
  // Binary tags: sets the record's bit for a key starting with 'T', clears it otherwise.
  bool replace_bit(size_t record, const char* key);
  // A new block at the file end.
  std::streamoff alloc(size_t size);

  bool insert_leaf_key(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record);
  bool insert_bitmap_entry(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const;
  bool insert_basic_key(index_node_st* node, key_iterator_st* it, const char* key, uint32_t child,
                        uint32_t record) const;
  void replace_basic_key(index_node_st* node, key_iterator_st* it, const char* key) const;
  void replace_basic_recno(index_node_st* node, key_iterator_st* it, uint32_t record) const;
  void replace_basic_pointer(index_node_st* node, key_iterator_st* it, uint32_t child) const;
  // Removes the iterator's entry of a compact leaf or basic node.
  void delete_key(index_node_st* node, key_iterator_st* it) const;

  // Empty nodes of this tag: a branch, and a leaf of the tag's kind.
  void init_branch_node(index_node_st* node) const;
  void init_leaf_node(index_node_st* node) const;

  IndexFile* file;
  std::streampos header_offset;
  idx_header_st header;
  const Charset* charset;  // the table's
  uint64_t confirmed_generation = 0;  // lock generation at which the header was last confirmed

 private:
  int descend(const char* key, size_t n, bool by_record, uint32_t record, index_node_st* out, key_iterator_st* it,
              index_path* path);
  void require_update() const;
  // Splits a full leaf before (key, record) goes in at the iterator; the parents take the new
  // half's entry (and split in turn).
  void split_node_recursive(index_node_st* node, key_iterator_st* it, index_path* path, const char* key,
                            uint32_t record);
  // Puts the two halves of a split node in its place in the sibling chain and writes them, right
  // half first, then points the old neighbours at them.
  void link_split_halves(const index_node_st& old, index_node_st* left, index_node_st* right);
  // Inserts (key, record, child) before the parent's iterator entry, splitting the parent when it
  // is full; the iterator then follows the entry of the child half that holds the insert point.
  void insert_branch_key(index_waypoint_st* parent, const char* key, uint32_t record, uint32_t child,
                         index_path* path, bool child_goes_right);
  void parent_nodes_fixup(const index_node_st& node, const key_iterator_st& it, index_path* path, size_t level);
  void unlink_child_node_recursive(index_node_st* node, key_iterator_st* it, index_path* path, size_t level);
  void finish_change();
  // Backward steps in a compact leaf: the leaf's keys decoded once, then taken by index.
  void step_back_in_leaf(const index_node_st& node, key_iterator_st* it);

  struct leaf_keys_entry {
    uint32_t data_pos, stored, dup, trail, record;
  };
  struct leaf_keys_memo {
    std::streamoff offset = -1;
    uint32_t count = 0;
    char raw[kIndexNodeSize];
    std::vector<char> keys;  // count x key length
    std::vector<leaf_keys_entry> entries;
  };
  leaf_keys_memo memo_;

  bool insert_compact_fitting(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const;
  bool widen_compact_node(index_node_st* node, key_iterator_st* it, const char* key, uint32_t record) const;
  void goto_basic_key(const index_node_st& node, key_iterator_st* it, uint32_t index) const;

  const Collation* collation_ = nullptr;
  char pad_ = ' ';
  key_builder builder_ = nullptr;
  key_builder inner_builder_ = nullptr;
};

}  // namespace qzbase
