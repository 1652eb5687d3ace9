// dbf_index_hooks.h - the index layer's side of a DbfFile: its structural compound index file,
// the tags listed in that file's directory, the table's cursor over the selected tag, and the
// upkeep of every tag's keys around record writes.
//
// install_dbf_index_hooks() makes every new DbfFile get an IndexCursorHooks; table_cursor(file)
// reaches it again. Key and FOR programs run with the table bound to the stack; a tag opened
// without a stack has no programs, and a table holding one refuses record writes rather than let
// that tag go stale.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "indexes/index.h"
#include "indexes/index_file.h"
#include "tables/dbf_exceptions.h"
#include "tables/index_hooks.h"

namespace qzbase {

class DbfFile;
struct internal_indexdef_st;

// One tag of a table's structural file.
class DbfIndex : public Index {
 public:
  DbfIndex(IndexFile* file, std::streampos header_offset) : Index(file, header_offset) {}
  String name;        // as stored in the directory, trailing blanks removed
  size_t number = 0;  // position among the tags in header-offset order
  bool binary() const { return header.option(IDX_OPT_BINARY); }
  // The definition that makes this tag again.
  void get_indexdef(internal_indexdef_st* out) const;
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
  void select_index(VmStack* stack, size_t n, int dir) override;
  void select_index(VmStack* stack, const String& name, int dir) override;
  void unselect_index() override;
  size_t selected_index_number() const override;
  bool selected_descending() const override;
  void go_to(size_t recno) override;
  void go_to(VmStack* stack, size_t recno) override;
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
  Index* directory() const { return directory_.get(); }
  const key_iterator_st& iterator() const { return it_; }
  // The tags split by kind, each in number order.
  const std::vector<DbfIndex*>& binary_tags() const { return binary_; }
  const std::vector<DbfIndex*>& ordinary_tags() const { return ordinary_; }

  // A new structural file (replacing any file of that name) with an empty directory; the table's
  // header flag is set and written. A shared table must hold its append lock: the header is read
  // again first so that records others appended stay counted.
  void create_compound_auto_open_index_file();
  // Shared tables: when the directory changed since this process last read it (another process
  // created or deleted a tag), the tag list is read again. Tags this process knows stay open.
  void refresh_tag_list(VmStack* stack);

 private:
  DbfIndex* selected() const;
  void open_unguarded(VmStack* stack);
  // Shared tables: opens the structural file when another process created it after this one
  // opened the table. True when the table has a structural file now.
  bool adopt_structural_index(VmStack* stack);
  void load_current();
  void place_on_current(DbfIndex* tag, VmStack* stack = nullptr);
  void select_unguarded(DbfIndex* tag, bool backward, VmStack* stack);
  // Reads the directory into the tag list: tags already open (by header offset) are kept, others
  // opened; then numbered by header offset and split by kind.
  void load_tags(VmStack* stack);
  void renumber();
  // The 10-byte directory key of a tag name.
  std::string directory_key(const String& name) const;
  // Evaluates the pending change of every tag for update_keys and checks enforced uniqueness.
  void evaluate_update(VmStack* stack);
  void check_unique(DbfIndex* tag, const char* key);
  // dbf_index_file_corrupted naming this table's index file.
  [[noreturn]] void corrupted() const;
  [[noreturn]] void rethrow_named(const dbf_index_file_corrupted& e) const;
  // One key toward the order's end (EOF beyond it) or its beginning (BOF before it); ascending
  // says which way that is in the tag.
  void step_toward_end(DbfIndex* tag, bool ascending);
  void step_toward_begin(DbfIndex* tag, bool ascending);

  DbfFile* dbf_;
  std::unique_ptr<IndexFile> cdx_;
  std::unique_ptr<Index> directory_;
  std::vector<std::unique_ptr<DbfIndex>> tags_;  // in header-offset order
  std::vector<DbfIndex*> binary_;
  std::vector<DbfIndex*> ordinary_;
  uint64_t directory_version_ = 0;               // the directory's version when last read
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
