// code_array.h - the storage of a program's code array (its VmOp* elements).
//
// A large unit's array grows while it is compiled: from a size on the array is a mapping of its
// own that grows in place or by moving its pages (no copy, and the old and new arrays never stand
// side by side), and pages past the last element written are never touched. Every code array a
// Program takes comes from here.
#pragma once

#include <cstddef>

namespace qzbase {

class VmOp;

// n zero elements; null when the memory cannot be had.
VmOp** new_code_array(size_t n) noexcept;
// The array of n elements resized to new_n, keeping the first min(n, new_n); elements past n are
// zero. Null when it cannot be had: the old array is then unchanged.
VmOp** resize_code_array(VmOp** code, size_t n, size_t new_n) noexcept;
// Frees an array of n elements (n as it was made or last resized).
void delete_code_array(VmOp** code, size_t n) noexcept;

}  // namespace qzbase
