// date_format.cpp - Runtime::dateFormat and Runtime::dateTimeFormat.
#include "values/date_format.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <cfloat>
#include <cstring>


namespace qzbase {

namespace {

enum FieldOrder { DAY_FIRST, YEAR_FIRST, MONTH_FIRST, NOT_A_PATTERN };

FieldOrder field_order(DateTimeFormat style) {
  switch (style) {
    case DATE_BRITISH:
    case DATE_DMY:
    case DATE_FRENCH:
    case DATE_GERMAN:
    case DATE_ITALIAN:
      return DAY_FIRST;
    case DATE_ANSI:
    case DATE_JAPAN:
    case DATE_TAIWAN:
    case DATE_YMD:
      return YEAR_FIRST;
    case DATE_AMERICAN:
    case DATE_MDY:
    case DATE_USA:
      return MONTH_FIRST;
    default:
      return NOT_A_PATTERN;
  }
}

void append_text(std::string* key, const char* text) {
  if (text) key->append(text);
  key->push_back('\0');
}

void append_u32(std::string* key, uint32_t v) { key->append(reinterpret_cast<const char*>(&v), sizeof v); }

std::u16string utf8_to_utf16(const std::string& s) {
  std::u16string out(s.size() + 1, u'\0');
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &len, s.data(),
                       static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) throw RuntimeError(1001, String("date format"));
  out.resize(static_cast<size_t>(len));
  return out;
}

String utf16_to_utf8(const std::u16string& s) {
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  String out(s.size() * 3 + 1, Charset::utf8);
  u_strToUTF8WithSub(out.write(), static_cast<int32_t>(s.size() * 3 + 1), &len,
                     reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()), 0xFFFD, nullptr,
                     &status);
  if (U_FAILURE(status)) throw RuntimeError(1001, String("date format"));
  out.resize(static_cast<size_t>(len));
  return out;
}

void replace_all(std::u16string* s, const std::u16string& from, const std::u16string& to) {
  if (from.empty()) return;
  std::u16string result;
  size_t pos = 0;
  for (;;) {
    size_t hit = s->find(from, pos);
    if (hit == std::u16string::npos) break;
    result.append(*s, pos, hit - pos);
    result.append(to);
    pos = hit + from.size();
  }
  if (pos == 0) return;
  result.append(*s, pos, std::u16string::npos);
  *s = std::move(result);
}

void trim(std::u16string* s) {
  size_t b = 0, e = s->size();
  while (b < e && u_isblank((*s)[b])) ++b;
  while (e > b && u_isblank((*s)[e - 1])) --e;
  *s = s->substr(b, e - b);
}

std::u16string pattern_of(UDateFormat* format) {
  UChar buf[128];
  UErrorCode status = U_ZERO_ERROR;
  int32_t len = udat_toPattern(format, false, buf, 128, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    std::u16string big(static_cast<size_t>(len) + 1, u'\0');
    status = U_ZERO_ERROR;
    len = udat_toPattern(format, false, reinterpret_cast<UChar*>(big.data()), len + 1, &status);
    if (U_FAILURE(status)) throw RuntimeError(1001, String("date format"));
    big.resize(static_cast<size_t>(len));
    return big;
  }
  if (U_FAILURE(status)) throw RuntimeError(1001, String("date format"));
  return std::u16string(reinterpret_cast<const char16_t*>(buf), static_cast<size_t>(len));
}

// Gives the formatter's own calendar a proleptic Gregorian change (ignored for calendars that
// are not plain Gregorian, such as the Republic of China calendar).
void make_formatter_proleptic(UDateFormat* format) {
  UErrorCode status = U_ZERO_ERROR;
  UCalendar* cal = ucal_clone(udat_getCalendar(format), &status);
  if (U_FAILURE(status)) return;
  make_proleptic(cal);
  udat_setCalendar(format, cal);
  ucal_close(cal);
}

// Opens the formatter of a pattern style, or the locale style of SHORT and LONG.
UDateFormat* open_formatter(DateTimeFormat style, const std::string& pattern, UDateFormatStyle time_style,
                            UDateFormatStyle date_style, const char* locale) {
  UErrorCode status = U_ZERO_ERROR;
  UDateFormat* format;
  if (field_order(style) == NOT_A_PATTERN) {
    format = udat_open(time_style, date_style, locale, nullptr, -1, nullptr, -1, &status);
  } else {
    std::u16string p = utf8_to_utf16(pattern);
    const char* cal_locale = style == DATE_TAIWAN ? "@calendar=roc" : "@calendar=gregorian";
    format = udat_open(UDAT_PATTERN, UDAT_PATTERN, cal_locale, nullptr, -1, reinterpret_cast<const UChar*>(p.data()),
                       static_cast<int32_t>(p.size()), &status);
  }
  if (U_FAILURE(status) || format == nullptr) {
    if (format) udat_close(format);
    throw RuntimeError(1001, String("date format"));
  }
  make_formatter_proleptic(format);
  return format;
}

date_format_st lookup_or_insert(date_format_cache& cache, const std::string& key,
                                std::unique_ptr<date_format_entry_st> (*make)(const void*), const void* ctx) {
  {
    std::shared_lock<std::shared_mutex> read(cache.lock);
    auto it = cache.entries.find(key);
    if (it != cache.entries.end()) {
      date_format_entry_st* e = it->second.get();
      return date_format_st{e, e->format, e->empty};
    }
  }
  std::unique_ptr<date_format_entry_st> fresh = make(ctx);  // built outside the lock
  std::unique_lock<std::shared_mutex> write(cache.lock);
  auto inserted = cache.entries.emplace(key, std::move(fresh));  // a racing builder's entry wins
  date_format_entry_st* e = inserted.first->second.get();
  return date_format_st{e, e->format, e->empty};
}

struct date_args_st {
  DateTimeFormat style;
  bool century;
  const char* mark;
  int hours;
  bool seconds;
  const char* date_time_separator;
  const char* time_separator;
};

std::string date_part(const date_args_st& a) {
  std::string mark = a.mark ? a.mark : "";
  std::string year = a.century ? "yyyy" : "yy";
  switch (field_order(a.style)) {
    case DAY_FIRST:
      return "dd" + mark + "MM" + mark + year;
    case YEAR_FIRST:
      return year + mark + "MM" + mark + "dd";
    case MONTH_FIRST:
      return "MM" + mark + "dd" + mark + year;
    default:
      return std::string();
  }
}

std::unique_ptr<date_format_entry_st> make_date_entry(const void* ctx) {
  const date_args_st& a = *static_cast<const date_args_st*>(ctx);
  auto entry = std::make_unique<date_format_entry_st>();
  UDateFormatStyle date_style = a.style == DATE_LONG ? UDAT_FULL : UDAT_MEDIUM;
  entry->format = open_formatter(a.style, date_part(a), UDAT_NONE, date_style, nullptr);
  entry->empty = utf16_to_utf8(empty_date_picture(pattern_of(entry->format)));
  return entry;
}

std::unique_ptr<date_format_entry_st> make_datetime_entry(const void* ctx) {
  const date_args_st& a = *static_cast<const date_args_st*>(ctx);
  auto entry = std::make_unique<date_format_entry_st>();
  std::string pattern;
  if (field_order(a.style) != NOT_A_PATTERN) {
    const char* tsep = a.time_separator ? a.time_separator : "";
    std::string seconds = a.seconds ? std::string(tsep) + "ss" : std::string();
    pattern = date_part(a) + (a.date_time_separator ? a.date_time_separator : "") + (a.hours == 12 ? "hh" : "HH") +
              tsep + "mm" + seconds + (a.hours == 12 ? " aa" : "");
  }
  if (a.style == DATE_LONG) {
    entry->format = open_formatter(a.style, pattern, UDAT_FULL, UDAT_FULL, "en_US");
  } else {
    entry->format = open_formatter(a.style, pattern, UDAT_MEDIUM, UDAT_MEDIUM, nullptr);
  }
  entry->empty = utf16_to_utf8(empty_datetime_picture(pattern_of(entry->format)));
  return entry;
}

void check_style(DateTimeFormat style) {
  if (field_order(style) == NOT_A_PATTERN && style != DATE_SHORT && style != DATE_LONG) throw RuntimeError(1001);
}

}  // namespace

date_format_entry_st::~date_format_entry_st() {
  QZ_TRACE;
  if (format) udat_close(format);
}

void make_proleptic(UCalendar* cal) {
  QZ_TRACE;
  UErrorCode status = U_ZERO_ERROR;
  ucal_setGregorianChange(cal, -DBL_MAX, &status);  // U_DATE_MIN
}

std::u16string empty_date_picture(const std::u16string& pattern) {
  QZ_TRACE;
  std::u16string s = pattern;
  replace_all(&s, u"z", u"");
  trim(&s);
  replace_all(&s, u"yyyy", u"____");
  replace_all(&s, u"yy", u"__");
  replace_all(&s, u"y", u"____");
  replace_all(&s, u"MMMM", u"________");
  replace_all(&s, u"MM", u"__");
  replace_all(&s, u"dd", u"__");
  replace_all(&s, u"d", u"__");
  replace_all(&s, u"EEEE", u"________");
  replace_all(&s, u"\u202F", u" ");
  trim(&s);
  return s;
}

std::u16string empty_datetime_picture(const std::u16string& pattern) {
  QZ_TRACE;
  std::u16string s = pattern;
  replace_all(&s, u"z", u"");
  trim(&s);
  replace_all(&s, u"yyyy", u"____");
  replace_all(&s, u"yy", u"__");
  replace_all(&s, u"y", u"____");
  replace_all(&s, u"EEEE", u"________");
  replace_all(&s, u"MMMM", u"________");
  for (const char16_t* two : {u"MM", u"dd", u"d", u"hh", u"HH", u"mm", u"ss"}) replace_all(&s, two, u"__");
  replace_all(&s, u"aa", u"AM");
  replace_all(&s, u"'", u"");
  replace_all(&s, u"\u202F", u" ");
  trim(&s);
  return s;
}

UErrorCode format_date_calendar(const date_format_st& format, const UCalendar* cal, std::u16string* out) {
  QZ_TRACE;
  std::lock_guard<std::mutex> guard(format.entry->lock);
  if (out->size() < 64) out->resize(64);
  UErrorCode status = U_ZERO_ERROR;
  int32_t len = udat_formatCalendar(format.format, const_cast<UCalendar*>(cal), reinterpret_cast<UChar*>(out->data()),
                                    static_cast<int32_t>(out->size()), nullptr, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {  // preflight: len is the size needed
    out->resize(static_cast<size_t>(len) + 1);
    status = U_ZERO_ERROR;
    len = udat_formatCalendar(format.format, const_cast<UCalendar*>(cal), reinterpret_cast<UChar*>(out->data()),
                              static_cast<int32_t>(out->size()), nullptr, &status);
  }
  if (U_FAILURE(status)) return status;
  out->resize(static_cast<size_t>(len));
  return status;
}

String date_format_pattern(const date_format_st& format) {
  QZ_TRACE;
  std::lock_guard<std::mutex> guard(format.entry->lock);
  return utf16_to_utf8(pattern_of(format.format));
}

date_format_st cached_date_format(date_format_cache& cache, DateTimeFormat style, bool century, const char* mark) {
  QZ_TRACE;
  check_style(style);
  std::string key;
  append_u32(&key, style);
  key.push_back(century ? 1 : 0);
  append_text(&key, mark);
  date_args_st args{style, century, mark, 0, false, nullptr, nullptr};
  return lookup_or_insert(cache, key, make_date_entry, &args);
}

date_format_st cached_datetime_format(date_format_cache& cache, DateTimeFormat style, bool century, const char* mark,
                                     int hours, bool seconds, const char* date_time_separator,
                                     const char* time_separator) {
  QZ_TRACE;
  check_style(style);
  std::string key;
  append_u32(&key, style);
  key.push_back(century ? 1 : 0);
  key.push_back(seconds ? 1 : 0);
  append_u32(&key, static_cast<uint32_t>(hours));
  append_text(&key, mark);
  append_text(&key, date_time_separator);
  append_text(&key, time_separator);
  date_args_st args{style, century, mark, hours, seconds, date_time_separator, time_separator};
  return lookup_or_insert(cache, key, make_datetime_entry, &args);
}

}  // namespace qzbase
