// value_functions.h - the built-ins of numbers, binary conversion, dates and times, and
// character sets. Each follows the native calling convention (entry_points.h).
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

namespace qzbase {

// Numbers (numeric_functions.cpp).
void bi_abs(VmStack* stack, size_t argc, Variant* result);        // ABS
void bi_round(VmStack* stack, size_t argc, Variant* result);      // ROUND
void bi_floor(VmStack* stack, size_t argc, Variant* result);      // FLOOR
void bi_ceiling(VmStack* stack, size_t argc, Variant* result);    // CEILING
void bi_int(VmStack* stack, size_t argc, Variant* result);        // INT
void bi_mod(VmStack* stack, size_t argc, Variant* result);        // MOD
void bi_sqrt(VmStack* stack, size_t argc, Variant* result);       // SQRT
void bi_exp(VmStack* stack, size_t argc, Variant* result);        // EXP
void bi_log(VmStack* stack, size_t argc, Variant* result);        // LOG
void bi_log10(VmStack* stack, size_t argc, Variant* result);      // LOG10
void bi_sin(VmStack* stack, size_t argc, Variant* result);        // SIN
void bi_cos(VmStack* stack, size_t argc, Variant* result);        // COS
void bi_tan(VmStack* stack, size_t argc, Variant* result);        // TAN
void bi_asin(VmStack* stack, size_t argc, Variant* result);       // ASIN
void bi_acos(VmStack* stack, size_t argc, Variant* result);       // ACOS
void bi_atan(VmStack* stack, size_t argc, Variant* result);       // ATAN
void bi_atn2(VmStack* stack, size_t argc, Variant* result);       // ATN2
void bi_pi(VmStack* stack, size_t argc, Variant* result);         // PI
void bi_min(VmStack* stack, size_t argc, Variant* result);        // MIN
void bi_max(VmStack* stack, size_t argc, Variant* result);        // MAX
void bi_between(VmStack* stack, size_t argc, Variant* result);    // BETWEEN
void bi_inlist(VmStack* stack, size_t argc, Variant* result);     // INLIST
void bi_evl(VmStack* stack, size_t argc, Variant* result);        // EVL
void bi_nvl(VmStack* stack, size_t argc, Variant* result);        // NVL
void bi_empty(VmStack* stack, size_t argc, Variant* result);      // EMPTY
void bi_bitand(VmStack* stack, size_t argc, Variant* result);     // BITAND
void bi_bitor(VmStack* stack, size_t argc, Variant* result);      // BITOR
void bi_bitxor(VmStack* stack, size_t argc, Variant* result);     // BITXOR
void bi_bitnot(VmStack* stack, size_t argc, Variant* result);     // BITNOT
void bi_bitlshift(VmStack* stack, size_t argc, Variant* result);  // BITLSHIFT
void bi_bitrshift(VmStack* stack, size_t argc, Variant* result);  // BITRSHIFT
void bi_bitset(VmStack* stack, size_t argc, Variant* result);     // BITSET
void bi_bitclear(VmStack* stack, size_t argc, Variant* result);   // BITCLEAR
void bi_bittest(VmStack* stack, size_t argc, Variant* result);    // BITTEST
void bi_ntom(VmStack* stack, size_t argc, Variant* result);       // NTOM
void bi_mton(VmStack* stack, size_t argc, Variant* result);       // MTON
void bi_payment(VmStack* stack, size_t argc, Variant* result);    // PAYMENT
void bi_fv(VmStack* stack, size_t argc, Variant* result);         // FV
void bi_rand(VmStack* stack, size_t argc, Variant* result);       // RAND
void bi_srand(VmStack* stack, size_t argc, Variant* result);      // SRAND
void bi_rtod(VmStack* stack, size_t argc, Variant* result);       // RTOD

// The two financial formulas. PAYMENT with 0 periods raises 11; a rate that vanishes beside 1
// takes the zero-rate limit (PAYMENT: the cents rounded up, then divided; FV: payment x periods).
double payment_per_period(double principal, double rate, double periods);
double future_value(double payment, double rate, int64_t periods);

// Binary conversion (binary_conversion.cpp).
void bi_bintoc(VmStack* stack, size_t argc, Variant* result);        // BINTOC
void bi_createbinary(VmStack* stack, size_t argc, Variant* result);  // CREATEBINARY

// The integer encodings of BINTOC: value (checked against T's range by the caller), keep_sign S
// (else the sign bit is inverted so that the bytes sort like the numbers), little_endian R
// (else the most significant byte first). A binary string of sizeof(T) bytes.
template <typename T>
String __bintoc_I_cast(int64_t value, bool keep_sign, bool little_endian);
// A money value's raw 64-bit amount (value x 10000) the same way; 11 beyond 64 bits.
String __bintoc_Y(const money_type_st& value, bool keep_sign, bool little_endian);

// Dates and times (date_functions.cpp).
void bi_date(VmStack* stack, size_t argc, Variant* result);      // DATE
void bi_datetime(VmStack* stack, size_t argc, Variant* result);  // DATETIME
void bi_year(VmStack* stack, size_t argc, Variant* result);      // YEAR
void bi_month(VmStack* stack, size_t argc, Variant* result);     // MONTH
void bi_day(VmStack* stack, size_t argc, Variant* result);       // DAY
void bi_hour(VmStack* stack, size_t argc, Variant* result);      // HOUR
void bi_minute(VmStack* stack, size_t argc, Variant* result);    // MINUTE
void bi_sec(VmStack* stack, size_t argc, Variant* result);       // SEC
void bi_dtot(VmStack* stack, size_t argc, Variant* result);      // DTOT
void bi_ttod(VmStack* stack, size_t argc, Variant* result);      // TTOD
void bi_dtoc(VmStack* stack, size_t argc, Variant* result);      // DTOC
void bi_dtos(VmStack* stack, size_t argc, Variant* result);      // DTOS
void bi_ttoc(VmStack* stack, size_t argc, Variant* result);      // TTOC
void bi_cmonth(VmStack* stack, size_t argc, Variant* result);    // CMONTH
void bi_cdow(VmStack* stack, size_t argc, Variant* result);      // CDOW
void bi_dow(VmStack* stack, size_t argc, Variant* result);       // DOW
void bi_julian(VmStack* stack, size_t argc, Variant* result);    // JULIAN
void bi_time(VmStack* stack, size_t argc, Variant* result);      // TIME
void bi_seconds(VmStack* stack, size_t argc, Variant* result);   // SECONDS
void bi_lupdate(VmStack* stack, size_t argc, Variant* result);   // LUPDATE

// The weekday of a day number, 1 .. 7 counted from first_day (1 Sunday .. 7 Saturday).
int weekday_of(date_st date, int first_day);

// Character sets (charset_functions.cpp; DETECTCHARSET is in charset_detection.h).
void bi_charset(VmStack* stack, size_t argc, Variant* result);    // CHARSET
void bi_cpcurrent(VmStack* stack, size_t argc, Variant* result);  // CPCURRENT
void bi_cpconvert(VmStack* stack, size_t argc, Variant* result);  // CPCONVERT
void bi_strconv(VmStack* stack, size_t argc, Variant* result);    // STRCONV

// The bytes of text taken as being in source, converted into target (substitutes for what the
// target lacks); 9011 when sizing or converting fails.
String convert_charset(const String& text, const Charset* source, const Charset* target);

}  // namespace qzbase
