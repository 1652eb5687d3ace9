// native_commands.cpp - the plain commands: option grammars parsed once at load time, options laid
// out as the positional arguments of one built-in command call.
#include "compiler/native_commands.h"

#include <qzbase.h>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "compiler/declarations.h"
#include "compiler/expression_parts.h"
#include "vm/vm_op.h"

namespace qzbase {

namespace {

using syntax_map = std::unordered_map<uint32_t, std::list<command_syntax_item_st>>;

const syntax_map& command_syntaxes() {
  static const syntax_map map = [] {
    syntax_map m;
    for (const basic_command_st& row : command_table) parse_command_syntax(row.grammar, &m[row.kind]);
    return m;
  }();
  return map;
}

[[maybe_unused]] const bool command_syntaxes_parsed = (command_syntaxes(), true);

}  // namespace

const std::list<command_syntax_item_st>* find_command_syntax(uint32_t kind) {
  QZ_TRACE;
  const syntax_map& map = command_syntaxes();
  auto found = map.find(kind);
  return found == map.end() ? nullptr : &found->second;
}

int compile_stmt_basic_command(const statement_list::const_iterator&, statement_list::iterator& it,
                               CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* command = static_cast<const BasicCommand*>(*it++);
  compile_basic_command(command, code, path);
  return 0;
}

void compile_basic_command(const BasicCommand* command, CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const basic_command_st* row = find_command(command->kind);
  if (row == nullptr) throw_assert_failed();
  compile_native_command_call(command->location, *row, command->options, code, path);
}

void compile_native_command_call(const document_location_st& location, const basic_command_st& row,
                                 const option_ptr_list* options, CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const std::list<command_syntax_item_st>* items = find_command_syntax(row.kind);
  if (items == nullptr) throw_assert_failed();

  Const<long> mask(location, 0);
  Const_Null null_value(location);
  std::vector<Operand*> arguments;
  std::unordered_set<const Option*> used;

  for (const command_syntax_item_st& item : *items) {
    switch (item.kind) {
      case COMMAND_ITEM_FLAGS:
        if (options != nullptr) {
          for (const auto& [name, bit] : item.flags) {
            const Option* option = options->find(name);
            if (option == nullptr) continue;
            if (option->value != nullptr) throw_assert_failed();
            mask.value |= 1L << bit;
            used.insert(option);
          }
        }
        arguments.push_back(&mask);
        break;
      case COMMAND_ITEM_VALUE: {
        const Option* option = options != nullptr ? options->find(item.name) : nullptr;
        if (option != nullptr && option->value != nullptr) {
          arguments.push_back(option->value);
          used.insert(option);
        } else {
          // A valued clause written without a value counts as absent.
          if (option != nullptr) used.insert(option);
          arguments.push_back(&null_value);
        }
        break;
      }
      case COMMAND_ITEM_REPEATABLE: {
        const Option* option = options != nullptr ? options->find(item.name) : nullptr;
        if (option == nullptr) break;
        if (option->value == nullptr || option->value->kind != OPERAND_LIST) throw_assert_failed();
        const auto* list = static_cast<const OperandList*>(option->value);
        for (uint64_t i = 0; i < list->count; ++i) arguments.push_back(list->items[i]);
        used.insert(option);
        break;
      }
      default:
        throw_assert_failed();
    }
  }
  if (options != nullptr && used.size() != options->size()) throw_assert_failed();

  compile_call_spec_void_core(location, arguments.data(), arguments.size(), row.name, code, path);
}

int compile_stmt_incomplete(const statement_list::const_iterator&, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_Incomplete*>(*it++);
  const library_func_def_st* concat = builtin_library_of(path)->find_function(std::string_view("concat"));
  if (concat == nullptr) throw_assert_failed();
  code->push_back(statement->location, new VmOpEspAlloc());
  compile_eval_macro(statement->location, statement->macro_items, statement->macro_item_count, code, path);
  code->push_back(statement->location, new VmOpCallSpecDo(concat->function, statement->macro_item_count));
  code->push_back(statement->location, new VmOpMacro(1));
  return 0;
}

}  // namespace qzbase
