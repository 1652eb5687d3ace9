// Library start-up and shutdown: process-wide state prepared before the host calls anything.
//
// C++ fixes no order between the dynamic initializers of different files, so nothing here relies
// on them: the registries and tables are function-local statics or constant-initialized (as is
// empty_string_buffer), and the one library constructor below builds them in a fixed order. It
// runs at the first constructor priority, before any dynamic initializer of the library, so ICU
// gets the library's allocator before anything can use ICU.
//
// Tables whose units keep them private (the compiler's dispatch maps, the scanner's keywords, the
// native member tables) are built on first use under the thread-safe initialisation of statics.
#include <qzbase.h>

#include <unicode/uclean.h>

#include <new>

#if defined(QZ_USE_MIMALLOC)
#include <mimalloc.h>
#endif

#include "platform/file_io.h"
#include "frontend/preprocessor.h"
#include "tables/table_dbf.h"
#include "tables/table_object.h"
#include "values/charset_registry.h"
#include "values/collation.h"

namespace qzbase {

namespace {

#if defined(QZ_USE_MIMALLOC)
void* U_CALLCONV icu_alloc(const void*, size_t size) { return mi_malloc(size); }
void* U_CALLCONV icu_realloc(const void*, void* mem, size_t size) { return mi_realloc(mem, size); }
void U_CALLCONV icu_free(const void*, void* mem) { mi_free(mem); }
#endif

// mimalloc's operator new aborts the process when memory runs out and no handler is installed;
// with this one it throws std::bad_alloc, which a running program sees as error 43.
void throw_bad_alloc() { throw std::bad_alloc(); }

__attribute__((constructor(101))) void library_initializer() {
  if (std::get_new_handler() == nullptr) std::set_new_handler(&throw_bad_alloc);
#if defined(QZ_USE_MIMALLOC)
  mi_option_disable(mi_option_show_errors);
  UErrorCode status = U_ZERO_ERROR;  // fails only when the host used ICU first; ignored
  u_setMemoryFunctions(nullptr, icu_alloc, icu_realloc, icu_free, &status);
#endif
  __init_character_sets();
  __init_collations();
  preprocessor_init_tables();  // directive and built-in macro keywords
  standard_stream_names();
  init_table_objects();  // field reads by name, the fields of a bound table
  init_dbf_tables();     // USE and CREATE TABLE open DBF tables
}

__attribute__((destructor(101))) void library_finalizer() {
  __cleanup_collations();
  __cleanup_character_sets();
}

}  // namespace

}  // namespace qzbase
