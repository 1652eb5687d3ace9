// operands.cpp - the syntax tree, part one: operands, constants and path items.
#include "frontend/operands.h"

#include <vector>

#include "frontend/ptr_list.h"

namespace qzbase {

// --- The tables ----------------------------------------------------------------------------------

const operand_kind_row_st operand_kind_table[] = {
    {OPERAND_LIST, "OperandList", "an ordered list of operands (arguments, subscripts, value lists)"},
    {OPERAND_NAME, "Name", "a bare name, resolved later by the compiler"},
    {OPERAND_CONSTANT, "SkalarType", "a literal constant"},
    {OPERAND_VARIABLE, "Variable", "a variable reference"},
    {OPERAND_VARIABLE_WITH_INDEX, "VariableWithIndex", "an array element, a[i] or a(i, j)"},
    {OPERAND_PATH, "Path", "a member path such as obj.member.method(...)[i]"},
    {OPERAND_REFERENCE, "Reference", "an operand marked with a leading @: pass by reference"},
    {OPERAND_UNARY, "Unary_Func", "a unary operator"},
    {OPERAND_BINARY, "BinaryOperator", "a binary operator"},
    {OPERAND_CALL, "Call", "a function call name(args)"},
};
const size_t operand_kind_table_size = sizeof(operand_kind_table) / sizeof(operand_kind_table[0]);

const const_type_row_st const_type_table[] = {
    {CONST_BOOL, "Const<bool>", "bool", ".T. / .F."},
    {CONST_NULL, "Const_Null", nullptr, ".NULL."},
    {CONST_LONG, "Const<long>", "int64_t", "integer literals, decimal or hexadecimal"},
    {CONST_NUMERIC, "Const<numeric_type_st>", "numeric_type_st", "numbers written with a decimal point"},
    {CONST_MONEY, "Const<money_type_st>", "money_type_st", "currency literals (a number after $)"},
    {CONST_DATE, "Const<date_st>", "date_st", "date literals"},
    {CONST_DATETIME, "Const<datetime_st>", "datetime_st", "datetime literals"},
    {CONST_STRING, "Const_String", "String", "character literals, 0h... binary literals"},
};
const size_t const_type_table_size = sizeof(const_type_table) / sizeof(const_type_table[0]);

const operator_row_st unary_operator_table[] = {
    {UNARY_NOT, "Unary_Func_Not", "Unary_Func", "NOT, .NOT., !"},
    {UNARY_NEG, "Unary_Func_Neg", "Unary_Func", "-"},
    {UNARY_PRECEDENCE, "Unary_Func_Precedence", "Unary_Func", "( )"},
};
const size_t unary_operator_table_size = sizeof(unary_operator_table) / sizeof(unary_operator_table[0]);

const operator_row_st binary_operator_table[] = {
    {BINARY_ADD, "Binary_Func_Add", "BinaryOperator", "+"},
    {BINARY_SUB, "Binary_Func_Sub", "BinaryOperator", "-"},
    {BINARY_MUL, "Binary_Func_Mul", "BinaryOperator", "*"},
    {BINARY_DIV, "Binary_Func_Div", "BinaryOperator", "/"},
    {BINARY_MOD, "Binary_Func_Mod", "BinaryOperator", "%"},
    {BINARY_POW, "Binary_Func_Pow", "BinaryOperator", "^ or **"},
    {BINARY_EQ, "Binary_Func_Eq", "Binary_Func_Bool", "="},
    {BINARY_LT, "Binary_Func_Lt", "Binary_Func_Bool", "<"},
    {BINARY_LTEQ, "Binary_Func_LtEq", "Binary_Func_Bool", "<="},
    {BINARY_GT, "Binary_Func_Gt", "Binary_Func_Bool", ">"},
    {BINARY_GTEQ, "Binary_Func_GtEq", "Binary_Func_Bool", ">="},
    {BINARY_LTGT, "Binary_Func_LtGt", "Binary_Func_Bool", "<>"},
    {BINARY_EQEQ, "Binary_Func_EqEq", "Binary_Func_Bool", "=="},
    {BINARY_AND, "Binary_Func_And", "Binary_Func_Bool", "AND"},
    {BINARY_OR, "Binary_Func_Or", "Binary_Func_Bool", "OR"},
    {BINARY_IN_STR, "Binary_Func_In_Str", "Binary_Func_Bool", "$"},
};
const size_t binary_operator_table_size = sizeof(binary_operator_table) / sizeof(binary_operator_table[0]);

const path_item_kind_row_st path_item_kind_table[] = {
    {PATH_ITEM_NAME, "NamePathItem", "a member or variable name (also THIS, THISFORM)"},
    {PATH_ITEM_NAME_INDEX, "NameIndexPathItem", "name[i] or name(i) as an array member"},
    {PATH_ITEM_FUNCTION, "FunctionPathItem", "name(args) as a method call"},
    {PATH_ITEM_INDEX, "IndexPathItem", "a bare subscript [i] following another item"},
    {PATH_ITEM_WITH, "WithPathItem", "the implicit object of the enclosing WITH block"},
};
const size_t path_item_kind_table_size = sizeof(path_item_kind_table) / sizeof(path_item_kind_table[0]);

// --- Operand ---------------------------------------------------------------------------------------

Operand::~Operand() = default;

// --- OperandList -------------------------------------------------------------------------------

OperandList::OperandList(const document_location_st& location, std::list<Operand*>* list)
    : Operand(location, OPERAND_LIST), count(0), items(nullptr) {
  QZ_TRACE;
  size_t n = 0;
  items = list_to_null_terminated_array<Operand>(list, &n);
  count = n;
}

OperandList::OperandList(const document_location_st& location)
    : Operand(location, OPERAND_LIST), count(0), items(nullptr) {
  QZ_TRACE;
}

OperandList::~OperandList() {
  QZ_TRACE;
  if (items) {
    for (uint64_t i = 0; i < count; ++i) delete items[i];
    delete[] items;
  }
}

// --- Names and variables ----------------------------------------------------------------------

Name::Name(const document_location_st& location, const String& name)
    : Operand(location, OPERAND_NAME), name(name) {
  QZ_TRACE;
}
Name::~Name() = default;

Variable::Variable(const document_location_st& location, const String& name, uint32_t memvar)
    : Operand(location, OPERAND_VARIABLE), memvar(memvar), name(name) {
  QZ_TRACE;
}
Variable::~Variable() = default;

VariableWithIndex::VariableWithIndex(const document_location_st& location, Operand* variable,
                                     OperandList* indexes)
    : Operand(location, OPERAND_VARIABLE_WITH_INDEX), variable(variable), indexes(indexes) {
  QZ_TRACE;
}
VariableWithIndex::~VariableWithIndex() {
  QZ_TRACE;
  delete variable;
  delete indexes;
}

// --- Path ---------------------------------------------------------------------------------------

Path::Path(const document_location_st& location, std::list<PathItem*>* items, int32_t memvar)
    : Operand(location, OPERAND_PATH), memvar(memvar), items(items) {
  QZ_TRACE;
}

Path::~Path() {
  QZ_TRACE;
  if (items) {
    for (PathItem* item : *items) delete item;
    delete items;
  }
}

bool Path::to_qualified_name(const Path* path, Concat* out) {
  QZ_TRACE;
  if (!path->items || path->items->empty()) return false;
  bool first = true;
  for (const PathItem* item : *path->items) {
    if (!item || item->kind != PATH_ITEM_NAME) return false;
    if (!first) out->append(String("."));
    out->append(static_cast<const NamePathItem*>(item)->name);
    first = false;
  }
  return true;
}

// --- Reference, operators, call ---------------------------------------------------------------

Reference::Reference(const document_location_st& location, Operand* operand)
    : Operand(location, OPERAND_REFERENCE), operand(operand) {
  QZ_TRACE;
}
Reference::~Reference() {
  QZ_TRACE;
  delete operand;
}

Unary_Func::Unary_Func(const document_location_st& location, uint32_t op, Operand* operand)
    : Operand(location, OPERAND_UNARY), op(op), operand(operand) {
  QZ_TRACE;
}
namespace {

// Deletes operator trees without recursion: a long chain (a + b + c + ..., - - x, nested
// parentheses) nests as deep as it is long, deeper than the native stack allows. The children of
// each operator node are detached before it is deleted, so its own destructor has nothing left.
void delete_operator_tree(Operand* first, Operand* second) {
  std::vector<Operand*> pending;
  pending.push_back(first);
  pending.push_back(second);
  while (!pending.empty()) {
    Operand* operand = pending.back();
    pending.pop_back();
    if (operand == nullptr) continue;
    if (operand->kind == OPERAND_BINARY) {
      auto* binary = static_cast<BinaryOperator*>(operand);
      pending.push_back(binary->left);
      pending.push_back(binary->right);
      binary->left = nullptr;
      binary->right = nullptr;
    } else if (operand->kind == OPERAND_UNARY) {
      auto* unary = static_cast<Unary_Func*>(operand);
      pending.push_back(unary->operand);
      unary->operand = nullptr;
    }
    delete operand;
  }
}

}  // namespace

Unary_Func::~Unary_Func() {
  QZ_TRACE;
  delete_operator_tree(operand, nullptr);
}
Unary_Func_Not::~Unary_Func_Not() = default;
Unary_Func_Neg::~Unary_Func_Neg() = default;
Unary_Func_Precedence::~Unary_Func_Precedence() = default;

BinaryOperator::BinaryOperator(const document_location_st& location, uint32_t op, Operand* left,
                               Operand* right)
    : Operand(location, OPERAND_BINARY), op(op), left(left), right(right) {
  QZ_TRACE;
}
BinaryOperator::~BinaryOperator() {
  QZ_TRACE;
  delete_operator_tree(left, right);
}
Binary_Func_Bool::~Binary_Func_Bool() = default;
Binary_Func_Add::~Binary_Func_Add() = default;
Binary_Func_Sub::~Binary_Func_Sub() = default;
Binary_Func_Mul::~Binary_Func_Mul() = default;
Binary_Func_Div::~Binary_Func_Div() = default;
Binary_Func_Mod::~Binary_Func_Mod() = default;
Binary_Func_Pow::~Binary_Func_Pow() = default;
Binary_Func_Eq::~Binary_Func_Eq() = default;
Binary_Func_Lt::~Binary_Func_Lt() = default;
Binary_Func_LtEq::~Binary_Func_LtEq() = default;
Binary_Func_Gt::~Binary_Func_Gt() = default;
Binary_Func_GtEq::~Binary_Func_GtEq() = default;
Binary_Func_LtGt::~Binary_Func_LtGt() = default;
Binary_Func_EqEq::~Binary_Func_EqEq() = default;
Binary_Func_And::~Binary_Func_And() = default;
Binary_Func_Or::~Binary_Func_Or() = default;
Binary_Func_In_Str::~Binary_Func_In_Str() = default;

Call::Call(const document_location_st& location, const String& name, OperandList* arguments)
    : Operand(location, OPERAND_CALL), name(name), arguments(arguments) {
  QZ_TRACE;
}
Call::~Call() {
  QZ_TRACE;
  delete arguments;
}

// --- Constants -----------------------------------------------------------------------------------

SkalarType::~SkalarType() = default;
Const_Null::~Const_Null() = default;
Const_String::~Const_String() = default;

template class Const<bool>;
template class Const<long>;
template class Const<numeric_type_st>;
template class Const<money_type_st>;
template class Const<date_st>;
template class Const<datetime_st>;

// --- Path items ------------------------------------------------------------------------------------

PathItem::~PathItem() = default;

NamePathItem::NamePathItem(const document_location_st& location, const String& name)
    : PathItem(location, PATH_ITEM_NAME), name(name) {
  QZ_TRACE;
}
NamePathItem::~NamePathItem() = default;

NameIndexPathItem::NameIndexPathItem(const document_location_st& location, const String& name,
                                     OperandList* indexes)
    : PathItem(location, PATH_ITEM_NAME_INDEX), name(name), indexes(indexes) {
  QZ_TRACE;
}
NameIndexPathItem::~NameIndexPathItem() {
  QZ_TRACE;
  delete indexes;
}

FunctionPathItem::FunctionPathItem(const document_location_st& location, const String& name,
                                   OperandList* arguments)
    : PathItem(location, PATH_ITEM_FUNCTION), name(name), arguments(arguments) {
  QZ_TRACE;
}
FunctionPathItem::~FunctionPathItem() {
  QZ_TRACE;
  delete arguments;
}

IndexPathItem::IndexPathItem(const document_location_st& location, OperandList* indexes)
    : PathItem(location, PATH_ITEM_INDEX), indexes(indexes) {
  QZ_TRACE;
}
IndexPathItem::~IndexPathItem() {
  QZ_TRACE;
  delete indexes;
}

WithPathItem::~WithPathItem() = default;

// --- named_operand_st --------------------------------------------------------------------------------

named_operand_st::~named_operand_st() {
  QZ_TRACE;
  delete value;
}

}  // namespace qzbase
