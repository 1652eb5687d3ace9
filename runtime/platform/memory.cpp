// The library's global operator new and delete, all forms, go to mimalloc. mimalloc does not
// replace malloc process-wide when it comes in as a dependency of a shared library, so only what
// the library allocates through new/delete (and ICU, see startup.cpp) uses it.
// The sanitizer build leaves the system allocator in place so that ASan sees every allocation.
#if defined(QZ_USE_MIMALLOC)
#include <mimalloc-new-delete.h>
#endif
