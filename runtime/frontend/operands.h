// operands.h - the syntax tree, part one: locations and operands.
//
// Plain data holders built by the grammar actions. Every node owns its children and strings; a null
// child is allowed wherever the grammar may leave one out and is skipped by the destructor. The
// only virtual operations are the destructors. The compiler dispatches on the numeric fields (kind,
// const_type, op), never on the C++ class.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <list>

#include "values/variant.h"  // numeric_type_st, money_type_st, date_st, datetime_st

namespace qzbase {

// document_location_st is declared in qzbase.h (shared with the tokenizer).

// ---------------------------------------------------------------------------------------------
// Operand kinds, constant types, operator codes, path item kinds
// ---------------------------------------------------------------------------------------------

enum OperandKind : uint32_t {
  OPERAND_LIST = 1,          // OperandList
  OPERAND_NAME = 2,          // Name
  OPERAND_CONSTANT = 3,      // SkalarType and the constant classes
  OPERAND_VARIABLE = 4,      // Variable
  OPERAND_VARIABLE_WITH_INDEX = 5,  // VariableWithIndex
  OPERAND_PATH = 6,          // Path
  OPERAND_REFERENCE = 7,     // Reference
  OPERAND_UNARY = 8,         // Unary_Func and its subclasses
  OPERAND_BINARY = 9,        // BinaryOperator and its subclasses
  OPERAND_CALL = 10,         // Call
};

// Constant types (the signature type codes, plus 4 for null).
enum ConstType : uint32_t {
  CONST_BOOL = 1,
  CONST_NULL = 4,
  CONST_LONG = 5,
  CONST_NUMERIC = 6,
  CONST_MONEY = 7,
  CONST_DATE = 8,
  CONST_DATETIME = 9,
  CONST_STRING = 10,
};

enum UnaryOp : uint32_t {
  UNARY_NOT = 0,
  UNARY_NEG = 1,
  UNARY_PRECEDENCE = 2,
};

enum BinaryOp : uint32_t {
  BINARY_ADD = 0,
  BINARY_SUB = 1,
  BINARY_MUL = 2,
  BINARY_DIV = 3,
  BINARY_MOD = 4,
  BINARY_POW = 5,
  BINARY_EQ = 6,
  BINARY_LT = 7,
  BINARY_LTEQ = 8,
  BINARY_GT = 9,
  BINARY_GTEQ = 10,
  BINARY_LTGT = 11,
  BINARY_EQEQ = 12,
  BINARY_AND = 13,
  BINARY_OR = 14,
  BINARY_IN_STR = 15,
};

enum PathItemKind : uint32_t {
  PATH_ITEM_NAME = 0,
  PATH_ITEM_NAME_INDEX = 1,
  PATH_ITEM_FUNCTION = 2,
  PATH_ITEM_INDEX = 3,
  PATH_ITEM_WITH = 4,
};

// ---------------------------------------------------------------------------------------------
// The tables of operand kinds and codes, as data (syntax_tables.cpp). Each ends at its count; the
// tests and diagnostics read them, the compiler dispatches on the numbers.
// ---------------------------------------------------------------------------------------------

struct operand_kind_row_st {
  uint32_t kind;
  const char* node_class;
  const char* meaning;
};
extern const operand_kind_row_st operand_kind_table[];
extern const size_t operand_kind_table_size;  // 10

struct const_type_row_st {
  uint32_t const_type;
  const char* node_class;
  const char* value_type;  // null for Const_Null
  const char* source_form;
};
extern const const_type_row_st const_type_table[];
extern const size_t const_type_table_size;  // 8

struct operator_row_st {
  uint32_t op;
  const char* node_class;
  const char* base_class;
  const char* text;
};
extern const operator_row_st unary_operator_table[];
extern const size_t unary_operator_table_size;  // 3
extern const operator_row_st binary_operator_table[];
extern const size_t binary_operator_table_size;  // 16

struct path_item_kind_row_st {
  uint32_t kind;
  const char* node_class;
  const char* source_form;
};
extern const path_item_kind_row_st path_item_kind_table[];
extern const size_t path_item_kind_table_size;  // 5

// ---------------------------------------------------------------------------------------------
// Operand and its classes
// ---------------------------------------------------------------------------------------------

class Operand {
 public:
  Operand(const document_location_st& location, uint32_t kind) : kind(kind), location(location) {}
  virtual ~Operand();
  Operand(const Operand&) = delete;
  Operand& operator=(const Operand&) = delete;

  // Run-time evaluation: the operand compiled into a throw-away program and run on the stack (on
  // its running frame when there is one). The Variant form needs an empty out; the typed forms
  // convert: bool takes only .T./.F. (else 11), int32_t and uint32_t must fit (else 39), String
  // takes only a character value (else 11). Defined by the compiler (operand_evaluation.cpp).
  void val(VmStack* stack, Variant* out) const;
  void val(VmStack* stack, bool* out) const;
  void val(VmStack* stack, int64_t* out) const;
  void val(VmStack* stack, int32_t* out) const;
  void val(VmStack* stack, uint32_t* out) const;
  void val(VmStack* stack, String* out) const;

  uint32_t kind;
  document_location_st location;
};

class OperandList : public Operand {
 public:
  // Takes ownership of the heap list: its operands move into items, the list is freed. An empty
  // list gives count 0 and a one-entry array holding null.
  OperandList(const document_location_st& location, std::list<Operand*>* list);
  // An empty list: count 0 and no array.
  explicit OperandList(const document_location_st& location);
  ~OperandList() override;

  uint64_t count;
  Operand** items;  // count + 1 entries, the last null; null for the location-only form
};

class Name : public Operand {
 public:
  Name(const document_location_st& location, const String& name);
  ~Name() override;
  String name;
};

class Variable : public Operand {
 public:
  Variable(const document_location_st& location, const String& name, uint32_t memvar);
  ~Variable() override;
  uint32_t memvar;  // a bool stored in a 32-bit word
  String name;
};

class VariableWithIndex : public Operand {
 public:
  VariableWithIndex(const document_location_st& location, Operand* variable, OperandList* indexes);
  ~VariableWithIndex() override;
  Operand* variable;  // a Variable
  OperandList* indexes;
};

class PathItem;

class Path : public Operand {
 public:
  Path(const document_location_st& location, std::list<PathItem*>* items, int32_t memvar);
  ~Path() override;

  // Appends a path of plain names (a.b.c) to out as one qualified name; false (with whatever was
  // appended so far) at the first item that is not a plain name, and false for a path without items.
  static bool to_qualified_name(const Path* path, Concat* out);

  int32_t memvar;
  std::list<PathItem*>* items;  // source order; null allowed
};

class Reference : public Operand {
 public:
  Reference(const document_location_st& location, Operand* operand);
  ~Reference() override;
  Operand* operand;
};

class Unary_Func : public Operand {
 public:
  Unary_Func(const document_location_st& location, uint32_t op, Operand* operand);
  ~Unary_Func() override;
  uint32_t op;
  Operand* operand;
};

class Unary_Func_Not : public Unary_Func {
 public:
  Unary_Func_Not(const document_location_st& location, Operand* operand)
      : Unary_Func(location, UNARY_NOT, operand) {}
  ~Unary_Func_Not() override;
};

class Unary_Func_Neg : public Unary_Func {
 public:
  Unary_Func_Neg(const document_location_st& location, Operand* operand)
      : Unary_Func(location, UNARY_NEG, operand) {}
  ~Unary_Func_Neg() override;
};

class Unary_Func_Precedence : public Unary_Func {
 public:
  Unary_Func_Precedence(const document_location_st& location, Operand* operand)
      : Unary_Func(location, UNARY_PRECEDENCE, operand) {}
  ~Unary_Func_Precedence() override;
};

class BinaryOperator : public Operand {
 public:
  BinaryOperator(const document_location_st& location, uint32_t op, Operand* left, Operand* right);
  ~BinaryOperator() override;
  uint32_t op;
  Operand* left;
  Operand* right;
};

// Marks a logical result (comparisons, AND, OR, $).
class Binary_Func_Bool : public BinaryOperator {
 public:
  Binary_Func_Bool(const document_location_st& location, uint32_t op, Operand* left, Operand* right)
      : BinaryOperator(location, op, left, right) {}
  ~Binary_Func_Bool() override;
};

#define QZ_BINARY_CLASS(NAME, BASE, OP)                                                  \
  class NAME : public BASE {                                                             \
   public:                                                                               \
    NAME(const document_location_st& location, Operand* left, Operand* right)            \
        : BASE(location, OP, left, right) {}                                             \
    ~NAME() override;                                                                    \
  };

QZ_BINARY_CLASS(Binary_Func_Add, BinaryOperator, BINARY_ADD)
QZ_BINARY_CLASS(Binary_Func_Sub, BinaryOperator, BINARY_SUB)
QZ_BINARY_CLASS(Binary_Func_Mul, BinaryOperator, BINARY_MUL)
QZ_BINARY_CLASS(Binary_Func_Div, BinaryOperator, BINARY_DIV)
QZ_BINARY_CLASS(Binary_Func_Mod, BinaryOperator, BINARY_MOD)
QZ_BINARY_CLASS(Binary_Func_Pow, BinaryOperator, BINARY_POW)
QZ_BINARY_CLASS(Binary_Func_Eq, Binary_Func_Bool, BINARY_EQ)
QZ_BINARY_CLASS(Binary_Func_Lt, Binary_Func_Bool, BINARY_LT)
QZ_BINARY_CLASS(Binary_Func_LtEq, Binary_Func_Bool, BINARY_LTEQ)
QZ_BINARY_CLASS(Binary_Func_Gt, Binary_Func_Bool, BINARY_GT)
QZ_BINARY_CLASS(Binary_Func_GtEq, Binary_Func_Bool, BINARY_GTEQ)
QZ_BINARY_CLASS(Binary_Func_LtGt, Binary_Func_Bool, BINARY_LTGT)
QZ_BINARY_CLASS(Binary_Func_EqEq, Binary_Func_Bool, BINARY_EQEQ)
QZ_BINARY_CLASS(Binary_Func_And, Binary_Func_Bool, BINARY_AND)
QZ_BINARY_CLASS(Binary_Func_Or, Binary_Func_Bool, BINARY_OR)
QZ_BINARY_CLASS(Binary_Func_In_Str, Binary_Func_Bool, BINARY_IN_STR)

#undef QZ_BINARY_CLASS

class Call : public Operand {
 public:
  Call(const document_location_st& location, const String& name, OperandList* arguments);
  ~Call() override;
  String name;             // as written
  OperandList* arguments;  // null allowed
};

// ---------------------------------------------------------------------------------------------
// Constants (operand kind 3)
// ---------------------------------------------------------------------------------------------

class SkalarType : public Operand {
 public:
  SkalarType(const document_location_st& location, uint32_t const_type)
      : Operand(location, OPERAND_CONSTANT), const_type(const_type) {}
  ~SkalarType() override;
  uint32_t const_type;
};

template <class T>
struct const_type_of;
template <>
struct const_type_of<bool> {
  static constexpr uint32_t value = CONST_BOOL;
};
template <>
struct const_type_of<long> {
  static constexpr uint32_t value = CONST_LONG;
};
template <>
struct const_type_of<numeric_type_st> {
  static constexpr uint32_t value = CONST_NUMERIC;
};
template <>
struct const_type_of<money_type_st> {
  static constexpr uint32_t value = CONST_MONEY;
};
template <>
struct const_type_of<date_st> {
  static constexpr uint32_t value = CONST_DATE;
};
template <>
struct const_type_of<datetime_st> {
  static constexpr uint32_t value = CONST_DATETIME;
};

// Const<bool> (1), Const<long> (5), Const<numeric_type_st> (6), Const<money_type_st> (7),
// Const<date_st> (8), Const<datetime_st> (9). None owns anything.
template <class T>
class Const : public SkalarType {
 public:
  Const(const document_location_st& location, const T& value)
      : SkalarType(location, const_type_of<T>::value), value(value) {}
  ~Const() override = default;
  T value;
};

extern template class Const<bool>;
extern template class Const<long>;
extern template class Const<numeric_type_st>;
extern template class Const<money_type_st>;
extern template class Const<date_st>;
extern template class Const<datetime_st>;

class Const_Null : public SkalarType {
 public:
  explicit Const_Null(const document_location_st& location) : SkalarType(location, CONST_NULL) {}
  ~Const_Null() override;
};

class Const_String : public SkalarType {
 public:
  Const_String(const document_location_st& location, const String& value)
      : SkalarType(location, CONST_STRING), value(value) {}
  ~Const_String() override;
  String value;
};

// ---------------------------------------------------------------------------------------------
// Path items
// ---------------------------------------------------------------------------------------------

class PathItem {
 public:
  PathItem(const document_location_st& location, uint32_t kind) : location(location), kind(kind) {}
  virtual ~PathItem();
  PathItem(const PathItem&) = delete;
  PathItem& operator=(const PathItem&) = delete;

  document_location_st location;  // location first, then kind: the reverse of Operand
  uint32_t kind;
};

class NamePathItem : public PathItem {
 public:
  NamePathItem(const document_location_st& location, const String& name);
  ~NamePathItem() override;
  String name;
};

class NameIndexPathItem : public PathItem {
 public:
  NameIndexPathItem(const document_location_st& location, const String& name, OperandList* indexes);
  ~NameIndexPathItem() override;
  String name;
  OperandList* indexes;
};

class FunctionPathItem : public PathItem {
 public:
  FunctionPathItem(const document_location_st& location, const String& name, OperandList* arguments);
  ~FunctionPathItem() override;
  String name;
  OperandList* arguments;
};

class IndexPathItem : public PathItem {
 public:
  IndexPathItem(const document_location_st& location, OperandList* indexes);
  ~IndexPathItem() override;
  OperandList* indexes;
};

class WithPathItem : public PathItem {
 public:
  explicit WithPathItem(const document_location_st& location) : PathItem(location, PATH_ITEM_WITH) {}
  ~WithPathItem() override;
};

// ---------------------------------------------------------------------------------------------
// named_operand_st: the AS type [OF library] clause
// ---------------------------------------------------------------------------------------------

struct named_operand_st {
  named_operand_st(const String& name, Operand* value) : name(name), value(value) {}
  ~named_operand_st();
  named_operand_st(const named_operand_st&) = delete;
  named_operand_st& operator=(const named_operand_st&) = delete;

  String name;     // the type or class name
  Operand* value;  // the OF operand, null when absent
};

}  // namespace qzbase
