// sql_statements.cpp - SQL statements: finding the "?" parameters of a text, binding their values,
// SQLPREPARE and SQLEXEC.
//
// Mended:
// - The text after a parameter's expression started at the next token, so the blank after it
//   vanished ("a = ?x AND b" went out as "a = ?AND b", which servers refuse): the text is kept
//   from the end of the expression's last token.
// - Integers beyond 32 bits were bound as SQL_INTEGER, which servers refuse: they go as SQL_BIGINT.
// - After a failed execution the bound parameters stayed with the statement, and the next
//   execution of a prepared statement found them there (a broken invariant that ended the
//   process): the parameters are reset and the cursor closed on every way out.
// - SQL_NO_DATA from an execution (an UPDATE or DELETE that matched no row) counted as a failure
//   without any diagnostic: it is a success with 0 rows.
// - Dates and datetimes are bound with the ODBC 3 type codes the 3.80 environment expects.
// - A driver without wide entry points got text beyond ASCII damaged by the driver manager's
//   narrowing: its connection's statements are prepared and executed through the narrow calls,
//   in UTF-8.
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/sql.h"
#include "compiler/build_input.h"
#include "frontend/operands.h"
#include "values/julian.h"
#include "values/tokenizer.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

void SqlStatement::reset_prepare() {
  QZ_TRACE;
  for (prepared_operand_st& p : operands) {
    delete p.operand;
    delete p.program;
  }
  operands.clear();
  if (bound) {
    for (size_t i = 0; i < bound_count; ++i) bound[i].value.release(nullptr);
    bound.reset();
    bound_count = 0;
  }
}

SQLRETURN SqlStatement::reset_params(VmStack* stack) {
  QZ_TRACE;
  SQLRETURN rc = SQLFreeStmt(handle, SQL_RESET_PARAMS);
  if (bound) {
    for (size_t i = 0; i < bound_count; ++i) bound[i].value.release(stack);
    bound.reset();
    bound_count = 0;
  }
  return rc;
}

String _sql_prepare_bind(VmStack* stack, const String& text, std::list<prepared_operand_st>* operands) {
  QZ_TRACE;
  BuildInput input(stack);
  input.set_module_context_from_frame(stack);
  input.import_library(stack->get_runtime()->builtin_library());
  token_list_type tokens;
  tokenize(text.read(), text.end(), text.get_charset(), &tokens);
  std::string out;  // bytes of the text's own character set
  const char* pending = tokens.empty() ? text.end() : tokens.front().begin;
  auto it = tokens.cbegin();
  while (it != tokens.cend()) {
    if (it->kind == '\'' || it->kind == '"') {
      const uint32_t quote = it->kind;
      for (++it; it != tokens.cend() && it->kind != quote; ++it) {
      }
      if (it != tokens.cend()) ++it;
      continue;
    }
    if (it->kind != '?') {
      ++it;
      continue;
    }
    out.append(pending, it->end());
    ++it;
    const Operand* operand = nullptr;
    const Program* program = nullptr;
    input.build_operand(it, tokens.cend(), true, &operand, &program);
    operands->push_back(prepared_operand_st{operand, program});
    pending = std::prev(it)->end();
  }
  out.append(pending, text.end());
  String sent(out.data(), out.size(), text.get_charset());
  sent.convert(Charset::utf16le, CON_NONE, 0);
  return sent;
}

namespace {

// The money value as "units.dddd"; a value whose raw form does not fit 64 bits overflows.
std::string money_text(const money_type_st& money) {
  const money_raw_type raw = money.value;
  if (raw > static_cast<money_raw_type>(INT64_MAX)) throw std::overflow_error("positive overflow");
  if (raw < static_cast<money_raw_type>(INT64_MIN)) throw std::overflow_error("negative overflow");
  const int64_t v = static_cast<int64_t>(raw);
  const uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char text[48];
  std::snprintf(text, sizeof text, "%s%lu.%04lu", v < 0 ? "-" : "", static_cast<unsigned long>(magnitude / 10000),
                static_cast<unsigned long>(magnitude % 10000));
  return text;
}

SQLRETURN bind_one(VmStack* stack, SQLHSTMT handle, SQLUSMALLINT number, sql_bound_parameter_st& p) {
  Variant& v = p.value;
  SQLSMALLINT c_type = 0;
  SQLSMALLINT sql_type = 0;
  SQLPOINTER data = p.buffer;
  SQLLEN length = 0;
  SQLLEN* indicator = nullptr;
  switch (v.tag) {
    case VT_FALSE:
    case VT_TRUE:
      c_type = SQL_C_BIT;
      sql_type = SQL_BIT;
      p.buffer[0] = v.tag == VT_TRUE ? 1 : 0;
      length = 1;
      break;
    case VT_NULL:
      c_type = SQL_C_BIT;
      sql_type = SQL_BIT;
      data = nullptr;
      p.indicator = SQL_NULL_DATA;
      indicator = &p.indicator;
      break;
    case VT_INTEGER:
      if (v.integer.value >= INT32_MIN && v.integer.value <= INT32_MAX) {
        c_type = SQL_C_DOUBLE;
        sql_type = SQL_DOUBLE;
        double d = static_cast<double>(v.integer.value);
        std::memcpy(p.buffer, &d, sizeof d);
      } else {
        c_type = SQL_C_SBIGINT;
        sql_type = SQL_BIGINT;
        std::memcpy(p.buffer, &v.integer.value, sizeof v.integer.value);
      }
      length = 8;
      break;
    case VT_NUMERIC:
      c_type = SQL_C_DOUBLE;
      sql_type = SQL_DOUBLE;
      std::memcpy(p.buffer, &v.numeric.value, sizeof v.numeric.value);
      length = 8;
      break;
    case VT_MONEY: {
      std::string text = money_text(v.money);
      v.release(stack);
      v.set_string(String(text.data(), text.size(), Charset::ascii));
      c_type = SQL_C_CHAR;
      sql_type = SQL_VARCHAR;
      data = const_cast<char*>(v.string.read());
      p.indicator = static_cast<SQLLEN>(v.string.size());
      indicator = &p.indicator;
      break;
    }
    case VT_DATE: {
      c_type = SQL_C_TYPE_DATE;
      sql_type = SQL_TYPE_DATE;
      length = sizeof(SQL_DATE_STRUCT);
      if (v.date.day == 0) {
        p.indicator = SQL_NULL_DATA;
        indicator = &p.indicator;
        break;
      }
      int y = 0, m = 0, d = 0;
      unserial_julian_date(v.date, &y, &m, &d);
      SQL_DATE_STRUCT date{static_cast<SQLSMALLINT>(y), static_cast<SQLUSMALLINT>(m), static_cast<SQLUSMALLINT>(d)};
      std::memcpy(p.buffer, &date, sizeof date);
      break;
    }
    case VT_DATETIME: {
      c_type = SQL_C_TYPE_TIMESTAMP;
      sql_type = SQL_TYPE_TIMESTAMP;
      length = sizeof(SQL_TIMESTAMP_STRUCT);
      if (v.datetime.day == 0) {
        p.indicator = SQL_NULL_DATA;
        indicator = &p.indicator;
        break;
      }
      int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
      unserial_julian_date(v.datetime, &y, &mo, &d, &h, &mi, &s, &ms);
      SQL_TIMESTAMP_STRUCT ts{static_cast<SQLSMALLINT>(y), static_cast<SQLUSMALLINT>(mo), static_cast<SQLUSMALLINT>(d),
                              static_cast<SQLUSMALLINT>(h), static_cast<SQLUSMALLINT>(mi), static_cast<SQLUSMALLINT>(s),
                              static_cast<SQLUINTEGER>(ms) * 1000000u};
      std::memcpy(p.buffer, &ts, sizeof ts);
      break;
    }
    case VT_STRING:
      if (v.string.get_charset() == Charset::binary) {
        c_type = SQL_C_BINARY;
        sql_type = SQL_VARBINARY;
      } else {
        if (v.string.get_charset() != Charset::utf16le) {
          String wide = v.string;
          wide.convert(Charset::utf16le, CON_NONE, 0);
          v.release(stack);
          v.set_string(wide);
        }
        c_type = SQL_C_WCHAR;
        sql_type = SQL_WVARCHAR;
      }
      data = const_cast<char*>(v.string.read());
      p.indicator = static_cast<SQLLEN>(v.string.size());
      indicator = &p.indicator;
      break;
    default:
      throw RuntimeError(1001);
  }
  static_assert(sizeof(SQL_TIMESTAMP_STRUCT) <= sizeof(sql_bound_parameter_st::buffer), "the buffer holds a timestamp");
  return SQLBindParameter(handle, number, SQL_PARAM_INPUT, c_type, sql_type, 0, 0, data, length, indicator);
}

}  // namespace

SQLRETURN _sql_bind_parameters(VmStack* stack, SqlStatement* statement) {
  QZ_TRACE;
  if (statement->bound) throw_assert_failed();
  statement->bound = std::make_unique<sql_bound_parameter_st[]>(statement->operands.size());
  statement->bound_count = statement->operands.size();
  SQLUSMALLINT number = 1;
  for (const prepared_operand_st& operand : statement->operands) {
    sql_bound_parameter_st& p = statement->bound[number - 1];
    execute_expression(stack, operand.program, &p.value);
    SQLRETURN rc = bind_one(stack, statement->handle, number, p);
    if (!SQL_SUCCEEDED(rc)) return rc;
    ++number;
  }
  return SQL_SUCCESS;
}

namespace {

// True when an optional argument carries a value (not absent, null or an object reference
// without an object).
bool given(VmStack* stack, size_t argc, size_t n) {
  if (argc < n) return false;
  const Variant* v = argument_value(stack, n);
  return v->tag != VT_NULL && !v->is_empty_object_reference();
}

// Every way out of an execution leaves the statement without bound parameters and without an
// open cursor, unless the result loop keeps further results for SQLMORERESULTS.
class ExecutionGuard {
 public:
  ExecutionGuard(VmStack* stack, SqlStatement* statement) : stack_(stack), statement_(statement) {}
  ~ExecutionGuard() {
    if (statement_->bound) statement_->reset_params(stack_);
    if (!keep_cursor_) SQLFreeStmt(statement_->handle, SQL_CLOSE);
  }
  ExecutionGuard(const ExecutionGuard&) = delete;
  ExecutionGuard& operator=(const ExecutionGuard&) = delete;
  void keep_cursor() { keep_cursor_ = true; }

 private:
  VmStack* stack_;
  SqlStatement* statement_;
  bool keep_cursor_ = false;
};

SQLINTEGER units_of(const String& wide) { return static_cast<SQLINTEGER>(wide.size() / 2); }

SQLWCHAR* wide_text(const String& wide) { return reinterpret_cast<SQLWCHAR*>(const_cast<char*>(wide.read())); }

// The statement's text in UTF-8, for a driver that reads text only through the narrow calls.
std::string narrow_text(const SqlStatement* statement) {
  String narrow = statement->text;
  narrow.convert(Charset::utf8, CON_NONE, 0);
  return std::string(narrow.read(), narrow.size());
}

SQLCHAR* narrow_chars(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

SQLRETURN prepare(SqlStatement* statement) {
  if (statement->connection->narrow_text) {
    std::string text = narrow_text(statement);
    return SQLPrepare(statement->handle, narrow_chars(text), static_cast<SQLINTEGER>(text.size()));
  }
  return SQLPrepareW(statement->handle, wide_text(statement->text), units_of(statement->text));
}

SQLRETURN execute_direct(SqlStatement* statement) {
  if (statement->connection->narrow_text) {
    std::string text = narrow_text(statement);
    return SQLExecDirect(statement->handle, narrow_chars(text), static_cast<SQLINTEGER>(text.size()));
  }
  return SQLExecDirectW(statement->handle, wide_text(statement->text), units_of(statement->text));
}

}  // namespace

// SQLPREPARE(handle, text [, cursor name]).
void bi_sqlprepare(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  SqlStatementInUse held(stack, integer_argument(stack, 1));
  SqlStatement* statement = held.get();
  String text = string_argument(stack, 2);
  SQLFreeStmt(statement->handle, SQL_CLOSE);  // results a batch left pending
  statement->prepared = false;
  statement->reset_prepare();
  statement->text = String();
  statement->text = _sql_prepare_bind(stack, text, &statement->operands);
  SQLRETURN rc = prepare(statement);
  if (SQL_SUCCEEDED(rc)) {
    statement->prepared = true;
    result->set_integer(1);
    return;
  }
  _sql_log_diag_rec(stack, static_cast<size_t>(statement->id), SQL_HANDLE_STMT, statement->handle);
  result->set_integer(-1);
}

// SQLEXEC(handle [, text [, cursor name [, @info]]]).
void bi_sqlexec(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  SqlStatementInUse held(stack, integer_argument(stack, 1));
  SqlStatement* statement = held.get();
  SQLFreeStmt(statement->handle, SQL_CLOSE);  // results a batch left pending
  if (given(stack, argc, 2)) {
    String text = string_argument(stack, 2);
    statement->reset_prepare();
    statement->prepared = false;
    statement->text = String();
    statement->text = _sql_prepare_bind(stack, text, &statement->operands);
  } else if (!statement->prepared) {
    throw RuntimeError(1472);
  }
  if (statement->text.get_charset() != Charset::utf16le) throw_assert_failed();
  ExecutionGuard guard(stack, statement);
  auto fail = [&] {
    _sql_log_diag_rec(stack, static_cast<size_t>(statement->id), SQL_HANDLE_STMT, statement->handle);
    result->set_integer(-1);
  };
  if (!statement->operands.empty() && !SQL_SUCCEEDED(_sql_bind_parameters(stack, statement))) {
    fail();
    return;
  }
  SQLRETURN rc = statement->prepared ? SQLExecute(statement->handle) : execute_direct(statement);
  // SQL_NO_DATA: a statement that touched no row (an UPDATE or DELETE matching nothing).
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    fail();
    return;
  }
  if (!SQL_SUCCEEDED(statement->reset_params(stack))) {
    fail();
    return;
  }
  const bool named = given(stack, argc, 3);
  String name = named ? string_argument(stack, 3) : String();
  Variant* info = argc >= 4 ? Param(stack, 4) : nullptr;
  int64_t n = sql_result_loop(stack, statement, named ? &name : nullptr, info, rc == SQL_NO_DATA);
  if (n > 0) guard.keep_cursor();
  result->set_integer(static_cast<long>(n));
}

}  // namespace qzbase
