// index_hooks.h - what a DbfFile asks of the index layer, which lives above the tables.
//
// Every DbfFile holds one DbfIndexHooks. The table layer's own implementation knows no tags: key
// upkeep and index locks do nothing, and a table whose header names a structural index file is
// refused when it is opened, so that file never goes stale behind a writer that cannot keep it.
// The index layer installs a factory (set_dbf_index_hooks_factory) that gives each new DbfFile
// its real implementation.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <ios>

namespace qzbase {

class DbfFile;
class VmStack;
struct internal_indexdef_st;
// One tag of the table's index file, as the index layer defines it.
class DbfIndex;

class DbfIndexHooks {
 public:
  virtual ~DbfIndexHooks() = default;

  // The structural index file: opened after the table when the header flag is set; closed and
  // removed with the table.
  virtual void open_structural_index(VmStack* stack) = 0;
  virtual void close_index_file() = 0;
  virtual void remove_index_file() = 0;

  // The tag list, in tag-number order.
  virtual size_t index_count() const = 0;
  virtual DbfIndex* index(size_t n) const = 0;

  // Key upkeep around a record write. update_keys changes the keys of the current record (old
  // values in the old-record buffer); prepare_insert_keys builds and checks the keys of a new
  // record before it is written, insert_keys inserts them after. The last two run while every
  // index file is locked.
  virtual void update_keys(VmStack* stack) = 0;
  virtual void prepare_insert_keys(VmStack* stack) = 0;
  virtual void insert_keys(VmStack* stack) = 0;

  // Lock and unlock every index file of the table (LockAllIndizes retries on
  // dbf_index_deadlock_detected). Each lock_indizes, also a failed one, is matched by one
  // unlock_indizes, which gives back what that call took.
  virtual void lock_indizes() = 0;
  virtual void unlock_indizes() = 0;

  // The four moves in the order of a selected tag (ascending; DbfFile swaps them for a backward
  // order).
  virtual void go_top_in_index(DbfIndex* tag) = 0;
  virtual void go_bottom_in_index(DbfIndex* tag) = 0;
  virtual void go_next_in_index(DbfIndex* tag) = 0;
  virtual void go_prev_in_index(DbfIndex* tag) = 0;

  // ---- what the table object asks for its index operations ----
  // Raises the dbf exceptions the table object maps to language errors; nothing here turns them
  // into errors itself.

  // Builds a new tag over every record and selects it when it is an ordinary one; creates the
  // structural file first when the table has none.
  virtual void create_index_tag(VmStack* stack, const createopts_st* options, const internal_indexdef_st* def) = 0;
  // Drops one tag (by name, without regard to case) or every tag together with the file. Both
  // need the table open exclusively (dbf_error_need_exclusive_access); nothing happens without a
  // structural file.
  virtual void delete_index_tag(const String& name) = 0;
  virtual void delete_all_index_tags() = 0;

  // Selects the order of tag n, or of the tag of that name, in direction dir (SeekDir; 0 is the
  // tag's own). dbf_error_unknown_index_tag, dbf_select_binary_index_not_supported.
  virtual void select_index(size_t n, int dir) = 0;
  virtual void select_index(const String& name, int dir) = 0;
  // Physical order again.
  virtual void unselect_index() = 0;
  // The selected tag's number (kNoIndex without one) and whether its order runs backward.
  static constexpr size_t kNoIndex = SIZE_MAX;
  virtual size_t selected_index_number() const = 0;
  virtual bool selected_descending() const = 0;
  // Loads record recno; with a tag selected the index cursor is placed on it.
  virtual void go_to(size_t recno) = 0;
  // The same with the table bound to the stack: the cursor finds the record's entry by its key
  // instead of walking the tag. The defaults ignore the stack.
  virtual void select_index(VmStack* stack, size_t n, int dir) {
    (void)stack;
    select_index(n, dir);
  }
  virtual void select_index(VmStack* stack, const String& name, int dir) {
    (void)stack;
    select_index(name, dir);
  }
  virtual void go_to(VmStack* stack, size_t recno) {
    (void)stack;
    go_to(recno);
  }

  // Tag n's definition; false for a number beyond the tags.
  virtual bool get_indexdef(size_t n, internal_indexdef_st* out) const = 0;

  // Keys of the selected tag (dbf_error_no_index_selected without one). create_key builds the
  // raw key of a value (pad: fill to the key length) and returns its length; eval_key evaluates
  // the key expression on the current record; get_current_key copies the key at the cursor.
  virtual size_t create_key(const Variant* value, char* buffer, size_t capacity, bool pad) = 0;
  virtual size_t eval_key(VmStack* stack, char* buffer, size_t capacity) = 0;
  virtual size_t get_current_key(char* buffer, size_t capacity) = 0;

  // The index cursor: relative position of its key (0 .. 1), keys in its leaf, the key's place
  // in that leaf, the compact geometry's largest prefix (duplicate) and suffix (trailing) counts,
  // and the leaf's file offset. dbf_error_no_index_selected without a selected tag.
  virtual double get_current_key_pos() = 0;
  virtual size_t get_current_num_keys() = 0;
  virtual size_t get_current_key_num() = 0;
  virtual size_t get_compact_max_prefix() = 0;
  virtual size_t get_compact_max_suffix() = 0;
  virtual std::streamoff get_leaf_offset() = 0;

  // Seeks the first n bytes of key in the selected order (dir 0: the order's own; rng a SeekRng
  // set). True when found (or, with rng exclusive, on a nearer key); the record under the cursor
  // is loaded then, or also with near; else the table goes to end of file.
  virtual bool seek(const char* key, size_t n, int rng, int dir, bool near) = 0;
  // Seeks the pair (key, record): loads the record when found, else goes to end of file.
  virtual bool seek_unique(const char* key, size_t record) = 0;

  // The structural file's name as error texts show it; empty when the table has none.
  virtual String index_file_name() const = 0;
};

// A table without tags. open_structural_index and create_index_tag raise RuntimeError 1001
// ("structural index"): this build keeps no index files. Everything that needs a selected tag
// raises dbf_error_no_index_selected, selecting one dbf_error_unknown_index_tag.
class DbfNoIndexHooks : public DbfIndexHooks {
 public:
  // With the file, go_to loads records; without it (hooks made for tests) it does nothing.
  explicit DbfNoIndexHooks(DbfFile* file = nullptr) : file_(file) {}
  void open_structural_index(VmStack* stack) override;
  void close_index_file() override {}
  void remove_index_file() override {}
  size_t index_count() const override { return 0; }
  DbfIndex* index(size_t) const override { return nullptr; }
  void update_keys(VmStack*) override {}
  void prepare_insert_keys(VmStack*) override {}
  void insert_keys(VmStack*) override {}
  void lock_indizes() override {}
  void unlock_indizes() override {}
  void go_top_in_index(DbfIndex*) override;
  void go_bottom_in_index(DbfIndex*) override;
  void go_next_in_index(DbfIndex*) override;
  void go_prev_in_index(DbfIndex*) override;

  void create_index_tag(VmStack* stack, const createopts_st* options, const internal_indexdef_st* def) override;
  void delete_index_tag(const String&) override {}
  void delete_all_index_tags() override {}
  using DbfIndexHooks::go_to;
  using DbfIndexHooks::select_index;
  void select_index(size_t n, int dir) override;
  void select_index(const String& name, int dir) override;
  void unselect_index() override {}
  size_t selected_index_number() const override { return kNoIndex; }
  bool selected_descending() const override { return false; }
  void go_to(size_t recno) override;
  bool get_indexdef(size_t, internal_indexdef_st*) const override { return false; }
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
  String index_file_name() const override { return String(); }

 private:
  DbfFile* file_;
};

// Makes the hooks of a new DbfFile (called once per DbfFile, before its header is read). Null
// restores the table layer's own (DbfNoIndexHooks). Safe to call from any thread.
using dbf_index_hooks_factory = DbfIndexHooks* (*)(DbfFile* file);
void set_dbf_index_hooks_factory(dbf_index_hooks_factory factory);
DbfIndexHooks* make_dbf_index_hooks(DbfFile* file);

// Holds every index file of the table locked for a scope. A lock attempt that reports
// dbf_index_deadlock_detected gives back what it holds, yields and tries again.
class LockAllIndizes {
 public:
  explicit LockAllIndizes(DbfFile* file);
  ~LockAllIndizes();
  LockAllIndizes(const LockAllIndizes&) = delete;
  LockAllIndizes& operator=(const LockAllIndizes&) = delete;

 private:
  DbfIndexHooks* hooks_;
};

}  // namespace qzbase
