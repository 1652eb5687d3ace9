// array_functions.cpp - the array built-ins built so far: DIMENSION.
#include "builtins/entry_points.h"
#include "vm/execute.h"

namespace qzbase {

// DIMENSION(rows, [columns], var): (re)dimensions the variable (argument 3 is the variable or a
// reference to it) keeping elements by position; a null or missing column count makes it
// one-dimensional. The result is the array.
void bi_dimension(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 3) throw RuntimeError(11);
  long rows = static_cast<long>(*Param(stack, 1));
  const Variant* columns = Param(stack, 2);
  long cols = is_null_argument(columns) ? 0 : static_cast<long>(*columns);
  if (rows < 1 || cols < 0) throw RuntimeError(230);
  Array* array = Param(stack, 3)->dimension(stack, static_cast<size_t>(rows), static_cast<size_t>(cols));
  result->set_array(*array);
}

}  // namespace qzbase
