// calls.cpp - function calls: intrinsics compiled inline, library functions bound while
// compiling (arguments checked and cast against the signature), and calls left to the linker.
#include <vector>

#include "compiler/expression_parts.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

using intrinsic_compiler = void (*)(const document_location_st& location, Operand* const* arguments, uint64_t count,
                                    CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type);

const library_func_def_st& builtin_function(CodePath& path, const char* name) {
  const library_func_def_st* def = builtin_library_of(path)->find_function(std::string_view(name));
  if (def == nullptr) throw_assert_failed();
  return *def;
}

void intrinsic_iif(const document_location_st& location, Operand* const* arguments, uint64_t count,
                   CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st*) {
  if (count != 3) {
    collection->push_back(location, new VmOpReadConstNull());
    path.compiler->add_message(11, location);
    return;
  }
  AddressLabelRecord* end = path.compiler->create_addresslabel(String("iif end label"));
  AddressLabelRecord* otherwise = path.compiler->create_addresslabel(String("iif else branch label"));
  compiler_type_info_st shared;
  compile_operand(arguments[0], false, true, collection, path, &shared);
  collection->push_back(arguments[0]->location, new VmOpCondFalseOrNullJump(otherwise->key()));
  compile_operand(arguments[1], false, true, collection, path, &shared);
  collection->push_back(arguments[1]->location, new VmOpJump(end->key()));
  collection->place_label(otherwise);
  compile_operand(arguments[2], false, true, collection, path, &shared);
  collection->place_label(end);
}

// NEWOBJECT (string_args 3) and CREATEOBJECT (1): the class name cast to a string that is not
// null, the further naming arguments to strings that may be null, the rest as they are.
void object_creation(const document_location_st& location, Operand* const* arguments, uint64_t count,
                     CompiledCodeCollection* collection, CodePath& path, uint64_t string_args, const char* name) {
  if (count == 0) {
    // The class name is missing: nothing to create.
    collection->push_back(location, new VmOpReadConstNull());
    path.compiler->add_message(11, location);
    return;
  }
  collection->push_back(location, new VmOpEspAlloc());
  for (uint64_t i = 0; i < count; ++i) {
    compiler_type_info_st fresh;
    compile_operand(arguments[i], false, true, collection, path, &fresh);
    if (i < string_args) collection->push_back(location, new VmOpCastToStringImplicitly(i == 0 ? 0 : 1));
  }
  collection->push_back(location, new VmOpCallSpecDo(builtin_function(path, name).function, count));
}

void intrinsic_newobject(const document_location_st& location, Operand* const* arguments, uint64_t count,
                         CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st*) {
  object_creation(location, arguments, count, collection, path, 3, "newobject");
}

void intrinsic_createobject(const document_location_st& location, Operand* const* arguments, uint64_t count,
                            CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st*) {
  object_creation(location, arguments, count, collection, path, 1, "createobject");
}

void intrinsic_dodefault(const document_location_st& location, Operand* const* arguments, uint64_t count,
                         CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st*) {
  collection->push_back(location, new VmOpEspAlloc());
  collection->push_back(location, new VmOpEspAlloc());
  compile_pass_parameters(arguments, count, collection, path);
  collection->push_back(location, new VmOpCallSpecDo(builtin_function(path, "dodefault").function, count + 1));
}

struct intrinsic_row_st {
  symbol_id_type symbol;
  intrinsic_compiler compiler;
};
constexpr intrinsic_row_st intrinsic_compilers[] = {
    {53, &intrinsic_iif},
    {90, &intrinsic_newobject},
    {91, &intrinsic_dodefault},
    {92, &intrinsic_createobject},
};

intrinsic_compiler find_intrinsic(symbol_id_type symbol) {
  for (const intrinsic_row_st& r : intrinsic_compilers) {
    if (r.symbol == symbol) return r.compiler;
  }
  return nullptr;
}

// The value of a single constant load.
void value_of_constant_load(const CompiledCodeCollection& scratch, Variant* value) {
  const VmOp* op = scratch.empty() ? nullptr : scratch.op_at(0);
  if (op == nullptr) throw_assert_failed();
  switch (op->opcode) {
    case OP_READ_CONST_TRUE: value->set_true(); break;
    case OP_READ_CONST_FALSE: value->set_false(); break;
    case OP_READ_CONST_NULL: value->set_null(); break;
    case OP_READ_CONST_INTEGER: value->set(integer_type_st{static_cast<const VmOpReadConstInteger*>(op)->value}); break;
    case OP_READ_CONST_NUMERIC: value->set(static_cast<const VmOpReadConstNumeric*>(op)->value); break;
    case OP_READ_CONST_MONEY: value->set(static_cast<const VmOpReadConstMoney*>(op)->value); break;
    case OP_READ_CONST_DATE: value->set(static_cast<const VmOpReadConstDate*>(op)->value); break;
    case OP_READ_CONST_DATETIME: value->set(static_cast<const VmOpReadConstDatetime*>(op)->value); break;
    case OP_READ_CONST_STRING: value->set_string(static_cast<const VmOpReadConstString*>(op)->value); break;
    default: throw_assert_failed();
  }
}

// Checked arguments against a signature; values[i] receives the compile-time value of a
// constant argument. False (message 11 recorded) when the count does not fit: the code then
// passes fewer values than the call takes, so it must never run, not even to fold a constant.
bool compile_call_pass_parameters(const document_location_st& location, const function_signature_st& signature,
                                  Operand* const* arguments, uint64_t count, CompiledCodeCollection* collection,
                                  CodePath& path, compiler_type_info_st* types, Variant* values) {
  function_signature_iter_st iter;
  function_signature_iter_init(&iter, &signature);
  for (uint64_t i = 0; i < count; ++i) {
    const Operand* argument = arguments[i];
    function_signature_entry_st entry;
    if (!function_signature_iter_next(&iter, &entry)) {
      path.compiler->add_message(11, argument->location);
      return false;
    }
    CompiledCodeCollection scratch(collection->compiler);
    const bool untyped = (entry.type & ~kSignatureNullable) == SIGNATURE_ANY;
    if (entry.by_reference) {
      compile_operand_ref(argument, entry.default_read, entry.rvalue_allowed, &scratch, path, &types[i]);
    } else {
      compile_operand(argument, entry.default_read, !untyped, &scratch, path, &types[i]);
    }
    if (types[i].constant && scratch.size() == 1) {
      value_of_constant_load(scratch, &values[i]);
      collection->splice_back(scratch);
    } else if (types[i].constant && scratch.size() > 1) {
      compiletime_eval_constexpr(location, &scratch, collection, path, &types[i], path.compiler->stack, &values[i]);
    } else {
      collection->splice_back(scratch);
    }
    compile_implicit_cast(entry, types[i], argument->location, collection);
  }
  if (!function_signature_iter_done(&iter)) {
    path.compiler->add_message(11, location);
    return false;
  }
  return true;
}

// Releases the compile-time values of the arguments on every path.
struct released_values_st {
  std::vector<Variant>& values;
  VmStack* stack;
  ~released_values_st() {
    for (Variant& v : values) v.release(stack);
  }
};

uint32_t result_type_of(const library_func_def_st& definition) {
  return definition.result.entries.empty() ? TYPE_ANY : definition.result.entries.front().type;
}

// name(i) or name(i, j) where name is a LOCAL of the unit: an element read, as name[i] is (arrays
// are read both ways). Only plain value indexes qualify; anything else stays a call.
bool compile_local_element_read(const document_location_st& location, const String& name,
                                Operand* const* arguments, uint64_t count, CompiledCodeCollection* collection,
                                CodePath& path) {
  if (count < 1 || count > 2) return false;
  for (uint64_t i = 0; i < count; ++i) {
    if (arguments[i] == nullptr || arguments[i]->kind == OPERAND_REFERENCE) return false;
  }
  offset_type offset = 0;
  bool declared = false;
  if (!path.variable_get(path.symbolize(name), &offset, &declared) || !declared) return false;
  collection->push_back(location, new VmOpEspAlloc());
  for (uint64_t i = 0; i < count; ++i) {
    compiler_type_info_st fresh;
    compile_operand(arguments[i], false, true, collection, path, &fresh);
  }
  collection->push_back(location, new VmOpReadMemvarIndexLocal(offset, count));
  return true;
}

}  // namespace

Library* builtin_library_of(CodePath& path) {
  QZ_TRACE;
  Library* library = path.compiler->stack->get_runtime()->builtin_library();
  if (library == nullptr) throw_assert_failed();
  return library;
}

void compile_pass_parameter(const Operand* operand, CompiledCodeCollection* collection, CodePath& path,
                            compiler_type_info_st* type) {
  QZ_TRACE;
  if (operand->kind == OPERAND_REFERENCE) {
    compile_operand_ref(operand, false, false, collection, path, type);
  } else {
    compiletime_compact_constexpr(operand, collection, path, type);
  }
}

void compile_pass_parameters(Operand* const* arguments, uint64_t count, CompiledCodeCollection* collection,
                             CodePath& path) {
  QZ_TRACE;
  for (uint64_t i = 0; i < count; ++i) {
    compiler_type_info_st fresh;
    compile_pass_parameter(arguments[i], collection, path, &fresh);
  }
}

void compile_call_spec_do(const document_location_st& location, Operand* const* arguments, uint64_t count,
                          Library* library, const library_func_def_st& definition,
                          CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type) {
  QZ_TRACE;
  std::vector<compiler_type_info_st> types(count);
  std::vector<Variant> values(count);
  released_values_st release{values, path.compiler->stack};
  collection->push_back(location, new VmOpEspAlloc());
  const bool fits = compile_call_pass_parameters(location, definition.signature, arguments, count, collection, path,
                                                 types.data(), values.data());
  collection->push_back(location, new VmOpCallSpecDo(definition.function, count));
  type->width = -1;
  type->type = result_type_of(definition);
  if (width_deducer_type deducer = fits ? library->find_width_deducer(definition.name) : nullptr) {
    deducer(count, types.data(), values.data(), type);
  }
}

void compile_call_spec_void(const document_location_st& location, Operand* const* arguments, uint64_t count,
                            Library*, const library_command_def_st& definition, CompiledCodeCollection* collection,
                            CodePath& path) {
  QZ_TRACE;
  std::vector<compiler_type_info_st> types(count);
  std::vector<Variant> values(count);
  released_values_st release{values, path.compiler->stack};
  compile_call_pass_parameters(location, definition.signature, arguments, count, collection, path, types.data(),
                               values.data());
  collection->push_back(location, new VmOpCallSpecVoid(definition.function, count));
}

void compile_call_builtin_function(const document_location_st& location, Operand* const* arguments, uint64_t count,
                                   const char* name, CompiledCodeCollection* collection, CodePath& path,
                                   compiler_type_info_st* type) {
  QZ_TRACE;
  Library* library = builtin_library_of(path);
  compile_call_spec_do(location, arguments, count, library, builtin_function(path, name), collection, path, type);
}

void compile_call_spec_void_core(const document_location_st& location, Operand* const* arguments, uint64_t count,
                                 const char* name, CompiledCodeCollection* collection, CodePath& path) {
  QZ_TRACE;
  Library* library = builtin_library_of(path);
  const library_command_def_st* def = library->find_command(String(name));
  if (def == nullptr) throw_assert_failed();
  compile_call_spec_void(location, arguments, count, library, *def, collection, path);
}

void compile_call(const document_location_st& location, const String& name, Operand* const* arguments,
                  uint64_t count, CompiledCodeCollection* collection, CodePath& path, compiler_type_info_st* type) {
  QZ_TRACE;
  if (intrinsic_compiler intrinsic = find_intrinsic(path.symbolize(name))) {
    intrinsic(location, arguments, count, collection, path, type);
    return;
  }
  library_function_result_st found;
  if (path.compiler->find_library_function(name, &found)) {
    compile_call_spec_do(location, arguments, count, found.library, *found.definition, collection, path, type);
    return;
  }
  if (compile_local_element_read(location, name, arguments, count, collection, path)) return;
  type->type |= TYPE_NULLABLE;
  collection->push_back(location, new VmOpEspAlloc());
  compile_pass_parameters(arguments, count, collection, path);
  collection->push_back(location, new VmOpUnresolvedCall(name, count));
}

void compile_operand_call(const Operand* operand, bool, bool, CompiledCodeCollection* collection, CodePath& path,
                          compiler_type_info_st* type) {
  QZ_TRACE;
  const auto* c = static_cast<const Call*>(operand);
  compile_call(operand->location, c->name, items_of(c->arguments), count_of(c->arguments), collection, path, type);
}

}  // namespace qzbase
