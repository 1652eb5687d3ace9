// dbf_file.h - DbfFile, one open DBF table file, and DbfField, one of its fields.
//
// DbfFile owns the table's File, its header values, its fields and its record buffers. The byte
// layout lives in dbf_format; the per-type codecs (dbf_codecs.cpp) are installed into each field's
// slots once at open, so a field access is one indirect call on a record buffer; the record and
// append locks are in dbf_locks.cpp. Record positioning and record input and output build on the
// position state, the buffers and refresh() declared here.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tables/dbf_exceptions.h"
#include "tables/dbf_format.h"
#include "tables/index_hooks.h"

namespace qzbase {

class DbfFile;
class DbfField;
class FptFile;

// The codec slots. Each takes the file, the field and a record buffer (the field's bytes are at
// record + displacement; its null and varlen bits at the offsets the field holds).
using field_set_blank_fn = void (*)(DbfFile*, DbfField*, char* record);
using field_set_null_fn = void (*)(DbfFile*, DbfField*, char* record);
// Writes the value as text into buffer (size bytes); returns the bytes written. *charset names the
// wanted character set (null: the table's, reported back).
using field_get_chars_fn = size_t (*)(DbfFile*, DbfField*, const char* record, char* buffer, size_t size,
                                      const Charset** charset);
using field_get_variant_fn = void (*)(DbfFile*, DbfField*, const char* record, Variant* out);
using field_get_memo_size_fn = size_t (*)(DbfFile*, DbfField*, const char* record);
using field_set_logical_fn = void (*)(DbfFile*, DbfField*, char* record, bool value);
using field_set_integer_fn = void (*)(DbfFile*, DbfField*, char* record, const integer_type_st& value);
using field_set_numeric_fn = void (*)(DbfFile*, DbfField*, char* record, const numeric_type_st& value);
using field_set_money_fn = void (*)(DbfFile*, DbfField*, char* record, const money_type_st& value);
using field_set_string_fn = void (*)(DbfFile*, DbfField*, char* record, const String& value);
using field_set_date_fn = void (*)(DbfFile*, DbfField*, char* record, const date_st& value);
using field_set_datetime_fn = void (*)(DbfFile*, DbfField*, char* record, const datetime_st& value);
using memo_block_write_fn = void (*)(DbfField*, char* record, uint32_t block);
using memo_block_read_fn = uint32_t (*)(DbfField*, const char* record);

// The writing slots, held twice: as configured for the field's type, and as active (what writes
// go through; read-only operations while the field is read-only).
struct field_writers_st {
  field_set_null_fn set_null;
  field_set_logical_fn set_logical;
  field_set_integer_fn set_integer;
  field_set_numeric_fn set_numeric;
  field_set_money_fn set_money;
  field_set_string_fn set_string;
  field_set_date_fn set_date;
  field_set_datetime_fn set_datetime;
};

class DbfField {
 public:
  char name[88] = {};  // the descriptor's name, or the caller's UTF-8 name (in-memory tables)
  char type = 0;       // type letter
  uint64_t descriptor_offset = 0;
  uint32_t displacement = 0;
  uint32_t width = 0;
  uint32_t decimals = 0;
  uint32_t autoinc_next = 0;
  uint32_t autoinc_step = 0;
  bool binary = false;
  bool nullable = false;
  bool system = false;
  bool autoinc = false;
  // Byte offsets inside the record of the null and the varlen bit (-1: none) and their masks.
  int32_t null_byte = -1;
  uint8_t null_mask = 0;
  int32_t varlen_byte = -1;
  uint8_t varlen_mask = 0;

  field_set_blank_fn set_blank = nullptr;
  field_get_chars_fn get_chars = nullptr;
  field_get_variant_fn get_variant = nullptr;
  field_get_memo_size_fn get_memo_size = nullptr;
  field_writers_st configured{};
  field_writers_st active{};
  memo_block_write_fn write_block = nullptr;
  memo_block_read_fn read_block = nullptr;

  unsigned char raw[kDbfDescriptorSize] = {};  // the descriptor as read; kept bytes come from here

  // The open tags whose key expression reads this field (kept by the index layer).
  std::vector<DbfIndex*> dependent_tags;

  bool is_null(const char* record) const {
    return null_byte >= 0 && (static_cast<unsigned char>(record[null_byte]) & null_mask) != 0;
  }
  bool is_memo() const { return type == 'M' || type == 'W' || type == 'G'; }
};

class DbfFile {
 public:
  // Construct on the file and open (or create) it; on any exception the half-built object is
  // destroyed and the exception passes on. The DbfFile owns the File from then on.
  // A table whose header names a structural index has it opened by the index hooks (with the
  // stack, which key expressions need) unless with_index is false: the table object opens it
  // itself once it can bind the table to the stack.
  static DbfFile* open(File* file, VmStack* stack = nullptr, bool with_index = true);
  static DbfFile* create(File* file, createopts_st* options, fielddef_st* fields, size_t count);

  explicit DbfFile(File* file);
  ~DbfFile();
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  // Header and descriptors.
  void read_dbf_header();
  void write_dbf_header();
  // write_dbf_header unless the table has no lasting name (mode bit 8).
  void update_dbf_header();
  // read_dbf_header for a file open shared: another process may have appended.
  void refresh_dbf_header();
  void read_dbf_field_header(DbfField* field);
  void write_dbf_field_header(DbfField* field);
  void read_dbf_field_headers();
  void write_dbf_field_headers();

  // Structure checks, codecs and record buffers.
  void setup_record_engine();
  // Drops the fields, the buffers and the header state (create re-opens the file after it).
  void free();
  // Closes (remove: deletes) the table file and the memo file, each when present.
  void close();
  void remove();

  bool is_in_database() const { return backlink[0] != 0; }
  String get_database_filename() const;

  uint8_t version() const { return version_; }
  uint8_t codepage_mark() const { return codepage_mark_; }
  const Charset* charset() const { return charset_; }
  const Charset* binary_charset() const { return binary_charset_; }
  File* file() const { return file_; }
  FptFile* memo_file() const { return fpt_; }
  int64_t last_modified() const { return last_modified_ns; }
  // The date of the last update in local time: four-digit year, month 1 .. 12, day.
  void last_modified_yyyymmdd(uint32_t* year, uint32_t* month, uint32_t* day) const;
  // The last-modified time becomes now (a record write, a create).
  void touch();
  bool is_shared() const { return (file_->mode & OPEN_SHARED) != 0; }
  bool is_writable() const { return (file_->mode & OPEN_WRITE) != 0; }
  bool is_shared_writable() const { return is_shared() && is_writable(); }
  uint64_t max_file_size() const { return max_size_; }
  // Offset of record n (from 1).
  uint64_t record_offset(size_t recno) const {
    return header_length + static_cast<uint64_t>(recno - 1) * record_length;
  }

  // Codec slot control.
  void set_fields_readwrite();
  void set_field_readwrite(DbfField* field);
  void set_field_readonly(DbfField* field);
  void set_field_readonly(size_t index);
  void set_autoinc_fields_readonly();
  void set_autoinc_fields_readwrite();

  // Auto-increment values (dbf_codecs.cpp). autoinc_assign gives a new record its values (a field
  // left 0, null or not an integer takes the next value; a larger value moves the next one on);
  // autoinc_verify moves the next value past a larger one written into an existing record. Both
  // re-read and write the descriptor, which other processes share.
  void autoinc_assign(char* record);
  void autoinc_verify(const char* old_values, const char* new_values);

  // Locks (dbf_locks.cpp).
  void lock_for_append();
  void release_append_lock();
  bool isrlocked(size_t recno) const { return locked_records.count(recno) != 0; }
  bool lock();
  bool unlock_record();
  void unlock_all_records();
  bool internal_lock();
  bool internal_unlock();
  // Merges the disk state of the current record into it after a lock: fields changed on disk and
  // not here take the disk bytes. Only for files open shared.
  void refresh();
  uint64_t record_lock_offset(size_t recno) const { return max_size_ - recno; }
  uint64_t append_lock_offset() const { return max_size_; }

  // Record input and output (dbf_records.cpp).
  // Modes of go(), a bit set.
  enum Readahead : int { kReadaheadFlush = 1, kReadDirect = 2, kReadBuffered = 4 };
  // Reads record recno into buffer; false when there is no such record yet.
  bool go(size_t recno, char* buffer, int mode);
  // Replaces the read-ahead copy of recno when the buffer holds it.
  void update_buffer(size_t recno, const char* record);
  // The read-ahead buffer holds at least this many records and kMinReadaheadBytes (the larger).
  void set_readahead_records(size_t records);
  size_t readahead_capacity() const { return readahead_capacity_; }

  void go_to_in_file(size_t n);
  void go_top_in_file();
  void go_bottom_in_file();
  void go_next_in_file();
  void go_prev_in_file();
  void go_eof();
  void begin_append();
  // By the selected tag when one is selected, else in physical order.
  void go_top();
  void go_bottom();
  void go_next();
  void go_prev();

  // Field access by number among the user-visible fields (from 0).
  void get_variant(size_t n, Variant* out);
  size_t get_char(size_t n, char* buffer, size_t* size, const Charset** charset);
  size_t get_memo_size(size_t n);
  void get_old_value(size_t n, Variant* out);
  void get_blank_value(size_t n, Variant* out);
  const DbfField* get_field(size_t n) const;
  void set_null(size_t n);
  void set_logical(size_t n, bool value);
  void set_integer(size_t n, const integer_type_st& value);
  void set_numeric(size_t n, const numeric_type_st& value);
  void set_money(size_t n, const money_type_st& value);
  void set_string(size_t n, const String& value);
  void set_date(size_t n, const date_st& value);
  void set_datetime(size_t n, const datetime_st& value);
  void set_variant(size_t n, const Variant* value);

  // Deletion mark of the current record.
  void delete_record();
  void recall();
  bool deleted() const { return current_record[0] != kDbfLiveMark; }

  bool modified() const;
  void revert();
  // Writes the current record back (or appends it) with its keys and auto-increment values.
  void update(VmStack* stack);
  void write_record();
  size_t reccount();
  size_t field_count() const { return fields.size(); }

  // Index hooks and the selected order.
  DbfIndexHooks* index_hooks() const { return index_hooks_.get(); }
  size_t index_count() const { return index_hooks_->index_count(); }
  DbfIndex* index(size_t n) const { return index_hooks_->index(n); }
  DbfIndex* selected_index() const { return selected_index_; }
  bool selected_backward() const { return selected_backward_; }
  // Navigation goes by the tag from now on (backward: top and bottom, next and previous swap).
  void select_index_order(DbfIndex* tag, bool backward);
  void unselect_index();

  // Header state.
  uint32_t record_count = 0;
  uint32_t header_length = 0;
  uint32_t record_length = 0;
  uint64_t terminator_offset = 0;
  uint64_t behind_terminator = 0;
  int64_t last_modified_ns = 0;  // nanoseconds since the epoch
  uint8_t kept_header_bytes[8] = {};
  bool has_structural_index = false;
  bool has_memo = false;
  char backlink[kDbfBacklinkSize] = {};

  // Fields: every descriptor in order, the user-visible ones, the system ones and the lists.
  std::vector<std::unique_ptr<DbfField>> all_fields;
  std::vector<DbfField*> fields;
  std::vector<DbfField*> system_fields;
  std::vector<DbfField*> memo_fields;
  std::vector<DbfField*> autoinc_fields;
  DbfField* null_flags = nullptr;
  uint32_t null_bits = 0;  // null and varlen bits handed out so far

  // Record buffers (record_length bytes each) and position state.
  std::unique_ptr<char[]> blank_record;
  std::unique_ptr<char[]> current_record;
  std::unique_ptr<char[]> old_record;
  std::unique_ptr<char[]> disk_record;
  size_t recno = 0;
  bool bof = false;
  bool eof = false;
  bool appending = false;
  // Set while an operation runs that must not be re-entered (DbfBusyGuard).
  bool busy = false;

  // Record numbers this file holds locked.
  std::set<size_t> locked_records;

 private:
  void open_existing();
  void create_new(createopts_st* options, fielddef_st* fields, size_t count);
  void check_structure();
  void hand_out_bits(DbfField* field);
  bool no_record_behind_count(size_t n, const char* record) const;
  bool tail_taken_ahead(uint64_t size);
  void open_memo_file();
  // The field's values from its raw descriptor.
  void load_field_header(DbfField* field);

  File* file_;
  FptFile* fpt_ = nullptr;
  uint8_t version_ = 0;
  uint8_t codepage_mark_ = 0;
  uint64_t max_size_ = 0;
  const dbf_type_table_st* types_ = nullptr;
  const Charset* charset_ = nullptr;
  const Charset* binary_charset_ = nullptr;

  // The read-ahead buffer: records first_ .. first_ + count_ - 1 (count_ 0: empty).
  std::unique_ptr<char[]> readahead_;
  size_t readahead_capacity_ = 0;
  size_t readahead_first_ = 0;
  size_t readahead_count_ = 0;
  size_t readahead_wanted_ = 0;  // records asked for; 0: the smallest allowed

  std::unique_ptr<DbfIndexHooks> index_hooks_;
  DbfIndex* selected_index_ = nullptr;
  bool selected_backward_ = false;

  void ensure_readahead();
  // The keys of the changed current record, then the record itself.
  void write_with_keys(VmStack* stack);
  DbfField* writable_field(size_t n);
  // An append that stopped between the record and the header: the file is cut back to the count.
  void cut_to_record_count();
};

// The read-ahead buffer's lower bounds.
inline constexpr size_t kMinReadaheadRecords = 10;
inline constexpr size_t kMinReadaheadBytes = 4096;
// The default for tables open exclusively.
inline constexpr size_t kExclusiveReadaheadBytes = 65536;

// The recursion guard: dbf_illegal_recursion when the file is busy already.
class DbfBusyGuard {
 public:
  explicit DbfBusyGuard(DbfFile* file) : file_(file) {
    if (file->busy) throw dbf_illegal_recursion();
    file->busy = true;
  }
  ~DbfBusyGuard() { file_->busy = false; }
  DbfBusyGuard(const DbfBusyGuard&) = delete;
  DbfBusyGuard& operator=(const DbfBusyGuard&) = delete;

 private:
  DbfFile* file_;
};

// Holds the append lock for a scope; release() gives it back early.
class DbfAppendLock {
 public:
  explicit DbfAppendLock(DbfFile* file) : file_(file) { file_->lock_for_append(); }
  ~DbfAppendLock() {
    if (file_ != nullptr) {
      try {
        file_->release_append_lock();
      } catch (...) {  // a destructor during unwinding must not throw
      }
    }
  }
  void release() {
    DbfFile* f = file_;
    file_ = nullptr;
    f->release_append_lock();
  }
  DbfAppendLock(const DbfAppendLock&) = delete;
  DbfAppendLock& operator=(const DbfAppendLock&) = delete;

 private:
  DbfFile* file_;
};

// Opens a table by name (open_file with the mode, then DbfFile::open); the holder owns it.
std::unique_ptr<DbfFile> open_dbf_file(const String& name, OpenMode mode, VmStack* stack = nullptr);

// Codec installation (dbf_codecs.cpp): the defaults, then the type's codecs; a field of a type
// without codecs keeps the defaults.
void setup_field_codecs(DbfFile* file, DbfField* field);
// Width, decimals and flags of a new field from its definition; RuntimeError 1731 or 39 for limits
// (or the limit itself with clamp). Sets field->type, width, decimals, binary, autoinc and its
// values; the caller hands out the bits.
void create_field_layout(const Charset* charset, const fielddef_st& def, bool clamp, DbfField* field);

}  // namespace qzbase
