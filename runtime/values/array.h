// array.h - element blocks of Array, shared with Variant.
#pragma once

#include <qzbase.h>

namespace qzbase {

// A block of n zero-filled (empty) elements with refcount 1. std::bad_alloc when the storage
// cannot be had.
array_block_st* array_block_new(size_t n);
// The same for a new array's size: RuntimeError 230 when n elements are more than the machine's
// memory could hold or the storage cannot be allocated.
array_block_st* array_block_new_checked(size_t n);
// Releases every element with tag 10 or more with the stack, then frees the items and the block.
// When releases throw, the rest are still released and the block freed; the first exception is
// raised again.
void array_block_release(array_block_st* block, VmStack* stack);
inline void array_block_add_ref(array_block_st* block) { ++block->refcount; }
// refcount - 1; the last reference releases the block.
void array_block_release_ref(array_block_st* block, VmStack* stack);

// The largest element count a new array may have.
size_t array_max_elements();

// Element n (1-based) of an array whose block nothing else shares, when it holds a plain value
// (tag below 10): Array::write would neither copy the block nor release anything, so the caller
// may store a value into it directly. Null otherwise (shared block, n out of range, an element
// that owns a resource): the caller takes the full way.
inline Variant* array_plain_item_for_write(const Array& a, size_t n) {
  const array_block_st* b = a.block();
  if (b == nullptr || b->refcount != 1 || n - 1 >= a.count()) return nullptr;
  Variant* item = b->items + (n - 1);
  return item->tag < VT_STRING ? item : nullptr;
}

}  // namespace qzbase
