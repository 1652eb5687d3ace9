// code_array.cpp - code arrays from the heap, or mapped from the system when large.
#include "vm/code_array.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace qzbase {

namespace {

// From this size on an array is a mapping of its own.
constexpr size_t kMappedBytes = size_t{1} << 20;

bool bytes_of(size_t n, size_t* bytes) { return !__builtin_mul_overflow(n, sizeof(VmOp*), bytes); }

bool mapped(size_t bytes) { return bytes >= kMappedBytes; }

VmOp** map_array(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<VmOp**>(p);
}

}  // namespace

VmOp** new_code_array(size_t n) noexcept {
  size_t bytes;
  if (!bytes_of(n, &bytes)) return nullptr;
  if (mapped(bytes)) return map_array(bytes);
  return static_cast<VmOp**>(std::calloc(n == 0 ? 1 : n, sizeof(VmOp*)));
}

VmOp** resize_code_array(VmOp** code, size_t n, size_t new_n) noexcept {
  if (code == nullptr) return new_code_array(new_n);
  size_t bytes, new_bytes;
  if (!bytes_of(n, &bytes) || !bytes_of(new_n, &new_bytes)) return nullptr;
  if (mapped(bytes) && mapped(new_bytes)) {
    void* p = mremap(code, bytes, new_bytes, MREMAP_MAYMOVE);  // new pages read as zero
    return p == MAP_FAILED ? nullptr : static_cast<VmOp**>(p);
  }
  if (!mapped(bytes) && !mapped(new_bytes)) {
    auto* grown = static_cast<VmOp**>(std::realloc(code, new_bytes == 0 ? sizeof(VmOp*) : new_bytes));
    if (grown != nullptr && new_n > n) std::memset(grown + n, 0, new_bytes - bytes);
    return grown;
  }
  // Across the size: a new array, a copy, and the old one freed.
  VmOp** fresh = new_code_array(new_n);
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, code, (n < new_n ? n : new_n) * sizeof(VmOp*));
  delete_code_array(code, n);
  return fresh;
}

void delete_code_array(VmOp** code, size_t n) noexcept {
  if (code == nullptr) return;
  size_t bytes = 0;
  if (bytes_of(n, &bytes) && mapped(bytes)) {
    munmap(code, bytes);
    return;
  }
  std::free(code);
}

}  // namespace qzbase
