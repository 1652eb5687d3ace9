// odbc.cpp - the ODBC functions the runtime calls, forwarded to the driver manager, which is
// opened on the first of them (see loaded_library.h). The declarations come from the driver
// manager's own headers, so a definition here that strays from them does not compile. A function
// the runtime starts to call needs its line here: the library is linked with no undefined symbols
// left, so a missing one fails the build.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "dynload/loaded_library.h"

#ifndef QZ_ODBC_LIBRARY
#define QZ_ODBC_LIBRARY "libodbc.so.2"
#endif

namespace qzbase {

LoadedLibrary& odbc_library() {
  static LoadedLibrary library(QZ_ODBC_LIBRARY);
  return library;
}

}  // namespace qzbase

#define QZ_ODBC_FORWARD(name, params, args)                                         \
  extern "C" SQLRETURN SQL_API name params {                                         \
    static std::atomic<decltype(&::name)> slot{nullptr};                            \
    return ::qzbase::loaded_function(::qzbase::odbc_library(), slot, #name) args;  \
  }

QZ_ODBC_FORWARD(SQLAllocHandle, (SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output), (type, input, output))
QZ_ODBC_FORWARD(SQLFreeHandle, (SQLSMALLINT type, SQLHANDLE handle), (type, handle))
QZ_ODBC_FORWARD(SQLSetEnvAttr, (SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
                (env, attribute, value, length))
QZ_ODBC_FORWARD(SQLConnectW,
                (SQLHDBC dbc, SQLWCHAR* dsn, SQLSMALLINT dsn_length, SQLWCHAR* uid, SQLSMALLINT uid_length,
                 SQLWCHAR* auth, SQLSMALLINT auth_length),
                (dbc, dsn, dsn_length, uid, uid_length, auth, auth_length))
QZ_ODBC_FORWARD(SQLDriverConnectW,
                (SQLHDBC dbc, SQLHWND window, SQLWCHAR* in, SQLSMALLINT in_length, SQLWCHAR* out,
                 SQLSMALLINT out_max, SQLSMALLINT* out_length, SQLUSMALLINT completion),
                (dbc, window, in, in_length, out, out_max, out_length, completion))
QZ_ODBC_FORWARD(SQLDisconnect, (SQLHDBC dbc), (dbc))
QZ_ODBC_FORWARD(SQLPrepareW, (SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length), (stmt, text, length))
QZ_ODBC_FORWARD(SQLExecDirectW, (SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length), (stmt, text, length))
QZ_ODBC_FORWARD(SQLExecute, (SQLHSTMT stmt), (stmt))
QZ_ODBC_FORWARD(SQLBindParameter,
                (SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT io_type, SQLSMALLINT c_type,
                 SQLSMALLINT sql_type, SQLULEN column_size, SQLSMALLINT digits, SQLPOINTER value,
                 SQLLEN value_max, SQLLEN* indicator),
                (stmt, number, io_type, c_type, sql_type, column_size, digits, value, value_max, indicator))
QZ_ODBC_FORWARD(SQLNumResultCols, (SQLHSTMT stmt, SQLSMALLINT* count), (stmt, count))
QZ_ODBC_FORWARD(SQLColAttributeW,
                (SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT text_max,
                 SQLSMALLINT* text_length, SQLLEN* number),
                (stmt, column, field, text, text_max, text_length, number))
QZ_ODBC_FORWARD(SQLFetch, (SQLHSTMT stmt), (stmt))
QZ_ODBC_FORWARD(SQLGetData,
                (SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value, SQLLEN value_max,
                 SQLLEN* indicator),
                (stmt, column, c_type, value, value_max, indicator))
QZ_ODBC_FORWARD(SQLRowCount, (SQLHSTMT stmt, SQLLEN* count), (stmt, count))
QZ_ODBC_FORWARD(SQLMoreResults, (SQLHSTMT stmt), (stmt))
QZ_ODBC_FORWARD(SQLFreeStmt, (SQLHSTMT stmt, SQLUSMALLINT option), (stmt, option))
QZ_ODBC_FORWARD(SQLGetDiagRecW,
                (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLWCHAR* state, SQLINTEGER* native,
                 SQLWCHAR* text, SQLSMALLINT text_max, SQLSMALLINT* text_length),
                (type, handle, record, state, native, text, text_max, text_length))
// Drivers without wide entry points get their text narrow, in UTF-8 (sql_connections.cpp).
QZ_ODBC_FORWARD(SQLGetEnvAttr,
                (SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER value_max, SQLINTEGER* length),
                (env, attribute, value, value_max, length))
QZ_ODBC_FORWARD(SQLGetInfo,
                (SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT value_max, SQLSMALLINT* length),
                (dbc, type, value, value_max, length))
QZ_ODBC_FORWARD(SQLGetDiagRec,
                (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state, SQLINTEGER* native,
                 SQLCHAR* text, SQLSMALLINT text_max, SQLSMALLINT* text_length),
                (type, handle, record, state, native, text, text_max, text_length))
QZ_ODBC_FORWARD(SQLColAttribute,
                (SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT text_max,
                 SQLSMALLINT* text_length, SQLLEN* number),
                (stmt, column, field, text, text_max, text_length, number))
QZ_ODBC_FORWARD(SQLPrepare, (SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length), (stmt, text, length))
QZ_ODBC_FORWARD(SQLExecDirect, (SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length), (stmt, text, length))
