// statements.cpp - the syntax tree, part two: statements, options and records.
#include "frontend/statements.h"

#include <cstring>


namespace qzbase {

namespace {

// Deletes the items of a null-terminated macro item array, then the array.
void destroy_macro_items(MacroItem** items) {
  if (!items) return;
  for (MacroItem** p = items; *p; ++p) delete *p;
  delete[] items;
}

// The location of an operand that may be null (then an empty range).
document_location_st location_of(const Operand* operand) {
  return operand ? operand->location : document_location_st{};
}

void destroy_definitions(std::list<Definition*>* definitions) {
  if (!definitions) return;
  for (Definition* d : *definitions) delete d;
  delete definitions;
}

}  // namespace

Statement::~Statement() = default;

// --- Option and option_ptr_list ---------------------------------------------------------------------

Option::Option(const String& name, const document_location_st& location)
    : name(name), location(location), value(nullptr) {
  QZ_TRACE;
}

Option::Option(const String& name, const document_location_st& location, Operand* value)
    : name(name), location(location), value(value) {
  QZ_TRACE;
}

Option::Option(const String& name, Operand* value) : name(name), location(location_of(value)), value(value) {
  QZ_TRACE;
}

Option::~Option() {
  QZ_TRACE;
  delete value;
}

bool option_name_less::operator()(const String& a, const String& b) const {
  QZ_TRACE;
  return Collation::unicode_machine_ci->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                                b.get_charset()) < 0;
}

option_ptr_list::option_ptr_list(Option* option) {
  QZ_TRACE;
  push(option, nullptr, nullptr);
}

option_ptr_list::~option_ptr_list() {
  QZ_TRACE;
  for (auto& entry : options_) delete entry.second;
}

option_ptr_list* option_ptr_list::push(Option* option, QzparseCallback callback, void* context) {
  QZ_TRACE;
  if (options_.find(option->name) == options_.end()) {
    options_.emplace(option->name, option);
    return this;
  }
  // A repeated option: the first stays; report the repetition, then discard the new one.
  if (context != nullptr && callback != nullptr) {
    document_location_st range[2] = {option->location, option->location};
    callback(context, QZPARSE_EVENT_DIAGNOSTIC, reinterpret_cast<intptr_t>(range), option->location);
  }
  delete option;
  return this;
}

Option* option_ptr_list::find(const String& name) const {
  QZ_TRACE;
  auto it = options_.find(name);
  return it == options_.end() ? nullptr : it->second;
}

Option* option_ptr_list::find(const char* name) const {
  QZ_TRACE;
  return find(String::fromBytes(name, Charset::ascii));
}

// --- Records ------------------------------------------------------------------------------------------

Definition::~Definition() {
  QZ_TRACE;
  delete variable;
  delete dimensions;
  delete type;
}

column_definition_st::column_definition_st(uint32_t type_code, Operand* name, Operand* width, Operand* decimals,
                                           option_ptr_list* options)
    : name(name),
      width(width ? width : new Const_Null(location_of(name))),
      decimals(decimals ? decimals : new Const_Null(location_of(name))),
      type_code(new Const<long>(location_of(name), static_cast<long>(type_code))),
      options(options) {
  QZ_TRACE;
}

column_definition_st::column_definition_st(uint32_t type_code, Operand* name, Operand* width,
                                           option_ptr_list* options)
    : column_definition_st(type_code, name, width, nullptr, options) {
  QZ_TRACE;
}

column_definition_st::column_definition_st(uint32_t type_code, Operand* name, option_ptr_list* options)
    : column_definition_st(type_code, name, nullptr, nullptr, options) {
  QZ_TRACE;
}

column_definition_st::~column_definition_st() {
  QZ_TRACE;
  delete name;
  delete type_code;
  delete width;
  delete decimals;
  delete options;
}

// --- BasicCommand -------------------------------------------------------------------------------------

BasicCommand::BasicCommand(const document_location_st& location, StatementTypes kind, option_ptr_list* options)
    : Statement(location, kind), options(options), macro_items(nullptr), macro_item_count(0) {
  QZ_TRACE;
  if (!options) throw_assert_failed();
}

BasicCommand::BasicCommand(const document_location_st& location, StatementTypes kind)
    : Statement(location, kind), options(new option_ptr_list()), macro_items(nullptr), macro_item_count(0) {
  QZ_TRACE;
}

BasicCommand::BasicCommand(const document_location_st& location, StatementTypes kind,
                           ptr_list<MacroItem>* items)
    : Statement(location, kind), options(nullptr), macro_items(nullptr), macro_item_count(0) {
  QZ_TRACE;
  size_t n = 0;
  macro_items = list_to_null_terminated_array<MacroItem>(items, &n);
  macro_item_count = n;
}

BasicCommand::~BasicCommand() {
  QZ_TRACE;
  delete options;
  destroy_macro_items(macro_items);
}

// --- The other statement classes -----------------------------------------------------------------------

Prep_Pragma::Prep_Pragma(const document_location_st& location, const String& name, OperandList* arguments)
    : Statement(location, STMT_PRAGMA), name(name), arguments(arguments) {
  QZ_TRACE;
}
Prep_Pragma::~Prep_Pragma() {
  QZ_TRACE;
  delete arguments;
}

Cmd_Add_Column::Cmd_Add_Column(const document_location_st& location, Operand* table, column_definition_st* column,
                               option_ptr_list* options)
    : Statement(location, STMT_ADD_COLUMN), table(table), column(column), options(options) {
  QZ_TRACE;
}
Cmd_Add_Column::~Cmd_Add_Column() {
  QZ_TRACE;
  delete table;
  delete column;
  delete options;
}

Cmd_Assign::Cmd_Assign(const document_location_st& location, Operand* target, Operand* value)
    : Statement(location, STMT_ASSIGN), target(target), value(value) {
  QZ_TRACE;
}
Cmd_Assign::~Cmd_Assign() {
  QZ_TRACE;
  delete target;
  delete value;
}

Cmd_Case::Cmd_Case(const document_location_st& location, Operand* condition)
    : Statement(location, STMT_CASE), condition(condition) {
  QZ_TRACE;
}
Cmd_Case::~Cmd_Case() {
  QZ_TRACE;
  delete condition;
}

Cmd_CatchTo::Cmd_CatchTo(const document_location_st& location, Operand* variable, Operand* when)
    : Statement(location, STMT_CATCH), variable(variable), when(when) {
  QZ_TRACE;
}
Cmd_CatchTo::Cmd_CatchTo(const document_location_st& location, Operand* when, const String& macro_variable)
    : Statement(location, STMT_CATCH), variable(nullptr), when(when), macro_variable(macro_variable) {
  QZ_TRACE;
}
Cmd_CatchTo::~Cmd_CatchTo() {
  QZ_TRACE;
  delete variable;
  delete when;
}

Cmd_Create_Table::Cmd_Create_Table(const document_location_st& location, uint32_t cursor, Operand* table,
                                   option_ptr_list* options, std::list<column_definition_st*>* columns)
    : Statement(location, STMT_CREATE_TABLE),
      cursor(cursor),
      table(table),
      options(options),
      column_count(nullptr),
      columns(columns) {
  QZ_TRACE;
  // The count sits at the location of table (the statement's when the table operand is missing).
  column_count = new Const<long>(table ? table->location : location,
                                 static_cast<long>(columns ? columns->size() : 0));
}
Cmd_Create_Table::~Cmd_Create_Table() {
  QZ_TRACE;
  delete table;
  delete options;
  delete column_count;
  if (columns) {
    for (column_definition_st* c : *columns) delete c;
    delete columns;
  }
}

Cmd_DeclareDll::Cmd_DeclareDll(const document_location_st& location, uint32_t return_type,
                               const String& function_name, Operand* library,
                               std::list<external_parameter_st*>* parameters)
    : Statement(location, STMT_DECLARE),
      return_type(return_type),
      function_name(function_name),
      library(library),
      parameter_types(nullptr),
      parameter_count(0) {
  QZ_TRACE;
  if (!parameters) return;
  size_t n = parameters->size();
  if (n) parameter_types = new external_parameter_st[n];
  size_t i = 0;
  for (external_parameter_st* cell : *parameters) {
    if (cell) {
      std::memcpy(&parameter_types[i], cell, sizeof(external_parameter_st));
    } else {
      std::memset(&parameter_types[i], 0, sizeof(external_parameter_st));
    }
    ++i;
    delete cell;
  }
  parameter_count = n;
  delete parameters;
}
Cmd_DeclareDll::~Cmd_DeclareDll() {
  QZ_TRACE;
  delete library;
  delete[] parameter_types;
}

Cmd_Define::Cmd_Define(const document_location_st& location, const String& name, named_operand_st* parent,
                       uint32_t olepublic)
    : Statement(location, STMT_DEFINE), name(name), parent(parent), olepublic(olepublic) {
  QZ_TRACE;
}
Cmd_Define::~Cmd_Define() {
  QZ_TRACE;
  delete parent;
}

Cmd_Drop_Column::Cmd_Drop_Column(const document_location_st& location, Operand* table, Operand* column)
    : Statement(location, STMT_DROP_COLUMN), table(table), column(column) {
  QZ_TRACE;
}
Cmd_Drop_Column::~Cmd_Drop_Column() {
  QZ_TRACE;
  delete table;
  delete column;
}

#define QZ_CONDITION_CLASS_IMPL(NAME, KIND)                                                            \
  NAME::NAME(const document_location_st& location, Operand* condition)                                 \
      : Statement(location, KIND), condition(condition), macro_items(nullptr), macro_item_count(0) {   \
    QZ_TRACE;                                                                                          \
  }                                                                                                    \
  NAME::NAME(const document_location_st& location, ptr_list<MacroItem>* items)                         \
      : Statement(location, KIND), condition(nullptr), macro_items(nullptr), macro_item_count(0) {     \
    QZ_TRACE;                                                                                          \
    size_t n = 0;                                                                                      \
    macro_items = list_to_null_terminated_array<MacroItem>(items, &n);                                 \
    macro_item_count = n;                                                                              \
  }                                                                                                    \
  NAME::~NAME() {                                                                                      \
    QZ_TRACE;                                                                                          \
    delete condition;                                                                                  \
    destroy_macro_items(macro_items);                                                                  \
  }

QZ_CONDITION_CLASS_IMPL(Cmd_DoWhile, STMT_DOWHILE)
QZ_CONDITION_CLASS_IMPL(Cmd_If, STMT_IF)

#undef QZ_CONDITION_CLASS_IMPL

Cmd_Incomplete::Cmd_Incomplete(const document_location_st& location, ptr_list<MacroItem>* items, uint32_t kind)
    : Statement(location, kind), macro_items(nullptr), macro_item_count(0) {
  QZ_TRACE;
  size_t n = 0;
  macro_items = list_to_null_terminated_array<MacroItem>(items, &n);
  macro_item_count = n;
}
Cmd_Incomplete::~Cmd_Incomplete() {
  QZ_TRACE;
  destroy_macro_items(macro_items);
}

Cmd_Echo::Cmd_Echo(const document_location_st& location, OperandList* values, int32_t linefeed)
    : Statement(location, STMT_ECHO), values(values), linefeed(linefeed != 0) {
  QZ_TRACE;
}
Cmd_Echo::~Cmd_Echo() {
  QZ_TRACE;
  delete values;
}

Cmd_External_Array::Cmd_External_Array(const document_location_st& location, OperandList* names)
    : Statement(location, STMT_EXTERNAL_ARRAY), names(names) {
  QZ_TRACE;
}
Cmd_External_Array::~Cmd_External_Array() {
  QZ_TRACE;
  delete names;
}

Cmd_For::Cmd_For(const document_location_st& location, Operand* variable, Operand* from, Operand* to,
                 Operand* step)
    : Statement(location, STMT_FOR),
      variable(variable),
      from(from),
      to(to),
      step(step ? step : new Const<long>(location, 1L)) {
  QZ_TRACE;
}
Cmd_For::~Cmd_For() {
  QZ_TRACE;
  delete variable;
  delete from;
  delete to;
  delete step;
}

Cmd_Function::Cmd_Function(const document_location_st& location, const String& name,
                           std::list<Definition*>* parameters, uint32_t visibility, named_operand_st* return_type)
    : Statement(location, STMT_FUNCTION),
      name(name),
      parameters(parameters),
      visibility(visibility),
      return_type(return_type) {
  QZ_TRACE;
}
Cmd_Function::~Cmd_Function() {
  QZ_TRACE;
  destroy_definitions(parameters);
  delete return_type;
}

Cmd_Import_Library::Cmd_Import_Library(const document_location_st& location, Operand* library)
    : Statement(location, STMT_IMPORT), library(library) {
  QZ_TRACE;
}
Cmd_Import_Library::~Cmd_Import_Library() {
  QZ_TRACE;
  delete library;
}

Cmd_Private_Pattern::Cmd_Private_Pattern(const document_location_st& location, const String& like_pattern,
                                         const String& except_pattern)
    : Statement(location, STMT_PRIVATE_PATTERN), like_pattern(like_pattern), except_pattern(except_pattern) {
  QZ_TRACE;
}
Cmd_Private_Pattern::~Cmd_Private_Pattern() = default;

Cmd_Return::Cmd_Return(const document_location_st& location, Operand* value)
    : Statement(location, STMT_RETURN), value(value) {
  QZ_TRACE;
}
Cmd_Return::~Cmd_Return() {
  QZ_TRACE;
  delete value;
}

Cmd_Store::Cmd_Store(const document_location_st& location, Operand* value, OperandList* targets)
    : Statement(location, STMT_STORE), targets(targets), value(value) {
  QZ_TRACE;
}
Cmd_Store::~Cmd_Store() {
  QZ_TRACE;
  delete targets;
  delete value;
}

Cmd_Text::Cmd_Text(const document_location_st& location, uint32_t linefeed, const String& text)
    : Statement(location, STMT_TEXT_LINE), linefeed(linefeed), text(text) {
  QZ_TRACE;
}
Cmd_Text::~Cmd_Text() = default;

Cmd_With::Cmd_With(const document_location_st& location, Operand* object)
    : Statement(location, STMT_WITH), object(object) {
  QZ_TRACE;
}
Cmd_With::~Cmd_With() {
  QZ_TRACE;
  delete object;
}

#define QZ_DECLARATION_CLASS_IMPL(NAME, KIND)                                                    \
  NAME::NAME(const document_location_st& location, std::list<Definition*>* definitions)          \
      : Statement(location, KIND), definitions(definitions) {                                    \
    QZ_TRACE;                                                                                    \
  }                                                                                              \
  NAME::~NAME() {                                                                                \
    QZ_TRACE;                                                                                    \
    destroy_definitions(definitions);                                                            \
  }

QZ_DECLARATION_CLASS_IMPL(Cmd_Public, STMT_PUBLIC)
QZ_DECLARATION_CLASS_IMPL(Cmd_Private_VarList, STMT_PRIVATE_VARLIST)
QZ_DECLARATION_CLASS_IMPL(Cmd_Local, STMT_LOCAL)
QZ_DECLARATION_CLASS_IMPL(Cmd_Dimension, STMT_DIMENSION)
QZ_DECLARATION_CLASS_IMPL(Cmd_Parameters, STMT_PARAMETERS)
QZ_DECLARATION_CLASS_IMPL(Cmd_LParameters, STMT_LPARAMETERS)
QZ_DECLARATION_CLASS_IMPL(Cmd_Hidden, STMT_HIDDEN)
QZ_DECLARATION_CLASS_IMPL(Cmd_Protected, STMT_PROTECTED)

#undef QZ_DECLARATION_CLASS_IMPL

Cmd_Loop::~Cmd_Loop() = default;
Cmd_Exit::~Cmd_Exit() = default;
Cmd_EndFor::~Cmd_EndFor() = default;
Cmd_Enddefine::~Cmd_Enddefine() = default;
Cmd_Endfunc::~Cmd_Endfunc() = default;
Cmd_Else::~Cmd_Else() = default;
Cmd_Endif::~Cmd_Endif() = default;
Cmd_DoCase::~Cmd_DoCase() = default;
Cmd_Otherwise::~Cmd_Otherwise() = default;
Cmd_EndCase::~Cmd_EndCase() = default;
Cmd_Try::~Cmd_Try() = default;
Cmd_Finally::~Cmd_Finally() = default;
Cmd_Endtry::~Cmd_Endtry() = default;

Invalid_Statement::~Invalid_Statement() = default;

}  // namespace qzbase
