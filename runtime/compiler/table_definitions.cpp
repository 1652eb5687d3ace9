// table_definitions.cpp - CREATE TABLE, ADD COLUMN and DROP COLUMN.
#include "compiler/table_definitions.h"

#include <qzbase.h>

#include <iterator>
#include <memory>
#include <vector>

#include "compiler/expression_parts.h"
#include "frontend/operands.h"

namespace qzbase {

namespace {

// Column flag words in bit order, by the option name the grammar gives each: NOT NULL is kept
// under "NOT".
constexpr const char* column_flag_options[] = {"NULL", "NOT", "NOCPTRANS", "AUTOINC"};

// The argument list of one command call; constants made for it are owned here.
class Arguments {
 public:
  explicit Arguments(const document_location_st& location) : location_(location) {}

  void add(Operand* operand) { items_.push_back(operand); }
  void add_integer(long value) { add(own(new Const<long>(location_, value))); }
  void add_null() { add(own(new Const_Null(location_))); }
  // The option's value, or a null constant when the option is absent.
  void add_option_value(const option_ptr_list* options, const char* name) {
    const Option* option = options != nullptr ? options->find(name) : nullptr;
    if (option != nullptr && option->value != nullptr) {
      add(option->value);
    } else {
      add_null();
    }
  }
  void add_column(const column_definition_st& column) {
    if (column.name == nullptr || column.type_code == nullptr || column.width == nullptr ||
        column.decimals == nullptr) {
      throw_assert_failed();
    }
    add(column.name);
    add(column.type_code);
    add(column.width);
    add(column.decimals);
    add_option_value(column.options, "NEXTVALUE");
    add_option_value(column.options, "STEP");
    add_integer(static_cast<long>(parse_column_flags(column.options)));
  }

  void compile_call(const char* command, CompiledCodeCollection* code, CodePath& path) const {
    compile_call_spec_void_core(location_, items_.data(), items_.size(), command, code, path);
  }

 private:
  Operand* own(Operand* operand) {
    owned_.emplace_back(operand);
    return operand;
  }

  document_location_st location_;
  std::vector<Operand*> items_;
  std::vector<std::unique_ptr<Operand>> owned_;
};

}  // namespace

uint64_t parse_column_flags(const option_ptr_list* options) {
  QZ_TRACE;
  uint64_t mask = 0;
  if (options == nullptr) return mask;
  for (size_t bit = 0; bit < std::size(column_flag_options); ++bit) {
    if (options->find(column_flag_options[bit]) != nullptr) mask |= uint64_t{1} << bit;
  }
  return mask;
}

int compile_stmt_create_table(const statement_list::const_iterator&, statement_list::iterator& it,
                              CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = *static_cast<const Cmd_Create_Table*>(*it);
  ++it;
  if (statement.cursor > 1 || statement.table == nullptr || statement.column_count == nullptr) {
    throw_assert_failed();
  }
  Arguments arguments(statement.location);
  arguments.add_integer(statement.cursor == 0 ? 1 : 2);
  arguments.add(statement.table);
  arguments.add_option_value(statement.options, "CODEPAGE");
  arguments.add_option_value(statement.options, "ENGINE");
  arguments.add(statement.column_count);
  if (statement.columns != nullptr) {
    for (const column_definition_st* column : *statement.columns) arguments.add_column(*column);
  }
  arguments.compile_call("create_table", code, path);
  return 0;
}

int compile_stmt_add_column(const statement_list::const_iterator&, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = *static_cast<const Cmd_Add_Column*>(*it);
  ++it;
  if (statement.table == nullptr || statement.column == nullptr) throw_assert_failed();
  Arguments arguments(statement.location);
  arguments.add(statement.table);
  arguments.add_integer(1);
  arguments.add_column(*statement.column);
  arguments.compile_call("add_columns", code, path);
  return 0;
}

int compile_stmt_drop_column(const statement_list::const_iterator&, statement_list::iterator& it,
                             CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = *static_cast<const Cmd_Drop_Column*>(*it);
  ++it;
  if (statement.table == nullptr || statement.column == nullptr) throw_assert_failed();
  Arguments arguments(statement.location);
  arguments.add(statement.table);
  arguments.add(statement.column);
  arguments.compile_call("drop_columns", code, path);
  return 0;
}

}  // namespace qzbase
