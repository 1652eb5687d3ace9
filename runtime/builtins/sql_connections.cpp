// sql_connections.cpp - SQL connections and handles: SQLCONNECT, SQLSTRINGCONNECT, SQLDISCONNECT,
// ASQLHANDLES, SQLGETPROP, SQLSETPROP, the recording of ODBC diagnostics and the closing of
// everything when the runtime goes.
//
// Mended:
// - A connection whose first statement could not be allocated was left connected and out of
//   reach: it is disconnected and freed before -1 is returned.
// - Diagnostic texts beyond ASCII from a driver without wide entry points came back damaged: the
//   driver manager widens its UTF-8 message byte by byte. The narrow form is read too and taken
//   when the wide one is its bytes widened.
// - Statement text beyond ASCII reached a driver without wide entry points damaged (the manager
//   narrows it through UCS-2 and the locale's character set, else drops each unit's high byte):
//   such a connection is marked and its statements go through the narrow calls as UTF-8.
#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/sql.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

SqlSingleton* singleton_of(VmStack* stack) { return find_sql_singleton(stack->get_runtime()); }

String utf8(const std::string& text) { return String(text.data(), text.size(), Charset::utf8); }

// UTF-16 units of a driver into a UTF-8 String.
String from_wide(const SQLWCHAR* text, size_t units) {
  String s(reinterpret_cast<const char*>(text), units * sizeof(SQLWCHAR), Charset::utf16le);
  s.convert(Charset::utf8, CON_NONE, 0);
  return s;
}

std::u16string to_wide(const String& text) { return text.u16str(); }

SQLRETURN allocate_statement_handle(SqlSingleton* sql, SQLHDBC connection, SQLHSTMT* out) {
  if (sql->allocate_statement_handle != nullptr) {
    void* handle = nullptr;
    SQLRETURN rc = sql->allocate_statement_handle(connection, &handle);
    *out = handle;
    return rc;
  }
  return SQLAllocHandle(SQL_HANDLE_STMT, connection, out);
}

// Frees the ODBC statement and the handle's state. A statement the driver refuses to free is a
// broken invariant, reported unless the runtime is going away (then nothing could catch it).
void free_statement(SqlStatement* statement, bool check = true) {
  SQLRETURN rc = SQLFreeHandle(SQL_HANDLE_STMT, statement->handle);
  delete statement;
  if (check && !SQL_SUCCEEDED(rc)) throw_assert_failed();
}

void free_connection(SqlConnection* connection, bool check = true) {
  SQLDisconnect(connection->handle);
  SQLRETURN rc = SQLFreeHandle(SQL_HANDLE_DBC, connection->handle);
  delete connection;
  if (check && !SQL_SUCCEEDED(rc)) throw_assert_failed();
}

bool valid_utf8(const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    size_t extra = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, code = c & 0x07u;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[i + k] & 0x3Fu);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::string sql_driver_text(const SQLWCHAR* wide, size_t units, const char* narrow, size_t bytes, bool narrow_cut) {
  const auto* n = reinterpret_cast<const unsigned char*>(narrow);
  // A wide answer cut by its buffer may be shorter than the narrow one; it is still its prefix.
  bool widened = units <= bytes;
  bool beyond_ascii = false;
  for (size_t i = 0; widened && i < units; ++i) {
    widened = wide[i] == n[i];
    beyond_ascii = beyond_ascii || n[i] >= 0x80;
  }
  if (widened && beyond_ascii) {
    // A narrow answer cut by its buffer may end inside a character: that character goes.
    size_t end = bytes;
    size_t lead = end;
    while (narrow_cut && lead > 0 && end - lead < 3 && (n[lead - 1] & 0xC0) == 0x80) --lead;
    if (narrow_cut && lead > 0 && n[lead - 1] >= 0xC0) {
      const size_t length = n[lead - 1] >= 0xF0 ? 4 : n[lead - 1] >= 0xE0 ? 3 : 2;
      if (end - (lead - 1) < length) end = lead - 1;
    }
    if (valid_utf8(n, end)) return std::string(narrow, end);
  }
  String s(reinterpret_cast<const char*>(wide), units * sizeof(SQLWCHAR), Charset::utf16le);
  return s.u8str();
}

bool sql_driver_reads_narrow_text(SQLHENV environment, SQLHDBC connection) {
  QZ_TRACE;
  // Only unixODBC answers this attribute; its driver handle is a module of the loader it links,
  // whose lookup tells which entry points the driver has.
  SQLCHAR version[32] = {};
  SQLINTEGER version_length = 0;
  if (!SQL_SUCCEEDED(SQLGetEnvAttr(environment, SQL_ATTR_UNIXODBC_VERSION, version, sizeof version, &version_length)))
    return false;
  using Lookup = void* (*)(void*, const char*);
  static const Lookup lookup = reinterpret_cast<Lookup>(dlsym(RTLD_DEFAULT, "lt_dlsym"));
  if (lookup == nullptr) return false;
  SQLULEN module = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DRIVER_HLIB, &module, sizeof module, nullptr)) || module == 0)
    return false;
  static std::mutex loader;  // the loader keeps its last error in shared state
  std::lock_guard<std::mutex> guard(loader);
  void* driver = reinterpret_cast<void*>(module);
  return lookup(driver, "SQLExecDirect") != nullptr && lookup(driver, "SQLPrepare") != nullptr &&
         lookup(driver, "SQLExecDirectW") == nullptr && lookup(driver, "SQLPrepareW") == nullptr;
}

SqlStatement::~SqlStatement() {
  QZ_TRACE;
  reset_prepare();
}

void _sql_log_diag_rec(VmStack* stack, size_t handle_id, SQLSMALLINT handle_type, SQLHANDLE handle) {
  QZ_TRACE;
  SQLWCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLWCHAR message[1024] = {};
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetDiagRecW(handle_type, handle, 1, state, &native, message, 1024, &length);
  String text;
  String sqlstate;
  if (SQL_SUCCEEDED(rc)) {
    size_t units = length < 0 ? 0 : static_cast<size_t>(length);
    if (units > 1023) units = 1023;  // a longer message comes back cut to the buffer
    SQLCHAR narrow_state[6] = {};
    SQLINTEGER narrow_native = 0;
    SQLCHAR narrow[4096] = {};
    SQLSMALLINT narrow_length = 0;
    size_t bytes = 0;
    bool cut = false;
    if (SQL_SUCCEEDED(SQLGetDiagRec(handle_type, handle, 1, narrow_state, &narrow_native, narrow, sizeof narrow,
                                    &narrow_length))) {
      bytes = narrow_length < 0 ? 0 : std::min(static_cast<size_t>(narrow_length), sizeof narrow - 1);
      cut = narrow_length >= static_cast<SQLSMALLINT>(sizeof narrow);
    }
    text = utf8(sql_driver_text(message, units, reinterpret_cast<const char*>(narrow), bytes, cut));
    size_t state_units = 0;
    while (state_units < 5 && state[state_units] != 0) ++state_units;
    sqlstate = from_wide(state, state_units);
  } else {
    text = String("SQLGetDiagRecW caused a low level ODBC error");
    sqlstate = String("000000");
    native = rc;
  }
  Error e(1526, utf8("Connectivity error: " + text.u8str()), text);
  e.value4.set_string(sqlstate);
  e.value5.set_integer(static_cast<long>(native));
  e.value6.set_integer(static_cast<long>(handle_id));
  e.value7.set_null();
  stack->error(e);
}

SqlStatement* sql_handle_by_id(SqlSingleton* sql, int64_t id) {
  QZ_TRACE;
  auto it = id < 0 ? sql->handles.end() : sql->handles.find(id);
  if (it == sql->handles.end()) throw RuntimeError(1466);
  return it->second;
}

SqlStatementInUse::SqlStatementInUse(VmStack* stack, int64_t id) {
  QZ_TRACE;
  SqlSingleton* sql = singleton_of(stack);
  std::shared_lock<std::shared_mutex> map(sql->lock);
  statement_ = sql_handle_by_id(sql, id);
  statement_->lock.lock();  // before the map lock goes: SQLDISCONNECT cannot free it meanwhile
}

SQLRETURN sql_allocate_statement(VmStack* stack, SqlSingleton* sql, SqlConnection* connection, SqlStatement** out) {
  QZ_TRACE;
  // The caller holds the singleton's lock exclusively.
  int64_t id = sql->next_handle_id++;
  SQLHSTMT handle = SQL_NULL_HSTMT;
  SQLRETURN rc = allocate_statement_handle(sql, connection->handle, &handle);
  if (!SQL_SUCCEEDED(rc)) {
    _sql_log_diag_rec(stack, static_cast<size_t>(id), SQL_HANDLE_DBC, connection->handle);
    return rc;
  }
  auto statement = std::make_unique<SqlStatement>(handle, id, connection);
  sql->handles.emplace(id, statement.get());
  {
    std::unique_lock<std::shared_mutex> lock(connection->lock);
    connection->statements.emplace(id, statement.get());
  }
  *out = statement.release();
  return rc;
}

void sql_close_all(SqlSingleton* sql) {
  QZ_TRACE;
  std::map<int64_t, SqlStatement*> handles;
  {
    std::unique_lock<std::shared_mutex> lock(sql->lock);
    handles.swap(sql->handles);
  }
  for (auto& [id, statement] : handles) {
    // A thread still running a statement finishes it first.
    statement->lock.lock();
    SqlConnection* connection = statement->connection;
    bool last = false;
    {
      std::unique_lock<std::shared_mutex> lock(connection->lock);
      connection->statements.erase(id);
      last = connection->statements.empty();
    }
    statement->lock.unlock();
    free_statement(statement, false);
    if (last) free_connection(connection, false);
  }
}

namespace {

// SQLCONNECT and SQLSTRINGCONNECT from step 2 on: a new connection made by connect(handle), with
// its first statement.
template <class Connect>
void open_connection(VmStack* stack, size_t argc, Variant* result, Connect connect) {
  bool shared = argc >= 2 && argument_value(stack, 2)->tag == VT_TRUE;
  const Variant* source = argument_value(stack, 1);
  if (source->tag != VT_STRING) throw RuntimeError(11);
  std::u16string wide = to_wide(source->string);
  SqlSingleton* sql = singleton_of(stack);
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, static_cast<SQLHENV>(sql->environment_handle()), &dbc))) {
    result->set_integer(-1);
    return;
  }
  SQLRETURN rc = connect(dbc, reinterpret_cast<SQLWCHAR*>(wide.data()));
  if (!SQL_SUCCEEDED(rc)) {
    _sql_log_diag_rec(stack, 0, SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    result->set_integer(-1);
    return;
  }
  auto connection = std::make_unique<SqlConnection>(sql, dbc, shared);
  connection->narrow_text = sql_driver_reads_narrow_text(static_cast<SQLHENV>(sql->environment), dbc);
  SqlStatement* statement = nullptr;
  {
    std::unique_lock<std::shared_mutex> lock(sql->lock);
    rc = sql_allocate_statement(stack, sql, connection.get(), &statement);
  }
  if (!SQL_SUCCEEDED(rc)) {
    // Nothing refers to the connection: it goes at once instead of staying connected unreachable.
    free_connection(connection.release());
    result->set_integer(-1);
    return;
  }
  connection.release();  // owned through its statements from now on
  result->set_integer(static_cast<long>(statement->id));
}

}  // namespace

namespace {

// Drivers may change process-wide state while they connect (the PostgreSQL driver sets and
// restores the C locale), so two language threads connecting at once would race inside the
// driver: connections are made one at a time.
std::mutex& driver_connect_lock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

// SQLCONNECT(source [, shared]) or SQLCONNECT(handle): a new handle on a new connection to a data
// source, or on the connection of an open handle.
void bi_sqlconnect(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const Variant* source = argument_value(stack, 1);
  if (source->tag == VT_INTEGER || source->tag == VT_NUMERIC || source->tag == VT_MONEY) {
    int64_t id = integer_argument(stack, 1);
    SqlSingleton* sql = singleton_of(stack);
    std::unique_lock<std::shared_mutex> lock(sql->lock);
    SqlStatement* other = sql_handle_by_id(sql, id);
    SqlStatement* statement = nullptr;
    SQLRETURN rc = sql_allocate_statement(stack, sql, other->connection, &statement);
    result->set_integer(SQL_SUCCEEDED(rc) ? static_cast<long>(statement->id) : -1L);
    return;
  }
  open_connection(stack, argc, result, [](SQLHDBC dbc, SQLWCHAR* name) {
    std::lock_guard<std::mutex> guard(driver_connect_lock());
    return SQLConnectW(dbc, name, SQL_NTS, nullptr, 0, nullptr, 0);
  });
}

// SQLSTRINGCONNECT(connection string [, shared]).
void bi_sqlstringconnect(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  open_connection(stack, argc, result, [](SQLHDBC dbc, SQLWCHAR* text) {
    SQLWCHAR out[2048];
    SQLSMALLINT out_length = 0;
    std::lock_guard<std::mutex> guard(driver_connect_lock());
    return SQLDriverConnectW(dbc, nullptr, text, SQL_NTS, out, 2048, &out_length, SQL_DRIVER_NOPROMPT);
  });
}

// SQLDISCONNECT(handle): the handle goes; the last handle of a connection disconnects it.
void bi_sqldisconnect(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  int64_t id = integer_argument(stack, 1);
  SqlSingleton* sql = singleton_of(stack);
  SqlStatement* statement = nullptr;
  {
    std::unique_lock<std::shared_mutex> lock(sql->lock);
    statement = sql_handle_by_id(sql, id);
    sql->handles.erase(id);
  }
  // Out of the map, nobody finds it any more; a call that holds it still ends first.
  SqlConnection* connection = statement->connection;
  bool last = false;
  statement->lock.lock();
  {
    std::unique_lock<std::shared_mutex> lock(connection->lock);
    connection->statements.erase(id);
    last = connection->statements.empty();
  }
  statement->lock.unlock();
  free_statement(statement);
  if (last) free_connection(connection);
  result->set_integer(0);
}

// ASQLHANDLES(@array [, handle]): the ids of every handle, or of those sharing handle's connection.
void bi_asqlhandles(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  SqlSingleton* sql = singleton_of(stack);
  std::vector<int64_t> ids;
  {
    std::shared_lock<std::shared_mutex> lock(sql->lock);
    if (has_argument(stack, argc, 2)) {
      SqlConnection* connection = sql_handle_by_id(sql, integer_argument(stack, 2))->connection;
      std::shared_lock<std::shared_mutex> connection_lock(connection->lock);
      for (const auto& entry : connection->statements) ids.push_back(entry.first);
    } else {
      for (const auto& entry : sql->handles) ids.push_back(entry.first);
    }
  }
  Array* array = Param(stack, 1)->dimension(stack, ids.size(), 0);
  for (size_t i = 0; i < ids.size(); ++i) array->write(stack, i + 1)->set_integer(static_cast<long>(ids[i]));
  result->set_integer(static_cast<long>(ids.size()));
}

namespace {

enum class SqlProperty { shared, batchmode, odbchdbc, odbchstmt, other };

SqlProperty property_of(VmStack* stack, const String& name) {
  Symtable* symbols = stack->get_symtable();
  symbol_id_type id = symbols->symbolize(name);
  if (id == symbols->symbolize("SHARED")) return SqlProperty::shared;
  if (id == symbols->symbolize("BATCHMODE")) return SqlProperty::batchmode;
  if (id == symbols->symbolize("ODBCHDBC")) return SqlProperty::odbchdbc;
  if (id == symbols->symbolize("ODBCHSTMT")) return SqlProperty::odbchstmt;
  return SqlProperty::other;
}

}  // namespace

// SQLGETPROP(handle, name).
void bi_sqlgetprop(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  SqlSingleton* sql = singleton_of(stack);
  std::shared_lock<std::shared_mutex> lock(sql->lock);
  SqlStatement* statement = sql_handle_by_id(sql, integer_argument(stack, 1));
  SqlProperty property = property_of(stack, string_argument(stack, 2));
  SqlConnection* connection = statement->connection;
  std::shared_lock<std::shared_mutex> connection_lock(connection->lock);
  switch (property) {
    case SqlProperty::shared: result->set_bool(connection->shared); break;
    case SqlProperty::batchmode: result->set_bool(connection->batch_mode); break;
    case SqlProperty::odbchdbc: result->set_integer(static_cast<long>(reinterpret_cast<intptr_t>(connection->handle))); break;
    case SqlProperty::odbchstmt: result->set_integer(static_cast<long>(reinterpret_cast<intptr_t>(statement->handle))); break;
    case SqlProperty::other: throw RuntimeError(1001);
  }
}

// SQLSETPROP(handle, name, value): only BATCHMODE can be set; it holds for the whole connection.
void bi_sqlsetprop(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  SqlSingleton* sql = singleton_of(stack);
  std::shared_lock<std::shared_mutex> lock(sql->lock);
  SqlStatement* statement = sql_handle_by_id(sql, integer_argument(stack, 1));
  SqlProperty property = property_of(stack, string_argument(stack, 2));
  switch (property) {
    case SqlProperty::shared: throw RuntimeError(1533);
    case SqlProperty::batchmode: {
      const Variant* v = argument_value(stack, 3);
      if (v->tag != VT_TRUE && v->tag != VT_FALSE) throw RuntimeError(11);
      bool value = v->tag == VT_TRUE;
      std::unique_lock<std::shared_mutex> connection_lock(statement->connection->lock);
      statement->connection->batch_mode = value;
      break;
    }
    default: throw RuntimeError(1001);
  }
}

}  // namespace qzbase
