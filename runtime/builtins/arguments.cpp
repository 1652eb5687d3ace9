// arguments.cpp - reading the arguments of a built-in.
#include "builtins/arguments.h"

#include "builtins/entry_points.h"
#include "vm/execute.h"

namespace qzbase {

Variant* argument_value(VmStack* stack, size_t n) {
  QZ_TRACE;
  Variant* v = Param(stack, n);
  return v->tag == VT_REFERENCE ? v->reference.target : v;
}

String string_argument(VmStack* stack, size_t n) {
  QZ_TRACE;
  return static_cast<String>(*argument_value(stack, n));
}

int64_t integer_argument(VmStack* stack, size_t n) {
  QZ_TRACE;
  const Variant* v = argument_value(stack, n);
  switch (v->tag) {
    case VT_INTEGER:
      return v->integer.value;
    case VT_NUMERIC:
    case VT_MONEY:
      return static_cast<integer_type_st>(*v).value;
    default:
      throw RuntimeError(11);
  }
}

int int32_argument(VmStack* stack, size_t n) {
  QZ_TRACE;
  int64_t v = integer_argument(stack, n);
  if (v < INT32_MIN || v > INT32_MAX) throw RuntimeError(39);
  return static_cast<int>(v);
}

bool has_argument(VmStack* stack, size_t argc, size_t n) {
  QZ_TRACE;
  return argc >= n && !is_null_argument(Param(stack, n));
}

}  // namespace qzbase
