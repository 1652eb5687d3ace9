// exception_objects.h - the "exception" objects a CATCH TO variable receives, as the handler
// search, THROW and the re-raise at the end of a TRY make and read them.
//
// The VM and the compiler know the class only by name. The objects layer
// (objects/exception_object.cpp) installs these when the library loads.
#pragma once

#include <qzbase.h>

namespace qzbase {

enum ExceptionContent : int {
  EXCEPTION_NONE = 0,   // the value holds no exception object
  EXCEPTION_VALUE = 1,  // a THROWn value
  EXCEPTION_ERROR = 2,  // an error with a non-zero number
};

struct exception_hooks_st {
  // A new exception object holding an error's number, message and detail, into out (empty on
  // entry; its only reference).
  void (*for_error)(VmStack* stack, int code, const String& message, const String& detail, Variant* out);
  // A new exception object holding THROW's value in UserValue, into out (empty on entry).
  void (*for_value)(VmStack* stack, const Variant& value, Variant* out);
  // What the exception object held by value carries; for EXCEPTION_ERROR *error receives its
  // number, message and detail.
  ExceptionContent (*content)(const Variant& value, RuntimeError* error);
};
extern exception_hooks_st exception_hooks;

}  // namespace qzbase
