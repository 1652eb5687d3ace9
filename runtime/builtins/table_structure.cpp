// table_structure.cpp - CREATE TABLE / CREATE CURSOR, ALTER TABLE ADD and DROP COLUMN, DROP
// TABLE, RENAME TABLE, DISPLAY STRUCTURE, AFIELDS() and DELETE FILE.
//
// A column arrives as seven values (name, type code, length, decimals, next auto-increment value,
// step, flags) and becomes one fielddef_st. A name that does not fit the record's 88 bytes (or,
// for ADD COLUMN, is not plain ASCII) raises 1712 like any other bad field name, which TRY can
// catch.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/workarea.h"
#include "tables/data_session.h"
#include "tables/dbf_format.h"
#include "tables/table_files.h"
#include "tables/table_object.h"
#include "values/charset_registry.h"
#include "vm/execute.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

constexpr size_t kColumnValues = 7;

// Column flag bits as the compiler sends them.
enum ColumnFlag : int64_t { COLUMN_NULL = 1, COLUMN_NOT_NULL = 2, COLUMN_NOCPTRANS = 4, COLUMN_AUTOINC = 8 };

bool absent(const Variant* v) { return is_null_argument(v); }

// A length, decimals or auto-increment value: a non-negative whole number.
size_t count_value(const Variant* v) {
  int64_t n = 0;
  switch (v->tag) {
    case VT_INTEGER: n = v->integer.value; break;
    case VT_NUMERIC:
    case VT_MONEY: n = static_cast<integer_type_st>(*v).value; break;
    default: throw RuntimeError(11);
  }
  if (n < 0) throw RuntimeError(11);
  return static_cast<size_t>(n);
}

// Null, or an empty value such as "" or 0: the clause counts as not given.
bool empty_clause(const Variant* v) { return absent(v) || v->is_empty(); }

// The column whose seven values start at argument first. ascii_only: ADD COLUMN's names.
fielddef_st column_definition(VmStack* stack, size_t first, bool ascii_only) {
  fielddef_st def{};
  const std::string name = string_argument(stack, first).u8str();
  if (name.size() + 1 > sizeof def.name) throw RuntimeError(1712);
  if (ascii_only) {
    for (unsigned char c : name) {
      if (c >= 0x80) throw RuntimeError(1712);
    }
  }
  std::memcpy(def.name, name.data(), name.size());
  def.name[name.size()] = '\0';
  def.type = static_cast<uint8_t>(integer_argument(stack, first + 1));
  const Variant* length = argument_value(stack, first + 2);
  if (absent(length)) {
    def.length_omitted = 1;
  } else {
    def.length = count_value(length);
  }
  const Variant* decimals = argument_value(stack, first + 3);
  if (absent(decimals)) {
    def.decimals_omitted = 1;
  } else {
    def.decimals = count_value(decimals);
  }
  const Variant* next = argument_value(stack, first + 4);
  if (!empty_clause(next)) {
    def.autoinc_next = count_value(next);
    def.autoinc_next_given = 1;
  }
  const Variant* step = argument_value(stack, first + 5);
  if (!empty_clause(step)) {
    def.autoinc_step = count_value(step);
    def.autoinc_step_given = 1;
  }
  const int64_t flags = integer_argument(stack, first + 6);
  if (flags & COLUMN_NULL) def.null_mode = FIELDINFO_NULL;
  if (flags & COLUMN_NOT_NULL) def.null_mode = FIELDINFO_NOT_NULL;
  if (flags & COLUMN_NOCPTRANS) def.binary = 1;
  if (flags & COLUMN_AUTOINC) def.autoinc = 1;
  return def;
}

// n column groups starting at argument first; the argument count must hold them all.
std::vector<fielddef_st> column_definitions(VmStack* stack, size_t argc, size_t first, int64_t n, bool ascii_only) {
  if (n < 0 || static_cast<uint64_t>(n) > (argc - first + 1) / kColumnValues) throw RuntimeError(11);
  std::vector<fielddef_st> defs;
  defs.reserve(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) {
    defs.push_back(column_definition(stack, first + static_cast<size_t>(i) * kColumnValues, ascii_only));
  }
  return defs;
}

String utf8_text(const std::string& text) { return String(text.data(), text.size(), Charset::utf8); }

String file_stem(const String& name) { return utf8_text(std::filesystem::path(name.u8str()).stem().string()); }

// ALTER TABLE's table: an alias open in the session, else the table opened exclusively into the
// lowest free area (which becomes current and keeps it afterwards).
Table_Object* alter_table_target(VmStack* stack, const String& name) {
  DataSession_Object* ds = session_of(stack);
  int area = 0;
  if (ds->resolve(name, get_symtable(stack), &area)) {
    auto it = ds->work_areas.find(area);
    if (it != ds->work_areas.end() && !it->second.empty()) return static_cast<Table_Object*>(it->second.get());
  }
  area = ds->area_for_open(0);
  ds->select(area);
  ObjectPointer table = Table_Object::use(stack, name, false, false);
  const String alias = file_stem(static_cast<Table_Object*>(table.get())->filename());
  ds->assign(std::move(table), get_symtable(stack), alias, area, false);
  return ds->current_table;
}

bool is_text_type(uint8_t type) {
  return type == FIELDINFO_CHAR || type == FIELDINFO_MEMO || type == FIELDINFO_VARCHAR;
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char buffer[512];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, pattern);
  std::vsnprintf(big.data(), big.size(), pattern, args);
  va_end(args);
  big.resize(static_cast<size_t>(n));
  return big;
}

}  // namespace

// CREATE TABLE / CREATE CURSOR: form (1 table, 2 cursor), path, code page, (unused), n, columns.
void void_stackcall_create_table(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 5) throw RuntimeError(11);
  createopts_st options{};
  const int64_t form = integer_argument(stack, 1);
  if (form != 1 && form != 2) throw RuntimeError(11);
  options.in_memory = form == 2 ? 1 : 0;
  const String path = string_argument(stack, 2);
  if (!absent(argument_value(stack, 3))) options.codepage = static_cast<uint64_t>(integer_argument(stack, 3));
  std::vector<fielddef_st> defs = column_definitions(stack, argc, 6, integer_argument(stack, 5), false);
  session_of(stack)->create(stack, path, &options, defs.data(), defs.size());
}

// ALTER TABLE name ADD COLUMN ...: name, n, columns.
void void_stackcall_add_columns(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  std::vector<fielddef_st> defs = column_definitions(stack, argc, 3, integer_argument(stack, 2), true);
  Table_Object* table = alter_table_target(stack, string_argument(stack, 1));
  DataSession_Object* ds = session_of(stack);
  for (const fielddef_st& def : defs) table->add_column(stack, ds, &def);
}

// ALTER TABLE name DROP COLUMN c1 [, c2 ...]
void void_stackcall_drop_columns(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  std::vector<String> names;
  for (size_t i = 2; i <= argc; ++i) names.push_back(string_argument(stack, i));
  Table_Object* table = alter_table_target(stack, string_argument(stack, 1));
  DataSession_Object* ds = session_of(stack);
  for (const String& name : names) table->drop_column(stack, ds, name);
}

void void_stackcall_drop_table(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  drop_table(stack, string_argument(stack, 1));
}

void void_stackcall_rename_table(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  rename_table(stack, string_argument(stack, 1), string_argument(stack, 2));
}

void void_stackcall_display_structure(VmStack* stack, size_t) {
  QZ_TRACE;
  Table_Object* table = session_table(stack, nullptr, true);
  int year = 0, month = 0, day = 0;
  table->last_modified_yyyymmdd(&year, &month, &day);
  const int codepage = table->codepage();
  const Charset* cs = get_charset_by_codepage(codepage, false);
  const int version = table->get_version();
  std::string text = format(
      "Structure for table:     %s\nNumber of data records:  %zu\nDate of last update:     %04i-%02i-%02i\n"
      "DBF-Codepage:            %i (%s)\nDBF-Version:             %i (0x%02X)\n\n",
      table->filename().u8str().c_str(), table->reccount(), year, month, day, codepage,
      cs != nullptr ? cs->name() : "", version, static_cast<unsigned>(version));
  text += format("%-3s %-44s %-20s PREC SCALE NULL       NEXT STEP\n", "#", "NAME", "TYPE");
  const size_t count = table->cnt_fields();
  for (size_t i = 0; i < count; ++i) {
    fielddef_st def{};
    table->get_field_info(i, &def);
    std::string type = format("%-20s", field_type_name(def.type));
    if (def.binary && is_text_type(def.type)) type += " (binary)";
    const bool autoinc = def.autoinc != 0;
    text += format("%3u %-44s %s %3lu   %3lu    %c %10lu %4lu\n", static_cast<unsigned>(i + 1), def.name,
                   type.c_str(), static_cast<unsigned long>(def.length), static_cast<unsigned long>(def.decimals),
                   def.null_mode == FIELDINFO_NULL ? 'Y' : '_',
                   static_cast<unsigned long>(autoinc ? def.autoinc_next : 0),
                   static_cast<unsigned long>(autoinc ? def.autoinc_step : 0));
  }
  stack->get_runtime()->get_screen()->out(utf8_text(text));
}

// AFIELDS(array [, area]): one row of 18 columns per field; the number of fields.
void afields(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const Variant* area = argc >= 2 && !absent(argument_value(stack, 2)) ? argument_value(stack, 2) : nullptr;
  Table_Object* table = work_area_table(stack, area, true);
  const size_t count = table->cnt_fields();
  Array* rows = argument_value(stack, 1)->dimension(stack, count, 18);
  for (size_t i = 0; i < count; ++i) {
    fielddef_st def{};
    table->get_field_info(i, &def);
    const size_t row = i + 1;
    rows->write(stack, row, 1)->set_string(utf8_text(def.name));
    const char letter[2] = {fieldinfo_letter(def.type), '\0'};
    rows->write(stack, row, 2)->set_string(String(letter, 1, Charset::ascii));
    rows->write(stack, row, 3)->set_integer(static_cast<int64_t>(def.length));
    rows->write(stack, row, 4)->set_integer(static_cast<int64_t>(def.decimals));
    rows->write(stack, row, 5)->set_bool(def.null_mode == FIELDINFO_NULL);
    rows->write(stack, row, 6)->set_bool(def.binary != 0 && is_text_type(def.type));
    for (size_t column = 7; column <= 16; ++column) {
      rows->write(stack, row, column)->set_string(String(static_cast<size_t>(0), Charset::utf8));
    }
    rows->write(stack, row, 17)->set_integer(static_cast<int64_t>(def.autoinc_next));
    rows->write(stack, row, 18)->set_integer(static_cast<int64_t>(def.autoinc_step));
  }
  result->set_integer(static_cast<int64_t>(count));
}

// DELETE FILE name
void void_stackcall_delete_file(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String name = string_argument(stack, 1);
  std::error_code error;
  if (!std::filesystem::remove(std::filesystem::path(name.u8str()), error)) throw RuntimeError(1, name);
}

}  // namespace qzbase
