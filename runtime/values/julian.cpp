// julian.cpp - Julian dates.
//
// Faults of plain 32-bit arithmetic guarded against:
// - serial_julian_date refuses (2034) every date whose day number falls outside 1 .. 0xFFFFFFFF.
//   The classic test (year >= -4712, or month 12, or day >= 25) lets through any earlier year
//   in December or from the 25th on, and the negative day number would be stored as a huge unsigned
//   one. The test is kept; the range check is added after it.
// - unserial_julian_date takes the day number as unsigned and works in 64 bits;
//   signed 32-bit steps overflow from day 536,000,000 on (4 x J + 128179) and read day numbers
//   above 2^31 as negative.
#include "values/julian.h"

namespace qzbase {

int serial_julian_date(int year, unsigned month, unsigned day, date_st* out) {
  QZ_TRACE;
  if (year == 0 && month == 0) {
    if (day != 0) return 2034;
    out->day = 0;
    return 0;
  }
  if (year == 0 || month == 0 || day == 0) return 2034;
  if (!(year >= -4712 || month == 12 || day >= 25)) return 2034;
  const int64_t jd = julian_day_number(year, month, day);
  if (jd < 1 || jd > kMaxJulianDay) return 2034;
  out->day = static_cast<uint32_t>(jd);
  return 0;
}

int serial_julian_date(int year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second,
                       datetime_st* out) {
  QZ_TRACE;
  date_st d{0};
  if (serial_julian_date(year, month, day, &d) != 0) return 2034;
  out->day = d.day;
  if (hour >= 24 || minute >= 60 || second > 59) return 2034;
  out->ms = static_cast<int32_t>((hour * 3600u + minute * 60u + second) * 1000u);
  return 0;
}

int unserial_julian_date(date_st date, int* year, int* month, int* day) {
  QZ_TRACE;
  const int64_t j = date.day;
  if (j == 0) {
    *year = *month = *day = 0;
    return 0;
  }
  // The published inverse of julian_day_number; every intermediate is non-negative for J >= 1,
  // so truncating and flooring division agree.
  const int64_t b = (4 * j + 128179) / 146097;
  const int64_t c = j - (146097 * b) / 4 + 32044;
  const int64_t d = (4 * c + 3) / 1461;
  const int64_t e = c - (1461 * d) / 4;
  const int64_t m = (5 * e + 2) / 153;
  const int64_t turn = (5 * e + 2) / 1530;
  *day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  *month = static_cast<int>(m + 3 - 12 * turn);
  *year = static_cast<int>(100 * b + d - 4800 + turn);
  return 0;
}

int unserial_julian_date(datetime_st datetime, int* year, int* month, int* day, int* hour, int* minute,
                         int* second, int* ms) {
  QZ_TRACE;
  unserial_julian_date(date_st{datetime.day}, year, month, day);
  const int32_t s = datetime.ms / 1000;
  *ms = datetime.ms - 1000 * s;
  *hour = s / 3600;
  *minute = (s - 3600 * *hour) / 60;
  *second = s - 3600 * *hour - 60 * *minute;
  return 0;
}

}  // namespace qzbase
