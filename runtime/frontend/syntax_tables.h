// syntax_tables.h - the statement and command tables of the syntax tree.
//
// The statement kinds (StatementTypes, 117 rows), the command table (63 rows: statement kind,
// built-in command name, option grammar), the column type codes and the external type codes of
// DECLARE, all as constant data. The command table is the program's one copy of the command names
// and option grammars.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qzbase {

// The statement kinds 0 to 116. Kinds 57 and 67 are never produced.
enum StatementTypes : uint32_t {
  STMT_INVALID = 0,
  STMT_PRAGMA = 1,
  STMT_ADD_COLUMN = 2,
  STMT_APPEND = 3,
  STMT_ASSERT = 4,
  STMT_ASSIGN = 5,
  STMT_BEGIN_TRANSACTION = 6,
  STMT_BROWSE = 7,
  STMT_CANCEL = 8,
  STMT_CASE = 9,
  STMT_CATCH = 10,
  STMT_CD = 11,
  STMT_CLEAR = 12,
  STMT_CONTINUE = 13,
  STMT_COPY_TO = 14,
  STMT_CREATE_TABLE = 15,
  STMT_DECLARE = 16,
  STMT_DEFINE = 17,
  STMT_DELETE_ALL_TAGS = 18,
  STMT_DELETE_FILE = 19,
  STMT_DELETE_TAG = 20,
  STMT_DELETE_RECORD = 21,
  STMT_DIMENSION = 22,
  STMT_DISPLAY_STRUCTURE = 23,
  STMT_DO = 24,
  STMT_DOCASE = 25,
  STMT_DROP_COLUMN = 26,
  STMT_DROP_TABLE = 27,
  STMT_DOWHILE = 28,
  STMT_ECHO = 29,
  STMT_ELSE = 30,
  STMT_END_TRANSACTION = 31,
  STMT_ENDCASE = 32,
  STMT_ENDDEFINE = 33,
  STMT_ENDDO = 34,
  STMT_ENDFOR = 35,
  STMT_ENDFUNC = 36,
  STMT_ENDIF = 37,
  STMT_ENDSCAN = 38,
  STMT_ENDTEXT = 39,
  STMT_ENDTRY = 40,
  STMT_ENDWITH = 41,
  STMT_ERROR = 42,
  STMT_EXIT = 43,
  STMT_EXTERNAL_ARRAY = 44,
  STMT_FINALLY = 45,
  STMT_FOR = 46,
  STMT_FOR_EACH = 47,
  STMT_FUNCTION = 48,
  STMT_GATHER_FROM = 49,
  STMT_GATHER_MEMVAR = 50,
  STMT_GATHER_NAME = 51,
  STMT_GO_BOTTOM = 52,
  STMT_GO_RECORD = 53,
  STMT_GO_TOP = 54,
  STMT_HIDDEN = 55,
  STMT_IF = 56,
  STMT_UNUSED_57 = 57,
  STMT_IMPORT = 58,
  STMT_INDEX = 59,
  STMT_INCOMPLETE = 60,
  STMT_LOCAL = 61,
  STMT_LOCATE = 62,
  STMT_LOOP = 63,
  STMT_LPARAMETERS = 64,
  STMT_MKDIR = 65,
  STMT_MODIFY_COMMAND = 66,
  STMT_UNUSED_67 = 67,
  STMT_OTHERWISE = 68,
  STMT_PACK = 69,
  STMT_PARAMETERS = 70,
  STMT_PRIVATE_VARLIST = 71,
  STMT_PRIVATE_PATTERN = 72,
  STMT_PROTECTED = 73,
  STMT_PUBLIC = 74,
  STMT_QUIT = 75,
  STMT_RECALL_RECORD = 76,
  STMT_REINDEX = 77,
  STMT_RENAME_TABLE = 78,
  STMT_REPLACE = 79,
  STMT_RETURN = 80,
  STMT_ROLLBACK = 81,
  STMT_RUN = 82,
  STMT_SCAN = 83,
  STMT_SCATTER_MEMVAR = 84,
  STMT_SCATTER_NAME = 85,
  STMT_SCATTER_TO = 86,
  STMT_SEEK = 87,
  STMT_SELECT = 88,
  STMT_SET = 89,
  STMT_SET_CENTURY_TO = 90,
  STMT_SET_DATASESSION_TO = 91,
  STMT_SET_DATE_TO = 92,
  STMT_SET_FDOW_TO = 93,
  STMT_SET_FILTER_TO = 94,
  STMT_SET_HOURS_TO = 95,
  STMT_SET_LIBRARY_TO = 96,
  STMT_SET_ORDER_TO = 97,
  STMT_SET_PATH_TO = 98,
  STMT_SET_POINT_TO = 99,
  STMT_SET_PROCEDURE_TO = 100,
  STMT_SET_SECONDS_TO = 101,
  STMT_SET_SEPARATOR_TO = 102,
  STMT_SET_SYSFORMATS_TO = 103,
  STMT_SET_TEXTMERGE_TO = 104,
  STMT_SKIP = 105,
  STMT_STORE = 106,
  STMT_SUSPEND = 107,
  STMT_TEXT = 108,
  STMT_TEXT_LINE = 109,
  STMT_THROW = 110,
  STMT_TRY = 111,
  STMT_UNLOCK = 112,
  STMT_USE = 113,
  STMT_WAIT = 114,
  STMT_WITH = 115,
  STMT_ZAP = 116,};

constexpr size_t kStatementKindCount = 117;

// One row of the statement-kind table. node_class is null for the unused kinds 57 and 67;
// compiled_by names the statement compiler registered for the kind, null for
// "none". The table's command column is the command table below (find_command).
struct statement_kind_row_st {
  uint32_t kind;
  const char* node_class;
  const char* source_form;
  const char* compiled_by;
};
// Indexed by kind: statement_kind_table[k].kind == k.
extern const statement_kind_row_st statement_kind_table[kStatementKindCount];

// One row of the command table.
struct basic_command_st {
  uint32_t kind;        // StatementTypes
  const char* name;     // the built-in command's name (called as void_stackcall_<name>)
  const char* grammar;  // the option grammar, possibly empty
};

// A command's argument signature (the built-in library's command rows) must take exactly the
// arguments its grammar yields; tests/frontend checks all 63 rows. "gather_name" has the
// signature "IO", not "O": "(memo),name" yields two arguments (the flag mask, then the object).
constexpr size_t kCommandTableSize = 63;
// In the library's command order (the statement codes index it); no terminating row.
extern const basic_command_st command_table[kCommandTableSize];

// The command row of a statement kind, or null (a map built once, thread-safe, read-only after).
const basic_command_st* find_command(uint32_t kind);

// Column type codes of CREATE TABLE, CREATE CURSOR and ADD COLUMN.
enum ColumnType : uint32_t {
  COLUMN_BLOB = 1,       // W, BLOB
  COLUMN_CHAR = 2,       // C, CHAR
  COLUMN_INTEGER = 3,    // I, INTEGER
  COLUMN_CURRENCY = 4,   // Y, CURRENCY
  COLUMN_DATE = 5,       // D, DATE
  COLUMN_DATETIME = 6,   // T, DATETIME
  COLUMN_DOUBLE = 7,     // B, DOUBLE
  COLUMN_GENERAL = 8,    // G, GENERAL
  COLUMN_LOGICAL = 9,    // L, LOGICAL
  COLUMN_MEMO = 10,      // M, MEMO
  COLUMN_NUMERIC = 11,   // N, NUMERIC
  COLUMN_FLOAT = 12,     // F, FLOAT
  COLUMN_VARBINARY = 13, // Q, VARBINARY
  COLUMN_VARCHAR = 14,   // V, VARCHAR
};

struct column_type_row_st {
  uint32_t code;
  const char* letter;
  const char* word;
};
constexpr size_t kColumnTypeCount = 14;
extern const column_type_row_st column_type_table[kColumnTypeCount];

// Column attribute option names: flags and valued options.
extern const char* const column_flag_option_names[4];    // NOCPTRANS, AUTOINC, NULL, NOT
extern const char* const column_valued_option_names[2];  // NEXTVALUE, STEP

// External type codes of DECLARE (return type and parameter entries).
enum ExternalType : uint32_t {
  EXTERNAL_NONE = 0,
  EXTERNAL_SHORT = 1,
  EXTERNAL_INTEGER = 2,  // INTEGER or LONG
  EXTERNAL_LONG_LONG = 3,
  EXTERNAL_SINGLE = 4,
  EXTERNAL_DOUBLE = 5,
  EXTERNAL_STRING = 6,
  EXTERNAL_BINARY = 7,
  EXTERNAL_OBJECT = 8,
};

struct external_type_row_st {
  uint32_t code;
  const char* words;
};
constexpr size_t kExternalTypeCount = 9;
extern const external_type_row_st external_type_table[kExternalTypeCount];

}  // namespace qzbase
