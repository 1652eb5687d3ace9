// module_loading.cpp - loading a program file and its imports from source into a ModuleDomain:
// read, compiled and linked here, above the compiler; IMPORT reaches it through the compiler's
// import_loader hook.
#include "host/module_loading.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "builtins/file_text.h"
#include "compiler/build_input.h"
#include "compiler/linker.h"
#include "platform/paths.h"
#include "vm/module.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

[[maybe_unused]] const bool import_loader_installed = (import_loader = &load_module_file, true);

}  // namespace

ModuleDomain* load_module_domain(const String& path, VmStack* stack) {
  QZ_TRACE;
  auto domain = std::make_unique<ModuleDomain>();
  domain->name = canonical_path(path);
  if (!file_time(domain->name, &domain->last_write_time)) throw RuntimeError(1, path);
  load_module_file(path, &domain->module, stack, &domain->modules);
  return domain.release();
}

void load_module_file(const String& path, const Module** out, VmStack* stack, string_key_map<Module*>* modules) {
  QZ_TRACE;
  String key = canonical_path(path);
  auto found = modules->find(key);
  if (found != modules->end()) {
    *out = found->second;
    return;
  }
  Runtime* runtime = stack->get_runtime();
  // Taken before reading: an edit made while the file compiles makes the domain outdated.
  int64_t time = 0;
  if (!file_time(key, &time)) throw RuntimeError(1, path);
  String text = filetostr(runtime, key, runtime->codepage, true, kMaxProgramFileSize);
  Module* module = nullptr;
  {
    BuildInput input(stack);
    try {
      module = input.build_module(key, text, modules);
    } catch (const RuntimeError& error) {
      format_build_error(input, text, runtime->get_screen());
      throw RuntimeError(error);
    }
  }
  module->source_time = time;
  LinkerInfo linker(runtime);
  link_module(linker, module);
  *out = module;
}

}  // namespace qzbase
