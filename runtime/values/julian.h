// julian.h - Julian day numbers of the proleptic Gregorian calendar.
//
// date_st and datetime_st store a Julian Day Number (1 .. 0xFFFFFFFF; 0 is the empty value).
// Every computation here is done in 64 bits: no day number the records can hold overflows it, and
// a calendar date whose day number falls outside 1 .. 0xFFFFFFFF is refused with 2034 instead of
// being stored wrapped.
#pragma once

#include <qzbase.h>

namespace qzbase {

// The largest day number a date_st can hold.
inline constexpr int64_t kMaxJulianDay = 0xFFFFFFFFll;

// The day number of a calendar date in 64 bits (no range check); the month is taken as a plain
// signed number, so months above 12 run on into the following years.
inline constexpr int64_t julian_day_number(int64_t year, int64_t month, int64_t day) {
  const int64_t a = (14 - month) / 12;
  const int64_t y = year + 4800 - a;
  const int64_t m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

// The last day dates of the language reach, 9999-12-31: arithmetic and literals beyond it are
// error 2034 (day numbers up to kMaxJulianDay can still be held, as read from stored values).
inline constexpr int64_t kMaxDateDay = julian_day_number(9999, 12, 31);

// 0 and the day in *out, or 2034 (out untouched). Year 0, month 0, day 0 is the empty date.
int serial_julian_date(int year, unsigned month, unsigned day, date_st* out);
// 0, or 2034 (only out->day may have been written). ms := (h x 3600 + m x 60 + s) x 1000.
int serial_julian_date(int year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second,
                       datetime_st* out);
// Calendar fields of a day number (all 0 for the empty date). Returns 0.
int unserial_julian_date(date_st date, int* year, int* month, int* day);
int unserial_julian_date(datetime_st datetime, int* year, int* month, int* day, int* hour, int* minute,
                         int* second, int* ms);

}  // namespace qzbase
