// fcvt.h - float-to-text conversion.
//
// trunc_insignificant_digits is public (qzbase.h); ecvt_cross, fcvt_cross, convert and
// format_numeric_field are the library's own.
#pragma once

#include <qzbase.h>

namespace qzbase {

// The one routine behind ecvt_cross (fmode 0) and fcvt_cross (fmode 1).
char* convert(char* buf, size_t bufsize, double value, int ndigits, int* decpt, int* sign,
              int fmode, size_t* len);

// Writes value as fixed-point text ("%width.decimalslf") into exactly width bytes of dst (no
// terminator): a leading "0" is dropped, a text that then falls short of width is padded with
// blanks on the left, surplus decimals are cut (not rounded). More than decimals + 1 surplus
// characters (1 or more with 0 decimals): RuntimeError 39. With retry_rounded, a text without a
// decimal point inside it is made again, without the flag, from round(value).
void format_numeric_field(bool retry_rounded, char* dst, size_t width, size_t decimals,
                          double value);

}  // namespace qzbase

namespace qzbase {

// Float-to-text: ecvt/fcvt into a caller buffer of at least the digit count + 2 bytes
// (otherwise std::exception). Returns buf or buf + 1; *len receives the length of the result.
char* ecvt_cross(char* buf, size_t bufsize, double value, int ndigits, int* decpt, int* sign,
                 size_t* len);
char* fcvt_cross(char* buf, size_t bufsize, double value, int ndigits, int* decpt, int* sign,
                 size_t* len);

}  // namespace qzbase
