// loaded_library.h - shared libraries opened on the first call that needs them.
//
// ODBC (with its driver manager's own dependencies), libcrypto and ICU's internationalisation
// library cost a program that never runs SQL, a digest or a date format several megabytes of
// mappings and thousands of symbol bindings at start-up. They are not linked: odbc.cpp, crypto.cpp
// and icu_i18n.cpp define the few functions of theirs the runtime calls, each of which opens its
// library and looks its own address up on its first call.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <mutex>

namespace qzbase {

class LoadedLibrary {
 public:
  // file: a name for dlopen (the library's soname).
  explicit constexpr LoadedLibrary(const char* file) : file_(file) {}
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // The address of the function name. A library that cannot be opened, or that lacks the
  // function, raises 1001 with the library's name (and the function's); the next call tries again.
  void* symbol(const char* name);

  const char* file() const { return file_; }

 private:
  void* handle();

  const char* file_;
  std::mutex mutex_;
  std::atomic<void*> handle_{nullptr};
};

// The function name of library, found once and kept in slot (one slot a function).
template <class F>
F* loaded_function(LoadedLibrary& library, std::atomic<F*>& slot, const char* name) {
  F* f = slot.load(std::memory_order_acquire);
  if (__builtin_expect(f == nullptr, 0)) {
    f = reinterpret_cast<F*>(library.symbol(name));
    slot.store(f, std::memory_order_release);
  }
  return f;
}

// The libraries themselves (odbc.cpp, crypto.cpp, icu_i18n.cpp).
LoadedLibrary& odbc_library();
LoadedLibrary& crypto_library();
LoadedLibrary& icu_i18n_library();

}  // namespace qzbase
