// imports.cpp - IMPORT: a plug-in library the unit is compiled against, or a module file the front
// door loads after the build.
#include <qzbase.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "compiler/declarations.h"
#include "compiler/linker.h"
#include "compiler/programs.h"
#include "frontend/statements.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// Evaluates the IMPORT operand now, compiled with the unit's libraries. False when it recorded
// messages: they become the unit's and nothing runs.
bool evaluate_import_operand(const Operand* operand, CodePath& path, String* out) {
  Compiler* unit = path.compiler;
  std::unique_ptr<Program> program;
  {
    Compiler compiler(unit->stack, COMPILE_KIND_COMMAND);
    compiler.libraries = unit->libraries;
    compile_operand(operand, compiler);
    if (!compiler.messages.empty()) {
      for (const build_message_st& message : compiler.messages) unit->add_message(message.code, message.location);
      return false;
    }
    program.reset(compiler.build_program());
  }
  LinkerInfo info(unit->stack->get_runtime());
  link_anonymous_program(info, program.get());
  ScopedValue result(unit->stack);
  execute_program(unit->stack, 0, false, program.get(), &result.value);
  *out = static_cast<String>(result.value);
  return true;
}

}  // namespace

void resolve_import_path(const Statement* statement, CodePath& path) {
  QZ_TRACE;
  Compiler* compiler = path.compiler;
  const auto* import = static_cast<const Cmd_Import_Library*>(statement);
  String text;
  if (!evaluate_import_operand(import->library, path, &text)) return;
  std::filesystem::path name = static_cast<std::filesystem::path>(text);
  Runtime* runtime = compiler->stack->get_runtime();
  if (Library* library = runtime->load_library(name)) {
    compiler->libraries.push_back(library);
    return;
  }
  // A command line or script has no module of its own to load imports into.
  if (compiler->module_file_name == nullptr) {
    compiler->add_message(1001, statement->location);
    return;
  }
  if (!name.has_extension()) name.replace_extension(".prg");
  if (!name.has_root_directory()) {
    std::filesystem::path module_file = static_cast<std::filesystem::path>(*compiler->module_file_name);
    std::error_code error;
    std::filesystem::path beside = std::filesystem::canonical(module_file.parent_path() / name, error);
    if (!error) {
      compiler->imports.emplace_back(beside);
      return;
    }
  }
  std::filesystem::path found;
  if (!runtime->find_file(name, found, false, false)) {
    compiler->add_message(202, statement->location);
    return;
  }
  compiler->imports.emplace_back(found);
}

int compile_module_stmt_import(const statement_list::const_iterator&, statement_list::iterator& it,
                               CompiledCodeCollection*, CodePath& path) {
  QZ_TRACE;
  const Statement* statement = *it++;
  resolve_import_path(statement, path);
  return 0;
}

}  // namespace qzbase
