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

// One entry of a stack's error list (AERROR()).
class Error {
 public:
  Error(int code, const String& message, const String& detail);
  Error(const Error& other);
  Error& operator=(const Error& other);
  ~Error();  // releases the seven values

  Variant number;   // integer
  Variant message;  // string
  Variant detail;   // string
  Variant value4;   // the four further values stay empty unless the builder fills them
  Variant value5;
  Variant value6;
  Variant value7;
};

}  // namespace qzbase
