// table_api.cpp - the exported table-handle interface: thin forwards to the table object.
//
// A handle is the Table_Object itself. Each function converts between the table's Variant values
// and plain values and lets the table's RuntimeError pass to the caller.
//
// Faults mended (each tested):
// - GetFieldBinary left the size unchanged when the value did not fit, so a cut value could not
//   be told from a whole one: the size becomes the value's full length.
// - ClearScope did nothing: it removes both scope bounds.
// - CreateTable closed a table whose tag failed before removing its files, which then found no
//   open file to remove: the files are removed first, then the table is closed.
#include <qzbase.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "host/runtime.h"
#include "platform/file.h"
#include "tables/data_session.h"
#include "tables/table_files.h"
#include "tables/table_object.h"
#include "values/julian.h"
#include "values/value_text.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

Table_Object* table_of(void* handle) { return static_cast<Table_Object*>(handle); }

uint16_t field_number(size_t field) { return static_cast<uint16_t>(field); }

Runtime* runtime_of(VmStack* stack) {
  Runtime* runtime = stack != nullptr ? stack->get_runtime() : nullptr;
  if (runtime == nullptr) throw_assert_failed();
  return runtime;
}

// Runs f and turns whatever it throws into a code: 0 when nothing, the RuntimeError's number,
// -1 for any other interrupt or exception, -1024 for a broken invariant.
template <typename F>
int invoke_with_error_code(F&& f) noexcept {
  try {
    f();
    return 0;
  } catch (const RuntimeError& e) {
    return e.code;
  } catch (const assert_failed_exception&) {
    return -1024;
  } catch (...) {
    return -1;
  }
}

String text_of(const char* text) {
  return text == nullptr ? String() : String(text, std::strlen(text), Charset::utf8);
}

char* copy_text(const String& text) {
  std::string bytes = text.u8str();
  auto* out = new char[bytes.size() + 1];
  std::memcpy(out, bytes.data(), bytes.size());
  out[bytes.size()] = '\0';
  return out;
}

// The field read as a Variant, released on every exit.
class FieldValue {
 public:
  FieldValue(void* handle, size_t field) { table_of(handle)->get_field(field_number(field), &value); }
  ~FieldValue() { value.release(nullptr); }
  FieldValue(const FieldValue&) = delete;
  FieldValue& operator=(const FieldValue&) = delete;
  Variant value;
};

// The day of a calendar date, or 2034. The calendar arithmetic runs days past the end of a
// month and months past December on into the next ones, so a date that does not come back as
// given (February 29th of a common year, a 13th month, a field too wide for it) is refused
// rather than stored as another day.
int build_date(int64_t year, uint64_t month, uint64_t day, date_st* out) {
  if (year < INT32_MIN || year > INT32_MAX || month > UINT32_MAX || day > UINT32_MAX) return 2034;
  date_st built{};
  const int code =
      serial_julian_date(static_cast<int>(year), static_cast<unsigned>(month), static_cast<unsigned>(day), &built);
  if (code != 0) return code;
  if (built.day != 0) {
    int y = 0, m = 0, d = 0;
    unserial_julian_date(built, &y, &m, &d);
    if (y != year || static_cast<uint64_t>(m) != month || static_cast<uint64_t>(d) != day) return 2034;
  }
  *out = built;
  return 0;
}

}  // namespace

void* OpenTable(VmStack* stack, const String& path) {
  QZ_TRACE;
  return runtime_of(stack)->open_table(stack, path);
}

void CloseTable(VmStack* stack, void* handle) {
  QZ_TRACE;
  runtime_of(stack)->close_table(handle);
}

void* CreateTable(VmStack* stack, const String& path, const createopts_st* options, fielddef_st* fields,
                  size_t nfields, indexdef_st* indexes, size_t nindexes) {
  QZ_TRACE;
  Runtime* runtime = runtime_of(stack);
  ObjectPointer table = Table_Object::create(stack, path, options, fields, nfields);
  Table_Object* t = static_cast<Table_Object*>(table.get());
  try {
    for (size_t i = 0; i < nindexes; ++i) {
      const indexdef_st& in = indexes[i];
      internal_indexdef_st def;
      def.tag_name = text_of(in.tag_name);
      def.key_expression = text_of(in.key_expression);
      def.for_expression = text_of(in.for_expression);
      def.collation_name = text_of(in.collation_name);
      def.unique = in.unique;
      def.candidate = in.candidate;
      def.binary = in.binary;
      def.descending = 0;
      t->create_index(stack, options, &def);
    }
  } catch (...) {
    // The half-made table goes; what fails while it goes is not what the caller needs to hear.
    (void)invoke_with_error_code([&] { t->remove(); });
    (void)invoke_with_error_code([&] { t->close(true); });
    table.release(stack);
    throw;
  }
  return runtime->keep_table(std::move(table));
}

void DropTable(VmStack* stack, const String& name) {
  QZ_TRACE;
  drop_table(stack, name);
}

void RenameTable(VmStack* stack, const String& from, const String& to) {
  QZ_TRACE;
  rename_table(stack, from, to);
}

size_t GetFieldCount(void* handle) {
  QZ_TRACE;
  return table_of(handle)->cnt_fields();
}

void GetFieldInfo(void* handle, size_t field, fielddef_st* out) {
  QZ_TRACE;
  table_of(handle)->get_field_info(field, out);
}

size_t GetFieldNum(void* handle, const String& name) {
  QZ_TRACE;
  Table_Object* table = table_of(handle);
  const size_t n = table->cnt_fields();
  fielddef_st info;
  for (size_t i = 0; i < n; ++i) {
    table->get_field_info(i, &info);
    const size_t length = std::strlen(info.name);
    if (Collation::unicode_machine_ci->compare(name.read(), name.read() + name.size(), name.get_charset(), info.name,
                                               info.name + length, Charset::utf8) == 0) {
      return i;
    }
  }
  throw RuntimeError(12, name);
}

size_t GetNextAutoInc(void* handle, size_t field) {
  QZ_TRACE;
  fielddef_st info;
  table_of(handle)->get_field_info(field, &info);
  return info.autoinc_next;
}

size_t GetAutoIncStep(void* handle, size_t field) {
  QZ_TRACE;
  fielddef_st info;
  table_of(handle)->get_field_info(field, &info);
  return info.autoinc_step;
}

size_t RecordCount(void* handle) {
  QZ_TRACE;
  return table_of(handle)->reccount();
}

size_t RecordNumber(void* handle) {
  QZ_TRACE;
  return table_of(handle)->recno();
}

namespace {
const File& table_file(void* handle) {
  const File* file = table_of(handle)->get_file();
  if (file == nullptr) throw RuntimeError(9902);
  return *file;
}
}  // namespace

size_t GetTableFileSize(void* handle) {
  QZ_TRACE;
  return table_file(handle).get_size();
}

time_t TableLastModified(void* handle) {
  QZ_TRACE;
  return table_file(handle).get_last_modified();
}

time_t TableCreateTime(void* handle) {
  QZ_TRACE;
  return table_file(handle).get_create_time();
}

void GotoTop(VmStack* stack, void* handle) {
  QZ_TRACE;
  table_of(handle)->movefirst(stack);
}

void GotoBottom(VmStack* stack, void* handle) {
  QZ_TRACE;
  table_of(handle)->movelast(stack);
}

void GotoRecord(VmStack* stack, void* handle, size_t recno) {
  QZ_TRACE;
  table_of(handle)->go(stack, static_cast<int64_t>(recno));
}

void GotoEof(void* handle) {
  QZ_TRACE;
  table_of(handle)->movetoeof();
}

void Skip(VmStack* stack, void* handle, SkipDir dir, size_t n) {
  QZ_TRACE;
  switch (dir) {
    case SKIP_DIR_FORWARD: table_of(handle)->movenext(stack, n); return;
    case SKIP_DIR_BACKWARD: table_of(handle)->moveprevious(stack, n); return;
  }
  throw_assert_failed();
}

bool Bof(void* handle) {
  QZ_TRACE;
  return table_of(handle)->bof();
}

bool Eof(void* handle) {
  QZ_TRACE;
  return table_of(handle)->eof();
}

void GetFieldVariant(void* handle, size_t field, Variant* out) {
  QZ_TRACE;
  table_of(handle)->get_field(field_number(field), out);
}

void GetFieldBinary(void* handle, size_t field, char* buffer, size_t* size) {
  QZ_TRACE;
  FieldValue v(handle, field);
  String text;
  variant_cast(v.value, &text);
  const size_t n = std::min(text.size(), *size);
  if (n > 0) std::memcpy(buffer, text.read(), n);
  *size = text.size();
}

void SetFieldBinary(void* handle, size_t field, const char* bytes, size_t size) {
  QZ_TRACE;
  table_of(handle)->set_field_string(field_number(field), String(bytes, size, Charset::binary));
}

void GetFieldText(void* handle, size_t field, char* buffer, size_t* size, const Charset** charset) {
  QZ_TRACE;
  table_of(handle)->get_chars(field_number(field), buffer, size, charset);
}

void SetFieldText(void* handle, size_t field, const char* text, size_t size, const Charset* charset) {
  QZ_TRACE;
  table_of(handle)->set_field_string(field_number(field), String(text, size, charset));
}

void GetFieldMoneyString(void* handle, size_t field, char* buffer, size_t* size) {
  QZ_TRACE;
  const Charset* charset = nullptr;
  table_of(handle)->get_chars(field_number(field), buffer, size, &charset);
}

void SetFieldMoneyString(void* handle, size_t field, char* text, size_t size) {
  QZ_TRACE;
  money_type_st money{};
  const int code = string_to_money(text, size, Charset::utf8, &money, U'.', U',');
  if (code != 0) throw RuntimeError(code);
  table_of(handle)->set_field_money(field_number(field), money);
}

const Charset* GetTableCharset(void* handle) {
  QZ_TRACE;
  return table_of(handle)->charset;
}

bool IsFieldNull(void* handle, size_t field) {
  QZ_TRACE;
  FieldValue v(handle, field);
  return v.value.tag == VT_NULL;
}

void SetFieldNull(void* handle, size_t field) {
  QZ_TRACE;
  table_of(handle)->set_field_null(field_number(field));
}

int32_t GetFieldInt32(void* handle, size_t field) {
  QZ_TRACE;
  FieldValue v(handle, field);
  return static_cast<int32_t>(variant_to_integer(v.value).value);
}

void SetFieldInt32(void* handle, size_t field, int32_t value) {
  QZ_TRACE;
  table_of(handle)->set_field_integer(field_number(field), integer_type_st{value});
}

double GetFieldDouble(void* handle, size_t field) {
  QZ_TRACE;
  FieldValue v(handle, field);
  return variant_to_numeric(v.value).value;
}

void SetFieldDouble(void* handle, size_t field, double value) {
  QZ_TRACE;
  table_of(handle)->set_field_numeric(field_number(field), numeric_type_st{value, free_decimals});
}

bool GetFieldLogical(void* handle, size_t field) {
  QZ_TRACE;
  FieldValue v(handle, field);
  return variant_to_bool(v.value);
}

void SetFieldLogical(void* handle, size_t field, bool value) {
  QZ_TRACE;
  table_of(handle)->set_field_bool(field_number(field), value);
}

void GetFieldDateYMD(void* handle, size_t field, size_t* year, size_t* month, size_t* day, bool*) {
  QZ_TRACE;
  FieldValue v(handle, field);
  date_st date{};
  variant_cast(v.value, &date);
  int y = 0, m = 0, d = 0;
  unserial_julian_date(date, &y, &m, &d);
  *year = static_cast<size_t>(y);
  *month = static_cast<size_t>(m);
  *day = static_cast<size_t>(d);
}

void SetFieldDateYMD(void* handle, size_t field, intptr_t year, size_t month, size_t day, bool) {
  QZ_TRACE;
  date_st date{};
  const int code = build_date(year, month, day, &date);
  if (code != 0) throw RuntimeError(code);
  table_of(handle)->set_field_date(field_number(field), date);
}

void GetFieldDateTimeYMDHIS(void* handle, size_t field, size_t* year, size_t* month, size_t* day, size_t* hour,
                            size_t* minute, size_t* second, bool*) {
  QZ_TRACE;
  FieldValue v(handle, field);
  datetime_st datetime{};
  variant_cast(v.value, &datetime);
  int y = 0, m = 0, d = 0, h = 0, i = 0, s = 0, ms = 0;
  unserial_julian_date(datetime, &y, &m, &d, &h, &i, &s, &ms);
  *year = static_cast<size_t>(y);
  *month = static_cast<size_t>(m);
  *day = static_cast<size_t>(d);
  *hour = static_cast<size_t>(h);
  *minute = static_cast<size_t>(i);
  *second = static_cast<size_t>(s);
}

void SetFieldDateTimeYMDHIS(void* handle, size_t field, long year, long month, long day, long hour, long minute,
                            long second) {
  QZ_TRACE;
  datetime_st datetime{};
  date_st date{};
  const auto out_of_range = [](long v) { return v < 0 || v > long{UINT32_MAX}; };
  int code = out_of_range(month) || out_of_range(day) || out_of_range(hour) || out_of_range(minute) ||
                     out_of_range(second)
                 ? 2034
                 : build_date(year, static_cast<uint64_t>(month), static_cast<uint64_t>(day), &date);
  if (code == 0) {
    code = serial_julian_date(static_cast<int>(year), static_cast<unsigned>(month), static_cast<unsigned>(day),
                              static_cast<unsigned>(hour), static_cast<unsigned>(minute),
                              static_cast<unsigned>(second), &datetime);
  }
  if (code != 0) throw RuntimeError(code);
  table_of(handle)->set_field_datetime(field_number(field), datetime);
}

size_t GetMemoSize(void* handle, size_t field) {
  QZ_TRACE;
  return table_of(handle)->get_memo_size(field_number(field));
}

size_t GetIndexCount(void* handle) {
  QZ_TRACE;
  return table_of(handle)->cnt_indizes();
}

indexdef_st* GetIndexInfo(void* handle, size_t tag) {
  QZ_TRACE;
  internal_indexdef_st def;
  table_of(handle)->get_index_info(tag, &def);
  auto info = std::make_unique<indexdef_st>();
  std::memset(info.get(), 0, sizeof *info);
  info->unique = def.unique;
  info->candidate = def.candidate;
  info->binary = def.binary;
  info->key_flag = def.key_flag;
  try {
    info->tag_name = copy_text(def.tag_name);
    info->key_expression = copy_text(def.key_expression);
    info->for_expression = copy_text(def.for_expression);
    info->collation_name = copy_text(def.collation_name);
  } catch (...) {
    FreeIndexInfo(info.release());
    throw;
  }
  return info.release();
}

void FreeIndexInfo(indexdef_st* info) {
  QZ_TRACE;
  if (info == nullptr) return;
  delete[] info->tag_name;
  delete[] info->key_expression;
  delete[] info->for_expression;
  delete[] info->collation_name;
  delete info;
}

void SetDeleted(VmStack* stack, bool value) {
  QZ_TRACE;
  DataSession_Object* session = stack->current_data_session;
  if (session == nullptr) throw RuntimeError(52);
  session->settings.deleted = value;
}

void SetFieldReadonly(void* handle, size_t field, bool readonly) {
  QZ_TRACE;
  table_of(handle)->set_field_readonly(field_number(field), readonly);
}

bool LockCurrentRecord(VmStack* stack, void* handle, LockState& state) {
  QZ_TRACE;
  return table_of(handle)->lock_current_record(stack, state);
}

void UnlockCurrentRecord(void* handle) {
  QZ_TRACE;
  table_of(handle)->unlock();
}

bool IsCurrentRecordLocked(void* handle) {
  QZ_TRACE;
  return table_of(handle)->isrlocked();
}

void UnlockAll(void* handle) {
  QZ_TRACE;
  table_of(handle)->unlock_all();
}

void TableUpdate(VmStack* stack, void* handle, int) {
  QZ_TRACE;
  table_of(handle)->update(stack);
}

void TableRevert(void* handle, int) {
  QZ_TRACE;
  table_of(handle)->revert();
}

void BeginAppendRecord(void* handle, int) {
  QZ_TRACE;
  table_of(handle)->begin_append();
}

void DeleteRecord(void* handle) {
  QZ_TRACE;
  table_of(handle)->delete_record();
}

bool IsRecordDeleted(void* handle) {
  QZ_TRACE;
  return table_of(handle)->deleted();
}

void EvalIndexKey(VmStack* stack, void* handle, char* buffer, size_t* size) {
  QZ_TRACE;
  *size = table_of(handle)->eval_index_key(stack, buffer, *size);
}

void GetIndexKey(void* handle, char* buffer, size_t* size) {
  QZ_TRACE;
  *size = table_of(handle)->get_index_key(buffer, *size);
}

void SelectIndex(VmStack* stack, void* handle, size_t tag) {
  QZ_TRACE;
  table_of(handle)->select_index(stack, tag, SEEK_DIR_FORWARD);
}

void UnselectIndex(void* handle) {
  QZ_TRACE;
  table_of(handle)->unselect_index();
}

bool SeekRawKey(VmStack* stack, void* handle, const char* key, size_t size, SeekRng range, SeekDir dir, bool near) {
  QZ_TRACE;
  return table_of(handle)->seek(stack, key, size, range, dir, near);
}

void SetScope(VmStack* stack, void* handle, const char* key, size_t size, SeekDir which, SeekRng mode) {
  QZ_TRACE;
  table_of(handle)->set_scope_to(stack, key, size, which, mode);
}

void ClearScope(VmStack* stack, void* handle) {
  QZ_TRACE;
  Table_Object* table = table_of(handle);
  table->set_scope_to(stack, nullptr, 0, SEEK_DIR_FORWARD, SEEK_RNG_NONE);
  table->set_scope_to(stack, nullptr, 0, SEEK_DIR_BACKWARD, SEEK_RNG_NONE);
}

double GetIndexPos(void* handle) {
  QZ_TRACE;
  return table_of(handle)->get_index_pos();
}

}  // namespace qzbase
