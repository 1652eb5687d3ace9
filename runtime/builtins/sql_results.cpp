// sql_results.cpp - SQL result sets: the result loop of SQLEXEC, SQLMORERESULTS, the mapping of
// result columns to field definitions, the fetching of rows and the in-memory table each result
// set becomes.
//
// Mended:
// - The column name and nullability were asked for with the ODBC 2 attribute ids, which the
//   drivers refuse in an ODBC 3.80 environment (every SELECT failed): the descriptor ids are
//   asked for (also for precision and scale).
// - Character values were read into a fixed buffer and stored with the length the driver
//   reported, which for a longer value is the whole length (a read past the buffer): every text
//   and binary value is read in pieces up to its end.
// - Dates and timestamps are read with the ODBC 3 type codes the 3.80 environment expects.
// - A money column's text is parsed leniently (up to the first unknown character), so NaN and
//   Infinity arrived as 0: a text that is not a plain decimal number raises 39.
// - A row whose store fails (an error raised by a field) is dropped from the cursor rather than
//   left pending as a half-filled appended record.
#include <cstring>
#include <memory>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/sql.h"
#include "builtins/workarea.h"
#include "frontend/scanner.h"
#include "tables/data_session.h"
#include "tables/table_object.h"
#include "values/julian.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The longest field name kept, in UTF-8 bytes (the name field holds one byte more for the NUL).
constexpr size_t kFieldNameBytes = 87;

// text cut to at most limit bytes, before a character's first byte.
std::string cut_utf8(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

SQLRETURN numeric_attribute(SQLHSTMT statement, SQLUSMALLINT column, SQLUSMALLINT id, SQLLEN* value) {
  *value = 0;
  return SQLColAttributeW(statement, column, id, nullptr, 0, nullptr, value);
}

// The field of one column by its type; RuntimeError 1001 for a type outside the table, 1988 for a
// money column beyond the currency range.
SQLRETURN map_type(SQLHSTMT statement, SQLUSMALLINT column, SQLLEN type, fielddef_st* f) {
  SQLLEN size = 0;
  SQLRETURN rc = SQL_SUCCESS;
  auto fixed = [&](uint8_t field_type, size_t length) {
    f->type = field_type;
    f->length = length;
    f->length_omitted = length == 0;
    f->decimals_omitted = 1;
  };
  switch (type) {
    case SQL_CHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_VARCHAR:
      rc = numeric_attribute(statement, column, SQL_DESC_DISPLAY_SIZE, &size);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (size > 0 && size < 255) {
        f->type = type == SQL_VARCHAR ? FIELDINFO_VARCHAR : FIELDINFO_CHAR;
        f->length = static_cast<size_t>(size);
      } else {
        f->type = FIELDINFO_MEMO;
        f->length_omitted = 1;
      }
      break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      fixed(FIELDINFO_MEMO, 0);
      break;
    case SQL_NUMERIC:
    case SQL_DECIMAL: {
      SQLLEN precision = 0, scale = 0, money = 0;
      if (!SQL_SUCCEEDED(rc = numeric_attribute(statement, column, SQL_DESC_PRECISION, &precision))) return rc;
      if (!SQL_SUCCEEDED(rc = numeric_attribute(statement, column, SQL_DESC_SCALE, &scale))) return rc;
      if (!SQL_SUCCEEDED(rc = numeric_attribute(statement, column, SQL_DESC_FIXED_PREC_SCALE, &money))) return rc;
      if (money != 0 && (precision > 19 || scale >= 5)) throw RuntimeError(1988);
      if (money != 0 || (scale < 5 && precision < 20)) {
        f->type = FIELDINFO_CURRENCY;
        f->length_omitted = 1;
        f->decimals_omitted = 1;
      } else {
        f->type = FIELDINFO_DOUBLE;
        f->decimals = scale < 0 ? 0 : static_cast<size_t>(scale);
        f->length_omitted = 1;
        if (precision < 20) f->length = static_cast<size_t>(precision + 1);
      }
      break;
    }
    case SQL_INTEGER: {
      SQLLEN is_unsigned = 0;
      rc = numeric_attribute(statement, column, SQL_DESC_UNSIGNED, &is_unsigned);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (is_unsigned != 0) {
        f->type = FIELDINFO_CHAR;
        f->length = 20;
      } else {
        f->type = FIELDINFO_INTEGER;
        f->length_omitted = 1;
      }
      break;
    }
    case SQL_SMALLINT: fixed(FIELDINFO_INTEGER, 2); break;
    case SQL_TINYINT: fixed(FIELDINFO_INTEGER, 1); break;
    case SQL_BIGINT: fixed(FIELDINFO_CHAR, 20); break;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: fixed(FIELDINFO_DOUBLE, 0); break;
    case SQL_BIT: fixed(FIELDINFO_LOGICAL, 0); break;
    case SQL_DATETIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: fixed(FIELDINFO_DATETIME, 0); break;
    case SQL_TYPE_DATE: fixed(FIELDINFO_DATE, 0); break;
    case SQL_TIME:
    case SQL_TYPE_TIME: fixed(FIELDINFO_CHAR, 8); break;
    case SQL_BINARY:
      rc = numeric_attribute(statement, column, SQL_DESC_OCTET_LENGTH, &size);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (size > 0 && size < 255) {
        f->type = FIELDINFO_CHAR;
        f->length = static_cast<size_t>(size);
      } else {
        f->type = FIELDINFO_BLOB;
        f->length_omitted = 1;
      }
      f->binary = 1;
      break;
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      fixed(FIELDINFO_BLOB, 0);
      f->binary = 1;
      break;
    default:
      throw RuntimeError(1001);
  }
  return rc;
}

}  // namespace

SQLRETURN _sql_map_columns(SQLHSTMT statement, std::unique_ptr<fielddef_st[]>* fields, size_t* count) {
  QZ_TRACE;
  SQLSMALLINT n = 0;
  SQLRETURN rc = SQLNumResultCols(statement, &n);
  if (!SQL_SUCCEEDED(rc)) return rc;
  *count = n < 0 ? 0 : static_cast<size_t>(n);
  *fields = std::make_unique<fielddef_st[]>(*count + 1);  // zeroed, one spare
  for (SQLUSMALLINT column = 1; column <= *count; ++column) {
    fielddef_st* f = &(*fields)[column - 1];
    SQLWCHAR name[128] = {};  // 256 bytes
    SQLSMALLINT name_bytes = 0;
    rc = SQLColAttributeW(statement, column, SQL_DESC_NAME, name, sizeof name, &name_bytes, nullptr);
    if (!SQL_SUCCEEDED(rc)) return rc;
    size_t units = 0;
    while (units < 127 && name[units] != 0) ++units;
    String wide(reinterpret_cast<const char*>(name), units * sizeof(SQLWCHAR), Charset::utf16le);
    std::string utf8 = cut_utf8(wide.u8str(), kFieldNameBytes);
    std::memcpy(f->name, utf8.data(), utf8.size());
    f->name[utf8.size()] = 0;
    SQLLEN type = 0;
    if (!SQL_SUCCEEDED(rc = numeric_attribute(statement, column, SQL_DESC_CONCISE_TYPE, &type))) return rc;
    if (!SQL_SUCCEEDED(rc = map_type(statement, column, type, f))) return rc;
    SQLLEN nullable = 0;
    if (!SQL_SUCCEEDED(rc = numeric_attribute(statement, column, SQL_DESC_NULLABLE, &nullable))) return rc;
    f->null_mode = nullable != 0 ? FIELDINFO_NULL : FIELDINFO_NOT_NULL;
  }
  return SQL_SUCCESS;
}

namespace {

// One long value read in pieces up to its end: UTF-16LE text (SQL_C_WCHAR) or bytes
// (SQL_C_BINARY). The ODBC return code; *is_null for SQL_NULL_DATA.
// The buffer of 4096 bytes serves every value of a fetch.
constexpr SQLLEN kPiece = 4096;

SQLRETURN read_chunked(SQLHSTMT statement, SQLUSMALLINT column, bool binary, char* buffer, std::string* out,
                       bool* is_null) {
  const SQLLEN terminator = binary ? 0 : static_cast<SQLLEN>(sizeof(SQLWCHAR));
  const SQLSMALLINT c_type = binary ? SQL_C_BINARY : SQL_C_WCHAR;
  out->clear();
  *is_null = false;
  for (bool first = true;; first = false) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(statement, column, c_type, buffer, kPiece, &indicator);
    if (rc == SQL_NO_DATA && !first) return SQL_SUCCESS;  // the previous piece was the last
    if (!SQL_SUCCEEDED(rc)) return rc;
    if (indicator == SQL_NULL_DATA) {
      *is_null = true;
      return SQL_SUCCESS;
    }
    const SQLLEN room = kPiece - terminator;
    // A piece that fits ends the value; a longer one (or one of unknown length) filled the room.
    if (indicator != SQL_NO_TOTAL && indicator >= 0 && indicator <= room) {
      out->append(buffer, static_cast<size_t>(indicator));
      return SQL_SUCCESS;
    }
    out->append(buffer, static_cast<size_t>(room));
  }
}

// Whether a driver's text of a DECIMAL or NUMERIC value is a plain decimal number: the money
// parser stops at the first character it does not know, so "NaN" or "Infinity" would arrive as 0.
bool decimal_text(const char* text, size_t size) {
  size_t i = 0;
  while (i < size && text[i] == ' ') ++i;
  if (i < size && text[i] == '-') ++i;
  size_t digits = 0;
  while (i < size && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < size && text[i] == '.') {
    ++i;
    while (i < size && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  while (i < size && text[i] == ' ') ++i;
  return digits > 0 && i == size;
}

// The value of one column into field i of the appended record; the ODBC return code.
SQLRETURN store_column(SQLHSTMT statement, SQLUSMALLINT column, const fielddef_st& f, SqlCursor* cursor,
                       char* buffer, std::string* bytes) {
  const size_t i = column - 1u;
  const bool nullable = f.null_mode == FIELDINFO_NULL;
  SQLLEN indicator = 0;
  auto null_or = [&](auto store_default) {
    if (nullable) {
      cursor->set_field_null(i);
    } else {
      store_default();
    }
  };
  switch (f.type) {
    case FIELDINFO_CHAR:
    case FIELDINFO_VARCHAR:
    case FIELDINFO_MEMO:
    case FIELDINFO_BLOB: {
      const bool binary = f.binary != 0 || f.type == FIELDINFO_BLOB;
      bool is_null = false;
      SQLRETURN rc = read_chunked(statement, column, binary, buffer, bytes, &is_null);
      if (!SQL_SUCCEEDED(rc)) return rc;
      const Charset* cs = binary ? Charset::binary : Charset::utf16le;
      if (is_null) {
        null_or([&] { cursor->set_field_string(i, String(size_t{0}, cs)); });
      } else {
        cursor->set_field_string(i, String(bytes->data(), bytes->size(), cs));
      }
      return rc;
    }
    case FIELDINFO_INTEGER: {
      int64_t v = 0;
      SQLRETURN rc = SQLGetData(statement, column, SQL_C_SBIGINT, &v, sizeof v, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (indicator == SQL_NULL_DATA) {
        null_or([&] { cursor->set_field_integer(i, 0); });
      } else {
        cursor->set_field_integer(i, v);
      }
      return rc;
    }
    case FIELDINFO_CURRENCY: {
      SQLWCHAR text[128] = {};
      SQLRETURN rc = SQLGetData(statement, column, SQL_C_WCHAR, text, sizeof text, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (indicator == SQL_NULL_DATA) {
        null_or([&] { cursor->set_field_money(i, money_type_st{0}); });
        return rc;
      }
      size_t units = 0;
      while (units < 127 && text[units] != 0) ++units;
      String s(reinterpret_cast<const char*>(text), units * sizeof(SQLWCHAR), Charset::utf16le);
      s.convert(Charset::utf8, CON_NONE, 0);
      money_type_st money{0};
      if (!decimal_text(s.read(), s.size()) || !Scanner::create_money(s, money)) throw RuntimeError(39);
      cursor->set_field_money(i, money);
      return rc;
    }
    case FIELDINFO_DATE: {
      SQL_DATE_STRUCT d{};
      SQLRETURN rc = SQLGetData(statement, column, SQL_C_TYPE_DATE, &d, sizeof d, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      date_st date{0};
      if (indicator != SQL_NULL_DATA) {
        serial_julian_date(d.year, d.month, d.day, &date);
        cursor->set_field_date(i, date);
      } else {
        null_or([&] { cursor->set_field_date(i, date); });
      }
      return rc;
    }
    case FIELDINFO_DATETIME: {
      SQL_TIMESTAMP_STRUCT t{};
      SQLRETURN rc = SQLGetData(statement, column, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      datetime_st dt{0, 0};
      if (indicator != SQL_NULL_DATA) {
        serial_julian_date(t.year, t.month, t.day, t.hour, t.minute, t.second, &dt);
        cursor->set_field_datetime(i, dt);
      } else {
        null_or([&] { cursor->set_field_datetime(i, dt); });
      }
      return rc;
    }
    case FIELDINFO_DOUBLE:
    case FIELDINFO_NUMERIC: {
      double v = 0;
      SQLRETURN rc = SQLGetData(statement, column, SQL_C_DOUBLE, &v, sizeof v, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (indicator == SQL_NULL_DATA) {
        null_or([&] { cursor->set_field_numeric(i, numeric_type_st{0.0, 0}); });
      } else {
        cursor->set_field_numeric(i, numeric_type_st{v, free_decimals});
      }
      return rc;
    }
    case FIELDINFO_LOGICAL: {
      unsigned char v = 0;
      SQLRETURN rc = SQLGetData(statement, column, SQL_C_BIT, &v, sizeof v, &indicator);
      if (!SQL_SUCCEEDED(rc)) return rc;
      if (indicator == SQL_NULL_DATA) {
        null_or([&] { cursor->set_field_bool(i, false); });
      } else {
        cursor->set_field_bool(i, v != 0);
      }
      return rc;
    }
    default:
      throw_assert_failed();
  }
}

}  // namespace

SQLRETURN _sql_fetch_records(VmStack*, SQLHSTMT statement, const fielddef_st* fields, size_t count,
                             SqlCursor* cursor) {
  QZ_TRACE;
  std::unique_ptr<char[]> buffer(new char[kPiece]);
  std::string bytes;
  SQLRETURN last = SQL_SUCCESS;
  while (SQL_SUCCEEDED(last)) {
    SQLRETURN rc = SQLFetch(statement);
    if (rc == SQL_NO_DATA) return SQL_SUCCESS;
    if (!SQL_SUCCEEDED(rc)) return rc;
    last = rc;
    cursor->begin_append();
    for (SQLUSMALLINT column = 1; column <= count; ++column) {
      SQLRETURN column_rc = store_column(statement, column, fields[column - 1], cursor, buffer.get(), &bytes);
      if (!SQL_SUCCEEDED(column_rc)) last = column_rc;
    }
    cursor->update();
  }
  return last;
}

namespace {

// A result set's cursor: the in-memory table the session holds in its work area. The cursor
// keeps its own reference, so the table outlives a work area closed while rows arrive.
class TableCursor : public SqlCursor {
 public:
  TableCursor(VmStack* stack, ObjectPointer table)
      : stack_(stack), holder_(std::move(table)), table_(static_cast<Table_Object*>(holder_.get())) {}
  ~TableCursor() override {
    // A row left half-stored by an error is dropped rather than kept with blank fields.
    if (appending_) {
      try {
        table_->revert();
      } catch (...) {
      }
    }
    holder_.release(stack_);
  }
  TableCursor(const TableCursor&) = delete;
  TableCursor& operator=(const TableCursor&) = delete;

  void begin_append() override {
    table_->begin_append();
    appending_ = true;
  }
  void set_field_null(size_t i) override { table_->set_field_null(field(i)); }
  void set_field_string(size_t i, const String& v) override { table_->set_field_string(field(i), v); }
  void set_field_integer(size_t i, int64_t v) override { table_->set_field_integer(field(i), integer_type_st{v}); }
  void set_field_money(size_t i, const money_type_st& v) override { table_->set_field_money(field(i), v); }
  void set_field_date(size_t i, date_st v) override { table_->set_field_date(field(i), v); }
  void set_field_datetime(size_t i, datetime_st v) override { table_->set_field_datetime(field(i), v); }
  void set_field_numeric(size_t i, const numeric_type_st& v) override { table_->set_field_numeric(field(i), v); }
  void set_field_bool(size_t i, bool v) override { table_->set_field_bool(field(i), v); }
  void update() override {
    table_->update(stack_);
    appending_ = false;
  }
  void movefirst() override { table_->movefirst(stack_); }

 private:
  static uint16_t field(size_t i) { return static_cast<uint16_t>(i); }

  VmStack* stack_;
  ObjectPointer holder_;
  Table_Object* table_;
  bool appending_ = false;
};

}  // namespace

SqlCursor* create_sql_cursor(VmStack* stack, const String& alias, const fielddef_st* fields, size_t count) {
  QZ_TRACE;
  createopts_st options{};
  options.in_memory = 1;
  options.accept_altered_names = 1;
  // The table layer rewrites names it had to alter: the caller's description stays as it was.
  std::vector<fielddef_st> defs(fields, fields + count);
  DataSession_Object* session = session_of(stack);
  session->create(stack, alias, &options, defs.data(), defs.size());
  auto it = session->work_areas.find(session->current_area);
  if (it == session->work_areas.end() || it->second.get() == nullptr) throw_assert_failed();
  return new TableCursor(stack, it->second);
}

namespace {

SqlCursor* open_cursor(VmStack* stack, const String& alias, const fielddef_st* fields, size_t count) {
  SqlSingleton* sql = find_sql_singleton(stack->get_runtime());
  auto create = sql->create_cursor != nullptr ? sql->create_cursor : create_sql_cursor;
  return create(stack, alias, fields, count);
}

bool batch_mode_of(SqlStatement* statement) {
  std::shared_lock<std::shared_mutex> lock(statement->connection->lock);
  return statement->connection->batch_mode;
}

// Creates the cursor of the current result and fills it; the ODBC return code of the fetch.
SQLRETURN fill_cursor(VmStack* stack, SqlStatement* statement, const String& alias, const fielddef_st* fields,
                      size_t count) {
  std::unique_ptr<SqlCursor> cursor(open_cursor(stack, alias, fields, count));
  SQLRETURN rc = _sql_fetch_records(stack, statement->handle, fields, count, cursor.get());
  cursor->movefirst();
  return rc;
}

void log_statement(VmStack* stack, SqlStatement* statement) {
  _sql_log_diag_rec(stack, static_cast<size_t>(statement->id), SQL_HANDLE_STMT, statement->handle);
}

}  // namespace

int64_t sql_result_loop(VmStack* stack, SqlStatement* statement, const String* cursor_name, Variant* info,
                        bool no_data) {
  QZ_TRACE;
  std::vector<std::pair<String, int64_t>> results;
  int64_t n = 0;
  int64_t outcome = 1;
  if (no_data) {
    results.emplace_back(String(""), 0);
  } else {
    for (;;) {
      String alias("");
      SQLLEN rows = 0;
      std::unique_ptr<fielddef_st[]> fields;
      size_t count = 0;
      SQLRETURN rc = _sql_map_columns(statement->handle, &fields, &count);
      if (SQL_SUCCEEDED(rc)) rc = SQLRowCount(statement->handle, &rows);
      if (SQL_SUCCEEDED(rc) && count > 0) {
        ++n;
        alias = cursor_name != nullptr ? *cursor_name : String("sqlresult");
        if (n > 1) alias = String((alias.u8str() + std::to_string(n)).c_str());
        rc = fill_cursor(stack, statement, alias, fields.get(), count);
      }
      results.emplace_back(alias, static_cast<int64_t>(rows));
      if (!SQL_SUCCEEDED(rc)) {
        log_statement(stack, statement);
        return -1;
      }
      if (n != 0 && !batch_mode_of(statement)) break;
      rc = SQLMoreResults(statement->handle);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) {
        log_statement(stack, statement);
        return -1;
      }
    }
    outcome = n > 1 ? n : 1;
  }
  if (info != nullptr) {
    Array* array = info->dimension(stack, results.size(), 2);
    for (size_t r = 0; r < results.size(); ++r) {
      Variant* alias = array->write(stack, r + 1, 1);
      alias->release(stack);
      alias->set_string(results[r].first);
      Variant* rows = array->write(stack, r + 1, 2);
      rows->release(stack);
      rows->set_integer(static_cast<long>(results[r].second));
    }
  }
  return outcome;
}

// SQLMORERESULTS(handle [, cursor name]): the next result set with columns as a cursor.
void bi_sqlmoreresults(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  SqlStatementInUse held(stack, integer_argument(stack, 1));
  SqlStatement* statement = held.get();
  auto fail = [&] {
    log_statement(stack, statement);
    result->set_integer(-1);
  };
  SQLRETURN rc = SQLMoreResults(statement->handle);
  if (rc == SQL_NO_DATA) {
    result->set_integer(2);
    return;
  }
  if (!SQL_SUCCEEDED(rc)) return fail();
  String alias = has_argument(stack, argc, 2) ? string_argument(stack, 2) : String("sqlresult");
  for (;;) {
    std::unique_ptr<fielddef_st[]> fields;
    size_t count = 0;
    rc = _sql_map_columns(statement->handle, &fields, &count);
    if (!SQL_SUCCEEDED(rc)) return fail();
    if (count > 0) {
      rc = fill_cursor(stack, statement, alias, fields.get(), count);
      if (!SQL_SUCCEEDED(rc)) return fail();
      result->set_integer(1);
      return;
    }
    rc = SQLMoreResults(statement->handle);
    if (rc == SQL_NO_DATA) {
      result->set_integer(2);
      return;
    }
    if (!SQL_SUCCEEDED(rc)) return fail();
  }
}

}  // namespace qzbase
