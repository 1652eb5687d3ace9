// Library start-up and shutdown: process-wide state prepared before the host calls anything.
#include <qzbase.h>

#include <unicode/uclean.h>

#if defined(QZ_USE_MIMALLOC)
#include <mimalloc.h>
#endif

#include "values/charset_registry.h"

namespace qzbase {

namespace {

#if defined(QZ_USE_MIMALLOC)
void* U_CALLCONV icu_alloc(const void*, size_t size) { return mi_malloc(size); }
void* U_CALLCONV icu_realloc(const void*, void* mem, size_t size) { return mi_realloc(mem, size); }
void U_CALLCONV icu_free(const void*, void* mem) { mi_free(mem); }
#endif

// Runs before the library's static initializers: ICU must get the allocator before its first use.
__attribute__((constructor(101))) void allocator_initializer() {
#if defined(QZ_USE_MIMALLOC)
  mi_option_disable(mi_option_show_errors);
  UErrorCode status = U_ZERO_ERROR;
  u_setMemoryFunctions(nullptr, icu_alloc, icu_realloc, icu_free, &status);
#endif
}

// Runs after the static initializers of the lookup tables.
__attribute__((constructor)) void library_initializer() {
  __init_character_sets();
  __init_collations();
}

__attribute__((destructor)) void library_finalizer() {
  __cleanup_collations();
  __cleanup_character_sets();
}

}  // namespace

}  // namespace qzbase
