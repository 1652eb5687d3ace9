// expression_compiler.cpp - operand dispatch, constants and implicit casts.
#include "compiler/expression_compiler.h"

#include "compiler/expression_parts.h"

#include <array>

namespace qzbase {

namespace {

using const_compiler_type = void (*)(const SkalarType* constant, CompiledCodeCollection* collection,
                                     compiler_type_info_st* type);

void compile_operand_name(const Operand* operand, bool, bool, CompiledCodeCollection* collection, CodePath&,
                          compiler_type_info_st* type) {
  const auto* name = static_cast<const Name*>(operand);
  collection->push_back(operand->location, new VmOpReadConstString(name->name));
  // Not constant: a bare name is never folded.
  type->type = TYPE_STRING;
  type->width = static_cast<int64_t>(name->name.length());
}

void compile_const_boolean(const SkalarType* c, CompiledCodeCollection* collection, compiler_type_info_st* type) {
  if (static_cast<const Const<bool>*>(c)->value) {
    collection->push_back(c->location, new VmOpReadConstTrue());
  } else {
    collection->push_back(c->location, new VmOpReadConstFalse());
  }
  type->type = TYPE_LOGICAL;
}

void compile_const_null(const SkalarType* c, CompiledCodeCollection* collection, compiler_type_info_st* type) {
  collection->push_back(c->location, new VmOpReadConstNull());
  type->type = TYPE_NULL | TYPE_NULLABLE;
}

template <class T, class Op, uint32_t Type>
void compile_const_value(const SkalarType* c, CompiledCodeCollection* collection, compiler_type_info_st* type) {
  collection->push_back(c->location, new Op(static_cast<const Const<T>*>(c)->value));
  type->type = Type;
}

void compile_const_string(const SkalarType* c, CompiledCodeCollection* collection, compiler_type_info_st* type) {
  const String& value = static_cast<const Const_String*>(c)->value;
  collection->push_back(c->location, new VmOpReadConstString(value));
  type->type = TYPE_STRING;
  type->width = static_cast<int64_t>(value.length());
}

constexpr size_t kConstTypes = CONST_STRING + 1;

constexpr std::array<const_compiler_type, kConstTypes> kConstCompilers = [] {
  std::array<const_compiler_type, kConstTypes> t{};
  t[CONST_BOOL] = &compile_const_boolean;
  t[CONST_NULL] = &compile_const_null;
  t[CONST_LONG] = &compile_const_value<long, VmOpReadConstInteger, TYPE_INTEGER>;
  t[CONST_NUMERIC] = &compile_const_value<numeric_type_st, VmOpReadConstNumeric, TYPE_NUMERIC>;
  t[CONST_MONEY] = &compile_const_value<money_type_st, VmOpReadConstMoney, TYPE_MONEY>;
  t[CONST_DATE] = &compile_const_value<date_st, VmOpReadConstDate, TYPE_DATE>;
  t[CONST_DATETIME] = &compile_const_value<datetime_st, VmOpReadConstDatetime, TYPE_DATETIME>;
  t[CONST_STRING] = &compile_const_string;
  return t;
}();

void compile_operand_const_value(const Operand* operand, bool, bool, CompiledCodeCollection* collection, CodePath&,
                                 compiler_type_info_st* type) {
  const auto* c = static_cast<const SkalarType*>(operand);
  const_compiler_type compile = c->const_type < kConstTypes ? kConstCompilers[c->const_type] : nullptr;
  if (compile == nullptr) throw RuntimeError(1001);
  compile(c, collection, type);
  type->constant = true;
}

constexpr size_t kOperandKinds = OPERAND_CALL + 1;

// Kind 1 (a list) has no row: a list is never compiled as one operand.
std::array<operand_compiler_type, kOperandKinds> operand_compilers = [] {
  std::array<operand_compiler_type, kOperandKinds> t{};
  t[OPERAND_NAME] = &compile_operand_name;
  t[OPERAND_CONSTANT] = &compile_operand_const_value;
  t[OPERAND_VARIABLE] = &compile_operand_variable;
  t[OPERAND_VARIABLE_WITH_INDEX] = &compile_variable_with_index;
  t[OPERAND_PATH] = &compile_operand_path;
  t[OPERAND_REFERENCE] = &compile_operand_reference;
  t[OPERAND_UNARY] = &compile_operand_unary;
  t[OPERAND_BINARY] = &compile_binary_operator;
  t[OPERAND_CALL] = &compile_operand_call;
  return t;
}();

}  // namespace

void set_operand_compiler(uint32_t kind, operand_compiler_type compiler) {
  QZ_TRACE;
  if (kind < OPERAND_NAME || kind >= kOperandKinds || compiler == nullptr) throw_assert_failed();
  operand_compilers[kind] = compiler;
}

void compile_operand(const Operand* operand, bool default_read, bool want_value, CompiledCodeCollection* collection,
                     CodePath& path, compiler_type_info_st* type) {
  QZ_TRACE;
  operand_compiler_type compile = operand->kind < kOperandKinds ? operand_compilers[operand->kind] : nullptr;
  if (compile == nullptr) throw RuntimeError(1001);
  Compiler* compiler = path.compiler;
  if (compiler->operand_depth >= kMaxOperandDepth) {
    // Reported at the first operand past the limit; nothing below it is compiled, and the
    // messages the cut would cause are not recorded.
    compiler->add_message(103, operand->location);
    compiler->nesting_exceeded = true;
    return;
  }
  struct depth_guard {
    explicit depth_guard(Compiler* c) : c(c) { ++c->operand_depth; }
    ~depth_guard() { --c->operand_depth; }
    Compiler* c;
  } guard(compiler);
  compile(operand, default_read, want_value, collection, path, type);
}

void compile_const_generic(const document_location_st& location, const Variant* value,
                           CompiledCodeCollection* collection, CodePath&, compiler_type_info_st* type) {
  QZ_TRACE;
  VmOp* op;
  uint32_t t;
  switch (value->tag) {
    case VT_FALSE:
      op = new VmOpReadConstFalse();
      t = TYPE_LOGICAL;
      break;
    case VT_NULL:
      op = new VmOpReadConstNull();
      t = TYPE_NULL | TYPE_NULLABLE;
      break;
    case VT_TRUE:
      op = new VmOpReadConstTrue();
      t = TYPE_LOGICAL;
      break;
    case VT_INTEGER:
      op = new VmOpReadConstInteger(value->integer.value);
      t = TYPE_INTEGER;
      break;
    case VT_NUMERIC:
      op = new VmOpReadConstNumeric(value->numeric);
      t = TYPE_NUMERIC;
      break;
    case VT_MONEY:
      op = new VmOpReadConstMoney(value->money);
      t = TYPE_MONEY;
      break;
    case VT_DATE:
      op = new VmOpReadConstDate(value->date);
      t = TYPE_DATE;
      break;
    case VT_DATETIME:
      op = new VmOpReadConstDatetime(value->datetime);
      t = TYPE_DATETIME;
      break;
    case VT_STRING:
      op = new VmOpReadConstString(value->string);
      t = TYPE_STRING;
      type->width = static_cast<int64_t>(value->string.length());
      break;
    default:
      throw_assert_failed();  // a constant expression cannot make an object or an array
  }
  collection->push_back(location, op);
  type->type = t;
  type->constant = true;
}

VmOp* select_implicit_cast(const function_signature_entry_st& parameter, uint32_t argument_type) {
  QZ_TRACE;
  const bool nullable = (parameter.type & kSignatureNullable) != 0;
  const uint8_t allow_null = nullable ? 1 : 0;
  const uint32_t wanted = parameter.type & ~kSignatureNullable;
  // Exactly: a value that may be null (bit 16) is still cast.
  const bool exact = argument_type == wanted;
  switch (wanted) {
    case SIGNATURE_ANY:
      // A default-read ("*") entry names the target variable itself, null included.
      return nullable || parameter.default_read ? nullptr : new VmOpCastToNotNull();
    case SIGNATURE_LOGICAL:
      return exact ? nullptr : new VmOpCastToBooleanImplicitly(allow_null);
    case SIGNATURE_INTEGER:
      return exact ? nullptr : new VmOpCastToIntegerImplicitly(allow_null);
    case SIGNATURE_NUMERIC:
      return exact ? nullptr : new VmOpCastToNumericImplicitly(allow_null);
    case SIGNATURE_MONEY:
      return exact ? nullptr : new VmOpCastToMoneyImplicitly(allow_null);
    case SIGNATURE_DATE:
      return exact ? nullptr : new VmOpCastToDateImplicitly(allow_null);
    case SIGNATURE_DATETIME:
      return exact ? nullptr : new VmOpCastToDatetimeImplicitly(allow_null);
    case SIGNATURE_STRING:
      return exact ? nullptr : new VmOpCastToStringImplicitly(allow_null);
    case SIGNATURE_OBJECT:
      return new VmOpCastToObjectImplicitly(allow_null);
    case SIGNATURE_ARRAY: {
      // "@" demands a reference; "$" takes a reference or a value, and the check must let both by.
      int32_t flags = 0;
      if (parameter.by_reference) flags |= parameter.rvalue_allowed ? CHECK_ARG_MAY_BE_REFERENCE : CHECK_ARG_BY_REFERENCE;
      if (nullable) flags |= CHECK_ARG_NULL_ALLOWED;
      return new VmOpCheckArgument(VT_ARRAY, flags);
    }
    default:
      throw_assert_failed();
  }
}

void compile_implicit_cast(const function_signature_entry_st& parameter, const compiler_type_info_st& argument,
                           const document_location_st& location, CompiledCodeCollection* collection) {
  QZ_TRACE;
  if (VmOp* op = select_implicit_cast(parameter, argument.type)) collection->push_back(location, op);
}

}  // namespace qzbase
