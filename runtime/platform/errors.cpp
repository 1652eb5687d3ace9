// The error table and the exported functions that turn error numbers into text.
#include "platform/errors.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qzbase {

namespace {

// The order is the order the language's error list shows; codes are unique.
constexpr error_st error_table[] = {
    {1, "File does not exist.", "File '%s' does not exist."},
    {4, "End of file encountered.", nullptr},
    {10, "Syntax error.", nullptr},
    {11, "Function argument value, type or count is invalid.", nullptr},
    {12, "Variable is not found.", "Variable '%s' is not found."},
    {13, "Alias is not found.", "Alias '%s' is not found."},
    {38, "Beginning of file encountered.", nullptr},
    {39, "Numeric overflow. Data was lost.", nullptr},
    {52, "No table is open in the current work area.", nullptr},
    {61, "SQRT() argument cannot be negative.", nullptr},
    {78, "** or ^ domain error.", nullptr},
    {96, "Nesting Error.", nullptr},
    {103, "Allowed DO nesting or expression evaluation level exceeded.", nullptr},
    {107, "Operator / operand type mismatch.", nullptr},
    {202, "Invalid path or file name.", "Invalid path or file name: %s"},
    {232, "Not an array.", "'%s' is not an array."},
    {1098, "User defined Error.", "%s"},
    {1229, "Too few arguments.", nullptr},
    {1234, "Subscript is outside defined range.", nullptr},
    {1466, "Connection handle is invalid", nullptr},
    {1472, "SQL statement parameter is required for non-prepared SQLEXEC() calls.", nullptr},
    {1526, "Connectivity error.", "Connectivity error. %s"},
    {1533, "This property is read-only.", nullptr},
    {1705, "File access denied.", "File access denied %s."},
    {1733, "Class definition not found.", "Class definition %s not found"},
    {1734, "Property not found.", "Property %s not found"},
    {1743, "Property is read-only.", "Property '%s' is read-only."},
    {1760, "Property is a class-member.", "Property '%s' is a class-member."},
    {1540, "Session number is invalid.", nullptr},
    {1924, "Not an object.", "%s is not an object."},
    {1927, "Statement is not valid in a class definition.", nullptr},
    {1960, "Illegal redefinition of variable.", "Illegal redefinition of variable '%s'."},
    {2027, "Declare DLL call caused an exception.", nullptr},
    {2034, "Date / datetime evaluated to an invalid value.", nullptr},
    {2044, "Textmerge is recursive.", nullptr},
    {2059, "Unhandled Structured Exception.", nullptr},
    {2061, "Index or expression does not match an existing member of the collection.", nullptr},
    {9001, "Debugger not available. Connect the debugger and try again(r).", nullptr},
    {1001, "Feature is not available.", "Feature '%s' is not available."},
    {9003, "Charset not supported.", "Charset '%s' not supported."},
    {9004, "Temporary R-Value cannot be passed by reference.", nullptr},
    {9005, "Class is abstract.", "Class '%s' is abstract."},
    {9006, "Native error in table engine, please close the workearea.", "Native error in table engine: '%s'"},
    {9007, "Syntax error in pattern reported by matching engine.", nullptr},
    {9008, "Unable to create pointer from property.", nullptr},
    {1104, "Error reading file.", "Error reading file '%s'."},
    {1105, "Error writing to file.", "Error writing to file '%s'."},
    {1988, "Currency value is out of range.", nullptr},
    {94, "Must specify additional parameters.", nullptr},
    {1102, "Cannot create file.", "Cannot create file '%s'."},
    {1101, "Cannot create temporary file.", "Cannot create temporary file in '%s'."},
    {9009, "Cannot convert byte sequence to valid characters.", "Cannot convert byte sequence to valid '%s' characters."},
    {1156, "Duplicate field names.", nullptr},
    {1683, "Index tag is not found.", "Index tag '%s' is not found."},
    {111, "Cannot update the cursor, since it is read-only.", "Cannot update the cursor %s, since it is read-only."},
    {3, "File is in use.", nullptr},
    {5, "Record is out of range.", nullptr},
    {9010, "Stack overflow.", nullptr},
    {9011, "Character set translation failed.", "Cannot convert string to charset '%s'."},
    {1713, "Field width or number of decimal places is invalid.", nullptr},
    {26, "Table has no index order set.", nullptr},
    {1581, "Field does not accept null values.", "Field %s does not accept null values."},
    {1731, "Field width or number of decimal places is invalid.", nullptr},
    {1590, "BEGIN TRANSACTION command failed.", "BEGIN TRANSACTION command failed. %s"},
    {1591, "END TRANSACTION command cannot be issued without a corresponding BEGIN TRANSACTION command.", nullptr},
    {1592, "ROLLBACK command cannot be issued without a corresponding BEGIN TRANSACTION command.", nullptr},
    {1211, "An IF | ELSE | ENDIF statement is missing.", nullptr},
    {1206, "Recursive macro definition.", nullptr},
    {1940, "Expression is not valid outside of WITH/ENDWITH.", nullptr},
    {2062, "The specified Key already exists.", nullptr},
    {1429, "OLE IDispatch exception.", "%s"},
    {231, "Invalid argument used with the SET function.", nullptr},
    {9013, "Parser stack exhausted.", nullptr},
    {9012, "Syntax is ambiguous.", nullptr},
    {9014, "Cannot pass unsafe pointer in this context.", nullptr},
    {230, "Array dimensions are invalid.", nullptr},
    {9, "Data type mismatch.", nullptr},
    {9015, "Integer value is out of range.", nullptr},
    {7, "File already exists.", "File '%s' already exists."},
    {1585, "Update conflict.", "Update conflict in cursor '%s'."},
    {1887, "Illegal recursion in rule evaluation.", nullptr},
    {2201, "Cannot determine data type of the expression.", nullptr},
    {112, "Invalid key length.", nullptr},
    {1884, "Uniqueness of index is violated.", "Uniqueness of index %s is violated."},
    {17, "Table number is invalid.", nullptr},
    {24, "Alias name is already in use.", nullptr},
    {9016, "File BOM is missing or invalid.", nullptr},
    {110, "File must be opened exclusively.", nullptr},
    {1718, "File is read-only.", "File %s is read-only."},
    {37, "You must use a logical expression with FILTER.", nullptr},
    {1871, "Cannot DROP all existing columns.", nullptr},
    {1531, "The table changes cannot be performed.", "The table changes cannot be performed as the index or filter expression for index %s would be invalid."},
    {2088, "Field is read-only", "Field %s is read-only"},
    {1127, "You must use a logical expression with a FOR or WHILE clause.", nullptr},
    {34, "Operation is invalid for a Memo, Blob, General or Picture field.", nullptr},
    {1707, "Structural .CDX file is not found.", nullptr},
    {1712, "Field name is a duplicate or invalid.", nullptr},
    {41, "Memo file is missing or is invalid.", "Memo file %s is missing or is invalid."},
    {1886, "Index does not accept NULL.", nullptr},
    {15, "Is not a table.", "%s is not a table."},
    {2091, "Table has become corrupted. The table will need to be repaired before using again.", "Table '%s' has become corrupted. The table will need to be repaired before using again."},
    {1888, "Tag name is too long.", "Tag name '%s' is too long."},
    {1899, "Tag name contains invalid characters.", "Tag name '%s' contains invalid characters."},
    {9902, "Generic table error.", nullptr},
    {9901, "Generic filesystem error.", nullptr},
    {2156, "Invalid index expression for a Binary index.", nullptr},
    {2066, "Index file is corrupted. Please rebuild it.", "Index file '%s' is corrupted. Please rebuild it."},
    {43, "There is not enough memory to complete this operation.", nullptr},
    {1903, "String is too long to fit.", nullptr},
    {0, nullptr, nullptr},
};

constexpr int error_count = static_cast<int>(sizeof(error_table) / sizeof(error_table[0])) - 1;

constexpr size_t formatted_limit = 4095;

// Longest prefix of at most limit bytes that does not end inside a UTF-8 sequence.
size_t utf8_cut(const char* text, size_t size, size_t limit) {
  if (size <= limit) return size;
  size_t n = limit;
  // Step back over continuation bytes; the lead byte of the cut sequence goes too.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

// Copies text into buffer as the exported functions do: at most size - 1 bytes, never a partial
// UTF-8 sequence, always terminated; size 0 writes nothing.
void copy_out(const String& text, char* buffer, size_t size) {
  if (size == 0 || buffer == nullptr) return;
  size_t n = utf8_cut(text.read(), text.size(), size - 1);
  std::memcpy(buffer, text.read(), n);
  buffer[n] = 0;
}

}  // namespace

void throw_assert_failed() {
  QZ_TRACE;
  throw assert_failed_exception();
}

int find_error(int code, const error_st** row) {
  QZ_TRACE;
  for (const error_st* e = error_table; e->code != 0; ++e) {
    if (static_cast<int>(e->code) == code) {
      if (row) *row = e;
      return 0;
    }
  }
  return -1;
}

int get_list_of_errors(const error_st** rows) {
  QZ_TRACE;
  *rows = error_table;
  return error_count;
}

namespace {

// The messages as strings, made once for the UTF-8 character set they were made with: every raised
// error carries one, and sharing them spares an allocation per error. Character sets can be torn
// down and loaded again; a table made for another UTF-8 object is replaced then. Tables are never
// freed (a reader may still be copying from the one replaced).
struct message_table_st {
  const Charset* charset;
  String texts[error_count];
};

std::atomic<const message_table_st*> current_messages{nullptr};

const message_table_st* messages_for(const Charset* utf8) {
  const message_table_st* table = current_messages.load(std::memory_order_acquire);
  if (table != nullptr && table->charset == utf8) return table;
  static std::mutex lock;
  static auto* kept = new std::vector<const message_table_st*>();
  std::lock_guard<std::mutex> guard(lock);
  table = current_messages.load(std::memory_order_acquire);
  if (table != nullptr && table->charset == utf8) return table;
  auto fresh = std::make_unique<message_table_st>();
  fresh->charset = utf8;
  for (int i = 0; i < error_count; ++i) {
    fresh->texts[i] = String::fromBytes(error_table[i].message, std::strlen(error_table[i].message), utf8);
  }
  kept->push_back(fresh.get());
  table = fresh.release();
  current_messages.store(table, std::memory_order_release);
  return table;
}

}  // namespace

String error_message(int code) {
  QZ_TRACE;
  const error_st* row = nullptr;
  if (code == 0 || find_error(code, &row) != 0) return String(0, Charset::utf8);
  return messages_for(Charset::utf8)->texts[row - error_table];
}

String error_message_formatted(int code, const String& detail) {
  QZ_TRACE;
  const error_st* row = nullptr;
  if (code == 0 || find_error(code, &row) != 0) return String(0, Charset::utf8);
  if (row->format == nullptr) {
    return String::fromBytes(row->message, std::strlen(row->message), Charset::utf8);
  }
  String d = detail;
  d.convert(Charset::utf8, CON_NONE, 0);
  const char* fmt = row->format;
  const char* hole = std::strstr(fmt, "%s");
  std::string text(fmt, hole);
  // An embedded zero in the detail ends it, as it would in C text.
  text.append(d.read(), strnlen(d.read(), d.size()));
  text.append(hole + 2);
  size_t n = utf8_cut(text.data(), text.size(), formatted_limit);
  return String::fromBytes(text.data(), n, Charset::utf8);
}

RuntimeInterrupt::~RuntimeInterrupt() = default;
RuntimeQuit::~RuntimeQuit() = default;

RuntimeError::RuntimeError()
    : RuntimeInterrupt(INTERRUPT_ERROR), code(0), message(0, Charset::utf8), detail(0, Charset::utf8),
      handled(false) {
  QZ_TRACE;
}

RuntimeError::RuntimeError(int code)
    : RuntimeInterrupt(INTERRUPT_ERROR), code(code), message(error_message(code)),
      detail(0, Charset::utf8), handled(false) {
  QZ_TRACE;
}

RuntimeError::RuntimeError(int code, String detail)
    : RuntimeInterrupt(INTERRUPT_ERROR), code(code), message(error_message_formatted(code, detail)),
      detail(std::move(detail)), handled(false) {
  QZ_TRACE;
}

RuntimeError::RuntimeError(const RuntimeError& other)
    : RuntimeInterrupt(INTERRUPT_ERROR), code(other.code), message(other.message),
      detail(other.detail), handled(other.handled) {
  QZ_TRACE;
}

RuntimeError& RuntimeError::operator=(const RuntimeError& other) {
  QZ_TRACE;
  code = other.code;
  message = other.message;
  detail = other.detail;
  handled = other.handled;
  return *this;
}

RuntimeError::~RuntimeError() = default;

int TranslateError(int code, char* buffer, size_t size) {
  QZ_TRACE;
  copy_out(error_message(code), buffer, size);
  return 0;
}

int TranslateErrorEx(int code, const String& detail, char* buffer, size_t size) {
  QZ_TRACE;
  copy_out(error_message_formatted(code, detail), buffer, size);
  return 0;
}

}  // namespace qzbase
