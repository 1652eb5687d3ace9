// date_format.h - date and time display formats.
//
// Runtime::dateFormat and Runtime::dateTimeFormat turn a SET DATE combination into a cached ICU
// formatter and its empty picture. Faults mended:
// - The cache key holds the whole mark (up to its NUL; a fixed 8-byte key would read past a
//   shorter mark) and, for datetimes, both separators (without them the first formatter of a
//   combination would serve every later separator).
// - The caches are shared by every thread of a Runtime: lookups and inserts take the cache's
//   lock, and a formatter is used only under its entry's own mutex (ICU formatters are not safe
//   for concurrent formatting): format through format_date_calendar.
// - Every formatter's calendar has its Gregorian change moved to the earliest date, so dates
//   before 15 October 1582 are shown in the proleptic Gregorian calendar like the stored
//   Julian day numbers (the value-text calendars do the same).
#pragma once

#include <qzbase.h>

#include <unicode/ucal.h>
#include <unicode/udat.h>

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace qzbase {

// One cache entry: the formatter (closed with udat_close by the Runtime's destructor), the empty
// picture (UTF-8) and the mutex every use of the formatter holds.
struct date_format_entry_st {
  UDateFormat* format = nullptr;
  String empty;
  std::mutex lock;
  ~date_format_entry_st();
};

// What dateFormat and dateTimeFormat return: the cached entry, its formatter and a copy of its
// empty picture.
struct date_format_st {
  date_format_entry_st* entry;
  UDateFormat* format;
  String empty;
};

// A cache: key (style, flags, mark and separators, each whole) -> entry, under one lock.
struct date_format_cache {
  std::shared_mutex lock;
  std::unordered_map<std::string, std::unique_ptr<date_format_entry_st>> entries;
};

// Formats cal with the entry's formatter under the entry's lock into out (UTF-16), sized by
// ICU's preflight. Returns the ICU status (U_FAILURE: nothing usable was written).
UErrorCode format_date_calendar(const date_format_st& format, const UCalendar* cal, std::u16string* out);

// The formatter's pattern (udat_toPattern), for tests and diagnostics.
String date_format_pattern(const date_format_st& format);

// The picture of an empty date (dates) or datetime (datetimes) made from a formatter pattern.
std::u16string empty_date_picture(const std::u16string& pattern);
std::u16string empty_datetime_picture(const std::u16string& pattern);

// Moves the Gregorian change of cal to the earliest date (a pure proleptic Gregorian calendar).
void make_proleptic(UCalendar* cal);

}  // namespace qzbase
