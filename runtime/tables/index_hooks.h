// index_hooks.h - what a DbfFile asks of the index layer, which lives above the tables.
//
// Every DbfFile holds one DbfIndexHooks. The table layer's own implementation knows no tags: key
// upkeep and index locks do nothing, and a table whose header names a structural index file is
// refused when it is opened, so that file never goes stale behind a writer that cannot keep it.
// The index layer installs a factory (set_dbf_index_hooks_factory) that gives each new DbfFile
// its real implementation.
#pragma once

#include <cstddef>

namespace qzbase {

class DbfFile;
class VmStack;
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
};

// A table without tags. open_structural_index raises RuntimeError 1001 ("structural index").
class DbfNoIndexHooks : public DbfIndexHooks {
 public:
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
