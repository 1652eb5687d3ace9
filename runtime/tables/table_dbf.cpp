// table_dbf.cpp - Table_Object_QzDbf: opening, creating, fields, records, locks.
#include "tables/table_dbf.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "objects/class_registry.h"
#include "platform/file.h"
#include "tables/data_session.h"
#include "tables/dbf_format.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The class every DBF table object reports.
Class* file_class(VmStack* stack) {
  static const String name("File");
  Class* cls = find_bare_class(stack, name);
  if (cls == nullptr) throw RuntimeError(1733, name);
  return cls;
}

String utf8_path(const std::filesystem::path& p) {
  const std::string& s = p.native();
  return String(s.data(), s.size(), Charset::utf8);
}

int default_codepage(VmStack* stack) {
  Runtime* runtime = stack != nullptr ? stack->get_runtime() : nullptr;
  if (runtime != nullptr && runtime->codepage != nullptr) return runtime->codepage->record().windows_codepage;
  return 1252;
}

}  // namespace

std::filesystem::path makeDbfPath(const String& name, bool plain_only) {
  QZ_TRACE;
  std::filesystem::path path = static_cast<std::filesystem::path>(name);
  if (plain_only && (path.has_root_path() || path.has_extension())) throw RuntimeError(11);
  if (!path.has_parent_path()) path = std::filesystem::current_path() / path;
  if (!path.has_extension()) path += ".dbf";
  return path;
}

Table_Object_QzDbf::Table_Object_QzDbf(Class* cls, DbfFile* file) : Table_Object(cls), file_(file) {
  QZ_TRACE;
  errors_.revert_file = file;
  errors_.field_charset = file->charset();
  if (file->file() != nullptr) {
    errors_.table_filename = file->file()->name;
    // A table made in memory keeps its field names as the caller gave them (UTF-8).
    if (file->file()->mode & OPEN_UNLINK_ON_CREATE) errors_.field_charset = Charset::utf8;
  }
}

Table_Object_QzDbf::~Table_Object_QzDbf() { QZ_TRACE; }

ObjectPointer Table_Object_QzDbf::use(VmStack* stack, String name, bool shared, bool readonly, bool again) {
  QZ_TRACE;
  std::filesystem::path path = static_cast<std::filesystem::path>(name);
  if (!path.has_extension()) path += ".dbf";
  Runtime* runtime = stack->get_runtime();
  std::filesystem::path found;
  if (runtime == nullptr || !runtime->find_file(path, found, true, true)) throw RuntimeError(1, name);
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::canonical(found, error);
  if (error) throw RuntimeError(1, name);
  Class* cls = file_class(stack);

  dbf_error_context_st context;
  context.name = name;
  context.canonical_path = utf8_path(canonical);
  ObjectPointer result;
  try {
    OpenMode mode = (shared ? OpenMode{OPEN_SHARED} : 0) | (readonly ? 0 : OpenMode{OPEN_WRITE}) |
                    (again ? OpenMode{OPEN_JOIN} : 0);
    File* file = open_file(context.canonical_path, mode);
    DbfFile* dbf = DbfFile::open(file, stack, false);
    Table_Object_QzDbf* table = nullptr;
    try {
      table = new Table_Object_QzDbf(cls, dbf);
    } catch (...) {
      delete dbf;
      throw;
    }
    result = ObjectPointer(table);
    table->internal_open(stack->get_symtable());
    if (dbf->is_in_database()) throw RuntimeError(1001, String("qz database container support"));
    if (dbf->has_structural_index) {
      Current_Table_Guard guard(stack, table);
      dbf->index_hooks()->open_structural_index(stack);
    }
    table->movefirst(stack);
  } catch (...) {
    // The half-opened table goes first: its files close before the error is raised.
    result.release(stack);
    raise_dbf_error(dbf_errors::open, context);
  }
  return result;
}

ObjectPointer Table_Object_QzDbf::create(VmStack* stack, String name, const createopts_st* options,
                                         fielddef_st* fields, size_t count) {
  QZ_TRACE;
  createopts_st opts = *options;
  if (opts.codepage == 0) opts.codepage = static_cast<uint64_t>(default_codepage(stack));
  std::filesystem::path path = makeDbfPath(name, opts.in_memory != 0);
  Class* cls = file_class(stack);

  dbf_error_context_st context;
  context.name = name;
  context.target_path = utf8_path(path);
  File* file = nullptr;
  try {
    // Never over an existing file: the old table, in use or not, stays as it is.
    file = opts.in_memory ? create_file(String("memory:///table.dbf"), OPEN_UNLINK_ON_CREATE)
                          : create_file(utf8_path(path), OPEN_NEW);
  } catch (...) {
    raise_dbf_error(dbf_errors::create, context);
  }
  DbfFile* dbf = nullptr;
  try {
    dbf = DbfFile::create(file, &opts, fields, count);
  } catch (const dbf_error_field_name_dup_or_inv&) {
    // The file is ours (made exclusively above): a bad field name leaves nothing behind.
    if (!opts.in_memory) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
    raise_dbf_error(dbf_errors::create, context);
  } catch (...) {
    raise_dbf_error(dbf_errors::create, context);
  }
  Table_Object_QzDbf* table = nullptr;
  try {
    table = new Table_Object_QzDbf(cls, dbf);
  } catch (...) {
    delete dbf;
    throw;
  }
  ObjectPointer result(table);
  table->internal_open(stack->get_symtable());
  return result;
}

void Table_Object_QzDbf::internal_open(Symtable* symtable) {
  QZ_TRACE;
  clear_field_symbols();
  DbfFile* dbf = file_.get();
  charset = dbf->charset();
  const size_t n = dbf->field_count();
  symbol_by_field.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const DbfField* f = dbf->fields[i];
    symbol_id_type symbol =
        symtable->symbolize(String(f->name, strnlen(f->name, sizeof f->name), errors_.field_charset));
    // Two names that differ only in case: the first field keeps the name.
    if (get_field_by_symbol_id(symbol) >= 0) {
      symbol_by_field[i] = symbol;
    } else {
      set_field_symbol(i, symbol);
    }
  }
}

void Table_Object_QzDbf::begin(DataSession_Object*) {
  QZ_TRACE;
  throw RuntimeError(1001);
}

void Table_Object_QzDbf::commit(DataSession_Object*) {
  QZ_TRACE;
  throw RuntimeError(1001);
}

void Table_Object_QzDbf::rollback(DataSession_Object*) {
  QZ_TRACE;
  throw RuntimeError(1001);
}

void Table_Object_QzDbf::gather_memvar(VmStack*) {
  QZ_TRACE;
  throw RuntimeError(1001, String("GATHER MEMVAR"));
}

DbfFile* Table_Object_QzDbf::live_file() const {
  DbfFile* dbf = file_.get();
  if (dbf == nullptr || dbf->file() == nullptr) throw RuntimeError(9902);
  return dbf;
}

// ---- fields ----

void Table_Object_QzDbf::get_field(uint16_t field, Variant* result) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  try {
    dbf->get_variant(field, result);
  } catch (...) {
    raise_dbf_error(dbf_errors::get_field, errors_);
  }
}

void Table_Object_QzDbf::get_old_value(uint16_t field, Variant* result) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] { dbf->get_old_value(field, result); });
}

void Table_Object_QzDbf::get_blank(uint16_t field, Variant* result) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] { dbf->get_blank_value(field, result); });
}

void Table_Object_QzDbf::get_chars(uint16_t field, char* buffer, size_t* size, const Charset** cs) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::get_chars, errors_, [&] { dbf->get_char(field, buffer, size, cs); });
}

size_t Table_Object_QzDbf::get_memo_size(uint16_t field) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return dbf->get_memo_size(field); });
}

bool Table_Object_QzDbf::deleted() {
  QZ_TRACE;
  return live_file()->deleted();
}

void Table_Object_QzDbf::get_field_info(size_t field, fielddef_st* out) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  const DbfField* f = with_dbf_errors(dbf_errors::none, errors_, [&] { return dbf->get_field(field); });
  std::memset(out, 0, sizeof *out);
  std::string bytes = String(f->name, strnlen(f->name, sizeof f->name), errors_.field_charset).u8str();
  std::memcpy(out->name, bytes.data(), std::min(bytes.size(), sizeof out->name - 1));
  out->type = fieldinfo_code(f->type);
  out->length = f->width;
  if ((out->type == FIELDINFO_CHAR || out->type == FIELDINFO_VARCHAR) && dbf->charset() != nullptr &&
      dbf->charset()->max_bytes() > 1) {
    out->length = f->width / dbf->charset()->max_bytes();
  }
  out->decimals = f->decimals;
  out->null_mode = f->nullable ? FIELDINFO_NULL : FIELDINFO_NOT_NULL;
  out->binary = f->binary ? 1 : 0;
  out->autoinc = f->autoinc ? 1 : 0;
  if (f->autoinc) {
    out->autoinc_next = f->autoinc_next;
    out->autoinc_step = f->autoinc_step;
    out->autoinc_next_given = 1;
    out->autoinc_step_given = 1;
  }
}

FieldinfoType Table_Object_QzDbf::get_field_type(size_t field) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  const DbfField* f = with_dbf_errors(dbf_errors::none, errors_, [&] { return dbf->get_field(field); });
  return static_cast<FieldinfoType>(fieldinfo_code(f->type));
}

size_t Table_Object_QzDbf::cnt_fields() {
  QZ_TRACE;
  return file_ != nullptr ? file_->field_count() : 0;
}

bool Table_Object_QzDbf::ignore_readonly_write(uint16_t field) const {
  if (autoinc_error) return false;
  const DbfFile* dbf = file_.get();
  return field < dbf->field_count() && dbf->fields[field]->autoinc;
}

// The codec's read-only slots refuse values other than numbers as a type conflict (or, for a
// null, as a field without nulls); a program writing into a read-only field learns that it is
// read-only.
template <typename Write>
void Table_Object_QzDbf::write_other(std::span<const dbf_error_row_st> rows, Write write) {
  DbfFile* dbf = live_file();
  try {
    write(dbf);
  } catch (const dbf_error_field_type_conflict& e) {
    raise_write_error(rows, e.field);
  } catch (const dbf_error_field_no_null_support& e) {
    raise_write_error(rows, e.field);
  } catch (...) {
    raise_dbf_error(rows, errors_);
  }
}

void Table_Object_QzDbf::raise_write_error(std::span<const dbf_error_row_st> rows, DbfField* field) {
  if (field != nullptr && std::memcmp(&field->active, &field->configured, sizeof field->active) != 0) {
    try {
      throw dbf_error_field_readonly(field);
    } catch (...) {
      raise_dbf_error(rows, errors_);
    }
  }
  raise_dbf_error(rows, errors_);
}

template <typename Write>
void Table_Object_QzDbf::write_number(uint16_t field, Write write) {
  DbfFile* dbf = live_file();
  try {
    write(dbf);
  } catch (const dbf_error_field_readonly&) {
    if (ignore_readonly_write(field)) return;
    raise_dbf_error(dbf_errors::set_number, errors_);
  } catch (...) {
    raise_dbf_error(dbf_errors::set_number, errors_);
  }
}

void Table_Object_QzDbf::set_field_null(uint16_t field) {
  QZ_TRACE;
  write_other(dbf_errors::set_null, [&](DbfFile* dbf) { dbf->set_null(field); });
}

void Table_Object_QzDbf::set_field_integer(uint16_t field, integer_type_st value) {
  QZ_TRACE;
  write_number(field, [&](DbfFile* dbf) { dbf->set_integer(field, value); });
}

void Table_Object_QzDbf::set_field_numeric(uint16_t field, numeric_type_st value) {
  QZ_TRACE;
  write_number(field, [&](DbfFile* dbf) { dbf->set_numeric(field, value); });
}

void Table_Object_QzDbf::set_field_money(uint16_t field, money_type_st value) {
  QZ_TRACE;
  write_number(field, [&](DbfFile* dbf) { dbf->set_money(field, value); });
}

void Table_Object_QzDbf::set_field_bool(uint16_t field, bool value) {
  QZ_TRACE;
  write_other(dbf_errors::set_plain, [&](DbfFile* dbf) { dbf->set_logical(field, value); });
}

void Table_Object_QzDbf::set_field_date(uint16_t field, const date_st& value) {
  QZ_TRACE;
  write_other(dbf_errors::set_plain, [&](DbfFile* dbf) { dbf->set_date(field, value); });
}

void Table_Object_QzDbf::set_field_datetime(uint16_t field, const datetime_st& value) {
  QZ_TRACE;
  write_other(dbf_errors::set_plain, [&](DbfFile* dbf) { dbf->set_datetime(field, value); });
}

void Table_Object_QzDbf::set_field_string(uint16_t field, String value) {
  QZ_TRACE;
  write_other(dbf_errors::set_string, [&](DbfFile* dbf) { dbf->set_string(field, value); });
}

void Table_Object_QzDbf::set_field_readonly(uint16_t field, bool readonly) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] {
    if (field >= dbf->field_count()) throw dbf_error_invalid_field_number();
    if (readonly) {
      dbf->set_field_readonly(dbf->fields[field]);
    } else {
      dbf->set_field_readwrite(dbf->fields[field]);
    }
  });
}

void Table_Object_QzDbf::update(VmStack* stack) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  Current_Table_Guard guard(stack, this);
  with_dbf_errors(dbf_errors::update, errors_, [&] { dbf->update(stack); });
}

void Table_Object_QzDbf::revert() {
  QZ_TRACE;
  live_file()->revert();
}

// ---- the file ----

const File* Table_Object_QzDbf::get_file() const {
  QZ_TRACE;
  return file_ != nullptr ? file_->file() : nullptr;
}

int Table_Object_QzDbf::close(bool) {
  QZ_TRACE;
  if (file_ != nullptr) with_dbf_errors(dbf_errors::none, errors_, [&] { file_->close(); });
  return 0;
}

void Table_Object_QzDbf::remove() {
  QZ_TRACE;
  if (file_ != nullptr) with_dbf_errors(dbf_errors::none, errors_, [&] { file_->remove(); });
}

String Table_Object_QzDbf::filename() {
  QZ_TRACE;
  return errors_.table_filename;
}

int Table_Object_QzDbf::get_version() {
  QZ_TRACE;
  return file_ != nullptr ? file_->version() : 0;
}

int Table_Object_QzDbf::codepage() {
  QZ_TRACE;
  // The code page the table's header names: a rebuild makes its new file with it, and some of
  // these character sets have no Windows number.
  if (charset == nullptr) return 0;
  const int xbase = charset->record().xbase_codepage;
  return xbase != 0 ? xbase : charset->record().windows_codepage;
}

void Table_Object_QzDbf::last_modified_yyyymmdd(int* year, int* month, int* day) {
  QZ_TRACE;
  uint32_t y = 0, m = 0, d = 0;
  if (file_ != nullptr) file_->last_modified_yyyymmdd(&y, &m, &d);
  *year = static_cast<int>(y);
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

// ---- navigation, append, delete, locks ----

// A physical move of the file, its failures mapped by the catch-all alone.
void Table_Object_QzDbf::move_in_file(void (DbfFile::*move)()) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] { (dbf->*move)(); });
}

void Table_Object_QzDbf::movefirst_lowlevel() {
  QZ_TRACE;
  move_in_file(&DbfFile::go_top);
}

void Table_Object_QzDbf::movenext_lowlevel() {
  QZ_TRACE;
  move_in_file(&DbfFile::go_next);
}

void Table_Object_QzDbf::moveprevious_lowlevel() {
  QZ_TRACE;
  move_in_file(&DbfFile::go_prev);
}

void Table_Object_QzDbf::movelast_lowlevel() {
  QZ_TRACE;
  move_in_file(&DbfFile::go_bottom);
}

void Table_Object_QzDbf::movetoeof() {
  QZ_TRACE;
  move_in_file(&DbfFile::go_eof);
}

void Table_Object_QzDbf::go(VmStack* stack, int64_t recno) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  Current_Table_Guard guard(stack, this);
  with_dbf_errors(dbf_errors::go, errors_, [&] {
    if (recno <= 0) throw dbf_error_record_out_of_range();
    DbfIndexHooks* h = dbf->index_hooks();
    if (h->selected_index_number() != DbfIndexHooks::kNoIndex) {
      // The index cursor follows, so that SKIP goes on from this record in the order.
      h->go_to(stack, static_cast<size_t>(recno));
      return;
    }
    DbfBusyGuard busy(dbf);
    dbf->go_to_in_file(static_cast<size_t>(recno));
  });
}

bool Table_Object_QzDbf::bof_lowlevel() {
  QZ_TRACE;
  return file_ == nullptr || file_->bof;
}

bool Table_Object_QzDbf::eof_lowlevel() {
  QZ_TRACE;
  return file_ == nullptr || file_->eof;
}

size_t Table_Object_QzDbf::recno() {
  QZ_TRACE;
  return file_ != nullptr ? file_->recno : 0;
}

size_t Table_Object_QzDbf::reccount() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return dbf->reccount(); });
}

void Table_Object_QzDbf::begin_append() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] {
    DbfBusyGuard busy(dbf);
    dbf->refresh_dbf_header();
    dbf->begin_append();
  });
}

void Table_Object_QzDbf::delete_record() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] { dbf->delete_record(); });
}

void Table_Object_QzDbf::recall_record() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] { dbf->recall(); });
}

bool Table_Object_QzDbf::lock_lowlevel() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return dbf->lock(); });
}

bool Table_Object_QzDbf::isrlocked() {
  QZ_TRACE;
  return file_ != nullptr && file_->isrlocked(file_->recno);
}

bool Table_Object_QzDbf::isrlocked(size_t recno) {
  QZ_TRACE;
  return file_ != nullptr && file_->isrlocked(recno);
}

bool Table_Object_QzDbf::unlock() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return dbf->unlock_record(); });
}

void Table_Object_QzDbf::unlock_all() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  with_dbf_errors(dbf_errors::none, errors_, [&] { dbf->unlock_all_records(); });
}

// ---- indexes ----
//
// The tags live in the index layer, reached through the file's hooks. Operations that may run a
// key or FOR expression bind the table to the stack first, so that field names in them resolve
// against this table.

DbfIndexHooks* Table_Object_QzDbf::hooks() const { return live_file()->index_hooks(); }

DbfIndexHooks* Table_Object_QzDbf::ordered_hooks() const {
  DbfIndexHooks* h = hooks();
  if (h->selected_index_number() == DbfIndexHooks::kNoIndex) throw RuntimeError(26);
  return h;
}

// Inside a catch block: the rows, with the index file named when the exception does not.
void Table_Object_QzDbf::raise_index_error(std::span<const dbf_error_row_st> rows, const String& tag) {
  dbf_error_context_st context = errors_;
  context.tag = tag;
  if (file_ != nullptr) context.index_file = file_->index_hooks()->index_file_name();
  raise_dbf_error(rows, context);
}

void Table_Object_QzDbf::create_index(VmStack* stack, const createopts_st* options, const internal_indexdef_st* def) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  Current_Table_Guard guard(stack, this);
  try {
    dbf->index_hooks()->create_index_tag(stack, options, def);
  } catch (...) {
    dbf_error_context_st context = errors_;
    context.tag = def->tag_name;
    context.collation = def->collation_name;
    context.index_file = dbf->index_hooks()->index_file_name();
    raise_dbf_error(dbf_errors::create_index, context);
  }
}

void Table_Object_QzDbf::select_index_tag(VmStack* stack, String tag, SeekDir dir) {
  QZ_TRACE;
  DbfIndexHooks* h = hooks();
  Current_Table_Guard guard(stack, this);
  try {
    h->select_index(stack, tag, dir);
  } catch (...) {
    raise_index_error(dbf_errors::select_index_tag, tag);
  }
}

void Table_Object_QzDbf::select_index(VmStack* stack, size_t tag, SeekDir dir) {
  QZ_TRACE;
  DbfIndexHooks* h = hooks();
  Current_Table_Guard guard(stack, this);
  try {
    h->select_index(stack, tag, dir);
  } catch (...) {
    raise_index_error(dbf_errors::select_index, String());
  }
}

bool Table_Object_QzDbf::is_index_scan() {
  QZ_TRACE;
  return file_ != nullptr && file_->index_hooks()->selected_index_number() != DbfIndexHooks::kNoIndex;
}

void Table_Object_QzDbf::unselect_index() {
  QZ_TRACE;
  DbfIndexHooks* h = hooks();
  with_dbf_errors(dbf_errors::none, errors_, [&] { h->unselect_index(); });
}

size_t Table_Object_QzDbf::cnt_indizes() {
  QZ_TRACE;
  return file_ != nullptr ? file_->index_hooks()->index_count() : 0;
}

bool Table_Object_QzDbf::get_index_info(size_t tag, internal_indexdef_st* out) {
  QZ_TRACE;
  if (file_ == nullptr) return false;
  DbfIndexHooks* h = file_->index_hooks();
  if (tag >= h->index_count()) return false;
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return h->get_indexdef(tag, out); });
}

bool Table_Object_QzDbf::get_current_index_info(internal_indexdef_st* out) {
  QZ_TRACE;
  if (file_ == nullptr) return false;
  const size_t n = file_->index_hooks()->selected_index_number();
  if (n == DbfIndexHooks::kNoIndex) return false;
  return get_index_info(n, out);
}

size_t Table_Object_QzDbf::create_index_key(const Variant* value, char* buffer, size_t size, bool exact) {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  try {
    return h->create_key(value, buffer, size, exact);
  } catch (...) {
    raise_index_error(dbf_errors::create_index_key, String());
  }
}

size_t Table_Object_QzDbf::eval_index_key(VmStack* stack, char* buffer, size_t size) {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  Current_Table_Guard guard(stack, this);
  try {
    return h->eval_key(stack, buffer, size);
  } catch (...) {
    raise_index_error(dbf_errors::none, String());
  }
}

size_t Table_Object_QzDbf::get_index_key(char* buffer, size_t size) {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return h->get_current_key(buffer, size); });
}

double Table_Object_QzDbf::get_index_pos() {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return h->get_current_key_pos(); });
}

SeekDir Table_Object_QzDbf::get_index_dir() {
  QZ_TRACE;
  return descending() ? SEEK_DIR_BACKWARD : SEEK_DIR_FORWARD;
}

size_t Table_Object_QzDbf::get_leaf_num_keys() {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return h->get_current_num_keys(); });
}

size_t Table_Object_QzDbf::get_leaf_key_num() {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return h->get_current_key_num(); });
}

size_t Table_Object_QzDbf::get_compact_max_prefix() {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return h->get_compact_max_prefix(); });
}

size_t Table_Object_QzDbf::get_compact_max_suffix() {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return h->get_compact_max_suffix(); });
}

std::streampos Table_Object_QzDbf::get_idx_leaf_offset() {
  QZ_TRACE;
  DbfIndexHooks* h = ordered_hooks();
  return with_dbf_errors(dbf_errors::none, errors_, [&] { return std::streampos(h->get_leaf_offset()); });
}

// Without a selected tag the last direction is forgotten: false even after a descending order.
bool Table_Object_QzDbf::descending() {
  QZ_TRACE;
  return file_ != nullptr && file_->index_hooks()->selected_descending();
}

bool Table_Object_QzDbf::seek_record(const Variant* key, size_t recno) {
  QZ_TRACE;
  found = false;
  DbfIndexHooks* h = ordered_hooks();
  bool result = false;
  try {
    char raw[key_buffer_size];
    h->create_key(key, raw, sizeof raw, true);
    result = h->seek_unique(raw, recno);
  } catch (...) {
    raise_index_error(dbf_errors::seek_record, String());
  }
  found = result;
  return result;
}

bool Table_Object_QzDbf::seek_lowlevel(VmStack*, const char* key, size_t length, SeekRng range, SeekDir dir,
                                       bool near) {
  QZ_TRACE;
  DbfIndexHooks* h = hooks();
  try {
    return h->seek(key, length, range, dir, near);
  } catch (...) {
    raise_index_error(dbf_errors::seek_lowlevel, String());
  }
}

void Table_Object_QzDbf::drop_index(VmStack*, const String& tag) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  // Checked before the tag is looked for.
  if (dbf->is_shared()) throw RuntimeError(110);
  try {
    dbf->index_hooks()->delete_index_tag(tag);
  } catch (...) {
    raise_index_error(dbf_errors::drop_index, tag);
  }
}

void Table_Object_QzDbf::drop_all_indizes(VmStack*) {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  if (dbf->is_shared()) throw RuntimeError(110);
  try {
    dbf->index_hooks()->delete_all_index_tags();
  } catch (...) {
    raise_index_error(dbf_errors::none, String());
  }
}

void init_dbf_tables() {
  QZ_TRACE;
  Table_Object::set_table_kind(&Table_Object_QzDbf::use, &Table_Object_QzDbf::create);
}

}  // namespace qzbase
