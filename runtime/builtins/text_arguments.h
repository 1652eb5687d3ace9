// text_arguments.h - reading the arguments of the text built-ins and sizing their results.
//
// Arguments arrive already cast to their signature letter; a by-reference argument is followed
// to its target. Results whose size the caller chooses (REPLICATE, SPACE, PADL, STR, ...) are
// checked before they are allocated: a size that could never be held raises 11 rather than
// letting the allocator fail outside the language.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "vm/execute.h"

namespace qzbase {


// True when one of the arguments first .. last (those passed) is null.
inline bool any_null_argument(VmStack* stack, size_t argc, size_t first, size_t last) {
  for (size_t i = first; i <= last && i <= argc; ++i) {
    if (is_null_argument(Param(stack, i))) return true;
  }
  return false;
}

// The common start of a text built-in: 11 with fewer than `required` arguments; true, with the
// result set to null, when one of the arguments 1 .. last_nullable is null.
inline bool null_result(VmStack* stack, size_t argc, size_t required, size_t last_nullable, Variant* result) {
  if (argc < required) throw RuntimeError(11);
  if (!any_null_argument(stack, argc, 1, last_nullable)) return false;
  result->set_null();
  return true;
}

// A string argument, read in place (the argument slot keeps it alive during the call); 11 for
// any other value.
const String& text_argument(VmStack* stack, size_t n);

// The most bytes one text may take: the machine's memory.
size_t text_size_limit();
// The byte size of units x unit_bytes, or 11 when that many bytes could never be allocated
// (beyond the machine's memory, or overflowing the size type).
size_t checked_text_size(size_t units, size_t unit_bytes);
// A fresh string of size bytes in cs; 11 when it cannot be allocated.
String allocate_text(size_t size, const Charset* cs);

}  // namespace qzbase
