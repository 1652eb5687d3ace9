// The error table and the functions that turn error numbers into text.
#include <qzbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vm/vm_stack.h"
#include "platform/errors.h"
#include "values/charset_registry.h"

using namespace qzbase;

namespace {

struct Row {
  int code;
  const char* message;
  const char* format;
};

// Every row as the language documents it, in the order the error list shows.
const Row expected_rows[] = {
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
};

std::string str(const String& s) { return std::string(s.read(), s.size()); }

TEST(ErrorTable, EveryRowAsListed) {
  const error_st* rows = nullptr;
  int n = get_list_of_errors(&rows);
  ASSERT_EQ(n, 109);
  ASSERT_EQ(sizeof(expected_rows) / sizeof(expected_rows[0]), 109u);
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(expected_rows[i].code);
    EXPECT_EQ(static_cast<int>(rows[i].code), expected_rows[i].code);
    EXPECT_STREQ(rows[i].message, expected_rows[i].message);
    if (expected_rows[i].format == nullptr) {
      EXPECT_EQ(rows[i].format, nullptr);
    } else {
      ASSERT_NE(rows[i].format, nullptr);
      EXPECT_STREQ(rows[i].format, expected_rows[i].format);
      // Exactly one placeholder and no other conversion.
      const char* hole = std::strstr(rows[i].format, "%s");
      ASSERT_NE(hole, nullptr);
      EXPECT_EQ(std::strchr(hole + 2, '%'), nullptr);
      EXPECT_EQ(std::strchr(rows[i].format, '%'), hole);
    }
  }
  EXPECT_EQ(rows[n].code, 0u);
}

TEST(ErrorTable, CodesAreUniqueAndFindable) {
  const error_st* rows = nullptr;
  int n = get_list_of_errors(&rows);
  for (int i = 0; i < n; ++i) {
    const error_st* found = nullptr;
    ASSERT_EQ(find_error(static_cast<int>(rows[i].code), &found), 0);
    EXPECT_EQ(found, &rows[i]) << "duplicate code " << rows[i].code;
  }
  const error_st* none = nullptr;
  EXPECT_EQ(find_error(0, &none), -1);
  EXPECT_EQ(find_error(9999, &none), -1);
}

TEST(ErrorMessages, PlainAndFormatted) {
  EXPECT_EQ(str(error_message(1)), "File does not exist.");
  EXPECT_EQ(str(error_message(0)), "");
  EXPECT_EQ(str(error_message(9999)), "");
  EXPECT_EQ(error_message(9999).get_charset(), Charset::utf8);
  EXPECT_EQ(str(error_message_formatted(1001, "wait")), "Feature 'wait' is not available.");
  EXPECT_EQ(str(error_message_formatted(1, "")), "File '' does not exist.");
  EXPECT_EQ(str(error_message_formatted(4, "ignored")), "End of file encountered.");
  EXPECT_EQ(str(error_message_formatted(9999, "x")), "");
  // A percent sign in the detail is text, not a conversion.
  EXPECT_EQ(str(error_message_formatted(1098, "100%s %d")), "100%s %d");
}

// Messages are shared between the errors that carry them: changing one error's text leaves the
// next error's text alone.
TEST(ErrorMessages, ChangingOneMessageLeavesTheNext) {
  String first = error_message(12);
  first.write()[0] = 'X';
  first.resize(1);
  EXPECT_EQ(str(first), "X");
  EXPECT_EQ(str(error_message(12)), "Variable is not found.");
  EXPECT_EQ(str(RuntimeError(12).message), "Variable is not found.");
}

// Runs in a child process: it tears the character sets down, which the other tests share.
void messages_after_charsets_reload() {
  String before = error_message(12);
  __cleanup_character_sets();
  __init_character_sets();
  String after = error_message(12);
  if (after.get_charset() != Charset::utf8) exit(2);
  if (str(after) != "Variable is not found.") exit(3);
  if (str(RuntimeError(1).message) != "File does not exist.") exit(4);
  if (str(before) != "Variable is not found.") exit(5);
  exit(0);
}

TEST(ErrorMessages, MessagesTakeTheCharsetsLoadedAgain) {
  EXPECT_EXIT(messages_after_charsets_reload(), ::testing::ExitedWithCode(0), "");
}

TEST(ErrorMessages, DetailInAnotherCharsetIsConvertedToUtf8) {
  String detail(U"caf\u00e9");
  EXPECT_EQ(str(error_message_formatted(1, detail)), "File 'caf\xC3\xA9' does not exist.");
}

TEST(ErrorMessages, LongFormattedMessageIsCutAt4095Bytes) {
  std::string big(5000, 'x');
  String s = error_message_formatted(1098, String(big.c_str()));
  EXPECT_EQ(s.size(), 4095u);
  // A cut never splits a UTF-8 sequence.
  std::string wide = "File '";
  std::string detail;
  while (detail.size() < 5000) detail += "\xC3\xA9";
  String t = error_message_formatted(1, String(detail.c_str()));
  EXPECT_LE(t.size(), 4095u);
  EXPECT_GE(t.size(), 4094u);
  EXPECT_NE(static_cast<unsigned char>(t.read()[t.size() - 1]), 0xC3);
}

TEST(RuntimeErrors, Construction) {
  RuntimeError plain(12);
  EXPECT_EQ(plain.code, 12);
  EXPECT_EQ(str(plain.message), "Variable is not found.");
  EXPECT_EQ(plain.detail.size(), 0u);
  EXPECT_FALSE(plain.handled);

  RuntimeError feature(1001, "wait");
  EXPECT_EQ(str(feature.message), "Feature 'wait' is not available.");
  EXPECT_EQ(str(feature.detail), "wait");

  // The detail is kept even when the row has no format.
  RuntimeError eof(4, "kept");
  EXPECT_EQ(str(eof.message), "End of file encountered.");
  EXPECT_EQ(str(eof.detail), "kept");

  RuntimeError none;
  EXPECT_EQ(none.code, 0);
  EXPECT_EQ(none.message.size(), 0u);

  feature.handled = true;
  RuntimeError copy(feature);
  EXPECT_TRUE(copy.handled);
  EXPECT_EQ(copy.code, 1001);
  EXPECT_EQ(str(copy.detail), "wait");
}

TEST(RuntimeErrors, CaughtByOwnTypeOnly) {
  bool as_error = false;
  try {
    throw RuntimeError(107);
  } catch (const RuntimeInterrupt&) {
    FAIL() << "a RuntimeError must not be caught as RuntimeInterrupt";
  } catch (const RuntimeError& e) {
    as_error = e.code == 107;
  }
  EXPECT_TRUE(as_error);
  try {
    throw RuntimeQuit(QUIT_CANCEL);
  } catch (const RuntimeInterrupt& i) {
    EXPECT_EQ(i.type, INTERRUPT_QUIT);
    EXPECT_EQ(static_cast<const RuntimeQuit&>(i).kind, QUIT_CANCEL);
  }
}

struct CopyCase {
  int code;
  const char* detail;  // null: TranslateError
  size_t size;
  const char* expected;
};

TEST(TranslateErrors, CopiesAreCutAndTerminated) {
  const CopyCase cases[] = {
      {1, nullptr, 5, "File"},
      {1, nullptr, 64, "File does not exist."},
      {1, nullptr, 1, ""},
      {9999, nullptr, 64, ""},
      {1, "", 64, "File '' does not exist."},
      {4, "any", 64, "End of file encountered."},
      {1001, "wait", 64, "Feature 'wait' is not available."},
      {1001, "wait", 9, "Feature "},
      // Never half a UTF-8 sequence: 'caf' + e-acute cut after the first byte of e-acute.
      {1098, "caf\xC3\xA9", 5, "caf"},
      {1098, "caf\xC3\xA9", 6, "caf\xC3\xA9"},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.size));
    char buffer[80];
    std::memset(buffer, 'Z', sizeof buffer);
    int rc = c.detail ? TranslateErrorEx(c.code, String(c.detail), buffer, c.size)
                      : TranslateError(c.code, buffer, c.size);
    EXPECT_EQ(rc, 0);
    EXPECT_STREQ(buffer, c.expected);
    size_t n = std::strlen(buffer);
    for (size_t i = n + 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 'Z') << "wrote past the text";
  }
}

TEST(TranslateErrors, SizeZeroWritesNothing) {
  char buffer[4] = {'Z', 'Z', 'Z', 'Z'};
  EXPECT_EQ(TranslateError(1, buffer, 0), 0);
  EXPECT_EQ(TranslateErrorEx(1, String("x"), buffer, 0), 0);
  VmStack stack;
  stack.last_error = RuntimeError(1, "a.dbf");
  EXPECT_EQ(GetLastErrorMessage(&stack, buffer, 0), 0);
  for (char c : buffer) EXPECT_EQ(c, 'Z');
}

TEST(LastError, ReadFromTheStack) {
  VmStack stack;
  char buffer[64] = "junk";
  EXPECT_EQ(GetLastError(&stack), 0);
  EXPECT_EQ(GetLastErrorMessage(&stack, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");

  stack.last_error = RuntimeError(1, "a.dbf");
  EXPECT_EQ(GetLastError(&stack), 1);
  GetLastErrorMessage(&stack, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "File 'a.dbf' does not exist.");

  stack.last_error = RuntimeError(12);
  GetLastErrorMessage(&stack, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "Variable is not found.");
}

}  // namespace
