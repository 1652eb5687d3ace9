// table_object.h - Table_Object: the abstract cursor over one open table.
//
// The base keeps what every kind of table shares: the maps between field numbers and field-name
// symbols, the filter, the two scope bounds, the compiled LOCATE conditions, the FOUND flag and
// the alias. On top of the physical moves of the derived class (the *_lowlevel operations) it
// implements the moves a program sees: records hidden by SET DELETED, outside the scope bounds or
// failing the filter are stepped over. SEEK and LOCATE/CONTINUE live here as well.
//
// Expressions of the table (filter, LOCATE conditions, and the derived class's key expressions)
// are compiled once and evaluated with the table bound to the stack (Current_Table_Guard).
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <ios>
#include <vector>

#include "objects/object.h"
#include "tables/table_types.h"
#include "vm/symtable.h"

namespace qzbase {

class DataSession_Object;
class File;
class Program;

// An index definition in String form: filled by get_index_info and get_current_index_info,
// consumed by create_index.
struct internal_indexdef_st {
  String tag_name;
  size_t tag_number = 0;  // position of the tag in its index file, 0-based
  String key_expression;
  uint8_t key_flag = 0;  // copied from the index: 0 exactly when the key is a single field read
  String for_expression;
  String collation_name;
  uint8_t unique = 0;
  uint8_t candidate = 0;
  uint8_t descending = 0;
  uint8_t binary = 0;
};

// Field-name symbol -> field number. Open addressing over a power-of-two table: a field read by
// name is one multiply, one shift and usually one probe. Symbol id 0 marks an empty slot.
class FieldSymbolMap {
 public:
  // The field number of the symbol, -1 when the table has no such field.
  int32_t find(symbol_id_type symbol) const {
    if (mask_ == 0 || symbol == 0) return -1;
    for (size_t i = slot_of(symbol);; i = (i + 1) & mask_) {
      const entry_st& e = slots_[i];
      if (e.symbol == symbol) return e.field;
      if (e.symbol == 0) return -1;
    }
  }
  // Enters or replaces the symbol's field number.
  void insert(symbol_id_type symbol, int32_t field);
  void clear();
  size_t size() const { return count_; }

 private:
  struct entry_st {
    symbol_id_type symbol;
    int32_t field;
  };
  size_t slot_of(symbol_id_type symbol) const {
    return static_cast<size_t>((static_cast<uint64_t>(symbol) * 0x9E3779B97F4A7C15ull) >> shift_) & mask_;
  }
  void grow();

  std::vector<entry_st> slots_;
  size_t mask_ = 0;
  unsigned shift_ = 64;
  size_t count_ = 0;
};

class Table_Object : public Object {
 public:
  // Raw index keys are at most 240 bytes in practice; the bound buffers hold 256.
  static constexpr size_t scope_key_size = 256;
  static constexpr size_t key_buffer_size = 240;

  explicit Table_Object(Class* cls);
  ~Table_Object() override;

  // ---- the Object operations ----
  void destroy(VmStack* stack) override;
  // Reads the field whose name is the symbol; 1734 when the table has none.
  void virtual_access(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) override;
  // Writes the value on top of the stack to the field whose name is the symbol (12 when the
  // table has none); an indexed assignment (nargs 2 or more) raises 11.
  void virtual_assign(VmStack* stack, symbol_id_type symbol, size_t nargs) override;

  // ---- field values (derived) ----
  virtual void get_field(uint16_t field, Variant* result) = 0;
  virtual void get_old_value(uint16_t field, Variant* result) = 0;
  virtual void get_blank(uint16_t field, Variant* result) = 0;
  // Raw text bytes of a field and their character set; *size holds the buffer size on entry and
  // the bytes written on return.
  virtual void get_chars(uint16_t field, char* buffer, size_t* size, const Charset** charset) = 0;
  virtual size_t get_memo_size(uint16_t field) = 0;
  virtual void movetoeof() = 0;

  // ---- restructuring, tags, PACK, ZAP, REINDEX: 1718 with the file's name unless implemented ----
  virtual void add_column(VmStack* stack, DataSession_Object* session, const fielddef_st* field);
  virtual void drop_column(VmStack* stack, DataSession_Object* session, const String& name);
  virtual void drop_all_indizes(VmStack* stack);
  virtual void drop_index(VmStack* stack, const String& tag);
  virtual void pack(VmStack* stack, DataSession_Object* session);
  virtual void zap(VmStack* stack, DataSession_Object* session);
  virtual void reindex(VmStack* stack);

  // ---- the file ----
  virtual const File* get_file() const = 0;
  // Ends the use of the file. final is true when a whole session closes or a failed open is
  // undone. The object lives on while references to it exist.
  virtual int close(bool final) = 0;
  virtual void get_field_info(size_t field, fielddef_st* out) = 0;
  virtual FieldinfoType get_field_type(size_t field) = 0;
  virtual size_t cnt_fields() = 0;
  // The current record is marked deleted.
  virtual bool deleted() = 0;

  // ---- field writes (derived) ----
  virtual void set_field_null(uint16_t field) = 0;
  virtual void set_field_integer(uint16_t field, integer_type_st value) = 0;
  virtual void set_field_numeric(uint16_t field, numeric_type_st value) = 0;
  virtual void set_field_bool(uint16_t field, bool value) = 0;
  virtual void set_field_string(uint16_t field, String value) = 0;
  virtual void set_field_datetime(uint16_t field, const datetime_st& value) = 0;
  virtual void set_field_date(uint16_t field, const date_st& value) = 0;
  virtual void set_field_money(uint16_t field, money_type_st value) = 0;
  virtual void set_field_readonly(uint16_t field, bool readonly) = 0;

  // ---- records, locks ----
  // GO n: no filter, scope or deleted test.
  virtual void go(VmStack* stack, int64_t recno) = 0;
  // Physical BOF and EOF of the order.
  virtual bool bof_lowlevel() = 0;
  virtual bool eof_lowlevel() = 0;
  virtual bool lock_lowlevel() = 0;
  virtual bool isrlocked() = 0;
  virtual bool isrlocked(size_t recno) = 0;
  virtual bool unlock() = 0;
  virtual void unlock_all() = 0;
  virtual void begin_append() = 0;
  virtual void delete_record() = 0;
  virtual void recall_record() = 0;

  // ---- indexes ----
  virtual void create_index(VmStack* stack, const createopts_st* options, const internal_indexdef_st* def) = 0;
  virtual void select_index_tag(VmStack* stack, String tag, SeekDir dir) = 0;
  virtual void select_index(VmStack* stack, size_t tag, SeekDir dir) = 0;
  virtual bool is_index_scan() = 0;
  virtual void unselect_index() = 0;
  virtual size_t cnt_indizes() = 0;
  virtual bool get_index_info(size_t tag, internal_indexdef_st* out) = 0;
  // False without a selected order.
  virtual bool get_current_index_info(internal_indexdef_st* out) = 0;
  // The key bytes of a value for the selected tag (exact: built for an exact comparison).
  virtual size_t create_index_key(const Variant* value, char* buffer, size_t size, bool exact) = 0;
  // The selected tag's key evaluated for the current record.
  virtual size_t eval_index_key(VmStack* stack, char* buffer, size_t size) = 0;
  // The key stored in the index at the current position.
  virtual size_t get_index_key(char* buffer, size_t size) = 0;
  virtual double get_index_pos() = 0;
  // 1 ascending, 2 descending (also without a selected order).
  virtual SeekDir get_index_dir() = 0;
  virtual size_t get_leaf_num_keys() = 0;
  virtual size_t get_leaf_key_num() = 0;
  virtual size_t get_compact_max_prefix() = 0;
  virtual size_t get_compact_max_suffix() = 0;
  virtual bool descending() = 0;
  virtual void copyto(VmStack* stack, const String& path, bool with_cdx) = 0;
  // Deletes the table's files (undoes a failed creation).
  virtual void remove() = 0;
  virtual bool seek_record(const Variant* key, size_t recno) = 0;
  // Positions by raw key in the selected order, no deleted, scope or filter test; true when found.
  virtual bool seek_lowlevel(VmStack* stack, const char* key, size_t length, SeekRng range, SeekDir dir,
                             bool near) = 0;
  virtual size_t recno() = 0;
  virtual size_t reccount() = 0;
  virtual void last_modified_yyyymmdd(int* year, int* month, int* day) = 0;
  virtual String filename() = 0;
  virtual int get_version() = 0;
  virtual int codepage() = 0;
  // Writes the pending record change; revert discards it.
  virtual void update(VmStack* stack) = 0;
  virtual void revert() = 0;
  // Diagnostics; 1001 ("get index leaf node offset") unless implemented.
  virtual std::streampos get_idx_leaf_offset();
  // The physical moves of the order, no deleted, scope or filter test.
  virtual void movefirst_lowlevel() = 0;
  virtual void movenext_lowlevel() = 0;
  virtual void moveprevious_lowlevel() = 0;
  virtual void movelast_lowlevel() = 0;

  // ---- opening and creating (dispatched to the table kind installed below) ----
  // again: a file this process already holds is shared with it (USE ... AGAIN).
  static ObjectPointer use(VmStack* stack, String path, bool shared, bool noupdate, bool again = false);
  static ObjectPointer create(VmStack* stack, String path, const createopts_st* options, fielddef_st* fields,
                              size_t count);
  using use_function = ObjectPointer (*)(VmStack* stack, String path, bool shared, bool noupdate, bool again);
  using create_function = ObjectPointer (*)(VmStack* stack, String path, const createopts_st* options,
                                            fielddef_st* fields, size_t count);
  // The DBF table kind installs these; until then use and create raise 1001.
  static void set_table_kind(use_function use, create_function create);

  // ---- fields by symbol ----
  // Field number of the symbol, -1 when the table has no such field.
  int get_field_by_symbol_id(symbol_id_type symbol) const { return field_by_symbol.find(symbol); }
  symbol_id_type get_symbol_id_by_field(size_t field) const {
    return field < symbol_by_field.size() ? symbol_by_field[field] : 0;
  }
  // For the derived class when the table opens or its fields change: the symbol of each field
  // name. Both change the table epoch, so cached name reads look again.
  void set_field_symbol(size_t field, symbol_id_type symbol);
  void clear_field_symbols();

  // Writes a value to a field, dispatching on its tag (references followed): 11 for an object or
  // an array, 1001 for any other tag without a field writer.
  void set_field(uint16_t field, const Variant* value);
  // 12 "Variable is not found." when the table has no such field.
  void set_field_by_symbol(symbol_id_type symbol, Variant* value);

  void set_update_mode(uint8_t mode) { update_mode = mode; }
  uint8_t get_update_mode() const { return update_mode; }

  // ---- navigation, filter, scope, SEEK, LOCATE ----
  // BOF and EOF including the scope bounds.
  bool bof();
  bool eof();
  // which 1 sets the lower bound, 2 the upper; the key is copied only when given (length at most
  // scope_key_size); the mode is always stored (0 removes the bound).
  void set_scope_to(VmStack* stack, const char* key, size_t length, SeekDir which, SeekRng mode);
  // Removes the filter; the second form compiles the condition as the new filter.
  void set_filter_to();
  void set_filter_to(VmStack* stack, const String& condition);
  // The deleted, scope and filter test of the current record.
  bool record_in_range(VmStack* stack);
  void movefirst(VmStack* stack);
  void movelast(VmStack* stack);
  // n visible records forward; resting at EOF is no error, starting there raises 4.
  void movenext(VmStack* stack, size_t n);
  // n visible records back; resting at BOF is no error, starting there raises 38.
  void moveprevious(VmStack* stack, size_t n);
  // SEEK: the first record in the order whose key matches and that passes the deleted, scope and
  // filter tests. Returns (and stores as FOUND()) whether there is one.
  bool seek(VmStack* stack, const char* key, size_t length, SeekRng range, SeekDir dir, bool near);
  bool seek(VmStack* stack, const Variant* value, KeyOpt option, SeekRng range, SeekDir dir, bool near);
  void locate_for(VmStack* stack, const String& condition, bool rest);
  void locate_for_while(VmStack* stack, const String& for_condition, const String& while_condition);
  void locate_continue(VmStack* stack);
  void locate_continue_for(VmStack* stack);
  void locate_continue_for_while(VmStack* stack);
  // Locks the current record; on success state tells whether the re-read record is out of range.
  bool lock_current_record(VmStack* stack, LockState& state);
  // Runs one of the table's programs with the table bound; the value goes into result.
  void eval_expression(VmStack* stack, const Program* program, Variant* result);
  // Compiles text with the table bound into *slot, destroying what the slot held first.
  void compile_expression(VmStack* stack, const String& text, const Program** slot);

  // Moves and updates must not run from inside an expression of a bound table (a filter or
  // LOCATE condition calling a function that moves a table): 1887 when the stack has a bound
  // table.
  static void check_not_bound(VmStack* stack);

  // ---- data ----
  FieldSymbolMap field_by_symbol;               // field-name symbol -> field number (0-based)
  std::vector<symbol_id_type> symbol_by_field;  // field number -> field-name symbol
  uint8_t update_mode = 1;  // while 1, REPLACE writes the record at once
  const Program* filter = nullptr;                // SET FILTER, owned
  const Program* locate_for_program = nullptr;    // LOCATE FOR, owned
  const Program* locate_while_program = nullptr;  // LOCATE WHILE, owned
  SeekRng top_scope_mode = SEEK_RNG_NONE;
  char top_scope_key[scope_key_size] = {};
  size_t top_scope_length = 0;
  SeekRng bottom_scope_mode = SEEK_RNG_NONE;
  char bottom_scope_key[scope_key_size] = {};
  size_t bottom_scope_length = 0;
  const Charset* charset = nullptr;  // the text fields' character set, set by the derived class
  bool found = false;                // FOUND()
  Symbol alias;                      // written by DataSession_Object::assign
  bool autoinc_error = true;         // AUTOINCERROR

 private:
  // The step loops of movenext/moveprevious, without the bound check.
  void step_forward(VmStack* stack, size_t n);
  void step_backward(VmStack* stack, size_t n);
  // Both scope bounds, as a SEEK saves them while its temporary scope is in force.
  struct scope_bounds_st {
    SeekRng top_mode, bottom_mode;
    size_t top_length, bottom_length;
    char top_key[scope_key_size], bottom_key[scope_key_size];
  };
  // The scope tests of a key: below the lower bound (or equal, the bound excluding it); above
  // the upper.
  static bool key_below(const char* key, size_t length, const char* bound, size_t bound_length, SeekRng mode);
  static bool key_above(const char* key, size_t length, const char* bound, size_t bound_length, SeekRng mode);
  bool below_top_scope(const char* key, size_t length) const {
    return key_below(key, length, top_scope_key, top_scope_length, top_scope_mode);
  }
  bool above_bottom_scope(const char* key, size_t length) const {
    return key_above(key, length, bottom_scope_key, bottom_scope_length, bottom_scope_mode);
  }
  // While a SEEK runs: the scope in force before it, which its records must pass as well.
  const scope_bounds_st* seek_outer_scope_ = nullptr;
  bool evaluate_condition(VmStack* stack, const Program* program, int error);
};

// Binds a table to a stack while it compiles or evaluates one of its own expressions. Remembers
// the current data session (by number) and area and restores both on every exit; while bound,
// work-area functions that ask for the current table get the bound table. A second binding on
// one stack raises 1887. Allocates nothing.
class Current_Table_Guard {
 public:
  Current_Table_Guard(VmStack* stack, Table_Object* table);
  ~Current_Table_Guard();
  Current_Table_Guard(const Current_Table_Guard&) = delete;
  Current_Table_Guard& operator=(const Current_Table_Guard&) = delete;

 private:
  VmStack* stack_;
  Table_Object* previous_trace_;
  int32_t session_id_;
  int32_t area_;
};

// The table bound on the running thread (for the crash handlers), null when none.
Table_Object* bound_table_of_thread();

// Installs what the interpreter and the compiler ask of tables (field lookups, field reads, the
// fields of a bound table). Called once at library start-up; calling it again changes nothing.
void init_table_objects();

}  // namespace qzbase
