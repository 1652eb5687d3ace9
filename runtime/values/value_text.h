// value_text.h - Variant casts and text.
//
// How a Variant turns into a value of another kind: the checked conversions, the implicit casts the interpreter applies for declared types, text to money, and
// value to text in the fixed form (to_string) and the regional form (to_string_regional).
//
// The conversions are free functions rather than members of Variant (operator bool, cast,
// to_string, ...), so that the class in qzbase.h does not have to change; members can forward to them. The four operators
// the exported interface needed first (integer_type_st, int, long, String) are members already
// (values/variant.cpp) and are used as they are.
//
// Faults guarded against (tests/values/value_text_test.cpp):
// - format_numeric takes its digits from fcvt_r into a caller buffer (plain fcvt returns a
//   static buffer that concurrent threads overwrite); the digits are the same.
// - format_numeric checks its capacity: the decimals asked of fcvt_r are capped at 17 (glibc
//   gives no more) and every write is bounded by the buffer, so ROUND(x, 200) cannot overrun
//   the text's fixed capacity (std::length_error instead of a heap overflow).
// - At most 16 significant digits are copied in both branches of format_numeric (below 1,
//   fcvt's 17th digit would otherwise be copied).
// - format_date_regional and format_datetime_regional size their ICU output from ICU's
//   preflight (a fixed 32 UTF-16 units would fail with 11: SET DATE LONG in
//   pt_BR needs 36), and format under the cache entry's lock (host/date_format.h).
// - The calendars have their Gregorian change at the earliest date, so dates before 1582 are
//   shown proleptic, like the stored Julian day numbers.
// - The money steps raise RuntimeError 1988 rather than std::overflow_error, which nothing in
//   the language catches
//   (as values/money.h does for the arithmetic); so does Decimal::to_money beyond the money
//   range.
#pragma once

#include <qzbase.h>

#include "values/money.h"

namespace qzbase {

struct SessionSettings;

// ---------------------------------------------------------------------------------------------
// Declared type codes: five bits, bits 0-3 the type, 16 "or null".
// ---------------------------------------------------------------------------------------------

enum DeclaredType : uint32_t {
  DECLARED_ANY = 0,        // "."
  DECLARED_LOGICAL = 1,    // "L"
  DECLARED_NULL = 4,
  DECLARED_INTEGER = 5,    // "I"
  DECLARED_NUMERIC = 6,    // "N"
  DECLARED_MONEY = 7,      // "Y"
  DECLARED_DATE = 8,       // "D"
  DECLARED_DATETIME = 9,   // "T"
  DECLARED_STRING = 10,    // "C"
  DECLARED_OBJECT = 11,    // "O"
  DECLARED_REFERENCE = 12,
  DECLARED_ARRAY = 13,     // "A"
  DECLARED_OR_NULL = 16,   // "?" after the letter
};

// ---------------------------------------------------------------------------------------------
// Conversion steps (exact, no allocation)
// ---------------------------------------------------------------------------------------------

inline numeric_type_st integer_to_numeric(int64_t value) { return numeric_type_st{static_cast<double>(value), 0}; }
// {raw / 10000.0, 4 decimals}.
numeric_type_st money_to_numeric(money_wide raw);
// raw = value x 10000; RuntimeError 1988 beyond 63 bits.
money_wide integer_to_money(int64_t value);
// raw = value x 10000 truncated toward zero; RuntimeError 1988 beyond 96 bits (NaN and
// infinities included). The 63-bit money range is the caller's check.
money_wide numeric_to_money_truncated(double value);
// raw / 10000 truncated; RuntimeError 1988 outside 64 bits.
int64_t money_to_int64(money_wide raw);
// (raw +- 5000) / 10000 truncated; RuntimeError 1988 outside 64 bits.
int64_t money_to_int64_rounded(money_wide raw);
// The smallest d >= 0 with round(x * 10^d) / 10^d == x; 0 for a non-finite x (at most 340).
uint64_t count_decimals(double x);

// ---------------------------------------------------------------------------------------------
// Checked conversions
// ---------------------------------------------------------------------------------------------

bool variant_to_bool(const Variant& v);                 // 0 false, 2 true
integer_type_st variant_to_integer(const Variant& v);   // Variant::operator integer_type_st
unsigned int variant_to_uint(const Variant& v);         // low 32 bits
unsigned long variant_to_ulong(const Variant& v);
numeric_type_st variant_to_numeric(const Variant& v);   // integer {value, 0}; money 4 decimals
double variant_to_double(const Variant& v);
money_type_st variant_to_money(const Variant& v);       // integer, numeric (truncated) or money
date_st variant_to_date(const Variant& v);              // date only
datetime_st variant_to_datetime(const Variant& v);      // datetime only

// Out-parameter casts. The numeric forms store the matching conversion (107 for a wrong tag);
// the others follow one reference level and raise RuntimeError 11 for any other tag.
void variant_cast(const Variant& v, integer_type_st* out);
void variant_cast(const Variant& v, numeric_type_st* out);
void variant_cast(const Variant& v, money_type_st* out);
void variant_cast(const Variant& v, String* out);         // assigns the string
void variant_cast(Variant& v, String** out);              // points at the payload string
void variant_cast(Variant& v, Array** out);               // points at the payload array
void variant_cast(const Variant& v, date_st* out);        // a date, or a datetime's day
void variant_cast(const Variant& v, datetime_st* out);    // a datetime, or a date at ms 0

// ---------------------------------------------------------------------------------------------
// Implicit casts (the interpreter's declared-type check)
// ---------------------------------------------------------------------------------------------

enum ImplicitCast : uint8_t {
  CAST_ERROR = 0,         // RuntimeError 11
  CAST_KEEP,              // unchanged
  CAST_INTEGER_TO_NUMERIC,
  CAST_INTEGER_TO_MONEY,  // 1988 beyond the money range
  CAST_NUMERIC_TO_INTEGER,  // truncated toward zero
  CAST_NUMERIC_TO_MONEY,    // truncated; 1988 beyond the money range
  CAST_MONEY_TO_NUMERIC,
  CAST_MONEY_TO_INTEGER,
  CAST_DATE_TO_DATETIME,    // ms 0
  CAST_DATETIME_TO_DATE,    // the day
};

// The matrix, keyed by tag x 32 + code (tags 0 .. 15; every pair not listed is CAST_ERROR).
ImplicitCast implicit_cast_kind(unsigned tag, unsigned code);
// Converts in place or raises (11 for a pair not in the matrix, 1988 for money out of range).
// A tag or code above 31 is a broken invariant.
void variant_cast_implicitly(Variant* v, unsigned code);

// ---------------------------------------------------------------------------------------------
// Text to numbers
// ---------------------------------------------------------------------------------------------

// 0, or 1988 when the value is out of range; unreadable text gives 0 (the value 0). The group
// separator takes no part: it ends the number like any other character.
int string_to_money(const char* text, size_t size, const Charset* cs, money_type_st* out, char32_t point,
                    char32_t separator);

struct Decimal {
  int64_t integer;   // the integer part (magnitude)
  int64_t fraction;  // the fraction digits as an integer
  int32_t digits;    // number of fraction digits
  bool negative;

  void to_numeric(numeric_type_st* out) const;
  void to_money(money_type_st* out) const;  // RuntimeError 1988 beyond the money range
};

// ---------------------------------------------------------------------------------------------
// Value to text
// ---------------------------------------------------------------------------------------------

// The fixed text: "false" "null" "true", "%ld", numerics with point "." and 15 digits for free
// decimals, money with 4 decimals, ISO dates and datetimes, the string itself; RuntimeError 1001
// for tags 8, 9 and above 13.
String variant_to_string(const Variant& v, bool trim = false);
// The regional text under the stack's current data session (POINT, DECIMALS, SET DATE,
// CENTURY, MARK, HOURS, SECONDS) with the date formats of the stack's Runtime. Dates on a stack without a Runtime: RuntimeError 1001.
String variant_to_string_regional(const Variant& v, VmStack* stack, bool trim = false);
// The same with the Runtime given.
String variant_to_string_regional(const Variant& v, VmStack* stack, Runtime* runtime, bool trim = false);
// The same with the settings given directly.
String variant_to_string_regional(const Variant& v, const SessionSettings& settings, Runtime* runtime,
                                  bool trim = false);

// The formatting steps; each returns the bytes written (no terminator is counted; one is
// written when there is room). format_numeric and format_money raise std::length_error when
// the buffer is too small.
size_t format_integer(int64_t value, char* buffer, size_t size);
size_t format_numeric(uint64_t decimals, char* buffer, size_t size, char32_t point, int default_digits, bool trim,
                      double value);
size_t format_money(money_wide raw, char* buffer, size_t size, char32_t point, char32_t separator);
size_t format_date_iso(date_st date, char* buffer, size_t size);
size_t format_datetime_iso(datetime_st datetime, char* buffer, size_t size);
// ICU-formatted dates (UTF-8). RuntimeError 1001 when no calendar opens, 11 when formatting
// fails.
String format_date_regional(date_st date, const date_format_st& format);
String format_datetime_regional(datetime_st datetime, const date_format_st& format);

}  // namespace qzbase
