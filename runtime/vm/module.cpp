// module.cpp - the Module record and what it owns.
#include "vm/module.h"

#include <filesystem>
#include <system_error>

#include "vm/class_definition.h"
#include "vm/error_handlers.h"
#include "vm/execute.h"

namespace qzbase {

namespace {

// Error reports and the debugger name a module by its source file.
String module_display_name(const Module* module) { return module->name; }
[[maybe_unused]] const bool module_name_installed = (vm_module_name = &module_display_name, true);

}  // namespace

bool file_time(const String& name, int64_t* out) {
  QZ_TRACE;
  std::error_code error;
  auto time = std::filesystem::last_write_time(static_cast<std::filesystem::path>(name), error);
  if (error) return false;
  *out = static_cast<int64_t>(time.time_since_epoch().count());
  return true;
}

Module::Module(const String& name_in) : name(name_in) { QZ_TRACE; }

Module::~Module() {
  for (auto& [symbol, fn] : procedures) delete fn;
  for (ClassDefinition* cls : own_classes) delete cls;
  delete main;
}

bool Module::add_defined_class(symbol_id_type symbol, ClassDefinition* cls) {
  QZ_TRACE;
  auto [it, inserted] = classes.emplace(symbol, cls);
  if (!inserted) return false;
  try {
    own_classes.push_back(cls);
  } catch (...) {
    classes.erase(it);
    throw;
  }
  cls->module = this;
  return true;
}

bool Module::add_imported_class(symbol_id_type symbol, ClassDefinition* cls) {
  QZ_TRACE;
  if (cls->module == this) throw_assert_failed();
  return classes.emplace(symbol, cls).second;
}

bool Module::defines(const ClassDefinition* cls) const {
  QZ_TRACE;
  return cls->module == this;
}

bool Module::add_procedure(symbol_id_type symbol, UserFunction* function) {
  QZ_TRACE;
  return procedures.emplace(symbol, function).second;
}

ModuleDomain::~ModuleDomain() {
  for (auto& [name, module] : modules) delete module;
}

bool ModuleDomain::is_outdated() const {
  QZ_TRACE;
  int64_t time = 0;
  if (!file_time(name, &time) || time != last_write_time) return true;
  for (const auto& [module_name, module] : modules) {
    if (module->source_time == 0) continue;
    if (!file_time(module_name, &time) || time != module->source_time) return true;
  }
  return false;
}

}  // namespace qzbase
