// icu_i18n.cpp - the functions of ICU's internationalisation library that the runtime calls (calendars,
// date and number formats, charset detection, regular expressions), forwarded to it: the library is
// opened on the first of them (see loaded_library.h). Linked, it cost every program a megabyte of
// mappings and thousands of symbol bindings at start-up; ICU's common library stays linked. As in
// odbc.cpp the library's own headers check each definition, and a function the runtime starts to
// call needs its line here.
#include <unicode/ucal.h>
#include <unicode/ucsdet.h>
#include <unicode/udat.h>
#include <unicode/unum.h>
#include <unicode/uregex.h>

#include "dynload/loaded_library.h"

#ifndef QZ_ICU_I18N_LIBRARY
#define QZ_ICU_I18N_LIBRARY "libicui18n.so.72"
#endif

namespace qzbase {

LoadedLibrary& icu_i18n_library() {
  static LoadedLibrary library(QZ_ICU_I18N_LIBRARY);
  return library;
}

}  // namespace qzbase

// ICU's headers give each function its version (ucal_open is ucal_open_72): that is the name the
// definitions below take and the one looked up.
#define QZ_ICU_NAME(name) QZ_ICU_NAME_TEXT(name)
#define QZ_ICU_NAME_TEXT(name) #name

#define QZ_ICU_FORWARD(result, name, params, args)                                                \
  extern "C" result name params {                                                                 \
    static std::atomic<decltype(&::name)> slot{nullptr};                                          \
    return ::qzbase::loaded_function(::qzbase::icu_i18n_library(), slot, QZ_ICU_NAME(name)) args; \
  }

QZ_ICU_FORWARD(void, ucal_clear, (UCalendar * calendar), (calendar))
QZ_ICU_FORWARD(UCalendar*, ucal_clone, (const UCalendar* cal, UErrorCode* status), (cal, status))
QZ_ICU_FORWARD(void, ucal_close, (UCalendar * cal), (cal))
QZ_ICU_FORWARD(int32_t, ucal_getAttribute, (const UCalendar* cal, UCalendarAttribute attr), (cal, attr))
QZ_ICU_FORWARD(int32_t, ucal_getDefaultTimeZone, (UChar * result, int32_t capacity, UErrorCode* status),
               (result, capacity, status))
QZ_ICU_FORWARD(UCalendar*, ucal_open,
               (const UChar* zone, int32_t length, const char* locale, UCalendarType type, UErrorCode* status),
               (zone, length, locale, type, status))
QZ_ICU_FORWARD(void, ucal_setDateTime,
               (UCalendar * cal, int32_t year, int32_t month, int32_t date, int32_t hour, int32_t minute,
                int32_t second, UErrorCode* status),
               (cal, year, month, date, hour, minute, second, status))
QZ_ICU_FORWARD(void, ucal_setDate, (UCalendar * cal, int32_t year, int32_t month, int32_t date, UErrorCode* status),
               (cal, year, month, date, status))
QZ_ICU_FORWARD(void, ucal_setGregorianChange, (UCalendar * cal, UDate date, UErrorCode* status), (cal, date, status))
QZ_ICU_FORWARD(void, ucsdet_close, (UCharsetDetector * detector), (detector))
QZ_ICU_FORWARD(const UCharsetMatch*, ucsdet_detect, (UCharsetDetector * detector, UErrorCode* status),
               (detector, status))
QZ_ICU_FORWARD(int32_t, ucsdet_getConfidence, (const UCharsetMatch* match, UErrorCode* status), (match, status))
QZ_ICU_FORWARD(const char*, ucsdet_getName, (const UCharsetMatch* match, UErrorCode* status), (match, status))
QZ_ICU_FORWARD(UCharsetDetector*, ucsdet_open, (UErrorCode * status), (status))
QZ_ICU_FORWARD(void, ucsdet_setText,
               (UCharsetDetector * detector, const char* text, int32_t length, UErrorCode* status),
               (detector, text, length, status))
QZ_ICU_FORWARD(void, udat_close, (UDateFormat * format), (format))
QZ_ICU_FORWARD(int32_t, udat_formatCalendar,
               (const UDateFormat* format, UCalendar* calendar, UChar* result, int32_t capacity,
                UFieldPosition* position, UErrorCode* status),
               (format, calendar, result, capacity, position, status))
QZ_ICU_FORWARD(const UCalendar*, udat_getCalendar, (const UDateFormat* format), (format))
QZ_ICU_FORWARD(int32_t, udat_getSymbols,
               (const UDateFormat* format, UDateFormatSymbolType type, int32_t index, UChar* result, int32_t capacity,
                UErrorCode* status),
               (format, type, index, result, capacity, status))
QZ_ICU_FORWARD(UDateFormat*, udat_open,
               (UDateFormatStyle time_style, UDateFormatStyle date_style, const char* locale, const UChar* zone,
                int32_t zone_length, const UChar* pattern, int32_t pattern_length, UErrorCode* status),
               (time_style, date_style, locale, zone, zone_length, pattern, pattern_length, status))
QZ_ICU_FORWARD(void, udat_setCalendar, (UDateFormat * format, const UCalendar* calendar), (format, calendar))
QZ_ICU_FORWARD(int32_t, udat_toPattern,
               (const UDateFormat* format, UBool localized, UChar* result, int32_t capacity, UErrorCode* status),
               (format, localized, result, capacity, status))
QZ_ICU_FORWARD(void, unum_close, (UNumberFormat * format), (format))
QZ_ICU_FORWARD(int32_t, unum_getSymbol,
               (const UNumberFormat* format, UNumberFormatSymbol symbol, UChar* buffer, int32_t size,
                UErrorCode* status),
               (format, symbol, buffer, size, status))
QZ_ICU_FORWARD(UNumberFormat*, unum_open,
               (UNumberFormatStyle style, const UChar* pattern, int32_t length, const char* locale, UParseError* error,
                UErrorCode* status),
               (style, pattern, length, locale, error, status))
QZ_ICU_FORWARD(URegularExpression*, uregex_open,
               (const UChar* pattern, int32_t length, uint32_t flags, UParseError* error, UErrorCode* status),
               (pattern, length, flags, error, status))
QZ_ICU_FORWARD(URegularExpression*, uregex_clone, (const URegularExpression* regex, UErrorCode* status),
               (regex, status))
QZ_ICU_FORWARD(void, uregex_close, (URegularExpression * regex), (regex))
QZ_ICU_FORWARD(void, uregex_setText,
               (URegularExpression * regex, const UChar* text, int32_t length, UErrorCode* status),
               (regex, text, length, status))
QZ_ICU_FORWARD(UBool, uregex_findNext, (URegularExpression * regex, UErrorCode* status), (regex, status))
QZ_ICU_FORWARD(int32_t, uregex_groupCount, (URegularExpression * regex, UErrorCode* status), (regex, status))
QZ_ICU_FORWARD(int32_t, uregex_start, (URegularExpression * regex, int32_t group, UErrorCode* status),
               (regex, group, status))
QZ_ICU_FORWARD(int32_t, uregex_end, (URegularExpression * regex, int32_t group, UErrorCode* status),
               (regex, group, status))
QZ_ICU_FORWARD(UBool, uregex_matches, (URegularExpression * regex, int32_t start, UErrorCode* status),
               (regex, start, status))
QZ_ICU_FORWARD(void, uregex_appendReplacementUText,
               (URegularExpression * regex, UText* replacement, UText* dest, UErrorCode* status),
               (regex, replacement, dest, status))
QZ_ICU_FORWARD(UText*, uregex_appendTailUText, (URegularExpression * regex, UText* dest, UErrorCode* status),
               (regex, dest, status))
