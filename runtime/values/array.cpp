// array.cpp - Array: element blocks, the read side, copy on write, writing and
// re-dimensioning.
#include "values/array.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>

#include "values/release_nesting.h"

#if defined(QZ_USE_MIMALLOC)
#include <mimalloc.h>
#endif

namespace qzbase {

namespace {

#if defined(QZ_USE_MIMALLOC)
// Element storage of this size or more comes straight from the system, already zero and with its
// pages made present in one call. The allocator gives blocks this large their own mapping too,
// then writes zeros over all of it, one page fault at a time, which cost about as much as filling
// the array. Below this size its reuse of freed memory is the cheaper way (an array grown one
// DIMENSION at a time would map and unmap on every step).
constexpr size_t mapped_items_bytes = size_t{16} << 20;

// A mapping of `bytes` straight from the system, zero and present. It starts on a huge-page
// boundary and asks for huge pages: filling a large array then costs a few dozen page faults
// instead of one per 4 KiB, which was more than half the time of a fill. Where the system has no
// huge pages or cannot make the pages present ahead, they come one fault at a time as before.
Variant* map_zeroed(size_t bytes) {
  constexpr size_t huge = size_t{2} << 20;
  size_t span;
  if (__builtin_add_overflow(bytes, huge, &span)) return nullptr;
  void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto first = reinterpret_cast<uintptr_t>(p);
  uintptr_t start = (first + huge - 1) & ~(huge - 1);
  if (start > first) munmap(p, start - first);
  size_t tail = first + span - (start + bytes);
  if (tail != 0) munmap(reinterpret_cast<void*>(start + bytes), tail);
  auto* items = reinterpret_cast<void*>(start);
  madvise(items, bytes, MADV_HUGEPAGE);
#if defined(MADV_POPULATE_WRITE)
  madvise(items, bytes, MADV_POPULATE_WRITE);
#endif
  return static_cast<Variant*>(items);
}
#endif

// Zero-filled storage for n elements; null when it cannot be had.
Variant* items_alloc(size_t n) {
#if defined(QZ_USE_MIMALLOC)
  size_t bytes;
  if (__builtin_mul_overflow(n, sizeof(Variant), &bytes)) return nullptr;
  if (bytes >= mapped_items_bytes) return map_zeroed(bytes);
  return static_cast<Variant*>(mi_calloc(n, sizeof(Variant)));
#else
  return static_cast<Variant*>(std::calloc(n, sizeof(Variant)));
#endif
}

void items_free(Variant* items, size_t n) {
#if defined(QZ_USE_MIMALLOC)
  if (items != nullptr && n * sizeof(Variant) >= mapped_items_bytes) {
    munmap(items, n * sizeof(Variant));
    return;
  }
  mi_free(items);
#else
  (void)n;
  std::free(items);
#endif
}

// (row - 1) x columns + col, false when it does not fit a size_t.
bool element_index(size_t row, size_t columns, size_t col, size_t* n) {
  size_t base;
  if (__builtin_mul_overflow(row - 1, columns, &base)) return false;
  return !__builtin_add_overflow(base, col, n);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Element blocks
// ---------------------------------------------------------------------------------------------

size_t array_max_elements() {
  QZ_TRACE;
  // More elements than the machine has memory for could never be used; asking the allocator
  // for them is not even safe (allocators that reserve lazily succeed, sanitizers abort).
  static const size_t limit = [] {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page = sysconf(_SC_PAGESIZE);
    size_t by_address = SIZE_MAX / sizeof(Variant);
    if (pages <= 0 || page <= 0) return by_address;
    size_t bytes;
    if (__builtin_mul_overflow(static_cast<size_t>(pages), static_cast<size_t>(page), &bytes)) {
      return by_address;
    }
    return std::min(by_address, bytes / sizeof(Variant));
  }();
  return limit;
}

array_block_st* array_block_new(size_t n) {
  QZ_TRACE;
  Variant* items = nullptr;
  if (n != 0) {
    items = items_alloc(n);
    if (items == nullptr) throw std::bad_alloc();
  }
  array_block_st* block;
  try {
    block = new array_block_st{items, n, 1};
  } catch (...) {
    items_free(items, n);
    throw;
  }
  return block;
}

array_block_st* array_block_new_checked(size_t n) {
  QZ_TRACE;
  if (n > array_max_elements()) throw RuntimeError(230);
  try {
    return array_block_new(n);
  } catch (const std::bad_alloc&) {
    throw RuntimeError(230);
  }
}

namespace {

void release_block_items(void* item, VmStack* stack) {
  auto* block = static_cast<array_block_st*>(item);
  std::exception_ptr first;
  for (size_t i = 0; i < block->n; ++i) {
    Variant& item = block->items[i];
    if (item.tag >= VT_STRING) {
      try {
        item.release(stack);
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
  }
  items_free(block->items, block->n);
  delete block;
  if (first) std::rethrow_exception(first);
}

}  // namespace

void array_block_release(array_block_st* block, VmStack* stack) {
  QZ_TRACE;
  // Arrays nested deeper than the release levels wait in the queue (no native recursion).
  if (release_nesting_exceeded()) {
    queue_release(&release_block_items, block, stack);
  } else {
    run_release(&release_block_items, block, stack);
  }
}

void array_block_release_ref(array_block_st* block, VmStack* stack) {
  QZ_TRACE;
  if (--block->refcount == 0) array_block_release(block, stack);
}

// ---------------------------------------------------------------------------------------------
// Construction and release
// ---------------------------------------------------------------------------------------------

Array::Array(size_t n) : block_(nullptr), count_(n), columns_(0) {
  QZ_TRACE;
  block_ = array_block_new_checked(n);
}

Array::Array(size_t rows, size_t cols) : block_(nullptr), count_(0), columns_(cols) {
  QZ_TRACE;
  if (__builtin_mul_overflow(rows, cols, &count_)) throw RuntimeError(230);
  block_ = array_block_new_checked(count_);
}

Array::Array(const Array& other) noexcept
    : block_(other.block_), count_(other.count_), columns_(other.columns_) {
  QZ_TRACE;
  if (block_ != nullptr) array_block_add_ref(block_);
}

Array::~Array() noexcept(false) {
  QZ_TRACE;
  if (block_ != nullptr) throw_assert_failed();
}

void Array::release(VmStack* stack) {
  QZ_TRACE;
  array_block_st* held = block_;
  if (held == nullptr) return;
  block_ = nullptr;
  array_block_release_ref(held, stack);
}

// ---------------------------------------------------------------------------------------------
// Read side
// ---------------------------------------------------------------------------------------------

const Variant* Array::read(size_t row, size_t col) const {
  QZ_TRACE;
  if (row == 0) throw RuntimeError(11);
  if (col == 0) return read(row);
  size_t n;
  if (columns_ == 0) {
    if (__builtin_add_overflow(row, col - 1, &n)) throw RuntimeError(1234);
  } else if (col > columns_ || !element_index(row, columns_, col, &n)) {
    // As on the write side: a column beyond the columns would read an element of a later row.
    throw RuntimeError(1234);
  }
  return read(n);
}

size_t Array::element_number(size_t row, size_t col) const {
  QZ_TRACE;
  if (columns_ == 0) throw RuntimeError(230);
  size_t n;
  if (row == 0 || col == 0 || col > columns_ || !element_index(row, columns_, col, &n) ||
      n > count_) {
    throw RuntimeError(1234);
  }
  return n;
}

size_t Array::check_row(size_t n) const {
  QZ_TRACE;
  if (n == 0 || n > rows()) throw RuntimeError(1234);
  return n;
}

size_t Array::asubscript_row(size_t n) const {
  QZ_TRACE;
  if (n == 0 || n > count_) throw RuntimeError(1234);
  if (columns_ == 0) return n;
  return (n - 1) / columns_ + 1;
}

size_t Array::asubscript_column(size_t n) const {
  QZ_TRACE;
  if (n == 0 || n > count_) throw RuntimeError(1234);
  if (columns_ == 0) throw RuntimeError(230);
  return (n - 1) % columns_ + 1;
}

// ---------------------------------------------------------------------------------------------
// Write side
// ---------------------------------------------------------------------------------------------

void Array::shm_cow_on_demand(VmStack* stack) {
  QZ_TRACE;
  if (block_ == nullptr || block_->refcount == 1) return;
  array_block_st* fresh = array_block_new(block_->n);
  for (size_t i = 0; i < block_->n; ++i) block_->items[i].copy(&fresh->items[i]);
  array_block_st* shared = block_;
  block_ = fresh;
  array_block_release_ref(shared, stack);
}

Variant* Array::write(VmStack* stack, size_t n) {
  QZ_TRACE;
  shm_cow_on_demand(stack);
  if (n == 0 || n > count_) throw RuntimeError(1234);
  Variant* item = &block_->items[n - 1];
  item->release(stack);
  return item;
}

Variant* Array::write(VmStack* stack, size_t row, size_t col) {
  QZ_TRACE;
  if (row == 0) throw RuntimeError(11);
  if (col == 0) return write(stack, row);
  size_t n;
  if (columns_ == 0) {
    if (__builtin_add_overflow(row, col - 1, &n)) n = 0;
  } else if (col > columns_ || !element_index(row, columns_, col, &n)) {
    // A column beyond the array's columns would address an element of a later row.
    n = 0;
  }
  return write(stack, n);  // copies on write first, then raises 1234 for n 0
}

// ---------------------------------------------------------------------------------------------
// Variant: dimensioning and storing
// ---------------------------------------------------------------------------------------------

Array* Variant::dimension(VmStack* stack, size_t rows, size_t cols) {
  QZ_TRACE;
  Variant* v = tag == VT_REFERENCE ? reference.target : this;
  size_t count = rows;
  if (cols != 0 && __builtin_mul_overflow(rows, cols, &count)) throw RuntimeError(230);
  array_block_st* fresh = array_block_new_checked(count);

  if (count != 0 && v->tag == VT_ARRAY && v->array.block_ != nullptr) {
    const Array& old = v->array;
    size_t oc = old.columns_ ? old.columns_ : 1;
    size_t nc = cols ? cols : 1;
    size_t keep = std::min(oc, nc);
    const Variant* from = old.block_->items;
    Variant* to = fresh->items;
    // Row r (0-based) is carried over while its first element exists in both arrays.
    for (size_t r = 0; r * oc < old.count_ && r * nc < count; ++r) {
      for (size_t c = 0; c < keep; ++c) {
        size_t o = r * oc + c;
        size_t n = r * nc + c;
        if (o >= old.count_ || n >= count) break;
        from[o].copy(&to[n]);
      }
    }
  }

  // The new array is in place before the old value goes, so that a DESTROY raised while the old
  // elements are released leaves the variable dimensioned.
  Variant old;
  for (int i = 0; i < 4; ++i) old.raw_[i] = v->raw_[i];
  old.tag = v->tag;
  v->tag = VT_FALSE;
  new (&v->array) Array();
  v->array.block_ = fresh;
  v->array.count_ = count;
  v->array.columns_ = cols;
  v->tag = VT_ARRAY;
  old.release(stack);
  return &v->array;
}

void Variant::store_recursive(VmStack* stack, const Variant* value) {
  QZ_TRACE;
  Variant copy(*value);  // the value may live inside what is overwritten
  Variant* v = tag == VT_REFERENCE ? reference.target : this;
  if (v->tag == VT_ARRAY) {
    Array& a = v->array;
    for (size_t n = 1; n <= a.count(); ++n) copy.copy(a.write(stack, n));
    return;
  }
  v->release(stack);
  *v = static_cast<Variant&&>(copy);
}

}  // namespace qzbase
