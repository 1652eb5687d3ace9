// variant.h - internals of Variant shared inside the library.
//
// The class itself, its payload records and the member tables are in qzbase.h (plug-ins hold
// Variants); this header has what only the library uses.
#pragma once

#include <qzbase.h>

#include "values/array.h"
#include "values/object_ptr.h"

namespace qzbase {

// The tolerance within which a double counts as zero (EMPTY() and the comparisons
// use the same test).
inline constexpr double numeric_zero_tolerance = 4.440892098500626e-16;

inline bool numeric_is_zero(double value) {
  return value >= -numeric_zero_tolerance && value <= numeric_zero_tolerance;
}

}  // namespace qzbase
