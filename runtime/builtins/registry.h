// registry.h - the built-in library's hooks and its per-runtime state.
//
// Two process-wide maps key the state of each Runtime: its low-level file handles and its SQL
// singleton (the ODBC environment, allocated on the first connection). attach_runtime creates both, deattach_runtime frees them. A
// built-in takes the map's shared lock only to find its runtime's object, then works on the
// object under that object's own lock. Only the least of each state is here; the file and SQL
// functions complete it.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace qzbase {

class FileHandle;

// The FOPEN family's handles of one runtime, and the FERROR code of each of its stacks.
// Lock order: the process-wide map's lock only for finding the registry (released before
// anything else), then the handle map's lock, then the handle's own lock (taken before the map
// lock is released); the error map's lock is taken alone.
struct FileHandleRegistry {
  FileHandleRegistry() = default;
  ~FileHandleRegistry();  // deletes the handles still open
  FileHandleRegistry(const FileHandleRegistry&) = delete;
  FileHandleRegistry& operator=(const FileHandleRegistry&) = delete;

  std::shared_mutex lock;                            // the handle map
  std::unordered_map<uint64_t, FileHandle*> handles;  // owned
  uint64_t next_id = 1;                              // only grows: an id is never handed out twice

  // The last code recorded for a stack, keyed by the stack's id (ids of a runtime are never
  // reused, so a new stack never sees an old one's code). An entry goes when its stack is
  // released.
  std::shared_mutex error_lock;
  std::unordered_map<uint64_t, uint32_t> errors;
};

class SqlCursor;
struct SqlStatement;

// The SQL state of one runtime: its ODBC 3.80 environment and its handles (sql.h).
struct SqlSingleton {
  SqlSingleton() = default;
  ~SqlSingleton();  // closes every handle and connection, then frees the environment
  SqlSingleton(const SqlSingleton&) = delete;
  SqlSingleton& operator=(const SqlSingleton&) = delete;

  // The environment (SQLHENV), allocated on the first call: a runtime that never connects does
  // not load ODBC at all. Null when ODBC refuses it (asked again next time); 1001 when the
  // driver manager cannot be loaded.
  void* environment_handle();

  std::mutex environment_lock;
  void* environment = nullptr;  // SQLHENV; null until environment_handle allocates it
  std::shared_mutex lock;       // the handle map and the id counter
  int64_t next_handle_id = 1;
  std::map<int64_t, SqlStatement*> handles;  // every open handle, owned

  // Seams the tests replace: how a statement handle is allocated on a connection (the ODBC
  // return code), and how a result set becomes a cursor.
  short (*allocate_statement_handle)(void* connection, void** out) = nullptr;
  SqlCursor* (*create_cursor)(VmStack* stack, const String& alias, const fielddef_st* fields, size_t count) = nullptr;
};

// The built-in library's hooks. Attaching a runtime that is attached already keeps its state.
void attach_runtime(Runtime* runtime);
void deattach_runtime(Runtime* runtime);

// The state of a runtime; a runtime that was never attached is a broken invariant.
FileHandleRegistry* find_file_handle_registry(Runtime* runtime);
// The same, or null when the runtime is not attached (any more).
FileHandleRegistry* find_file_handle_registry_if_attached(Runtime* runtime);
SqlSingleton* find_sql_singleton(Runtime* runtime);

// The ODBC environments allocated and not yet freed, in the whole process.
int64_t live_sql_environments();

}  // namespace qzbase
