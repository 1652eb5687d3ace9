// sql.h - SQL pass-through over ODBC: connections, statements (handles), parameters, execution
// and result sets.
//
// A handle is one ODBC statement on one ODBC connection; several handles may share a connection.
// The runtime's SqlSingleton (registry.h) keeps every handle by id. Lock order: the process-wide
// SQL map lock (only to find the singleton), the singleton's lock, a statement's lock, its
// connection's lock. A statement's lock is held for a whole SQLPREPARE, SQLEXEC or SQLMORERESULTS.
#pragma once

#include <qzbase.h>
#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>

#include "builtins/registry.h"
#include "builtins/sql_functions.h"

namespace qzbase {

class Operand;
class Program;
struct SqlConnection;

// One "?" parameter of a statement's text: the expression after it, parsed and compiled.
struct prepared_operand_st {
  const Operand* operand;  // owned
  const Program* program;  // owned
};

// One bound parameter: the value and the buffer handed to the driver (both must stay put until
// the parameters are reset).
struct sql_bound_parameter_st {
  Variant value;
  SQLLEN indicator = 0;
  alignas(8) unsigned char buffer[16] = {};
};

// What a handle stands for.
struct SqlStatement {
  SqlStatement(SQLHSTMT handle, int64_t id, SqlConnection* connection)
      : handle(handle), id(id), connection(connection) {}
  ~SqlStatement();  // reset_prepare (the ODBC statement is freed by whoever deletes it)
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  // Drops the operands and any bound parameters.
  void reset_prepare();
  // SQL_RESET_PARAMS, then the bound values released; the ODBC return code.
  SQLRETURN reset_params(VmStack* stack);

  std::shared_mutex lock;
  SQLHSTMT handle;
  int64_t id;
  SqlConnection* connection;
  bool prepared = false;
  std::list<prepared_operand_st> operands;
  std::unique_ptr<sql_bound_parameter_st[]> bound;  // one per operand while bound
  size_t bound_count = 0;
  String text;  // UTF-16LE, as sent to the driver
};

struct SqlConnection {
  SqlConnection(SqlSingleton* owner, SQLHDBC handle, bool shared) : owner(owner), handle(handle), shared(shared) {}

  std::map<int64_t, SqlStatement*> statements;  // the handles on this connection
  SqlSingleton* owner;
  std::shared_mutex lock;
  SQLHDBC handle;
  bool batch_mode = true;
  bool shared;
  // The driver reads statement text only through the narrow entry points, as UTF-8: the text
  // goes that way instead of through the driver manager's narrowing of wide text, which loses
  // everything beyond ASCII. Fixed when the connection opens.
  bool narrow_text = false;
};

// The target of a result set: a table (a cursor) with the given fields, filled row by row. The
// calls mirror those the table object takes for an append.
class SqlCursor {
 public:
  virtual ~SqlCursor() = default;
  virtual void begin_append() = 0;
  virtual void set_field_null(size_t field) = 0;
  virtual void set_field_string(size_t field, const String& value) = 0;
  virtual void set_field_integer(size_t field, int64_t value) = 0;
  virtual void set_field_money(size_t field, const money_type_st& value) = 0;
  virtual void set_field_date(size_t field, date_st value) = 0;
  virtual void set_field_datetime(size_t field, datetime_st value) = 0;
  virtual void set_field_numeric(size_t field, const numeric_type_st& value) = 0;
  virtual void set_field_bool(size_t field, bool value) = 0;
  virtual void update() = 0;  // commits the appended record
  virtual void movefirst() = 0;
};

// Creates the cursor alias in the stack's current data session (closing an open one of that
// alias first), in memory, with the fields (count of them), and makes it the current work area.
SqlCursor* create_sql_cursor(VmStack* stack, const String& alias, const fielddef_st* fields, size_t count);

// The statement of a handle id; RuntimeError 1466 for a negative or unknown id. The caller holds
// the singleton's lock.
SqlStatement* sql_handle_by_id(SqlSingleton* sql, int64_t id);

// Whether the driver of an open connection reads statement text only through the narrow entry
// points (sql_connections.cpp).
bool sql_driver_reads_narrow_text(SQLHENV environment, SQLHDBC connection);

// A text the driver manager answered both as UTF-16 (units) and narrow (bytes), in UTF-8. A driver
// without wide entry points answers narrow in UTF-8, and the manager widens that byte by byte
// (its conversion follows the process's locale, which a library leaves alone): then the wide form
// is the narrow bytes one to one and the narrow form is the true text. Otherwise the wide form
// is. narrow_cut: the narrow form filled its buffer (it may end inside a character).
std::string sql_driver_text(const SQLWCHAR* wide, size_t units, const char* narrow, size_t bytes, bool narrow_cut);

// Records the first diagnostic record of an ODBC handle as the stack's error list (1526).
void _sql_log_diag_rec(VmStack* stack, size_t handle_id, SQLSMALLINT handle_type, SQLHANDLE handle);

// Allocates a statement on the connection under a new id, entering it in the singleton's and the
// connection's maps; on failure records the connection's diagnostics under the id (used up either
// way). The ODBC return code.
SQLRETURN sql_allocate_statement(VmStack* stack, SqlSingleton* sql, SqlConnection* connection, SqlStatement** out);

// Closes every handle and connection of the singleton (the runtime is going away).
void sql_close_all(SqlSingleton* sql);

// The statement of argument 1, found under the singleton's shared lock and held under its own
// exclusive lock until the end of the scope.
class SqlStatementInUse {
 public:
  SqlStatementInUse(VmStack* stack, int64_t id);
  ~SqlStatementInUse() { statement_->lock.unlock(); }
  SqlStatementInUse(const SqlStatementInUse&) = delete;
  SqlStatementInUse& operator=(const SqlStatementInUse&) = delete;
  SqlStatement* get() const { return statement_; }

 private:
  SqlStatement* statement_ = nullptr;
};

// Parameters and execution.
String _sql_prepare_bind(VmStack* stack, const String& text, std::list<prepared_operand_st>* operands);
SQLRETURN _sql_bind_parameters(VmStack* stack, SqlStatement* statement);

// Result sets.
SQLRETURN _sql_map_columns(SQLHSTMT statement, std::unique_ptr<fielddef_st[]>* fields, size_t* count);
SQLRETURN _sql_fetch_records(VmStack* stack, SQLHSTMT statement, const fielddef_st* fields, size_t count,
                             SqlCursor* cursor);
// The result loop after a successful execution: the number of result sets with columns (at least
// 1), or -1 after recording a failure. info, when not null, receives the (alias, rows) array.
// no_data: the execution answered SQL_NO_DATA (one result without columns and without rows).
int64_t sql_result_loop(VmStack* stack, SqlStatement* statement, const String* cursor_name, Variant* info,
                        bool no_data);

}  // namespace qzbase
