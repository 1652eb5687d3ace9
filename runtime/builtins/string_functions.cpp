// string_functions.cpp - the character built-ins built so far: CONCAT and AT.
#include "builtins/entry_points.h"
#include "vm/execute.h"

namespace qzbase {

bool is_null_argument(const Variant* v) {
  QZ_TRACE;
  if (v->tag == VT_REFERENCE) v = v->reference.target;
  return v->tag == VT_NULL || (v->tag == VT_OBJECT && v->is_empty_object_reference());
}

namespace {

String string_argument(VmStack* stack, size_t n) {
  const Variant* v = Param(stack, n);
  if (v->tag == VT_REFERENCE) v = v->reference.target;
  return static_cast<String>(*v);
}

}  // namespace

// CONCAT(s1, ...): null when any argument is null; pieces in another character set are converted
// into the first one's.
void bi_concat(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  for (size_t i = 1; i <= argc; ++i) {
    if (is_null_argument(Param(stack, i))) {
      result->set_null();
      return;
    }
  }
  if (argc == 0) throw RuntimeError(11);
  Concat text;
  for (size_t i = 1; i <= argc; ++i) text.append(string_argument(stack, i));
  result->set_string(text.to_string(true));
}

// AT(needle, haystack [, n]): the 1-based character position of the n-th occurrence, 0 when there
// is none. n below 1 is 11.
void bi_at(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  for (size_t i = 1; i <= argc; ++i) {
    if (is_null_argument(Param(stack, i))) {
      result->set_null();
      return;
    }
  }
  long occurrence = 1;
  if (argc >= 3) {
    const Variant* n = Param(stack, 3);
    occurrence = static_cast<long>(n->tag == VT_REFERENCE ? *n->reference.target : *n);
    if (occurrence < 1) throw RuntimeError(11);
  }
  String needle = string_argument(stack, 1);
  String haystack = string_argument(stack, 2);
  size_t position = 0;
  size_t begin = 0;
  size_t end = 0;
  long found = 0;
  if (haystack.strstr(needle, &position, &begin, &end, static_cast<size_t>(occurrence - 1))) {
    found = static_cast<long>(position) + 1;
  }
  result->set_integer(found);
}

}  // namespace qzbase
