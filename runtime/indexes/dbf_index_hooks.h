// dbf_index_hooks.h - the index layer's side of a DbfFile: its structural compound index file,
// the tags listed in that file's directory, and the table's cursor over the selected tag.
//
// install_dbf_index_hooks() makes every new DbfFile get an IndexCursorHooks; table_cursor(file)
// reaches it again for the operations the table layer cannot name (selecting a tag by name,
// seeks, going to a record with a tag selected). Key upkeep of tags (their key and FOR programs)
// is not built yet: a table with tags refuses record writes rather than let a tag go stale.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "indexes/index.h"
#include "indexes/index_file.h"
#include "tables/index_hooks.h"

namespace qzbase {

class DbfFile;

// One tag of a table's structural file.
class DbfIndex : public Index {
 public:
  DbfIndex(IndexFile* file, std::streampos header_offset) : Index(file, header_offset) {}
  String name;        // as stored in the directory, trailing blanks removed
  size_t number = 0;  // position among the tags in header-offset order
  bool binary() const { return header.option(IDX_OPT_BINARY); }
};

class IndexCursorHooks : public DbfIndexHooks {
 public:
  explicit IndexCursorHooks(DbfFile* file) : dbf_(file) {}
  ~IndexCursorHooks() override;

  void open_structural_index(VmStack* stack) override;
  void close_index_file() override;
  void remove_index_file() override;
  size_t index_count() const override { return tags_.size(); }
  DbfIndex* index(size_t n) const override { return n < tags_.size() ? tags_[n].get() : nullptr; }
  void update_keys(VmStack* stack) override;
  void prepare_insert_keys(VmStack* stack) override;
  void insert_keys(VmStack* stack) override;
  void lock_indizes() override;
  void unlock_indizes() override;
  void go_top_in_index(DbfIndex* tag) override;
  void go_bottom_in_index(DbfIndex* tag) override;
  void go_next_in_index(DbfIndex* tag) override;
  void go_prev_in_index(DbfIndex* tag) override;

  void create_index_tag(VmStack* stack, const createopts_st* options, const internal_indexdef_st* def) override;
  void delete_index_tag(const String& name) override;
  void delete_all_index_tags() override;
  // Selecting places the cursor on the current record, or at end of file when the table stood
  // there.
  void select_index(size_t n, int dir) override;
  void select_index(const String& name, int dir) override;
  void unselect_index() override;
  size_t selected_index_number() const override;
  bool selected_descending() const override;
  void go_to(size_t recno) override;
  bool get_indexdef(size_t n, internal_indexdef_st* out) const override;
  size_t create_key(const Variant* value, char* buffer, size_t capacity, bool pad) override;
  size_t eval_key(VmStack* stack, char* buffer, size_t capacity) override;
  size_t get_current_key(char* buffer, size_t capacity) override;
  double get_current_key_pos() override;
  size_t get_current_num_keys() override;
  size_t get_current_key_num() override;
  size_t get_compact_max_prefix() override;
  size_t get_compact_max_suffix() override;
  std::streamoff get_leaf_offset() override;
  bool seek(const char* key, size_t n, int rng, int dir, bool near) override;
  bool seek_unique(const char* key, size_t record) override;
  String index_file_name() const override;

  // The tag of that name (compared without regard to case); dbf_error_unknown_index_tag.
  DbfIndex* find_tag(const String& name) const;

  IndexFile* index_file() const { return cdx_.get(); }
  const key_iterator_st& iterator() const { return it_; }

 private:
  DbfIndex* selected() const;
  void load_current();
  void place_on_current(DbfIndex* tag);
  // One key toward the order's end (EOF beyond it) or its beginning (BOF before it); ascending
  // says which way that is in the tag.
  void step_toward_end(DbfIndex* tag, bool ascending);
  void step_toward_begin(DbfIndex* tag, bool ascending);

  DbfFile* dbf_;
  std::unique_ptr<IndexFile> cdx_;
  std::unique_ptr<Index> directory_;
  std::vector<std::unique_ptr<DbfIndex>> tags_;  // in header-offset order
  std::vector<IndexLockSet> lock_frames_;         // one per pending lock_indizes
  index_node_st node_;
  key_iterator_st it_;
};

// Every DbfFile made from now on gets IndexCursorHooks.
void install_dbf_index_hooks();
// The hooks of a table; null when the table was made before install_dbf_index_hooks.
IndexCursorHooks* table_cursor(DbfFile* file);

// The structural file's name for a table: its extension ".dbf" gives "cdx", ".dbc" "dcx"
// (compared without regard to case); any other extension raises dbf_cdx_file_missing.
String structural_index_name(const String& table_name);

}  // namespace qzbase
