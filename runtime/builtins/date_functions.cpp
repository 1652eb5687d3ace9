// date_functions.cpp - building, taking apart and printing dates and datetimes, and the clock.
//
// Dates are Julian day numbers (0 the empty date); datetimes add milliseconds of the day.
// Texts that follow the session's SET DATE, CENTURY, MARK, HOURS and SECONDS go through the
// runtime's cached ICU formatters. Month and weekday names are ICU's in its default locale. The
// clock is the system clock in local time (localtime_r: language threads read it at once).
//
// Mended beside the plain rules: DOW refuses a negative first day (11) as well as one above 7,
// and takes the weekday modulo 7 as a non-negative remainder, so it always lies in 1 .. 7; DTOS
// takes the year modulo 10000 the same way, so a year before 1 still gives eight digits.
#include <time.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "builtins/text_arguments.h"
#include "builtins/value_functions.h"
#include "builtins/workarea.h"
#include "values/date_format.h"
#include "tables/session_settings.h"
#include "tables/table_object.h"
#include "values/julian.h"
#include "values/value_text.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

struct local_now_st {
  struct tm fields;
  int milliseconds;
};

local_now_st local_now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  local_now_st now{};
  time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &now.fields);
  now.milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
  return now;
}

// The non-negative remainder of a by m (m > 0).
int64_t modulo(int64_t a, int64_t m) {
  const int64_t r = a % m;
  return r < 0 ? r + m : r;
}

// Argument n of DATE and DATETIME: 32 bits, else 39.
int field_argument(VmStack* stack, size_t n) { return int32_argument(stack, n); }

Runtime* runtime_of(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  if (runtime == nullptr) throw RuntimeError(1001);
  return runtime;
}

date_st date_of(VmStack* stack, size_t n) {
  const Variant* v = argument_value(stack, n);
  if (v->tag != VT_DATE) throw RuntimeError(11);
  return v->date;
}

datetime_st datetime_of(VmStack* stack, size_t n) {
  const Variant* v = argument_value(stack, n);
  if (v->tag != VT_DATETIME) throw RuntimeError(11);
  return v->datetime;
}

struct date_fields_st {
  int year, month, day;
};

date_fields_st fields_of(date_st date) {
  date_fields_st f{};
  unserial_julian_date(date, &f.year, &f.month, &f.day);
  return f;
}

struct time_fields_st {
  int year, month, day, hour, minute, second, ms;
};

time_fields_st fields_of(datetime_st dt) {
  time_fields_st f{};
  unserial_julian_date(dt, &f.year, &f.month, &f.day, &f.hour, &f.minute, &f.second, &f.ms);
  return f;
}

// ICU's month and weekday names of the default locale, read again when that locale changes.
class CalendarNames {
 public:
  // index 0 .. 11 for months, 1 (Sunday) .. 7 for weekdays.
  std::u16string month(int index) { return name(index, true); }
  std::u16string weekday(int index) { return name(index, false); }

 private:
  std::u16string name(int index, bool month) {
    std::lock_guard<std::mutex> guard(lock_);
    const char* locale = uloc_getDefault();
    if (locale_ != locale) load(locale);
    if (month) return index >= 0 && index < 12 ? months_[index] : std::u16string();
    return index >= 1 && index <= 7 ? weekdays_[index] : std::u16string();
  }

  void load(const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(UDAT_NONE, UDAT_MEDIUM, locale, nullptr, 0, nullptr, 0, &status);
    if (U_FAILURE(status)) throw RuntimeError(1001, String("udat_open"));
    for (int i = 0; i < 12; ++i) months_[i] = symbol(format, UDAT_MONTHS, i);
    for (int i = 1; i <= 7; ++i) weekdays_[i] = symbol(format, UDAT_WEEKDAYS, i);
    udat_close(format);
    locale_ = locale;
  }

  static std::u16string symbol(UDateFormat* format, UDateFormatSymbolType type, int index) {
    UChar buffer[64];
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = udat_getSymbols(format, type, index, buffer, 64, &status);
    if (U_FAILURE(status) || n < 0) return std::u16string();
    return std::u16string(buffer, static_cast<size_t>(n < 64 ? n : 64));
  }

  std::mutex lock_;
  std::string locale_;
  std::u16string months_[12];
  std::u16string weekdays_[8];
};

CalendarNames& calendar_names() {
  static CalendarNames names;
  return names;
}

// A name as a UTF-16LE string of at most 32 units.
void set_name(Variant* result, const std::u16string& name) {
  const size_t units = name.size() < 32 ? name.size() : 32;
  result->set_string(String(reinterpret_cast<const char*>(name.data()), units * 2, Charset::utf16le));
}

void set_ascii(Variant* result, const char* text, size_t n) { result->set_string(String(text, n, Charset::ascii)); }

// Builds and checks a date from its fields: the error of the serial function as it is, then
// 2034 unless taking it apart gives the same fields back.
date_st checked_date(int year, int month, int day) {
  date_st d{0};
  if (int code = serial_julian_date(year, static_cast<unsigned>(month), static_cast<unsigned>(day), &d)) {
    throw RuntimeError(code);
  }
  const date_fields_st back = fields_of(d);
  if (back.year != year || back.month != month || back.day != day) throw RuntimeError(2034);
  return d;
}

}  // namespace

int weekday_of(date_st date, int first_day) {
  QZ_TRACE;
  // Zeller's h (0 Saturday, 1 Sunday, ... 6 Friday) of the proleptic Gregorian calendar, which
  // the day number counts: day 0 of the count was a Monday (h = 2).
  const int64_t h = modulo(static_cast<int64_t>(date.day) + 2, 7);
  return static_cast<int>(modulo(h - first_day, 7)) + 1;
}

// ---------------------------------------------------------------------------------------------
// Building dates and datetimes
// ---------------------------------------------------------------------------------------------

void bi_date(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const local_now_st now = local_now();
  int field[3] = {now.fields.tm_year + 1900, now.fields.tm_mon + 1, now.fields.tm_mday};
  for (size_t i = 1; i <= 3 && i <= argc; ++i) {
    if (has_argument(stack, argc, i)) field[i - 1] = field_argument(stack, i);
  }
  result->set(checked_date(field[0], field[1], field[2]));
}

void bi_datetime(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const local_now_st now = local_now();
  if (argc == 0) {
    datetime_st dt{0, 0};
    const date_st day = checked_date(now.fields.tm_year + 1900, now.fields.tm_mon + 1, now.fields.tm_mday);
    dt.day = day.day;
    dt.ms = (now.fields.tm_hour * 3600 + now.fields.tm_min * 60 + now.fields.tm_sec) * 1000;
    result->set(dt);
    return;
  }
  if (argc < 3) throw RuntimeError(1229);
  int field[6] = {now.fields.tm_year + 1900, now.fields.tm_mon + 1, now.fields.tm_mday, 0, 0, 0};
  for (size_t i = 1; i <= 6 && i <= argc; ++i) {
    if (has_argument(stack, argc, i)) field[i - 1] = field_argument(stack, i);
  }
  datetime_st dt{0, 0};
  if (int code = serial_julian_date(field[0], static_cast<unsigned>(field[1]), static_cast<unsigned>(field[2]),
                                    static_cast<unsigned>(field[3]), static_cast<unsigned>(field[4]),
                                    static_cast<unsigned>(field[5]), &dt)) {
    throw RuntimeError(code);
  }
  const time_fields_st back = fields_of(dt);
  if (back.year != field[0] || back.month != field[1] || back.day != field[2] || back.hour != field[3] ||
      back.minute != field[4] || back.second != field[5] || back.hour >= 24) {
    throw RuntimeError(2034);
  }
  result->set(dt);
}

// ---------------------------------------------------------------------------------------------
// Taking them apart
// ---------------------------------------------------------------------------------------------

void bi_year(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(fields_of(date_of(stack, 1)).year);
}

void bi_month(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(fields_of(date_of(stack, 1)).month);
}

void bi_day(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(fields_of(date_of(stack, 1)).day);
}

void bi_hour(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(fields_of(datetime_of(stack, 1)).hour);
}

void bi_minute(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(fields_of(datetime_of(stack, 1)).minute);
}

void bi_sec(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set_integer(fields_of(datetime_of(stack, 1)).second);
}

void bi_dtot(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set(datetime_st{date_of(stack, 1).day, 0});
}

void bi_ttod(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  result->set(date_st{datetime_of(stack, 1).day});
}

void bi_julian(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_integer(static_cast<long>(date_of(stack, 1).day));
}

void bi_dow(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const date_st date = date_of(stack, 1);
  int first_day = 1;
  if (argc >= 2) {
    const int64_t n = integer_argument(stack, 2);
    if (n < 0 || n > 7) throw RuntimeError(11);
    first_day = n == 0 ? static_cast<int>(runtime_of(stack)->fdow) : static_cast<int>(n);
  }
  result->set_integer(date.day == 0 ? 0 : weekday_of(date, first_day));
}

void bi_cmonth(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const date_fields_st f = fields_of(date_of(stack, 1));
  set_name(result, calendar_names().month(f.month - 1));
}

void bi_cdow(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const date_st date = date_of(stack, 1);
  set_name(result, date.day == 0 ? std::u16string() : calendar_names().weekday(weekday_of(date, 1)));
}

// ---------------------------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------------------------

void bi_dtoc(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const date_st date = date_of(stack, 1);
  Runtime* runtime = runtime_of(stack);
  if (argc >= 2) {
    result->set_string(format_date_regional(date, runtime->dateFormat(DATE_YMD, true, "")));
    return;
  }
  const SessionSettings& s = current_settings(stack);
  result->set_string(
      format_date_regional(date, runtime->dateFormat(static_cast<DateTimeFormat>(s.date_format), s.century, s.mark)));
}

void bi_ttoc(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const datetime_st dt = datetime_of(stack, 1);
  Runtime* runtime = runtime_of(stack);
  if (argc >= 2) {
    switch (integer_argument(stack, 2)) {
      case 1:
        result->set_string(format_datetime_regional(dt, runtime->dateTimeFormat(DATE_YMD, true, "", 24, true, "", "")));
        return;
      case 3:
        result->set_string(
            format_datetime_regional(dt, runtime->dateTimeFormat(DATE_YMD, true, "-", 24, true, "'T'", ":")));
        return;
      default:
        throw RuntimeError(11);
    }
  }
  const SessionSettings& s = current_settings(stack);
  result->set_string(format_datetime_regional(
      dt, runtime->dateTimeFormat(static_cast<DateTimeFormat>(s.date_format), s.century, s.mark,
                                  static_cast<int>(s.hours), s.seconds, ", ", ":")));
}

void bi_dtos(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const date_st date = date_of(stack, 1);
  if (date.day == 0) {
    set_ascii(result, "        ", 8);
    return;
  }
  const date_fields_st f = fields_of(date);
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31) throw RuntimeError(11);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", static_cast<int>(modulo(f.year, 10000)), f.month, f.day);
  set_ascii(result, text, 8);
}

// ---------------------------------------------------------------------------------------------
// The clock
// ---------------------------------------------------------------------------------------------

void bi_time(VmStack*, size_t argc, Variant* result) {
  QZ_TRACE;
  const local_now_st now = local_now();
  char text[32];
  int n;
  if (argc >= 1) {
    n = std::snprintf(text, sizeof text, "%02d:%02d:%02d.%02d", now.fields.tm_hour, now.fields.tm_min,
                      now.fields.tm_sec, now.milliseconds / 10);
  } else {
    n = std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.fields.tm_hour, now.fields.tm_min, now.fields.tm_sec);
  }
  set_ascii(result, text, static_cast<size_t>(n));
}

void bi_seconds(VmStack*, size_t, Variant* result) {
  QZ_TRACE;
  const local_now_st now = local_now();
  const int64_t ms = (now.fields.tm_hour * 3600LL + now.fields.tm_min * 60LL + now.fields.tm_sec) * 1000LL +
                     now.milliseconds;
  result->set_float(static_cast<double>(ms) / 1000.0, 3);
}

// LUPDATE([area or alias]): the date the table's header names as its last change; a table
// written in this run answers today.
void bi_lupdate(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const Variant* area = argc >= 1 ? argument_value(stack, 1) : nullptr;
  Table_Object* table = session_table(stack, area, true);
  int year = 0, month = 0, day = 0;
  table->last_modified_yyyymmdd(&year, &month, &day);
  date_st d{0};
  if (int code = serial_julian_date(year, static_cast<unsigned>(month), static_cast<unsigned>(day), &d)) {
    throw RuntimeError(code);
  }
  result->set(d);
}

}  // namespace qzbase
