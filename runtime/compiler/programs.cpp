// programs.cpp - compiled code units, their parameter set-up and the module items.
#include "compiler/programs.h"

#include <qzbase.h>

#include <memory>

#include "compiler/class_definitions.h"
#include "compiler/declarations.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_op.h"

namespace qzbase {

namespace {

constexpr symbol_id_type kThisSymbol = 1;

bool ends_in_return(const CompiledCodeCollection& code) {
  const VmOp* last = code.empty() ? nullptr : code.op_at(code.size() - 1);
  return last != nullptr && (last->opcode == OP_RETURN_VALUE || last->opcode == OP_RETURN_POINTER);
}

const String& definition_name(const Definition* definition) {
  if (definition == nullptr || definition->variable == nullptr || definition->variable->kind != OPERAND_VARIABLE) {
    throw_assert_failed();
  }
  return static_cast<const Variable*>(definition->variable)->name;
}

UserFunction* compile_unit(uint32_t kind, const String& name, const statement_list::const_iterator& end,
                           statement_list::iterator& it, const std::list<Definition*>* params, CodePath& path,
                           bool keep_empty) {
  Compiler* compiler = path.compiler;
  compiler->reset(kind, false);
  if ((kind & COMPILE_KIND_METHOD_BODY) != 0) {
    compiler->symbol_map[kThisSymbol] = 1;
    path.variables.emplace(kThisSymbol, 1u);
  }
  compile_program(end, it, params, path);
  std::unique_ptr<Program> program(compiler->build_program(name));
  if (compiler->statement_number == 0 && !keep_empty) return nullptr;
  auto* function = new UserFunction(program.get());
  program.release();
  return function;
}

int compile_parameters_statement(statement_list::iterator& it, ParameterMemoryClass memory_class,
                                 CompiledCodeCollection* code, CodePath& path) {
  const Statement* statement = *it++;
  const std::list<Definition*>* definitions =
      memory_class == PARAMETERS_PRIVATE ? static_cast<const Cmd_Parameters*>(statement)->definitions
                                         : static_cast<const Cmd_LParameters*>(statement)->definitions;
  // Parameters belong to the unit: inside a block (IF, FOR...) they are out of place.
  if (&path != path.compiler || !create_parameters_initalization_code(definitions, memory_class, code, path)) {
    path.compiler->add_message(10, statement->location);
  }
  return 0;
}

}  // namespace

void compile_program(const statement_list::const_iterator& end, statement_list::iterator& it,
                     const std::list<Definition*>* params, CodePath& path) {
  QZ_TRACE;
  Compiler* compiler = path.compiler;
  if (path.parent != nullptr || &path != compiler) throw_assert_failed();
  if (compiler->collection.size() != 0 || compiler->statement_number != 0) throw_assert_failed();
  CompiledCodeCollection* code = &compiler->collection;
  if (params != nullptr && !create_parameters_initalization_code(params, PARAMETERS_LOCAL, code, path)) {
    throw_assert_failed();
  }
  compile_statement_list(end, it, code, path);
  path.close_open_withs();
  if ((compiler->compile_kind & COMPILE_KIND_CLOSING_RETURN) != 0 && !ends_in_return(*code)) {
    code->push_jump(new VmOpReturn());
  }
  if ((compiler->compile_kind & COMPILE_KIND_METHOD_BODY) != 0 && compiler->parameter_memory_class != PARAMETERS_LOCAL) {
    code->push_front_unnumbered(document_location_st{}, new VmOpInitLocalParameters(1));
  }
}

bool create_parameters_initalization_code(const std::list<Definition*>* params, ParameterMemoryClass memory_class,
                                          CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  Compiler* compiler = path.compiler;
  if (path.parent != nullptr || &path != compiler) throw_assert_failed();
  if (compiler->parameter_memory_class != PARAMETERS_NONE || compiler->op_counter != 0) return false;
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) == 0) return false;
  compiler->parameter_memory_class = memory_class;
  compiler->parameter_count = params != nullptr ? params->size() : 0;
  if (params != nullptr) {
    for (const Definition* definition : *params) {
      symbol_id_type symbol = path.symbolize(definition_name(definition));
      offset_type offset = 0;
      if (!compiler->compile_time_define_memvar(symbol, &offset)) throw_assert_failed();
      if (memory_class == PARAMETERS_PRIVATE) {
        code->push_jump(new VmOpInitParameter(offset, symbol));
      } else {
        path.variables.emplace(symbol, 1u);
      }
    }
  }
  if (memory_class == PARAMETERS_LOCAL) {
    uint64_t count = compiler->parameter_count + ((compiler->compile_kind & COMPILE_KIND_METHOD_BODY) != 0 ? 1 : 0);
    code->push_jump(new VmOpInitLocalParameters(count));
  }
  return true;
}

int compile_stmt_parameters(const statement_list::const_iterator&, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  return compile_parameters_statement(it, PARAMETERS_PRIVATE, code, path);
}

int compile_stmt_lparameters(const statement_list::const_iterator&, statement_list::iterator& it,
                             CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  return compile_parameters_statement(it, PARAMETERS_LOCAL, code, path);
}

UserFunction* compile_function(uint32_t kind, const String& name, const statement_list::const_iterator& end,
                               statement_list::iterator& it, Module*, const std::list<Definition*>* params,
                               CodePath& path) {
  QZ_TRACE;
  return compile_unit(kind, name, end, it, params, path, false);
}

bool compile_module_stmt_function(const statement_list::const_iterator& end, statement_list::iterator& it,
                                  Module* module, CodePath& path) {
  QZ_TRACE;
  if ((*it)->kind != STMT_FUNCTION) throw_assert_failed();
  const auto* statement = static_cast<const Cmd_Function*>(*it++);
  // A FUNCTION whose body dispatches no statement becomes an empty function that only returns.
  std::unique_ptr<UserFunction> function(
      compile_unit(COMPILE_KIND_PROGRAM, statement->name, end, it, statement->parameters, path, true));
  symbol_id_type key = path.symbolize(function->program()->name());
  if (module->add_procedure(key, function.get())) function.release();
  if (statement_list::const_iterator(it) != end && (*it)->kind == STMT_ENDFUNC) ++it;
  return true;
}

bool compile_module_item(const statement_list::const_iterator& end, statement_list::iterator& it, Module* module,
                         CodePath& path) {
  QZ_TRACE;
  if (statement_list::const_iterator(it) == end) return false;
  switch ((*it)->kind) {
    case STMT_FUNCTION:
      return compile_module_stmt_function(end, it, module, path);
    case STMT_DEFINE:
      return compile_module_stmt_define(end, it, module, path);
    default:
      return false;
  }
}

}  // namespace qzbase
