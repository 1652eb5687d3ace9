// table_object.cpp - the Table_Object base: fields by symbol, the filtered and scoped moves,
// SEEK, LOCATE and the table binding of a stack.
#include "tables/table_object.h"

#include <cstring>
#include <memory>

#include "compiler/build_input.h"
#include "compiler/expression_parts.h"
#include "platform/file.h"
#include "tables/data_session.h"
#include "vm/execute.h"
#include "vm/interpreter.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The table bound on this thread, for the crash handlers.
thread_local Table_Object* thread_bound_table = nullptr;

Table_Object::use_function table_use_function = nullptr;
Table_Object::create_function table_create_function = nullptr;

const Variant* follow(const Variant* v) { return v->tag == VT_REFERENCE ? v->reference.target : v; }

String file_name_of(const Table_Object* table) {
  const File* file = table->get_file();
  return file != nullptr ? file->name : String();
}

}  // namespace

// ---- FieldSymbolMap ----

void FieldSymbolMap::insert(symbol_id_type symbol, int32_t field) {
  QZ_TRACE;
  if (symbol == 0) throw_assert_failed();
  if ((count_ + 1) * 2 > slots_.size()) grow();
  for (size_t i = slot_of(symbol);; i = (i + 1) & mask_) {
    entry_st& e = slots_[i];
    if (e.symbol == symbol) {
      e.field = field;
      return;
    }
    if (e.symbol == 0) {
      e.symbol = symbol;
      e.field = field;
      ++count_;
      return;
    }
  }
}

void FieldSymbolMap::clear() {
  QZ_TRACE;
  slots_.clear();
  mask_ = 0;
  shift_ = 64;
  count_ = 0;
}

void FieldSymbolMap::grow() {
  QZ_TRACE;
  std::vector<entry_st> old = std::move(slots_);
  size_t capacity = old.empty() ? 16 : old.size() * 2;
  slots_.assign(capacity, entry_st{0, -1});
  mask_ = capacity - 1;
  unsigned bits = 0;
  while ((size_t{1} << bits) < capacity) ++bits;
  shift_ = 64 - bits;
  count_ = 0;
  for (const entry_st& e : old) {
    if (e.symbol != 0) insert(e.symbol, e.field);
  }
}

// ---- construction, the Object operations ----

Table_Object::Table_Object(Class* cls) : Object(cls) { QZ_TRACE; }

Table_Object::~Table_Object() {
  QZ_TRACE;
  delete filter;
  delete locate_for_program;
  delete locate_while_program;
}

void Table_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  Object::destroy(stack);
}

void Table_Object::virtual_access(VmStack*, symbol_id_type symbol, size_t, Variant* result) {
  QZ_TRACE;
  int field = get_field_by_symbol_id(symbol);
  if (field < 0) throw RuntimeError(1734);
  get_field(static_cast<uint16_t>(field), result);
}

void Table_Object::virtual_assign(VmStack* stack, symbol_id_type symbol, size_t nargs) {
  QZ_TRACE;
  if (nargs >= 2) throw RuntimeError(11);
  set_field_by_symbol(symbol, &stack->sp[0].value);
}

// ---- defaults of the operations a table kind may leave out ----

void Table_Object::add_column(VmStack*, DataSession_Object*, const fielddef_st*) {
  QZ_TRACE;
  throw RuntimeError(1718, file_name_of(this));
}
void Table_Object::drop_column(VmStack*, DataSession_Object*, const String&) {
  QZ_TRACE;
  throw RuntimeError(1718, file_name_of(this));
}
void Table_Object::drop_all_indizes(VmStack*) {
  QZ_TRACE;
  throw RuntimeError(1718, file_name_of(this));
}
void Table_Object::drop_index(VmStack*, const String&) {
  QZ_TRACE;
  throw RuntimeError(1718, file_name_of(this));
}
void Table_Object::pack(VmStack*, DataSession_Object*) {
  QZ_TRACE;
  throw RuntimeError(1718, file_name_of(this));
}
void Table_Object::zap(VmStack*, DataSession_Object*) {
  QZ_TRACE;
  throw RuntimeError(1718, file_name_of(this));
}
void Table_Object::reindex(VmStack*) {
  QZ_TRACE;
  throw RuntimeError(1718, file_name_of(this));
}
std::streampos Table_Object::get_idx_leaf_offset() {
  QZ_TRACE;
  throw RuntimeError(1001, String("get index leaf node offset"));
}

// ---- opening and creating ----

void Table_Object::set_table_kind(use_function use, create_function create) {
  QZ_TRACE;
  table_use_function = use;
  table_create_function = create;
}

ObjectPointer Table_Object::use(VmStack* stack, String path, bool shared, bool noupdate, bool again) {
  QZ_TRACE;
  if (table_use_function == nullptr) throw RuntimeError(1001, String("USE"));
  return table_use_function(stack, std::move(path), shared, noupdate, again);
}

ObjectPointer Table_Object::create(VmStack* stack, String path, const createopts_st* options, fielddef_st* fields,
                                   size_t count) {
  QZ_TRACE;
  if (table_create_function == nullptr) throw RuntimeError(1001, String("CREATE TABLE"));
  return table_create_function(stack, std::move(path), options, fields, count);
}

// ---- fields ----

void Table_Object::set_field_symbol(size_t field, symbol_id_type symbol) {
  QZ_TRACE;
  if (symbol_by_field.size() <= field) symbol_by_field.resize(field + 1, 0);
  symbol_by_field[field] = symbol;
  field_by_symbol.insert(symbol, static_cast<int32_t>(field));
  vm_tables_changed();
}

void Table_Object::clear_field_symbols() {
  QZ_TRACE;
  symbol_by_field.clear();
  field_by_symbol.clear();
  vm_tables_changed();
}

void Table_Object::set_field(uint16_t field, const Variant* value) {
  QZ_TRACE;
  const Variant* v = follow(value);
  switch (v->tag) {
    case VT_FALSE: set_field_bool(field, false); break;
    case VT_NULL: set_field_null(field); break;
    case VT_TRUE: set_field_bool(field, true); break;
    case VT_INTEGER: set_field_integer(field, v->integer); break;
    case VT_NUMERIC: set_field_numeric(field, v->numeric); break;
    case VT_MONEY: set_field_money(field, v->money); break;
    case VT_DATE: set_field_date(field, v->date); break;
    case VT_DATETIME: set_field_datetime(field, v->datetime); break;
    case VT_STRING: set_field_string(field, v->string); break;
    case VT_OBJECT:
    case VT_ARRAY: throw RuntimeError(11);
    default: throw RuntimeError(1001);
  }
}

void Table_Object::set_field_by_symbol(symbol_id_type symbol, Variant* value) {
  QZ_TRACE;
  int field = get_field_by_symbol_id(symbol);
  if (field < 0) throw RuntimeError(12);
  set_field(static_cast<uint16_t>(field), value);
}

// ---- the table binding ----

Current_Table_Guard::Current_Table_Guard(VmStack* stack, Table_Object* table) : stack_(stack) {
  QZ_TRACE;
  // A function called from a table's own expression must not bind a table again.
  if (stack->bound_table != nullptr) throw RuntimeError(1887);
  DataSession_Object* ds = stack->current_data_session;
  session_id_ = ds != nullptr ? ds->session_id : 0;
  area_ = ds != nullptr ? ds->current_area : 0;
  stack->bound_table = table;
  previous_trace_ = thread_bound_table;
  thread_bound_table = table;
}

Current_Table_Guard::~Current_Table_Guard() {
  QZ_TRACE;
  stack_->bound_table = nullptr;
  thread_bound_table = previous_trace_;
  if (session_id_ == 0) return;
  DataSession_Object* ds = stack_->current_data_session;
  if (ds == nullptr || ds->session_id != session_id_) {
    ds = stack_->find_data_session(session_id_);
    if (ds == nullptr) return;  // the session ended meanwhile
    stack_->set_current_data_session(ds);
  }
  if (ds->current_area != area_) ds->select(area_);
}

Table_Object* bound_table_of_thread() { return thread_bound_table; }

void Table_Object::check_not_bound(VmStack* stack) {
  QZ_TRACE;
  if (stack->bound_table != nullptr) throw RuntimeError(1887);
}

void Table_Object::eval_expression(VmStack* stack, const Program* program, Variant* result) {
  QZ_TRACE;
  Current_Table_Guard guard(stack, this);
  execute_expression(stack, program, result);
}

void Table_Object::compile_expression(VmStack* stack, const String& text, const Program** slot) {
  QZ_TRACE;
  delete *slot;
  *slot = nullptr;
  Current_Table_Guard guard(stack, this);
  build_expression_in_frame(stack, text, slot);
}

// Evaluates a condition: false or null -> false, true -> true, anything else raises error.
bool Table_Object::evaluate_condition(VmStack* stack, const Program* program, int error) {
  Variant value;
  value.tag = VT_FALSE;
  eval_expression(stack, program, &value);
  uint8_t tag = value.tag;
  value.release(stack);
  if (tag == VT_TRUE) return true;
  if (tag == VT_FALSE || tag == VT_NULL) return false;
  throw RuntimeError(error);
}

// ---- scope, filter, the range test ----

bool Table_Object::key_below(const char* key, size_t length, const char* bound, size_t bound_length, SeekRng mode) {
  size_t n = bound_length < length ? bound_length : length;
  int c = std::memcmp(key, bound, n);
  if (c == 0 && length < bound_length) c = -1;  // a shorter key sorts before the bound
  return c < 0 || (c == 0 && (mode & SEEK_RNG_EQUAL) == 0);
}

bool Table_Object::key_above(const char* key, size_t length, const char* bound, size_t bound_length, SeekRng mode) {
  size_t n = bound_length < length ? bound_length : length;
  int c = std::memcmp(key, bound, n);
  if (c == 0 && length < bound_length) c = -1;
  return c > 0 || (c == 0 && (mode & SEEK_RNG_EQUAL) == 0);
}

bool Table_Object::bof() {
  QZ_TRACE;
  if (bof_lowlevel()) return true;
  if (top_scope_mode == SEEK_RNG_NONE) return false;
  char key[scope_key_size];
  size_t n = get_index_key(key, sizeof key);
  return below_top_scope(key, n);
}

bool Table_Object::eof() {
  QZ_TRACE;
  if (eof_lowlevel()) return true;
  if (bottom_scope_mode == SEEK_RNG_NONE) return false;
  char key[scope_key_size];
  size_t n = get_index_key(key, sizeof key);
  return above_bottom_scope(key, n);
}

void Table_Object::set_scope_to(VmStack*, const char* key, size_t length, SeekDir which, SeekRng mode) {
  QZ_TRACE;
  if (length > scope_key_size) throw RuntimeError(11);
  if (which == SEEK_DIR_FORWARD) {
    if (key != nullptr) {
      std::memcpy(top_scope_key, key, length);
      top_scope_length = length;
    }
    top_scope_mode = mode;
  } else if (which == SEEK_DIR_BACKWARD) {
    if (key != nullptr) {
      std::memcpy(bottom_scope_key, key, length);
      bottom_scope_length = length;
    }
    bottom_scope_mode = mode;
  } else {
    throw_assert_failed();
  }
}

void Table_Object::set_filter_to() {
  QZ_TRACE;
  delete filter;
  filter = nullptr;
}

void Table_Object::set_filter_to(VmStack* stack, const String& condition) {
  QZ_TRACE;
  compile_expression(stack, condition, &filter);
}

bool Table_Object::record_in_range(VmStack* stack) {
  QZ_TRACE;
  if (current_settings(stack).deleted && deleted()) return false;
  const scope_bounds_st* outer = seek_outer_scope_;
  if (top_scope_mode != SEEK_RNG_NONE || bottom_scope_mode != SEEK_RNG_NONE ||
      (outer != nullptr && (outer->top_mode != SEEK_RNG_NONE || outer->bottom_mode != SEEK_RNG_NONE))) {
    char key[scope_key_size];
    size_t n = eval_index_key(stack, key, key_buffer_size);
    if (top_scope_mode != SEEK_RNG_NONE && below_top_scope(key, n)) return false;
    if (bottom_scope_mode != SEEK_RNG_NONE && above_bottom_scope(key, n)) return false;
    // Inside a SEEK: a record outside the scope the program set does not count as found.
    if (outer != nullptr) {
      if (outer->top_mode != SEEK_RNG_NONE &&
          key_below(key, n, outer->top_key, outer->top_length, outer->top_mode)) {
        return false;
      }
      if (outer->bottom_mode != SEEK_RNG_NONE &&
          key_above(key, n, outer->bottom_key, outer->bottom_length, outer->bottom_mode)) {
        return false;
      }
    }
  }
  if (filter == nullptr) return true;
  return evaluate_condition(stack, filter, 37);
}

// ---- moves ----

void Table_Object::movefirst(VmStack* stack) {
  QZ_TRACE;
  check_not_bound(stack);
  if (top_scope_mode != SEEK_RNG_NONE) {
    // The bound need not be a key of the table: the first key past it is in scope.
    seek_lowlevel(stack, top_scope_key, top_scope_length, top_scope_mode, SEEK_DIR_FORWARD, true);
  } else {
    movefirst_lowlevel();
  }
  if (!eof() && !record_in_range(stack)) step_forward(stack, 1);
}

void Table_Object::movelast(VmStack* stack) {
  QZ_TRACE;
  check_not_bound(stack);
  if (bottom_scope_mode != SEEK_RNG_NONE) {
    seek_lowlevel(stack, bottom_scope_key, bottom_scope_length, bottom_scope_mode, SEEK_DIR_BACKWARD, true);
  } else {
    movelast_lowlevel();
  }
  if (!bof() && !record_in_range(stack)) step_backward(stack, 1);
}

void Table_Object::movenext(VmStack* stack, size_t n) {
  QZ_TRACE;
  check_not_bound(stack);
  step_forward(stack, n);
}

void Table_Object::moveprevious(VmStack* stack, size_t n) {
  QZ_TRACE;
  check_not_bound(stack);
  step_backward(stack, n);
}

void Table_Object::step_forward(VmStack* stack, size_t n) {
  const bool was_eof = eof();
  if (n == 0) return;  // stays on the record; never runs past the end
  size_t counted = 0;
  for (;;) {
    movenext_lowlevel();
    if (eof()) {
      if (was_eof) throw RuntimeError(4);
      return;
    }
    if (record_in_range(stack) && ++counted == n) return;
  }
}

void Table_Object::step_backward(VmStack* stack, size_t n) {
  if (bof()) throw RuntimeError(38);
  if (n == 0) return;
  size_t counted = 0;
  for (;;) {
    moveprevious_lowlevel();
    if (bof()) return;
    if (record_in_range(stack) && ++counted == n) return;
  }
}

// ---- SEEK ----

bool Table_Object::seek(VmStack* stack, const char* key, size_t length, SeekRng range, SeekDir dir, bool near) {
  QZ_TRACE;
  check_not_bound(stack);
  if (length > scope_key_size) throw RuntimeError(11);
  if (dir == SEEK_DIR_SELECTED) dir = get_index_dir();
  found = false;
  if (!seek_lowlevel(stack, key, length, range, dir, near)) return false;

  // A temporary scope around the key makes the steps below stop at the first record that does
  // not match, so FOUND() is exact; the records must still pass the scope in force, which comes
  // back afterwards on every exit.
  struct SavedScope {
    Table_Object* table;
    scope_bounds_st bounds;
    explicit SavedScope(Table_Object* t) : table(t) {
      bounds.top_mode = t->top_scope_mode;
      bounds.bottom_mode = t->bottom_scope_mode;
      bounds.top_length = t->top_scope_length;
      bounds.bottom_length = t->bottom_scope_length;
      std::memcpy(bounds.top_key, t->top_scope_key, bounds.top_length);
      std::memcpy(bounds.bottom_key, t->bottom_scope_key, bounds.bottom_length);
      t->seek_outer_scope_ = &bounds;
    }
    ~SavedScope() {
      table->seek_outer_scope_ = nullptr;
      table->top_scope_mode = bounds.top_mode;
      table->bottom_scope_mode = bounds.bottom_mode;
      table->top_scope_length = bounds.top_length;
      table->bottom_scope_length = bounds.bottom_length;
      std::memcpy(table->top_scope_key, bounds.top_key, bounds.top_length);
      std::memcpy(table->bottom_scope_key, bounds.bottom_key, bounds.bottom_length);
    }
  } saved(this);

  const bool open_end = (range & SEEK_RNG_OPEN) != 0;
  if (dir != SEEK_DIR_BACKWARD) {
    std::memcpy(top_scope_key, key, length);
    top_scope_length = length;
    top_scope_mode = range;
    std::memcpy(bottom_scope_key, key, length);
    bottom_scope_length = length;
    bottom_scope_mode = open_end ? SEEK_RNG_NONE : range;
    if (!eof() && !record_in_range(stack)) step_forward(stack, 1);
    found = !eof();
  } else {
    std::memcpy(bottom_scope_key, key, length);
    bottom_scope_length = length;
    bottom_scope_mode = range;
    if (open_end) {
      top_scope_mode = SEEK_RNG_NONE;
    } else {
      std::memcpy(top_scope_key, key, length);
      top_scope_length = length;
      top_scope_mode = range;
    }
    if (!bof() && !record_in_range(stack)) step_backward(stack, 1);
    found = !bof();
  }
  if (!near && !found) movetoeof();
  return found;
}

bool Table_Object::seek(VmStack* stack, const Variant* value, KeyOpt option, SeekRng range, SeekDir dir,
                        bool near) {
  QZ_TRACE;
  char key[scope_key_size];
  size_t n = create_index_key(value, key, key_buffer_size, option == KEY_OPT_EXACT);
  return seek(stack, key, n, range, dir, near);
}

// ---- LOCATE, CONTINUE ----

void Table_Object::locate_for(VmStack* stack, const String& condition, bool rest) {
  QZ_TRACE;
  check_not_bound(stack);
  delete locate_while_program;
  locate_while_program = nullptr;
  compile_expression(stack, condition, &locate_for_program);
  if (!rest) movefirst(stack);
  locate_continue_for(stack);
}

void Table_Object::locate_for_while(VmStack* stack, const String& for_condition, const String& while_condition) {
  QZ_TRACE;
  check_not_bound(stack);
  compile_expression(stack, for_condition, &locate_for_program);
  compile_expression(stack, while_condition, &locate_while_program);
  locate_continue_for_while(stack);
}

void Table_Object::locate_continue_for(VmStack* stack) {
  QZ_TRACE;
  check_not_bound(stack);
  if (locate_for_program == nullptr) throw_assert_failed();
  found = false;
  while (!eof()) {
    if (evaluate_condition(stack, locate_for_program, 1127)) {
      found = true;
      return;
    }
    step_forward(stack, 1);
  }
}

void Table_Object::locate_continue_for_while(VmStack* stack) {
  QZ_TRACE;
  check_not_bound(stack);
  if (locate_for_program == nullptr || locate_while_program == nullptr) throw_assert_failed();
  found = false;
  while (!eof()) {
    if (!evaluate_condition(stack, locate_while_program, 1127)) return;
    if (evaluate_condition(stack, locate_for_program, 1127)) {
      found = true;
      return;
    }
    step_forward(stack, 1);
  }
}

void Table_Object::locate_continue(VmStack* stack) {
  QZ_TRACE;
  check_not_bound(stack);
  if (eof()) throw RuntimeError(4);
  step_forward(stack, 1);
  if (locate_while_program != nullptr) {
    locate_continue_for_while(stack);
  } else {
    locate_continue_for(stack);
  }
}

bool Table_Object::lock_current_record(VmStack* stack, LockState& state) {
  QZ_TRACE;
  if (!lock_lowlevel()) return false;
  state = record_in_range(stack) ? LOCK_STATE_IN_RANGE : LOCK_STATE_OUT_OF_RANGE;
  return true;
}

// ---- what the interpreter and the compiler ask of tables ----

namespace {

int hook_field_by_symbol(Table_Object* table, symbol_id_type symbol) { return table->get_field_by_symbol_id(symbol); }

void hook_read_field(VmStack*, Table_Object* table, int field, Variant* out) {
  table->get_field(static_cast<uint16_t>(field), out);
}

Table_Object* hook_table_of(Object* object) { return dynamic_cast<Table_Object*>(object); }

size_t hook_field_count(Table_Object* table) { return table->cnt_fields(); }

void hook_field(Table_Object* table, size_t index, compiler_field_st* out) {
  fielddef_st def{};
  table->get_field_info(index, &def);
  String name(def.name, std::strlen(def.name), Charset::utf8);
  if (table->charset != nullptr) name.convert(table->charset, CON_NONE, 0);
  out->name = name;
  static const char letters[] = "?WCIYDTBGLMNFQV";
  out->type = def.type < sizeof letters - 1 ? letters[def.type] : '?';
  out->width = static_cast<int64_t>(def.length);
  out->nullable = def.null_mode == FIELDINFO_NULL;
}

}  // namespace

void init_table_objects() {
  QZ_TRACE;
  vm_table_hooks.field_by_symbol = hook_field_by_symbol;
  vm_table_hooks.read_field = hook_read_field;
  vm_table_hooks.table_of = hook_table_of;
  compiler_table_hooks.field_count = hook_field_count;
  compiler_table_hooks.field = hook_field;
}

}  // namespace qzbase
