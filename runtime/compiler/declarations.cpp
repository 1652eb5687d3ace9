// declarations.cpp - declarations, assignment, STORE, DECLARE and the assignment back end.
#include "compiler/declarations.h"

#include <qzbase.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "vm/library.h"
#include "compiler/expression_parts.h"
#include "vm/vm_op.h"

namespace qzbase {

namespace {

// The name's slot when it is a local of the unit (a frame slot that this scope or an enclosing
// one declared).
bool local_variable(CodePath& path, symbol_id_type symbol, offset_type* offset) {
  bool declared = false;
  return path.variable_get(symbol, offset, &declared) && declared;
}

bool same_name(const String& a, const String& b) {
  return Collation::unicode_machine_ci->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                                b.get_charset()) == 0;
}

const Variable* as_variable(const Operand* operand) {
  if (operand == nullptr || operand->kind != OPERAND_VARIABLE) throw_assert_failed();
  return static_cast<const Variable*>(operand);
}

void compile_folded(const Operand* operand, CompiledCodeCollection* code, CodePath& path) {
  compiler_type_info_st type{0, false, -1};
  compiletime_compact_constexpr(operand, code, path, &type);
}

void compile_assign_to_named_variable(const Variable* target, const Operand* value, CompiledCodeCollection* code,
                                      CodePath& path) {
  symbol_id_type symbol = path.symbolize(target->name);
  if (!target->memvar) {
    const library_command_def_st* writer = builtin_library_of(path)->find_sysvar_writer(target->name);
    if (writer != nullptr) {
      Operand* const arguments[] = {const_cast<Operand*>(value)};
      compile_call_spec_void(target->location, arguments, 1, builtin_library_of(path), *writer, code, path);
      return;
    }
  }
  if (value->kind == OPERAND_BINARY) {
    const auto* binary = static_cast<const BinaryOperator*>(value);
    if (binary->op == 0 && binary->left != nullptr && binary->left->kind == OPERAND_VARIABLE &&
        same_name(static_cast<const Variable*>(binary->left)->name, target->name)) {
      compile_folded(binary->right, code, path);
      offset_type offset = 0;
      if (local_variable(path, symbol, &offset)) {
        code->push_back(target->location, new VmOpReadAddWriteLocal(offset));
      } else {
        code->push_back(target->location, new VmOpReadAddWrite(symbol));
      }
      return;
    }
  }
  compile_folded(value, code, path);
  compile_assign(target, size_t{0}, code, path);
}

void compile_assign_to_array_element(const VariableWithIndex* target, const Operand* value,
                                     CompiledCodeCollection* code, CodePath& path) {
  compile_folded(value, code, path);
  compile_operand_list(target->indexes, code, path);
  compile_assign(target->variable, count_of(target->indexes), code, path);
}

void compile_assign_to_object_property(const Path* target, const Operand* value, CompiledCodeCollection* code,
                                       CodePath& path) {
  if (target->items == nullptr || target->items->empty()) throw_assert_failed();
  compiler_type_info_st type{0, false, -1};
  compile_evaluate_path(target, true, code, path, &type);
  compile_folded(value, code, path);
  const PathItem* last = target->items->back();
  switch (last->kind) {
    case PATH_ITEM_NAME: {
      const auto* item = static_cast<const NamePathItem*>(last);
      code->push_back(item->location, new VmOpObjectWriteProperty(path.symbolize(item->name), 1));
      break;
    }
    case PATH_ITEM_NAME_INDEX: {
      const auto* item = static_cast<const NameIndexPathItem*>(last);
      compile_operand_list(item->indexes, code, path);
      code->push_back(item->location,
                      new VmOpObjectWriteProperty(path.symbolize(item->name), count_of(item->indexes) + 1));
      break;
    }
    case PATH_ITEM_INDEX: {
      const auto* item = static_cast<const IndexPathItem*>(last);
      compile_operand_list(item->indexes, code, path);
      code->push_back(item->location, new VmOpObjectWriteProperty(6, count_of(item->indexes) + 1));
      break;
    }
    default:
      throw RuntimeError(10);
  }
}

template <class T>
const T& statement_at(statement_list::iterator& it) {
  return *static_cast<const T*>(*it);
}

// Walks the variables of a PUBLIC, PRIVATE or LOCAL list: each gets its frame slot where the unit
// has slots, then declare(definition, variable, symbol, offset, has_slot) emits its declaration.
template <class F>
void declare_each(const std::list<Definition*>* definitions, CodePath& path, F declare) {
  if (definitions == nullptr) return;
  for (const Definition* definition : *definitions) {
    const Variable* variable = as_variable(definition->variable);
    symbol_id_type symbol = path.symbolize(variable->name);
    offset_type offset = 0;
    bool has_slot = path.compiler->compile_time_define_memvar(symbol, &offset);
    declare(definition, variable, symbol, offset, has_slot);
  }
}

}  // namespace

void compile_assign(const Operand* target, const Operand* value, CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  if (target == nullptr || value == nullptr) throw_assert_failed();
  switch (target->kind) {
    case OPERAND_VARIABLE:
      compile_assign_to_named_variable(static_cast<const Variable*>(target), value, code, path);
      return;
    case OPERAND_VARIABLE_WITH_INDEX:
      compile_assign_to_array_element(static_cast<const VariableWithIndex*>(target), value, code, path);
      return;
    case OPERAND_PATH:
      compile_assign_to_object_property(static_cast<const Path*>(target), value, code, path);
      return;
    default:
      throw_assert_failed();
  }
}

void compile_assign(const Operand* variable, size_t index_count, CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const Variable* target = as_variable(variable);
  symbol_id_type symbol = path.symbolize(target->name);
  offset_type offset = 0;
  bool local = local_variable(path, symbol, &offset);
  if (index_count == 0) {
    if (local) {
      code->push_back(target->location, new VmOpWriteMemvarByOffset(offset));
    } else {
      code->push_back(target->location, new VmOpWriteMemarByName(symbol));
    }
  } else if (local) {
    code->push_back(target->location, new VmOpWriteArrayByOffset(offset, index_count));
  } else {
    code->push_back(target->location, new VmOpWriteArrayByName(symbol, index_count));
  }
}

void compile_assign_to_variable(const symbol_id_type& symbol, const document_location_st& location,
                                CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  offset_type offset = 0;
  if (local_variable(path, symbol, &offset)) {
    code->push_back(location, new VmOpWriteMemvarByOffset(offset));
  } else {
    code->push_back(location, new VmOpWriteMemarByName(symbol));
  }
}

void compile_dimension(const document_location_st& location, const Operand* variable, Operand* const* dimensions,
                       size_t count, CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  if (count == 0 || dimensions == nullptr) throw_assert_failed();
  Const_Null null_dimension(location);
  Operand* const arguments[] = {dimensions[0], count > 1 ? dimensions[1] : &null_dimension,
                                const_cast<Operand*>(variable)};
  compiler_type_info_st type{0, false, -1};
  compile_call_builtin_function(location, arguments, 3, "dimension", code, path, &type);
  if (variable->kind == OPERAND_VARIABLE) {
    compile_assign(variable, size_t{0}, code, path);
  } else if (variable->kind == OPERAND_PATH) {
    // A member array of an object: the object, the value above it, then the property write.
    throw RuntimeError(1001, String("DIMENSION of a property"));
  } else {
    throw_assert_failed();
  }
}

bool compile_private_rx_pattern(const String& pattern, String& regex) {
  QZ_TRACE;
  std::string utf8 = pattern.u8str();
  std::string out = "^";
  for (char c : utf8) {
    if (c == '*') {
      out += ".*";
    } else if (c == '?') {
      out += '.';
    } else {
      out += c;
    }
  }
  out += '$';
  regex = String::fromBytes(out.data(), out.size(), Charset::utf8);
  regex.convert(Charset::utf16le, CON_NONE, 0);
  return true;
}

void compile_eval_macro(const document_location_st& location, MacroItem* const* items, size_t count,
                        CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  for (size_t i = 0; i < count; ++i) {
    const MacroItem* item = items[i];
    if (item == nullptr) throw_assert_failed();
    if (item->kind == MACRO_ITEM_STRING) {
      code->push_back(location, new VmOpReadConstString(item->text));
    } else if (item->kind == MACRO_ITEM_VARIABLE) {
      compiler_type_info_st type{0, false, -1};
      compile_read_variable_by_name(location, item->text, false, true, code, path, &type);
      code->push_back(location, new VmOpCastToStringImplicitly(0));
    } else {
      throw_assert_failed();
    }
  }
}

void compile_operand(const Operand* operand, CodePath& path) {
  QZ_TRACE;
  Compiler* compiler = path.compiler;
  if (compiler->collection.size() != 0 || compiler->statement_number != 0) throw_assert_failed();
  compiletime_compact_constexpr(operand, &compiler->collection, path, &path.type);
  compiler->collection.push_back(operand->location, new VmOpReturnValue());
}

int compile_stmt_assign(const statement_list::const_iterator&, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_Assign>(it);
  ++it;
  if (statement.target == nullptr) {
    compile_folded(statement.value, code, path);
    code->push_back(statement.location, new VmOpEspFree());
  } else {
    compile_assign(statement.target, statement.value, code, path);
  }
  return 0;
}

int compile_stmt_public(const statement_list::const_iterator&, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_Public>(it);
  ++it;
  declare_each(statement.definitions, path,
               [&](const Definition* definition, const Variable* variable, symbol_id_type symbol,
                   offset_type offset, bool has_slot) {
                 // A unit without frame slots gives no slot: offset 0 declares the name alone.
                 code->push_back(variable->location, new VmOpDefPublicOffset(has_slot ? offset : 0, symbol));
                 // PUBLIC a[3] declares an array, as LOCAL does.
                 if (definition->dimensions != nullptr) {
                   compile_dimension(variable->location, variable, items_of(definition->dimensions),
                                     count_of(definition->dimensions), code, path);
                 }
               });
  return 0;
}

int compile_stmt_private(const statement_list::const_iterator&, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_Private_VarList>(it);
  ++it;
  declare_each(statement.definitions, path,
               [&](const Definition*, const Variable* variable, symbol_id_type symbol, offset_type, bool) {
                 code->push_back(variable->location, new VmOpDefPrivateSymbol(symbol));
               });
  return 0;
}

int compile_stmt_private_pattern(const statement_list::const_iterator&, statement_list::iterator& it,
                                 CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_Private_Pattern>(it);
  ++it;
  String like;
  String except;
  compile_private_rx_pattern(statement.like_pattern, like);
  compile_private_rx_pattern(statement.except_pattern, except);
  Const_String like_operand(statement.location, like);
  Const_String except_operand(statement.location, except);
  Operand* const arguments[] = {&like_operand, &except_operand};
  compile_call_spec_void_core(statement.location, arguments, 2, "private", code, path);
  return 0;
}

int compile_stmt_local(const statement_list::const_iterator&, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_Local>(it);
  ++it;
  declare_each(statement.definitions, path,
               [&](const Definition* definition, const Variable* variable, symbol_id_type symbol,
                   offset_type offset, bool has_slot) {
                 if (has_slot) {
                   code->push_back(variable->location, new VmOpDefLocalOffset(offset, symbol));
                   path.variables.emplace(symbol, 1u);
                 } else {
                   code->push_back(variable->location, new VmOpDefLocal(symbol));
                 }
                 if (definition->dimensions != nullptr) {
                   compile_dimension(variable->location, variable, items_of(definition->dimensions),
                                     count_of(definition->dimensions), code, path);
                 }
               });
  return 0;
}

int compile_stmt_dimension(const statement_list::const_iterator&, statement_list::iterator& it,
                           CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_Dimension>(it);
  ++it;
  if (statement.definitions == nullptr) return 0;
  for (const Definition* definition : *statement.definitions) {
    if (definition->dimensions == nullptr) throw_assert_failed();
    compile_dimension(definition->variable->location, definition->variable, items_of(definition->dimensions),
                      count_of(definition->dimensions), code, path);
  }
  return 0;
}

int compile_stmt_store(const statement_list::const_iterator&, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_Store>(it);
  ++it;
  StatementTemp temporary(path, statement.location, "store", code);
  std::optional<StatementTemp> property_value;
  compile_assign(temporary.get(), statement.value, code, path);
  for (uint64_t i = 0; i < count_of(statement.targets); ++i) {
    Operand* target = statement.targets->items[i];
    Operand* const arguments[] = {target, temporary.get()};
    compiler_type_info_st type{0, false, -1};
    const size_t messages_before = path.compiler->messages.size();
    compile_call_builtin_function(target->location, arguments, 2, "store", code, path, &type);
    if (target->kind == OPERAND_PATH) {
      // A target that did not compile has said why once; compiling it again for the write would
      // only say it again, and the build fails either way.
      if (path.compiler->messages.size() != messages_before) continue;
      // A property: its object is evaluated again for the write, after the value is set aside.
      if (!property_value) property_value.emplace(path, statement.location, "storeprop", code);
      compile_assign_to_variable(path.symbolize(property_value->get()->name), target->location, code, path);
      compile_assign(target, property_value->get(), code, path);
      continue;
    }
    const Operand* variable = target->kind == OPERAND_VARIABLE_WITH_INDEX
                                  ? static_cast<const VariableWithIndex*>(target)->variable
                                  : target;
    if (target->kind == OPERAND_VARIABLE_WITH_INDEX) {
      const auto* element = static_cast<const VariableWithIndex*>(target);
      compile_operand_list(element->indexes, code, path);
      compile_assign(variable, count_of(element->indexes), code, path);
    } else {
      compile_assign(variable, size_t{0}, code, path);
    }
  }
  return 0;
}

int compile_stmt_declare(const statement_list::const_iterator&, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = statement_at<Cmd_DeclareDll>(it);
  ++it;
  Const_String name(statement.location, statement.function_name);
  Const<long> count(statement.location, static_cast<long>(statement.parameter_count));
  const char* bytes = reinterpret_cast<const char*>(statement.parameter_types);
  Const_String types(statement.location,
                     String::fromBytes(bytes == nullptr ? "" : bytes,
                                       statement.parameter_count * sizeof(external_parameter_st), Charset::binary));
  Const_Null no_library(statement.location);
  Operand* const arguments[] = {&name, statement.library != nullptr ? statement.library : &no_library, &count,
                                &types};
  compile_call_spec_void_core(statement.location, arguments, 4, "declare", code, path);
  return 0;
}

}  // namespace qzbase
