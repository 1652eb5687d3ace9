// module_cache.cpp - ModuleCache: program files by canonical name, reloaded when they change.
#include "host/module_cache.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "host/module_loading.h"
#include "host/runtime.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/vm_stack.h"

namespace qzbase {

ModuleCache::~ModuleCache() {
  for (auto& entry : modules_) retired_.push_back(entry.second);
  modules_.clear();
  for (ModuleDomain* domain : retired_) delete domain;
}

const Module* ModuleCache::load_from_disk(VmStack* stack, const String& name, CachePolicy policy,
                                          bool default_extension) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr);
  std::filesystem::path found;
  std::filesystem::path written = static_cast<std::filesystem::path>(name);
  if (!runtime->find_file(written, found, false, false)) {
    if (!default_extension || written.has_extension() || !written.has_filename()) throw RuntimeError(1, name);
    written += ".prg";
    if (!runtime->find_file(written, found, false, false)) throw RuntimeError(1, name);
  }
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::canonical(found, error);
  if (error) throw RuntimeError(1, name);  // removed since it was found
  String key(canonical);
  runtime->get_screen()->on_load_module(stack, key);

  // One load at a time: a file two threads ask for at once is compiled once. Recursive, because
  // code run while a file compiles may load another one.
  std::lock_guard<std::recursive_mutex> loading(load_lock_);
  {
    std::unique_lock<std::shared_mutex> lock(lock_);
    auto it = modules_.find(key);
    if (it != modules_.end()) {
      if (policy == CACHE_ALWAYS || (policy == CACHE_UNLESS_OUTDATED && !it->second->is_outdated())) {
        return it->second->module;
      }
      retired_.push_back(it->second);
      modules_.erase(it);
    }
  }
  std::unique_ptr<ModuleDomain> domain(load_module_domain(key, stack));
  std::unique_lock<std::shared_mutex> lock(lock_);
  modules_.emplace(key, domain.get());
  return domain.release()->module;
}

void ModuleCache::clear() {
  QZ_TRACE;
  std::unique_lock<std::shared_mutex> lock(lock_);
  for (auto& entry : modules_) retired_.push_back(entry.second);
  modules_.clear();
}

std::vector<String> ModuleCache::keys() const {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(lock_);
  std::vector<String> out;
  out.reserve(modules_.size());
  for (const auto& entry : modules_) out.push_back(entry.first);
  return out;
}

std::vector<const Module*> ModuleCache::modules() const {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(lock_);
  std::vector<const Module*> out;
  out.reserve(modules_.size());
  for (const auto& entry : modules_) out.push_back(entry.second->module);
  return out;
}

const Function* ModuleCache::find_procedure(symbol_id_type symbol) const {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(lock_);
  for (const auto& entry : modules_) {
    const Module* module = entry.second->module;
    auto it = module->procedures.find(symbol);
    if (it != module->procedures.end()) return it->second;
  }
  return nullptr;
}

size_t ModuleCache::retired_count() const {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(lock_);
  return retired_.size();
}

}  // namespace qzbase
