// variables.cpp - variables, array elements, object paths and references.
#include <string>

#include "compiler/expression_parts.h"
#include "vm/vm_stack.h"

namespace qzbase {

compiler_table_hooks_st compiler_table_hooks;

namespace {

// A declared local slot of the unit.
bool local_slot(CodePath& path, symbol_id_type symbol, offset_type* offset) {
  bool declared = false;
  return path.variable_get(symbol, offset, &declared) && declared;
}

// The static type of a field of the bound table; a general field (or any type without a static
// type) is unknown.
void field_type(const compiler_field_st& field, compiler_type_info_st* type) {
  uint32_t t = TYPE_ANY;
  int64_t width = -1;
  switch (field.type) {
    case 'W': case 'M': t = TYPE_STRING; width = -2; break;
    case 'C': case 'Q': case 'V': t = TYPE_STRING; width = field.width; break;
    case 'I': t = TYPE_INTEGER; break;
    case 'Y': t = TYPE_MONEY; break;
    case 'D': t = TYPE_DATE; break;
    case 'T': t = TYPE_DATETIME; break;
    case 'B': case 'N': case 'F': t = TYPE_NUMERIC; break;
    case 'L': t = TYPE_LOGICAL; break;
    default: break;
  }
  type->type = t | (field.nullable ? uint32_t{TYPE_NULLABLE} : 0u);
  type->width = width;
}

bool compile_bound_field(const document_location_st& location, symbol_id_type symbol,
                         CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type) {
  Table_Object* table = path.compiler->stack->bound_table;
  if (table == nullptr || compiler_table_hooks.field_count == nullptr || compiler_table_hooks.field == nullptr) {
    return false;
  }
  const size_t n = compiler_table_hooks.field_count(table);
  for (size_t i = 0; i < n; ++i) {
    compiler_field_st field;
    compiler_table_hooks.field(table, i, &field);
    if (path.symbolize(field.name) != symbol) continue;
    collection->push_back(location, new VmOpReadFieldByFieldNum(i));
    field_type(field, type);
    return true;
  }
  return false;
}

bool compile_system_variable(const document_location_st& location, const String& name,
                             CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type) {
  for (Library* library : path.compiler->libraries) {
    if (const library_func_def_st* getter = library->find_sysvar_reader(name)) {
      compile_call_spec_do(location, nullptr, 0, library, *getter, collection, path, type);
      return true;
    }
  }
  return false;
}

// ---- path steps ----------------------------------------------------------------------------

using root_compiler = void (*)(const PathItem* item, bool memvar, CompiledCodeCollection* collection, CodePath& path,
                               compiler_type_info_st* type);
using item_compiler = void (*)(const PathItem* item, CompiledCodeCollection* collection, CodePath& path);

void root_name(const PathItem* item, bool memvar, CompiledCodeCollection* collection, CodePath& path,
               compiler_type_info_st*) {
  const auto* n = static_cast<const NamePathItem*>(item);
  const symbol_id_type symbol = path.symbolize(n->name);
  offset_type offset = 0;
  if (memvar && local_slot(path, symbol, &offset)) {
    collection->push_back(item->location, new VmOpReadLocalMemvarByOffset(offset));
  } else if (memvar) {
    collection->push_back(item->location, new VmOpReadMemvarByName(symbol));
  } else {
    collection->push_back(item->location, new VmOpReadFileObjectOrMemvarByName(symbol));
  }
}

void root_name_with_index(const PathItem* item, bool, CompiledCodeCollection* collection, CodePath& path,
                          compiler_type_info_st*) {
  const auto* n = static_cast<const NameIndexPathItem*>(item);
  compile_read_array_element(item->location, n->name, n->indexes, collection, path);
}

void root_function(const PathItem* item, bool, CompiledCodeCollection* collection, CodePath& path,
                   compiler_type_info_st*) {
  const auto* f = static_cast<const FunctionPathItem*>(item);
  compiler_type_info_st fresh;
  compile_call(item->location, f->name, items_of(f->arguments), count_of(f->arguments), collection, path, &fresh);
}

// The temporary holding the object of the innermost WITH block; 0 outside any.
symbol_id_type with_symbol(CodePath& path) {
  for (CodePath* p = &path; p != nullptr; p = p->parent) {
    for (auto it = p->with_stack.rbegin(); it != p->with_stack.rend(); ++it) {
      if (*it != 0) return *it;
    }
  }
  return 0;
}

void root_with(const PathItem* item, bool, CompiledCodeCollection* collection, CodePath& path,
               compiler_type_info_st*) {
  const symbol_id_type symbol = with_symbol(path);
  if (symbol == 0) {
    path.compiler->add_message(1940, item->location);
    return;
  }
  compiler_type_info_st fresh;
  compile_read_variable(item->location, symbol, String(), true, false, collection, path, &fresh);
}

void root_with_ref(const PathItem* item, bool, CompiledCodeCollection* collection, CodePath& path,
                   compiler_type_info_st*) {
  const symbol_id_type symbol = with_symbol(path);
  if (symbol == 0) {
    path.compiler->add_message(1940, item->location);
    return;
  }
  compile_read_variable_ref(item->location, symbol, false, collection, path);
}

// A plain-name root is never the last compiled step of a reference.
void root_name_ref(const PathItem*, bool, CompiledCodeCollection*, CodePath&, compiler_type_info_st*) {
  throw_assert_failed();
}

void item_name(const PathItem* item, CompiledCodeCollection* collection, CodePath& path) {
  const auto* n = static_cast<const NamePathItem*>(item);
  collection->push_back(item->location, new VmOpObjectReadProperty(path.symbolize(n->name), 0));
}

void item_name_with_index(const PathItem* item, CompiledCodeCollection* collection, CodePath& path) {
  const auto* n = static_cast<const NameIndexPathItem*>(item);
  compile_operand_list(n->indexes, collection, path);
  collection->push_back(item->location, new VmOpObjectReadProperty(path.symbolize(n->name), count_of(n->indexes)));
}

constexpr symbol_id_type kIndexSymbol = 6;  // the predefined "[]"

void item_index(const PathItem* item, CompiledCodeCollection* collection, CodePath& path) {
  const auto* n = static_cast<const IndexPathItem*>(item);
  compile_operand_list(n->indexes, collection, path);
  collection->push_back(item->location, new VmOpObjectReadProperty(kIndexSymbol, count_of(n->indexes)));
}

void item_function(const PathItem* item, CompiledCodeCollection* collection, CodePath& path) {
  const auto* f = static_cast<const FunctionPathItem*>(item);
  compile_pass_parameters(items_of(f->arguments), count_of(f->arguments), collection, path);
  collection->push_back(item->location, new VmOpObjectCall(path.symbolize(f->name), count_of(f->arguments)));
}

void item_name_ref(const PathItem* item, CompiledCodeCollection* collection, CodePath& path) {
  const auto* n = static_cast<const NamePathItem*>(item);
  collection->push_back(item->location, new VmOpObjectReadPropertyPointer(path.symbolize(n->name), 0));
}

void item_function_ref(const PathItem* item, CompiledCodeCollection* collection, CodePath& path) {
  const auto* f = static_cast<const FunctionPathItem*>(item);
  compile_pass_parameters(items_of(f->arguments), count_of(f->arguments), collection, path);
  collection->push_back(item->location, new VmOpObjectCallPointer(path.symbolize(f->name), count_of(f->arguments)));
}

constexpr size_t kItemKinds = PATH_ITEM_WITH + 1;

struct path_tables_st {
  root_compiler roots[kItemKinds]{};
  item_compiler items[kItemKinds]{};
  root_compiler root_refs[kItemKinds]{};
  item_compiler item_refs[kItemKinds]{};
};

const path_tables_st path_tables = [] {
  path_tables_st t;
  t.roots[PATH_ITEM_NAME] = &root_name;
  t.roots[PATH_ITEM_NAME_INDEX] = &root_name_with_index;
  t.roots[PATH_ITEM_FUNCTION] = &root_function;
  t.roots[PATH_ITEM_WITH] = &root_with;
  t.items[PATH_ITEM_NAME] = &item_name;
  t.items[PATH_ITEM_NAME_INDEX] = &item_name_with_index;
  t.items[PATH_ITEM_FUNCTION] = &item_function;
  t.items[PATH_ITEM_INDEX] = &item_index;
  t.root_refs[PATH_ITEM_NAME] = &root_name_ref;
  t.root_refs[PATH_ITEM_WITH] = &root_with_ref;
  t.item_refs[PATH_ITEM_NAME] = &item_name_ref;
  t.item_refs[PATH_ITEM_FUNCTION] = &item_function_ref;
  return t;
}();

template <class F>
F row(const F* table, uint32_t kind) {
  F f = kind < kItemKinds ? table[kind] : nullptr;
  if (f == nullptr) throw RuntimeError(1001);
  return f;
}

// The steps of a path: at least one to compile.
std::vector<const PathItem*> steps_of(const Path* p, bool drop_last) {
  std::vector<const PathItem*> steps;
  if (p->items != nullptr) steps.assign(p->items->begin(), p->items->end());
  if (drop_last && !steps.empty()) steps.pop_back();
  if (steps.empty()) throw_assert_failed();  // a path with no step to compile
  return steps;
}

// a.b.f(...) naming a library function as a whole.
bool compile_qualified_call(const Path* p, CompiledCodeCollection* collection, CodePath& path,
                            compiler_type_info_st* type) {
  if (p->items == nullptr || p->items->size() < 2) return false;
  Concat joined;
  size_t i = 0;
  const FunctionPathItem* last = nullptr;
  for (const PathItem* item : *p->items) {
    ++i;
    if (i == p->items->size()) {
      if (item->kind != PATH_ITEM_FUNCTION) return false;
      last = static_cast<const FunctionPathItem*>(item);
      joined.append(String("."));
      joined.append(last->name);
    } else {
      if (item->kind != PATH_ITEM_NAME) return false;
      if (i > 1) joined.append(String("."));
      joined.append(static_cast<const NamePathItem*>(item)->name);
    }
  }
  library_function_result_st found;
  if (!path.compiler->find_library_function(joined.to_string(false), &found)) return false;
  compile_call_spec_do(p->location, items_of(last->arguments), count_of(last->arguments), found.library,
                       *found.definition, collection, path, type);
  return true;
}

}  // namespace

Operand* const* items_of(const OperandList* list) {
  QZ_TRACE;
  return list != nullptr && list->count != 0 ? list->items : nullptr;
}

uint64_t count_of(const OperandList* list) {
  QZ_TRACE;
  return list != nullptr ? list->count : 0;
}

void compile_operand_list(const OperandList* list, CompiledCodeCollection* collection, CodePath& path) {
  QZ_TRACE;
  const uint64_t n = count_of(list);
  for (uint64_t i = 0; i < n; ++i) {
    compiler_type_info_st fresh;
    compile_operand(list->items[i], false, true, collection, path, &fresh);
  }
}

void compile_read_variable(const document_location_st& location, symbol_id_type symbol, const String& name,
                           bool memvar_only, bool default_read, CompiledCodeCollection* collection, CodePath& path,
                           compiler_type_info_st* type) {
  QZ_TRACE;
  type->type = TYPE_NULLABLE;
  type->constant = false;
  // With default read the variable is the target of a store: never a field or a system variable.
  if (memvar_only || default_read) {
    offset_type offset = 0;
    if (local_slot(path, symbol, &offset)) {
      collection->push_back(location, new VmOpReadLocalMemvarByOffset(offset));
    } else if (default_read) {
      collection->push_back(location, new VmOpReadMemvarByNameDefault(symbol));
    } else {
      collection->push_back(location, new VmOpReadMemvarByName(symbol));
    }
    return;
  }
  if (compile_bound_field(location, symbol, collection, path, type)) return;
  if (compile_system_variable(location, name, collection, path, type)) return;
  collection->push_back(location, new VmOpReadByName(symbol));
}

void compile_read_variable_by_name(const document_location_st& location, const String& name, bool memvar_only,
                                   bool default_read, CompiledCodeCollection* collection, CodePath& path,
                                   compiler_type_info_st* type) {
  QZ_TRACE;
  compile_read_variable(location, path.symbolize(name), name, memvar_only, default_read, collection, path, type);
}

void compile_read_variable_ref(const document_location_st& location, symbol_id_type symbol, bool default_read,
                               CompiledCodeCollection* collection, CodePath&) {
  QZ_TRACE;
  if (default_read) {
    collection->push_back(location, new VmOpReadMemvarPointerByNameDefault(symbol));
  } else {
    collection->push_back(location, new VmOpReadMemvarPointerByName(symbol));
  }
}

void compile_read_array_element(const document_location_st& location, const String& name, const OperandList* indexes,
                                CompiledCodeCollection* collection, CodePath& path) {
  QZ_TRACE;
  collection->push_back(location, new VmOpEspAlloc());
  compile_operand_list(indexes, collection, path);
  const symbol_id_type symbol = path.symbolize(name);
  offset_type offset = 0;
  if (local_slot(path, symbol, &offset)) {
    collection->push_back(location, new VmOpReadMemvarIndexLocal(offset, count_of(indexes)));
  } else {
    collection->push_back(location, new VmOpReadArrayItemByName(symbol, count_of(indexes)));
  }
}

void compile_operand_variable(const Operand* operand, bool default_read, bool, CompiledCodeCollection* collection,
                              CodePath& path, compiler_type_info_st* type) {
  QZ_TRACE;
  const auto* v = static_cast<const Variable*>(operand);
  compile_read_variable(operand->location, path.symbolize(v->name), v->name, v->memvar != 0, default_read, collection,
                        path, type);
}

void compile_variable_with_index(const Operand* operand, bool, bool, CompiledCodeCollection* collection,
                                 CodePath& path, compiler_type_info_st*) {
  QZ_TRACE;
  const auto* v = static_cast<const VariableWithIndex*>(operand);
  if (v->variable == nullptr || v->variable->kind != OPERAND_VARIABLE) throw_assert_failed();
  compile_read_array_element(operand->location, static_cast<const Variable*>(v->variable)->name, v->indexes,
                             collection, path);
}

void compile_evaluate_path(const Path* p, bool drop_last, CompiledCodeCollection* collection, CodePath& path,
                           compiler_type_info_st* type) {
  QZ_TRACE;
  if (!drop_last && compile_qualified_call(p, collection, path, type)) return;
  const std::vector<const PathItem*> steps = steps_of(p, drop_last);
  if (steps[0]->kind == PATH_ITEM_WITH && with_symbol(path) == 0) {
    path.compiler->add_message(1940, steps[0]->location);  // outside WITH: nothing of the path is emitted
    return;
  }
  for (size_t i = 1; i < steps.size(); ++i) collection->push_back(steps[i]->location, new VmOpEspAlloc());
  row(path_tables.roots, steps[0]->kind)(steps[0], p->memvar != 0, collection, path, type);
  for (size_t i = 1; i < steps.size(); ++i) row(path_tables.items, steps[i]->kind)(steps[i], collection, path);
}

void compile_evaluate_path_ref(const Path* p, bool drop_last, bool, CompiledCodeCollection* collection,
                               CodePath& path, compiler_type_info_st* type) {
  QZ_TRACE;
  const std::vector<const PathItem*> steps = steps_of(p, drop_last);
  for (size_t i = 1; i < steps.size(); ++i) collection->push_back(steps[i]->location, new VmOpEspAlloc());
  row(path_tables.roots, steps[0]->kind)(steps[0], p->memvar != 0, collection, path, type);
  for (size_t i = 1; i < steps.size(); ++i) {
    const PathItem* item = steps[i];
    if (i + 1 < steps.size()) {
      row(path_tables.items, item->kind)(item, collection, path);
      continue;
    }
    item_compiler ref = item->kind < kItemKinds ? path_tables.item_refs[item->kind] : nullptr;
    if (ref == nullptr) {
      path.compiler->add_message(9004, item->location);
    } else {
      ref(item, collection, path);
    }
  }
}

void compile_operand_ref(const Operand* operand, bool default_read, bool allow_rvalue,
                         CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type) {
  QZ_TRACE;
  while (operand->kind == OPERAND_REFERENCE) operand = static_cast<const Reference*>(operand)->operand;
  if (operand->kind == OPERAND_VARIABLE) {
    const auto* v = static_cast<const Variable*>(operand);
    compile_read_variable_ref(operand->location, path.symbolize(v->name), default_read, collection, path);
  } else if (operand->kind == OPERAND_PATH) {
    compile_evaluate_path_ref(static_cast<const Path*>(operand), false, default_read, collection, path, type);
  } else if (allow_rvalue) {
    compile_operand(operand, false, true, collection, path, type);
  } else {
    path.compiler->add_message(9004, operand->location);
  }
}

void compile_operand_path(const Operand* operand, bool, bool, CompiledCodeCollection* collection, CodePath& path,
                          compiler_type_info_st* type) {
  QZ_TRACE;
  compile_evaluate_path(static_cast<const Path*>(operand), false, collection, path, type);
}

void compile_operand_reference(const Operand* operand, bool default_read, bool want_value,
                               CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type) {
  QZ_TRACE;
  if (want_value) {
    compile_operand(static_cast<const Reference*>(operand)->operand, default_read, false, collection, path, type);
  } else {
    compile_operand_ref(operand, default_read, false, collection, path, type);
  }
}

}  // namespace qzbase
