// literals.cpp - the scanner's literal builders and text helpers.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frontend/scanner.h"
#include "values/value_text.h"
#include "values/string_internal.h"

namespace qzbase {

namespace {

// The joined fragments as ASCII bytes (characters ASCII cannot hold become substitutes, which no
// converter below accepts as a digit).
std::string joined_ascii(const scan_string_list_st& fragments) {
  String text = Scanner::join_scan_strings(fragments);
  if (text.get_charset() != Charset::ascii) text.convert(Charset::ascii, CON_NONE, 0);
  return std::string(text.read(), text.size());
}

}  // namespace

// --- Text helpers ----------------------------------------------------------------------------------

String Scanner::scan_string_to_string(const scan_string_st& text) {
  QZ_TRACE;
  return String::create_from_scan_string(text);
}

Const_String* Scanner::create_const_string(const document_location_st& location, const scan_string_st& text) {
  QZ_TRACE;
  return new Const_String(location, String::create_from_scan_string(text));
}

Const_String* Scanner::create_const_string_from_list(const document_location_st& location,
                                                     const scan_string_list_st& fragments) {
  QZ_TRACE;
  return new Const_String(location, join_scan_strings(fragments));
}

String Scanner::join_scan_strings(const scan_string_list_st& fragments) {
  QZ_TRACE;
  Concat joined;
  for (const scan_string_st& fragment : fragments) {
    if (fragment.end == fragment.begin) continue;
    joined.append(String::create_from_scan_string(fragment));
  }
  return joined.to_string(false);
}

scan_string_list_st* Scanner::scan_string_list_new(const scan_string_st& first) {
  QZ_TRACE;
  return new scan_string_list_st{first};
}

scan_string_list_st* Scanner::scan_string_list_new(const scan_string_st& first, const scan_string_st& second) {
  QZ_TRACE;
  return new scan_string_list_st{first, second};
}

scan_string_list_st* Scanner::scan_string_list_append(scan_string_list_st* list, const scan_string_st& text) {
  QZ_TRACE;
  list->push_back(text);
  return list;
}

scan_string_list_st* Scanner::scan_string_list_append_list(scan_string_list_st* list, scan_string_list_st* other) {
  QZ_TRACE;
  if (other) {
    list->splice(list->end(), *other);
    delete other;
  }
  return list;
}

void Scanner::scan_string_list_free(scan_string_list_st* list) {
  QZ_TRACE;
  delete list;
}

// --- Integers ----------------------------------------------------------------------------------------

bool Scanner::atoi(const char*& text, size_t& length, size_t& leading_zeros, int64_t& value) {
  QZ_TRACE;
  const char* p = text;
  bool negative = *p == '-';
  if (negative) ++p;
  leading_zeros = 0;
  while (*p == '0') {
    ++p;
    ++leading_zeros;
  }
  const char* digits = p;
  while (*p >= '0' && *p <= '9') ++p;
  length = static_cast<size_t>(p - text);
  if (p == digits) {  // only zeros, or nothing
    value = 0;
    text = p;
    return true;
  }
  // The text without its leading zeros, sign included, read as a signed 64-bit number (strtol
  // saturates on overflow) and printed back: a difference means it did not fit.
  std::string significant = negative ? "-" : "";
  significant.append(digits, p);
  long parsed = std::strtol(significant.c_str(), nullptr, 10);
  char printed[32];
  std::snprintf(printed, sizeof printed, "%ld", parsed);
  value = parsed;
  if (significant != printed) return false;
  text = p;
  return true;
}

bool Scanner::atoi_from_hex(const char*& text, int64_t& value) {
  QZ_TRACE;
  const char* p = text;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  uint64_t result = 0;
  bool any = false;
  bool overflow = false;
  for (int d; (d = hex_digit_value(static_cast<unsigned char>(*p))) >= 0; ++p) {
    if (result > (UINT64_MAX >> 4)) overflow = true;
    result = (result << 4) | static_cast<uint64_t>(d);
    any = true;
  }
  value = static_cast<int64_t>(result);  // from 2^63 up the value becomes negative
  if (!any || overflow || *p != '\0') return false;
  text = p;
  return true;
}

bool Scanner::create_integer(const scan_string_list_st& fragments, int64_t& value) {
  QZ_TRACE;
  std::string text = joined_ascii(fragments);
  const char* p = text.c_str();
  size_t length = 0;
  size_t leading_zeros = 0;
  return atoi(p, length, leading_zeros, value);
}

bool Scanner::create_integer_from_hex(const scan_string_list_st& fragments, int64_t& value) {
  QZ_TRACE;
  std::string text = joined_ascii(fragments);
  const char* p = text.c_str();
  return atoi_from_hex(p, value);
}

// --- Numeric and money ----------------------------------------------------------------------------------

numeric_type_st Scanner::aton(const char* begin, const char* end, char point) {
  QZ_TRACE;
  char buffer[256];
  std::string text(begin, end);
  strcpy_checked(buffer, sizeof buffer, text.c_str());  // copy_buffer_too_small from 256 characters
  size_t n = std::strlen(buffer);
  uint64_t decimals = 0;
  char* dot = static_cast<char*>(std::memchr(buffer, point, n));
  if (dot) {
    for (const char* q = dot + 1; *q >= '0' && *q <= '9'; ++q) ++decimals;
    *dot = '.';  // from_chars reads '.' whatever the locale
  }
  double parsed = 0.0;
  std::from_chars(buffer, buffer + n, parsed, std::chars_format::fixed);
  numeric_type_st result{};
  result.value = parsed;
  result.decimals = decimals;
  return result;
}

bool Scanner::create_numeric(const scan_string_list_st& fragments, numeric_type_st& value) {
  QZ_TRACE;
  std::string text = joined_ascii(fragments);
  try {
    value = aton(text.data(), text.data() + text.size(), '.');
  } catch (const copy_buffer_too_small&) {
    // Mended (see the header): a literal of 256 characters or more is a literal error, which the
    // grammar reports as event 0, not an exception crossing the parser.
    value = numeric_type_st{};
    value.value = 0.0;
    value.decimals = 0;
    return false;
  }
  return true;
}

bool Scanner::create_money(const scan_string_list_st& fragments, money_type_st& value) {
  QZ_TRACE;
  return create_money(join_scan_strings(fragments), value);
}

bool Scanner::create_money(String text, money_type_st& value) {
  QZ_TRACE;
  return string_to_money(text.read(), text.size(), text.get_charset(), &value, U'.', 0) == 0;
}

// --- Binary strings ---------------------------------------------------------------------------------------

Const_String* Scanner::create_binary_const_string(const document_location_st& location, const scan_string_st& text) {
  QZ_TRACE;
  // Decode the characters (the source may be in a multi-byte charset) and skip "0h".
  std::string digits;
  const char* p = text.begin;
  size_t skipped = 0;
  while (p < text.end) {
    char32_t c = text.charset->next(&p, text.end);
    if (skipped < 2) {
      ++skipped;
      continue;
    }
    int d = hex_digit_value(static_cast<int>(c));
    digits.push_back(static_cast<char>(d < 0 ? 0 : d));
  }
  size_t n = digits.size();
  std::string bytes((n + 1) / 2, '\0');
  size_t i = 0;
  size_t out = 0;
  if (n % 2 == 1) bytes[out++] = digits[i++];  // an odd first digit forms the first byte alone
  for (; i < n; i += 2) bytes[out++] = static_cast<char>((digits[i] << 4) | digits[i + 1]);
  return new Const_String(location, String::fromBytes(bytes.data(), bytes.size(), Charset::binary));
}

}  // namespace qzbase
