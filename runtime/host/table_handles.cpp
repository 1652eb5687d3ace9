// table_handles.cpp - the runtime's registry of tables opened by handle.
#include <qzbase.h>

#include <mutex>
#include <utility>

#include "host/runtime.h"
#include "tables/table_object.h"

namespace qzbase {

void* Runtime::open_table(VmStack* stack, const String& path) {
  QZ_TRACE;
  ObjectPointer table = Table_Object::use(stack, path, true, false);
  void* handle = table.get();
  std::lock_guard<std::mutex> guard(priv->open_tables_lock);
  priv->open_tables[handle] = std::move(table);
  return handle;
}

void* Runtime::keep_table(ObjectPointer table) {
  QZ_TRACE;
  void* handle = table.get();
  std::lock_guard<std::mutex> guard(priv->open_tables_lock);
  auto it = priv->open_tables.find(handle);
  if (it == priv->open_tables.end()) priv->open_tables.emplace(handle, std::move(table));
  return handle;
}

void Runtime::close_table(void* handle) {
  QZ_TRACE;
  ObjectPointer table;
  {
    std::lock_guard<std::mutex> guard(priv->open_tables_lock);
    auto it = priv->open_tables.find(handle);
    if (it == priv->open_tables.end()) return;
    table = std::move(it->second);
    priv->open_tables.erase(it);
  }
  // Closed and released outside the lock: other threads may open and close meanwhile.
  static_cast<Table_Object*>(table.get())->close(true);
  table.release(nullptr);
}

}  // namespace qzbase
