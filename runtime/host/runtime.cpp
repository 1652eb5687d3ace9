// runtime.cpp - the Runtime object's data, construction and destruction.
#include "host/runtime.h"

#include <cstring>

#include "builtins/library.h"
#include "host/screen.h"

namespace qzbase {

Runtime::Runtime(Screen* screen_arg)
    : screen(screen_arg),
      codepage(nullptr),
      asserts(false),
      sys_point_text{'.', 0, 0, 0, 0},
      sys_point(U'.'),
      sys_point_ascii(true),
      sys_separator(U','),
      sys_decimals(2),
      sys_date_format(DATE_AMERICAN),
      sys_mark{'/', 0, 0, 0, 0},
      sys_century(false),
      sys_hours(12),
      sys_seconds(true),
      sys_fdow(1),
      fdow(1),
      priv(new RuntimePrivate) {
  QZ_TRACE;
  attach_runtime_vm(this, &priv->vm);
}

Runtime::~Runtime() {
  QZ_TRACE;
  // A runtime destroyed without shutdown still gives its per-runtime state back.
  try {
    detach_builtin_library();
  } catch (...) {
  }
  for (auto& entry : priv->libraries) delete entry.second;
  priv->libraries.clear();
  priv->library_list.clear();
  // The cached formatters are closed with the caches (date formats first); the language threads
  // are joined here once they exist.
  {
    std::unique_lock<std::shared_mutex> lock(priv->date_formats.lock);
    priv->date_formats.entries.clear();
  }
  {
    std::unique_lock<std::shared_mutex> lock(priv->datetime_formats.lock);
    priv->datetime_formats.entries.clear();
  }
  if (priv->vm.call_resolver == priv->call_resolver.get()) priv->vm.call_resolver = nullptr;
  delete priv->builtin_library;
  priv->builtin_library = nullptr;
  detach_runtime_vm(this);
  if (priv->argv) {
    for (int32_t i = 0; i < priv->argc; ++i) delete[] priv->argv[i];
    delete[] priv->argv;
  }
  delete priv;
}

Screen* Runtime::get_screen() const {
  QZ_TRACE;
  Screen* s = screen_override(this);
  return s ? s : screen;
}

}  // namespace qzbase
