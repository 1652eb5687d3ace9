// sql_environment.cpp - points the driver manager at the private ODBC configuration that the
// tests' setup fixture writes (its directory is fixed when the tests are built), before anything
// runs; and the leak checker's treatment of the drivers' process-wide caches.
#include <stdlib.h>

namespace {

const bool g_configured = [] {
  setenv("ODBCSYSINI", QZ_SQL_STATE_DIR, 1);
  setenv("ODBCINI", QZ_SQL_STATE_DIR "/odbc.ini", 1);
  setenv("QZ_SQL_STATE", QZ_SQL_STATE_DIR, 1);
  return true;
}();

}  // namespace

// The drivers keep their configuration reads for the life of the process; their frames are only
// found by the slow unwinder.
extern "C" const char* __lsan_default_suppressions() { return "leak:libsqlite3odbc.so\nleak:psqlodbcw.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
