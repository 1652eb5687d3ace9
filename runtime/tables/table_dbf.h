// table_dbf.h - Table_Object_QzDbf: the table object over a DBF file.
//
// It owns one DbfFile and forwards almost every operation to it. What it decides itself: how a
// table is found, opened and created, how the file layer's failures become language errors (the
// lists of dbf_error_map, each ending in the catch-all), and that a record reaches the file only
// through update. Index operations reach the tags through the file's index hooks.
//
// Faults mended (each tested):
// - create emptied an existing file before anything was checked, so CREATE TABLE over a table in
//   use elsewhere destroyed it, and "already exists" could never be reported: the file is created
//   exclusively and an existing one gives 7 naming the file, untouched.
// - Failures of the file layer that an operation did not list (a corrupt record met by SKIP, a
//   re-entered file, an I/O error) reached programs as exceptions TRY cannot catch: every
//   operation ends in the catch-all (1887, 2091, 9901, 9902, 39).
// - GATHER MEMVAR raised a plain runtime error: it raises 1001.
// - The codecs' read-only slots refuse logical, date, string and null writes as a type conflict,
//   so a read-only (or auto-increment) field answered those with 107: they raise 2088 naming the
//   field, as number writes do.
// - Index operations let failures they did not list pass as exceptions TRY cannot catch: an
//   unknown collation in INDEX ON gives 1001 naming the collation, a key that comes out null
//   1886, a re-entered table in SEEK 1887, and every other table or file failure ends in the
//   catch-all (9902, 9901).
#pragma once

#include <qzbase.h>

#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "tables/dbf_error_map.h"
#include "tables/dbf_file.h"
#include "tables/table_object.h"

namespace qzbase {

class Table_Object_QzDbf : public Table_Object {
 public:
  // Takes ownership of file.
  Table_Object_QzDbf(Class* cls, DbfFile* file);
  ~Table_Object_QzDbf() override;

  // Opens an existing table: the name gets ".dbf" when it has no extension, is searched in the
  // current directory and along SET PATH and made canonical. readonly opens without write access;
  // without shared the file is held exclusively.
  static ObjectPointer use(VmStack* stack, String name, bool shared, bool readonly, bool again = false);
  // Creates a new table (never over an existing file) and opens it. Code page 0 in the options
  // takes the runtime's default; an in-memory table accepts only a plain name.
  static ObjectPointer create(VmStack* stack, String name, const createopts_st* options, fielddef_st* fields,
                              size_t count);

  // (Re)builds the field-name symbols and the character set from the DbfFile.
  void internal_open(Symtable* symtable);

  // Transactions and GATHER MEMVAR are not available: 1001.
  static void begin(DataSession_Object* session);
  static void commit(DataSession_Object* session);
  static void rollback(DataSession_Object* session);
  void gather_memvar(VmStack* stack);

  DbfFile* dbf() const { return file_.get(); }

  // ---- restructuring (table_rebuild.cpp) ----
  void add_column(VmStack* stack, DataSession_Object* session, const fielddef_st* field) override;
  void drop_column(VmStack* stack, DataSession_Object* session, const String& name) override;
  void pack(VmStack* stack, DataSession_Object* session) override;
  void zap(VmStack* stack, DataSession_Object* session) override;
  void reindex(VmStack* stack) override;

  // Tests stop a rebuild or COPY TO at a stage ("create", "copy", "index", "takeover") by
  // throwing from this hook; null (the default) runs everything. Safe from any thread.
  using rebuild_fault_hook = void (*)(const char* stage);
  static void set_rebuild_fault_hook(rebuild_fault_hook hook);

  // ---- Table_Object ----
  void get_field(uint16_t field, Variant* result) override;
  void get_old_value(uint16_t field, Variant* result) override;
  void get_blank(uint16_t field, Variant* result) override;
  void get_chars(uint16_t field, char* buffer, size_t* size, const Charset** charset) override;
  size_t get_memo_size(uint16_t field) override;
  void movetoeof() override;

  const File* get_file() const override;
  int close(bool final) override;
  void get_field_info(size_t field, fielddef_st* out) override;
  FieldinfoType get_field_type(size_t field) override;
  size_t cnt_fields() override;
  bool deleted() override;

  void set_field_null(uint16_t field) override;
  void set_field_integer(uint16_t field, integer_type_st value) override;
  void set_field_numeric(uint16_t field, numeric_type_st value) override;
  void set_field_bool(uint16_t field, bool value) override;
  void set_field_string(uint16_t field, String value) override;
  void set_field_datetime(uint16_t field, const datetime_st& value) override;
  void set_field_date(uint16_t field, const date_st& value) override;
  void set_field_money(uint16_t field, money_type_st value) override;
  void set_field_readonly(uint16_t field, bool readonly) override;

  void go(VmStack* stack, int64_t recno) override;
  bool bof_lowlevel() override;
  bool eof_lowlevel() override;
  bool lock_lowlevel() override;
  bool isrlocked() override;
  bool isrlocked(size_t recno) override;
  bool unlock() override;
  void unlock_all() override;
  void begin_append() override;
  void delete_record() override;
  void recall_record() override;

  void create_index(VmStack* stack, const createopts_st* options, const internal_indexdef_st* def) override;
  void select_index_tag(VmStack* stack, String tag, SeekDir dir) override;
  void select_index(VmStack* stack, size_t tag, SeekDir dir) override;
  bool is_index_scan() override;
  void unselect_index() override;
  size_t cnt_indizes() override;
  bool get_index_info(size_t tag, internal_indexdef_st* out) override;
  bool get_current_index_info(internal_indexdef_st* out) override;
  size_t create_index_key(const Variant* value, char* buffer, size_t size, bool exact) override;
  size_t eval_index_key(VmStack* stack, char* buffer, size_t size) override;
  size_t get_index_key(char* buffer, size_t size) override;
  double get_index_pos() override;
  SeekDir get_index_dir() override;
  size_t get_leaf_num_keys() override;
  size_t get_leaf_key_num() override;
  size_t get_compact_max_prefix() override;
  size_t get_compact_max_suffix() override;
  bool descending() override;
  std::streampos get_idx_leaf_offset() override;
  void drop_all_indizes(VmStack* stack) override;
  void drop_index(VmStack* stack, const String& tag) override;
  void copyto(VmStack* stack, const String& path, bool with_cdx) override;
  void remove() override;
  bool seek_record(const Variant* key, size_t recno) override;
  bool seek_lowlevel(VmStack* stack, const char* key, size_t length, SeekRng range, SeekDir dir, bool near) override;
  size_t recno() override;
  size_t reccount() override;
  void last_modified_yyyymmdd(int* year, int* month, int* day) override;
  String filename() override;
  int get_version() override;
  int codepage() override;
  void update(VmStack* stack) override;
  void revert() override;
  void movefirst_lowlevel() override;
  void movenext_lowlevel() override;
  void moveprevious_lowlevel() override;
  void movelast_lowlevel() override;

 private:
  struct column_map_st {
    size_t source;
    size_t target;
  };
  // 110 for a table open shared, 1718 (the file name) for one open without write access.
  void check_exclusive_use();
  std::vector<fielddef_st> field_definitions();
  std::vector<internal_indexdef_st> tag_definitions();
  // Builds a new file from the definitions (records copied through the map unless copy is
  // false, tags re-created), lets it take the old one's place and goes to the first record.
  void rebuild(VmStack* stack, DataSession_Object* session, std::vector<fielddef_st>& defs,
               const std::vector<column_map_st>& map, bool copy);
  // The live records of source into target, field by field through the map.
  static void copy(VmStack* stack, const std::vector<column_map_st>& map, DbfFile* source, DbfFile* target);
  // The tags re-created in target, evaluated through a table object over it that does not own it.
  void index(VmStack* stack, const std::vector<internal_indexdef_st>& tags, DbfFile* target);
  // The rebuilt file becomes the table's file (for a disk table under the table's own names).
  void takeover(VmStack* stack, DataSession_Object* session, DbfFile* rebuilt);
  // Installs a file as the table's and returns the one it replaces.
  std::unique_ptr<DbfFile> swap_file(std::unique_ptr<DbfFile> file, Symtable* symtable);

  // The open DbfFile; a closed table raises 9902 (its files are gone).
  DbfFile* live_file() const;
  void move_in_file(void (DbfFile::*move)());
  DbfIndexHooks* hooks() const;
  // The hooks when a tag is selected; 26 without one.
  DbfIndexHooks* ordered_hooks() const;
  [[noreturn]] void raise_index_error(std::span<const dbf_error_row_st> rows, const String& tag);
  // The read-only case of an integer, numeric or money write: silent for an auto-increment field
  // while AUTOINCERROR is off.
  bool ignore_readonly_write(uint16_t field) const;
  template <typename Write>
  void write_number(uint16_t field, Write write);
  template <typename Write>
  void write_other(std::span<const dbf_error_row_st> rows, Write write);
  // Inside a catch block: 2088 when the field is read-only, else the rows.
  [[noreturn]] void raise_write_error(std::span<const dbf_error_row_st> rows, DbfField* field);

  std::unique_ptr<DbfFile> file_;
  dbf_error_context_st errors_;  // the details of this table's errors
};

// The path rule of create (and of COPY TO): UTF-8; with plain_only a name with a root or an
// extension raises 11; a name without a parent goes under the current directory; ".dbf" is
// appended when it has no extension.
std::filesystem::path makeDbfPath(const String& name, bool plain_only);

// Installs the DBF table kind behind Table_Object::use and create (library start-up).
void init_dbf_tables();

}  // namespace qzbase
