// runtime.h - the Runtime's private state.
//
// The public part of Runtime is in qzbase.h. The symbol table and the stack-id counter are the
// virtual machine's RuntimeVmState (vm/runtime_vm.h), attached under the Runtime's address by the
// constructor and detached by the destructor. Everything here is shared by the language threads:
// each registry and cache has its own lock.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "values/date_format.h"
#include "host/module_cache.h"
#include "host/vm_thread.h"
#include "values/string_keys.h"
#include "vm/calls.h"
#include "vm/runtime_vm.h"

namespace qzbase {

class Library;

struct RuntimePrivate {
  ModuleCache program_cache;    // run_program and load_module
  ModuleCache procedure_cache;  // SET PROCEDURE
  ModuleCache call_cache;       // DO
  // SET PATH, in order; read by file searches on any language thread, changed by SET PATH.
  mutable std::shared_mutex search_path_lock;
  std::vector<std::filesystem::path> search_path;
  // libraries and library_list: read by calls by name on any language thread, changed by SET
  // LIBRARY; library_load_lock keeps two loads of one name from attaching twice.
  mutable std::shared_mutex libraries_lock;
  std::recursive_mutex library_load_lock;
  std::unordered_map<String, Library*, string_ci_hash, string_ci_equal> libraries;
  std::list<Library*> library_list;  // SET LIBRARY, in order
  date_format_cache date_formats;      // Runtime::dateFormat
  date_format_cache datetime_formats;  // Runtime::dateTimeFormat
  std::map<String, String, string_machine_less> environment;
  mutable std::shared_mutex environment_lock;  // guards environment (host data, SETENV, child processes)
  std::filesystem::path module_file_name;
  RuntimeVmState vm;  // the Symtable and next_stack_id (from 1)
  Library* builtin_library = nullptr;
  bool builtin_attached = false;              // the detach hook is still due
  std::unique_ptr<CallResolver> call_resolver;  // installed by init when none is
  int32_t argc = 0;
  char** argv = nullptr;  // argc separately allocated UTF-8 copies
  VmStack* main_stack = nullptr;
  std::shared_mutex threads_lock;  // guards next_thread_id and threads
  uint64_t next_thread_id = 2;
  std::unordered_map<uint64_t, std::shared_ptr<VmThread>> threads;
  std::mutex locale_values_lock;             // Runtime::read_locale_values
  std::atomic<bool> locale_values_read{false};
  std::mutex open_tables_lock;  // guards open_tables
  std::unordered_map<void*, ObjectPointer> open_tables;  // Runtime::open_table, by handle
};

}  // namespace qzbase
