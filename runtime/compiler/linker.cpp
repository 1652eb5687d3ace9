// linker.cpp - resolving calls, linking modules and user classes.
#include "compiler/linker.h"

#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "vm/class_definition.h"
#include "vm/library.h"
#include "compiler/try_with.h"
#include "vm/execute.h"
#include "vm/interpreter.h"
#include "vm/runtime_vm.h"

namespace qzbase {

namespace {

Symtable& symtable_of(const LinkerInfo& linker) {
  RuntimeVmState* vm = find_runtime_vm(linker.runtime);
  if (vm == nullptr) throw_assert_failed();
  return vm->symtable;
}

// The user function a module (or, failing that, its first import that has one) defines.
const UserFunction* find_procedure(const Module* module, symbol_id_type symbol) {
  auto it = module->procedures.find(symbol);
  if (it != module->procedures.end()) return it->second;
  for (const Module* imported : module->imports) {
    auto found = imported->procedures.find(symbol);
    if (found != imported->procedures.end()) return found->second;
  }
  return nullptr;
}

// The TRY code's call that raises a caught error again (try_with.h).
bool is_raise_again(const VmOpUnresolvedCall* call) {
  constexpr size_t n = sizeof kRaiseAgainCall - 1;
  return call->name.size() == n && call->name.get_charset() == Charset::utf8 &&
         std::memcmp(call->name.read(), kRaiseAgainCall, n) == 0;
}

using resolver_type = void (*)(LinkerInfo&, const Module*, const VmOpUnresolvedCall*, VmOp**);

// Replaces every unresolved call through resolve; the replacement keeps the call's statement.
void resolve_calls(LinkerInfo& linker, Program* program, const Module* module, resolver_type resolve) {
  VmOp** code = program->mutable_code();
  for (size_t i = 0; i < program->code_length(); ++i) {
    if (code[i]->opcode != OP_UNRESOLVED_CALL) continue;
    auto* call = static_cast<VmOpUnresolvedCall*>(code[i]);
    VmOp* replacement = nullptr;
    if (is_raise_again(call)) {
      replacement = new VmOpCallSpecVoid(&try_raise_again, call->count);
    } else {
      resolve(linker, module, call, &replacement);
    }
    if (replacement == nullptr) continue;
    code[i] = replacement;
    release_op(call);
  }
}

void resolve_dynamic(LinkerInfo& linker, const Module*, const VmOpUnresolvedCall* call, VmOp** replacement) {
  *replacement = new VmOpCallSpecDynamic(symtable_of(linker).symbolize(call->name), call->count);
}

// The last path component without its last extension; "" for a name whose only dot leads.
String file_stem(const String& path) {
  std::string name = path.u8str();
  size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return String::fromBytes(name.data(), name.size(), Charset::utf8);
}

Program* program_of(const UserFunction* fn) { return const_cast<Program*>(fn->program()); }

// Links a program of the module unless an earlier link_module did (linking a module again is
// harmless); a program bound to another module still trips link_program's check.
void link_own_program(LinkerInfo& linker, const UserFunction* fn, const Module* module) {
  Program* program = program_of(fn);
  if (program->owner_module() == module) return;
  link_program(linker, program, module);
}

}  // namespace

void link_declspec_udf(LinkerInfo& linker, const Module* module, const VmOpUnresolvedCall* call, VmOp** replacement) {
  QZ_TRACE;
  symbol_id_type symbol = symtable_of(linker).symbolize(call->name);
  const UserFunction* fn = module != nullptr ? find_procedure(module, symbol) : nullptr;
  if (fn != nullptr) {
    *replacement = new VmOpCallSpecUser(fn, call->count);
  } else {
    *replacement = new VmOpCallSpecDynamic(symbol, call->count);
  }
}

void link_program(LinkerInfo& linker, Program* program, const Module* module) {
  QZ_TRACE;
  if (program->owner_module() != nullptr || module == nullptr) throw_assert_failed();
  program->set_owner_module(module);
  resolve_calls(linker, program, module, &link_declspec_udf);
  fuse_operations(program);
}

void link_anonymous_program(LinkerInfo& linker, Program* program) {
  QZ_TRACE;
  if (program->owner_module() != nullptr) throw_assert_failed();
  resolve_calls(linker, program, nullptr, &resolve_dynamic);
  fuse_operations(program);
}

void link_userclass(LinkerInfo& linker, ClassDefinition* cls, const Module* module) {
  QZ_TRACE;
  for (auto& [symbol, method] : cls->methods) link_own_program(linker, method.function, module);
  cls->compile_members(linker.runtime);

  Symtable& symbols = symtable_of(linker);
  Library* natives = linker.runtime->builtin_library();
  std::vector<Class*> chain{cls->as_class()};
  std::unordered_set<const Class*> seen{cls->as_class()};
  // The last class of the chain when it is defined in source; native classes end the chain.
  const ClassDefinition* last = cls;
  while (last != nullptr && last->parent_name != nullptr) {
    const String& parent = *last->parent_name;
    symbol_id_type symbol = symbols.symbolize(parent);
    Class* found = nullptr;
    last = nullptr;
    auto it = module->classes.find(symbol);
    if (it != module->classes.end()) {
      last = it->second;
      found = it->second->as_class();
    } else if (natives != nullptr) {
      found = natives->find_class(symbol);
    }
    // A parent met again would make the walk endless: report it like a missing one.
    if (found == nullptr || !seen.insert(found).second) throw RuntimeError(1733, parent);
    chain.push_back(found);
  }
  cls->ancestors = std::move(chain);
}

void link_module(LinkerInfo& linker, Module* module) {
  QZ_TRACE;
  if (module->main != nullptr) link_own_program(linker, module->main, module);
  for (auto& [symbol, fn] : module->procedures) link_own_program(linker, fn, module);
  // Only the classes defined here: those copied in from imports were linked with their module.
  for (ClassDefinition* cls : module->own_classes) link_userclass(linker, cls, module);
  if (module->entry != nullptr) return;  // linked before
  if (module->main != nullptr) {
    module->entry = module->main;
    return;
  }
  String stem = file_stem(module->name);
  if (stem.size() == 0) return;
  auto it = module->procedures.find(symtable_of(linker).symbolize(stem));
  if (it != module->procedures.end()) module->entry = it->second;
}

}  // namespace qzbase
