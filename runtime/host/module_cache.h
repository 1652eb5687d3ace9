// module_cache.h - program files loaded once and kept by canonical name until their source changes.
//
// The runtime keeps three of these (run_program and load_module, SET PROCEDURE, DO). A domain
// that is replaced (its file changed) or cleared is retired, not freed: code of the earlier load
// may still run on some stack, and pointers to its modules and procedures handed out earlier stay
// valid. Retired domains die with the cache.
//
// The caches are shared by every language thread, so they lock: loads are serialised (a file that
// two threads ask for at once is compiled once), and the map is read under a shared lock.
#pragma once

#include <qzbase.h>

#include <functional>
#include <list>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "values/string_keys.h"

namespace qzbase {

class Function;
class ModuleDomain;

// How load_from_disk treats a file that is already cached.
enum CachePolicy : int {
  CACHE_UNLESS_OUTDATED = 0,  // reuse it unless its file (or an import's) changed
  CACHE_ALWAYS = 1,           // always reuse it
  CACHE_RELOAD = 2,           // always load again (any other value does the same)
};

class ModuleCache {
 public:
  using map_type = string_key_map<ModuleDomain*>;

  ModuleCache() = default;
  ~ModuleCache();  // frees every cached and retired domain
  ModuleCache(const ModuleCache&) = delete;
  ModuleCache& operator=(const ModuleCache&) = delete;

  // The main module of a program file: found like a program name (current directory, then SET
  // PATH), announced on the screen on every call, loaded when it is new or the policy asks for
  // it. RuntimeError 1 with the name when the file does not exist; build errors pass (printed by
  // the loader) and leave the cache as it was, except that an outdated domain is retired.
  // With default_extension a name without extension that is not found as written is looked for
  // with ".prg" added (DO sub finds sub.prg); error 1 still names the name as written.
  const Module* load_from_disk(VmStack* stack, const String& name, CachePolicy policy,
                               bool default_extension = false);

  // Retires every cached domain.
  void clear();

  // The canonical names of the cached files, in key order.
  std::vector<String> keys() const;
  // The main modules of the cached files, in key order. They stay valid until the cache dies.
  std::vector<const Module*> modules() const;
  // The first procedure of that symbol among the main modules, in key order; null when none.
  const Function* find_procedure(symbol_id_type symbol) const;
  size_t retired_count() const;

  // Iteration over the map in key order. Not guarded: only for a caller that knows no other
  // thread changes the cache meanwhile; others use keys() or modules().
  map_type::const_iterator begin() const { return modules_.begin(); }
  map_type::const_iterator end() const { return modules_.end(); }

 private:
  std::recursive_mutex load_lock_;  // one load at a time
  mutable std::shared_mutex lock_;  // guards modules_ and retired_
  map_type modules_;
  std::list<ModuleDomain*> retired_;
};

}  // namespace qzbase
