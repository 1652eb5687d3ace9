// errors.h - the error table: each error number with its message and its detail format.
#pragma once

#include <qzbase.h>

#include <cstdint>

namespace qzbase {

struct error_st {
  uint32_t code;
  const char* message;
  const char* format;  // one "%s" for the detail, or null
};

String error_message(int code);
String error_message_formatted(int code, const String& detail);
int find_error(int code, const error_st** row);
int get_list_of_errors(const error_st** rows);

}  // namespace qzbase
