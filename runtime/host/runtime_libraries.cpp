// runtime_libraries.cpp - the Runtime's libraries: the built-in library's registration and
// detach, plug-ins loaded by name, the SET LIBRARY list and the resolver that searches it, shut
// down, CreateRuntime and ReleaseRuntime.
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "builtins/library.h"
#include "host/runtime.h"
#include "host/vm_thread.h"
#include "vm/calls.h"
#include "vm/runtime_vm.h"
#include "vm/vm_stack.h"

namespace qzbase {


namespace {

// Calls by name look through the SET LIBRARY list, then the SET PROCEDURE modules.
class LibraryCallResolver : public CallResolver {
 public:
  explicit LibraryCallResolver(RuntimePrivate* priv) : priv_(priv) {}
  bool find_library_function(VmStack*, const String& name, library_function_st* out) override {
    QZ_TRACE;
    std::string key = name.u8str();
    std::shared_lock<std::shared_mutex> lock(priv_->libraries_lock);
    for (Library* lib : priv_->library_list) {
      if (const library_func_def_st* def = lib->find_function(std::string_view(key))) {
        out->function = def->function;
        out->signature = &def->signature;
        return true;
      }
    }
    return false;
  }
  const Function* find_procedure(VmStack*, symbol_id_type symbol) override {
    QZ_TRACE;
    return priv_->procedure_cache.find_procedure(symbol);
  }

 private:
  RuntimePrivate* priv_;
};

Library* find_loaded(RuntimePrivate* priv, const String& key) {
  std::shared_lock<std::shared_mutex> lock(priv->libraries_lock);
  auto it = priv->libraries.find(key);
  return it == priv->libraries.end() ? nullptr : it->second;
}

}  // namespace

void Runtime::register_builtin_library() {
  QZ_TRACE;
  if (priv->builtin_library != nullptr) throw_assert_failed();
  module_description_st description{};
  describe_builtin_module(&description);
  auto lib = std::make_unique<Library>(description);
  priv->builtin_library = lib.get();
  try {
    lib->load_definitions(this);
  } catch (...) {
    priv->builtin_library = nullptr;
    throw;
  }
  lib.release();
  priv->builtin_attached = true;
  if (priv->vm.call_resolver == nullptr) {
    priv->call_resolver = std::make_unique<LibraryCallResolver>(priv);
    priv->vm.call_resolver = priv->call_resolver.get();
  }
}

void Runtime::detach_builtin_library() {
  QZ_TRACE;
  if (priv->builtin_library != nullptr && priv->builtin_attached) {
    priv->builtin_attached = false;
    priv->builtin_library->detach(this);
  }
}

Library* Runtime::builtin_library() const {
  QZ_TRACE;
  return priv != nullptr ? priv->builtin_library : nullptr;  // a bare stand-in has no private part
}

Library* Runtime::load_library(const std::filesystem::path& name) {
  QZ_TRACE;
  String key(name);
  if (Library* found = find_loaded(priv, key)) return found;
  // One load at a time: a name is opened and attached once (recursive: an attach hook may load).
  std::lock_guard<std::recursive_mutex> loading(priv->library_load_lock);
  if (Library* found = find_loaded(priv, key)) return found;

  LibraryFile* file = nullptr;
  if (!name.has_extension() && !name.has_parent_path() && !name.empty()) {
    std::filesystem::path plugin = "libqzbase0-" + name.string() + ".so";
    if (!priv->module_file_name.empty()) file = LibraryFile::openLibrary(priv->module_file_name.parent_path() / plugin);
    if (file == nullptr) file = LibraryFile::openLibrary(plugin);
  }
  if (file == nullptr) {
    std::filesystem::path path = name;
    path.replace_extension(".so");
    file = LibraryFile::openLibrary(path);
  }
  if (file == nullptr) return nullptr;
  if (file->get_describe_function() == nullptr) {
    delete file;
    return nullptr;
  }
  std::unique_ptr<Library> lib;
  try {
    lib = std::make_unique<Library>(file);
  } catch (...) {
    delete file;
    throw;
  }
  lib->load_definitions(this);
  std::unique_lock<std::shared_mutex> lock(priv->libraries_lock);
  auto [it, inserted] = priv->libraries.emplace(key, lib.get());
  if (inserted) lib.release();
  return it->second;
}

void Runtime::set_library_to(VmStack*, const String& name, bool additive) {
  QZ_TRACE;
  if (!additive) set_library_to_null();
  Library* lib = load_library(std::filesystem::path(name));
  if (lib == nullptr) throw RuntimeError(1, name);
  std::unique_lock<std::shared_mutex> lock(priv->libraries_lock);
  priv->library_list.push_back(lib);
}

void Runtime::set_library_to_null() {
  QZ_TRACE;
  std::unique_lock<std::shared_mutex> lock(priv->libraries_lock);
  priv->library_list.clear();
}

std::vector<String> Runtime::library_entries() const {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(priv->libraries_lock);
  std::vector<String> out;
  for (const Library* lib : priv->library_list) {
    if (lib->file() != nullptr) out.emplace_back(lib->file()->path());
  }
  return out;
}

void Runtime::shutdown() {
  QZ_TRACE;
  // Running language threads still use the built-in library: they end before it is detached.
  join_language_threads(this);
  detach_builtin_library();
  if (screen != nullptr) screen->set_interactive(false);
  if (priv->main_stack != nullptr) {
    delete priv->main_stack;
    priv->main_stack = nullptr;
  }
}

Runtime* CreateRuntime(Screen* screen) {
  QZ_TRACE;
  auto runtime = std::make_unique<Runtime>(screen);
  runtime->init();
  return runtime.release();
}

void ReleaseRuntime(Runtime* runtime) {
  QZ_TRACE;
  if (runtime == nullptr) return;
  runtime->shutdown();
  delete runtime;
}

}  // namespace qzbase
