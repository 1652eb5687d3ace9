// compiler_state.cpp - the Compiler's lifecycle, frame variables, temporaries, messages and
// library lookup.
#include "compiler/compiler_state.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "vm/library.h"
#include "vm/shared_ops.h"
#include "frontend/operands.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

CodePath::CodePath() : compiler(nullptr), parent(nullptr) {}

CodePath::CodePath(CodePath& parent_path)
    : compiler(parent_path.compiler), parent(&parent_path) {}

bool CodePath::declares(symbol_id_type symbol) const {
  QZ_TRACE;
  for (const CodePath* scope = this; scope != nullptr; scope = scope->parent) {
    if (scope->variables.count(symbol) != 0) return true;
  }
  return false;
}

CodePath::~CodePath() {
  // The root scope is the Compiler itself, closed by its unit before this runs.
  if (parent != nullptr) close_open_withs();
}

void CodePath::close_open_withs() {
  QZ_TRACE;
  for (const document_location_st& location : with_locations) compiler->add_message(96, location);
  with_stack.clear();
  with_locations.clear();
}

bool CodePath::variable_get(const symbol_id_type& symbol, offset_type* offset, bool* declared) const {
  QZ_TRACE;
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) == 0) return false;
  auto it = compiler->symbol_map.find(symbol);
  if (it == compiler->symbol_map.end()) return false;
  *offset = it->second;
  if (declares(symbol)) *declared = true;
  return true;
}

symbol_id_type CodePath::symbolize(const char* utf8_name) {
  QZ_TRACE;
  return symbolize(String::fromBytes(utf8_name, std::strlen(utf8_name), Charset::utf8));
}

symbol_id_type CodePath::symbolize(const String& name) {
  QZ_TRACE;
  Symtable* table = compiler->symtable();
  if (table == nullptr) throw_assert_failed();
  return table->symbolize(name);
}

Variable* CodePath::compile_create_temp_memvar(const document_location_st& location, const char* tag,
                                              CompiledCodeCollection* collection) {
  QZ_TRACE;
  // With slots the symbol map's size already differs for every temporary of the unit; without
  // slots the map stays empty, so the unit's own count keeps nested blocks apart.
  uint64_t number = (compiler->compile_kind & COMPILE_KIND_SLOTS) != 0 ? compiler->symbol_map.size()
                                                                       : compiler->temp_counter;
  compiler->temp_counter += 1;
  char name[32];
  std::snprintf(name, sizeof name, ".local~%s~%ld", tag, static_cast<long>(number));
  symbol_id_type symbol = symbolize(name);
  offset_type offset = 0;
  if (!compiler->compile_time_define_memvar(symbol, &offset)) {
    collection->push_back(location, new VmOpDefLocal(symbol));
  } else {
    if (declares(symbol)) throw_assert_failed();
    collection->push_back(location, new VmOpDefLocalOffset(offset, symbol));
    variables.emplace(symbol, 1u);
  }
  return new Variable(location, String::fromBytes(name, std::strlen(name), Charset::utf8), 1);
}

Variable* CodePath::compile_take_temp_memvar(const document_location_st& location, const char* tag,
                                            CompiledCodeCollection* collection) {
  QZ_TRACE;
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) == 0) return compile_create_temp_memvar(location, tag, collection);
  auto it = compiler->free_temps.find(tag);
  if (it == compiler->free_temps.end() || it->second.empty()) {
    return compile_create_temp_memvar(location, tag, collection);
  }
  const String name = it->second.back();
  const symbol_id_type symbol = symbolize(name);
  offset_type offset = 0;
  if (!compiler->compile_time_define_memvar(symbol, &offset) || declares(symbol)) throw_assert_failed();
  auto variable = std::make_unique<Variable>(location, name, 1);
  collection->push_back(location, new VmOpDefLocalOffset(offset, symbol));
  variables.emplace(symbol, 1u);
  it->second.pop_back();
  return variable.release();
}

void CodePath::release_temp(const char* tag, const String& name) noexcept {
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) == 0) return;
  try {
    variables.erase(symbolize(name));
    compiler->free_temps[tag].push_back(name);
  } catch (...) {
    // Without memory the slot is simply not taken again.
  }
}

StatementTemp::StatementTemp(CodePath& path, const document_location_st& location, const char* tag,
                             CompiledCodeCollection* collection)
    : path_(path), tag_(tag), variable_(path.compile_take_temp_memvar(location, tag, collection)) {}

StatementTemp::~StatementTemp() { path_.release_temp(tag_, variable_->name); }

Compiler::Compiler(VmStack* stack_in, uint32_t kind) : compile_kind(kind), stack(stack_in), collection(this) {
  QZ_TRACE;
  compiler = this;
}

Compiler::~Compiler() {
  collection.clear();
  for (AddressLabelRecord* l : labels) delete l;
  delete module_file_name;
}

VmOp* Compiler::share(VmOp* op) noexcept {
  // A small unit (an expression to evaluate, a macro) gains nothing that pays for the table.
  constexpr uint64_t kFirstShared = 256;
  if (shared_ops == nullptr && ++unshared_ops < kFirstShared) return op;
  if (shared_ops == nullptr) {
    try {
      shared_ops = std::make_shared<SharedOps>();
    } catch (const std::bad_alloc&) {
      return op;
    }
  }
  return shared_ops->intern(op);
}

Symtable* Compiler::symtable() const { return stack != nullptr ? stack->get_symtable() : nullptr; }

void Compiler::reset(uint32_t kind, bool full) {
  QZ_TRACE;
  compile_kind = kind;
  for (AddressLabelRecord* l : labels) delete l;
  labels.clear();
  if (collection.size() != 0) throw_assert_failed();
  parameter_memory_class = 2;
  if (parent != nullptr) throw_assert_failed();
  compiler = this;
  parameter_count = 0;
  statement_number = 0;
  op_counter = 0;
  temp_counter = 0;
  free_temps.clear();
  symbol_map.clear();
  variables.clear();
  with_stack.clear();
  with_locations.clear();
  type = compiler_type_info_st{0, false, 0};
  if (full) {
    imports.clear();
    unresolved_calls.clear();
    delete module_file_name;
    module_file_name = nullptr;
  }
}

bool Compiler::compile_time_define_memvar(const symbol_id_type& symbol, offset_type* offset) {
  QZ_TRACE;
  if ((compile_kind & COMPILE_KIND_SLOTS) == 0) return false;
  auto it = symbol_map.find(symbol);
  if (it != symbol_map.end()) {
    *offset = it->second;
    return true;
  }
  *offset = symbol_map.size() + 1;
  symbol_map.emplace(symbol, *offset);
  return true;
}

void Compiler::add_message(uint32_t code, const document_location_st& location) {
  QZ_TRACE;
  if (nesting_exceeded) return;  // the blocks left open by the cut only repeat it
  messages.push_back(build_message_st{code, location, location});
}

bool Compiler::find_library_function(const String& name, library_function_result_st* result) const {
  QZ_TRACE;
  for (Library* library : libraries) {
    if (const library_func_def_st* def = library->find_function(name)) {
      *result = library_function_result_st{0, library, def};
      return true;
    }
  }
  return false;
}

AddressLabelRecord* Compiler::create_addresslabel(const String& name) {
  QZ_TRACE;
  String utf8 = name;
  utf8.convert(Charset::utf8, CON_NONE, 0);
  auto* label = new AddressLabelRecord(utf8);
  try {
    labels.push_back(label);
  } catch (...) {
    delete label;
    throw;
  }
  return label;
}

}  // namespace qzbase
