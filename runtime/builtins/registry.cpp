// registry.cpp - the built-in library's description, its hooks and its per-runtime state.
#include "builtins/registry.h"

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <memory>
#include <unordered_map>

#include "builtins/library.h"
#include "builtins/low_level_files.h"
#include "builtins/sql.h"
#include "builtins/tables.h"
#include "indexes/dbf_index_hooks.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

std::atomic<int64_t> g_live_environments{0};

std::shared_mutex g_file_lock;
std::unordered_map<Runtime*, FileHandleRegistry*> g_file_registries;
std::shared_mutex g_sql_lock;
std::unordered_map<Runtime*, SqlSingleton*> g_sql_singletons;

}  // namespace

void* SqlSingleton::environment_handle() {
  QZ_TRACE;
  std::lock_guard<std::mutex> guard(environment_lock);
  if (environment != nullptr) return environment;
  SQLHENV env = SQL_NULL_HENV;
  if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3_80), 0);
    environment = env;
    g_live_environments.fetch_add(1);
  }
  return environment;
}

SqlSingleton::~SqlSingleton() {
  QZ_TRACE;
  sql_close_all(this);
  if (environment != nullptr) {
    // The environment refuses to go while a connection is open: it then stays counted.
    if (SQL_SUCCEEDED(SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(environment)))) {
      g_live_environments.fetch_sub(1);
    }
  }
}

int64_t live_sql_environments() {
  QZ_TRACE;
  return g_live_environments.load();
}

void attach_runtime(Runtime* runtime) {
  QZ_TRACE;
  set_stack_release_hook(forget_stack_file_error);
  install_dbf_index_hooks();
  {
    auto files = std::make_unique<FileHandleRegistry>();
    std::unique_lock<std::shared_mutex> lock(g_file_lock);
    if (g_file_registries.emplace(runtime, files.get()).second) files.release();
  }
  // A second attach frees its new singleton (and so its environment) when it loses.
  auto sql = std::make_unique<SqlSingleton>();
  std::unique_lock<std::shared_mutex> lock(g_sql_lock);
  if (g_sql_singletons.emplace(runtime, sql.get()).second) sql.release();
}

void deattach_runtime(Runtime* runtime) {
  QZ_TRACE;
  FileHandleRegistry* files = nullptr;
  {
    std::unique_lock<std::shared_mutex> lock(g_file_lock);
    auto it = g_file_registries.find(runtime);
    if (it != g_file_registries.end()) {
      files = it->second;
      g_file_registries.erase(it);
    }
  }
  delete files;
  // Deleting the singleton closes its statements and connections.
  SqlSingleton* sql = nullptr;
  {
    std::unique_lock<std::shared_mutex> lock(g_sql_lock);
    auto it = g_sql_singletons.find(runtime);
    if (it != g_sql_singletons.end()) {
      sql = it->second;
      g_sql_singletons.erase(it);
    }
  }
  delete sql;
}

FileHandleRegistry* find_file_handle_registry_if_attached(Runtime* runtime) {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(g_file_lock);
  auto it = g_file_registries.find(runtime);
  return it == g_file_registries.end() ? nullptr : it->second;
}

FileHandleRegistry* find_file_handle_registry(Runtime* runtime) {
  QZ_TRACE;
  FileHandleRegistry* registry = find_file_handle_registry_if_attached(runtime);
  if (registry == nullptr) throw_assert_failed();
  return registry;
}

SqlSingleton* find_sql_singleton(Runtime* runtime) {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(g_sql_lock);
  auto it = g_sql_singletons.find(runtime);
  if (it == g_sql_singletons.end()) throw_assert_failed();
  return it->second;
}

void describe_builtin_module(module_description_st* out) {
  QZ_TRACE;
  out->attach = attach_runtime;
  out->detach = deattach_runtime;
  out->functions = builtin_functions;
  out->commands = builtin_commands;
  out->classes = builtin_classes;
  out->result_widths = builtin_result_widths;
  out->sysvars = builtin_sysvars;
}

}  // namespace qzbase
