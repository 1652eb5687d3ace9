// loaded_library.cpp - LoadedLibrary: dlopen on first use.
#include "dynload/loaded_library.h"

#include <dlfcn.h>

#include <string>

namespace qzbase {

namespace {

[[noreturn]] void unavailable(const std::string& what) {
  throw RuntimeError(1001, String(what.c_str()));
}

}  // namespace

void* LoadedLibrary::handle() {
  void* h = handle_.load(std::memory_order_acquire);
  if (h != nullptr) return h;
  std::lock_guard<std::mutex> lock(mutex_);
  h = handle_.load(std::memory_order_relaxed);
  if (h != nullptr) return h;
  // Global scope, as if it had been linked: what it loads in turn (ODBC drivers) may bind to it.
  // Never closed: drivers and cached digests keep pointing into it until the process ends.
  h = dlopen(file_, RTLD_LAZY | RTLD_GLOBAL);
  if (h == nullptr) unavailable(file_);
  handle_.store(h, std::memory_order_release);
  return h;
}

void* LoadedLibrary::symbol(const char* name) {
  QZ_TRACE;
  void* h = handle();
  void* f = dlsym(h, name);
  if (f == nullptr) unavailable(std::string(file_) + " " + name);
  return f;
}

}  // namespace qzbase
