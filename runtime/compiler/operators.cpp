// operators.cpp - unary and binary operators, short-circuit AND and OR, "$", and constant
// folding: a constant expression runs once at compile time and becomes one constant load.
#include <mutex>

#include "compiler/expression_parts.h"
#include "compiler/linker.h"
#include "platform/screen.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

using binary_compiler = void (*)(const BinaryOperator* op, CompiledCodeCollection* collection, CodePath& path,
                                 compiler_type_info_st* type);

bool nullable(const compiler_type_info_st& t) { return (t.type & TYPE_NULLABLE) != 0; }

template <class Op>
void binary_arithmetic(const BinaryOperator* op, CompiledCodeCollection* collection, CodePath& path,
                       compiler_type_info_st* type) {
  compiler_type_info_st left, right;
  compile_operand(op->left, false, true, collection, path, &left);
  compile_operand(op->right, false, true, collection, path, &right);
  collection->push_back(op->location, new Op());
  type->constant = left.constant && right.constant;
  if (op->op == BINARY_ADD || op->op == BINARY_SUB) {
    if (left.type == TYPE_STRING && right.type == TYPE_STRING) type->type = TYPE_STRING;
    if (left.width == -2 || right.width == -2) {
      type->width = -2;  // a memo or blob has no fixed length
    } else if (left.width >= 0 && right.width >= 0) {
      type->width = left.width + right.width;
    }
  }
  if (nullable(left) || nullable(right)) type->type |= TYPE_NULLABLE;
}

template <class Op>
void binary_comparison(const BinaryOperator* op, CompiledCodeCollection* collection, CodePath& path,
                       compiler_type_info_st* type) {
  compiler_type_info_st left, right;
  compile_operand(op->left, false, true, collection, path, &left);
  compile_operand(op->right, false, true, collection, path, &right);
  collection->push_back(op->location, new Op());
  type->type = TYPE_LOGICAL | (nullable(left) || nullable(right) ? uint32_t{TYPE_NULLABLE} : 0u);
}

void binary_and(const BinaryOperator* op, CompiledCodeCollection* collection, CodePath& path,
                compiler_type_info_st* type) {
  AddressLabelRecord* label = path.compiler->create_addresslabel(String("and<a> false or null"));
  compiler_type_info_st left, right;
  compile_operand(op->left, false, true, collection, path, &left);
  collection->push_back(op->left->location, new VmOpCondFalseOrNullJumpKeepEsp(label->key()));
  compile_operand(op->right, false, true, collection, path, &right);
  collection->place_label(label);
  type->type = TYPE_LOGICAL | (nullable(left) || nullable(right) ? uint32_t{TYPE_NULLABLE} : 0u);
  type->constant = left.constant && right.constant;
}

void binary_or(const BinaryOperator* op, CompiledCodeCollection* collection, CodePath& path,
               compiler_type_info_st* type) {
  AddressLabelRecord* label = path.compiler->create_addresslabel(String("or<a> true"));
  compiler_type_info_st left, right;
  compile_operand(op->left, false, true, collection, path, &left);
  collection->push_back(op->left->location, new VmOpCondTrueJumpKeepEsp(label->key()));
  compile_operand(op->right, false, true, collection, path, &right);
  collection->push_back(op->right->location, new VmOpCondTrueOrNullMerge2P());
  collection->place_label(label);
  type->type = TYPE_LOGICAL | (nullable(left) || nullable(right) ? uint32_t{TYPE_NULLABLE} : 0u);
  type->constant = left.constant && right.constant;
}

void binary_in_str(const BinaryOperator* op, CompiledCodeCollection* collection, CodePath& path,
                   compiler_type_info_st*) {
  Operand* const arguments[2] = {op->left, op->right};
  compiler_type_info_st fresh;
  compile_call_builtin_function(op->location, arguments, 2, "at", collection, path, &fresh);
  collection->push_back(op->location, new VmOpReadConstInteger(0));
  collection->push_back(op->location, new VmOpBinaryGt());
}

constexpr size_t kBinaryOps = BINARY_IN_STR + 1;

constexpr binary_compiler binary_compilers[kBinaryOps] = {
    &binary_arithmetic<VmOpBinaryAdd>,  &binary_arithmetic<VmOpBinarySub>,  &binary_arithmetic<VmOpBinaryMul>,
    &binary_arithmetic<VmOpBinaryDiv>,  &binary_arithmetic<VmOpBinaryMod>,  &binary_arithmetic<VmOpBinaryPow>,
    &binary_comparison<VmOpBinaryEq>,   &binary_comparison<VmOpBinaryLt>,   &binary_comparison<VmOpBinaryLtEq>,
    &binary_comparison<VmOpBinaryGt>,   &binary_comparison<VmOpBinaryGtEq>, &binary_comparison<VmOpBinaryLtGt>,
    &binary_comparison<VmOpBinaryEqEq>, &binary_and,                        &binary_or,
    &binary_in_str,
};

// The link context of compile-time runs, made once and kept until exit.
const Module* constexpr_module() {
  static const Module* module = new Module(String("<____compiletime_eval_constexpr>"));  // thread-safe init
  return module;
}

}  // namespace

void compile_operand_unary(const Operand* operand, bool, bool, CompiledCodeCollection* collection, CodePath& path,
                           compiler_type_info_st* type) {
  QZ_TRACE;
  const auto* u = static_cast<const Unary_Func*>(operand);
  if (u->op > UNARY_PRECEDENCE) throw RuntimeError(1001);
  compile_operand(u->operand, false, true, collection, path, type);
  if (u->op == UNARY_NOT) collection->push_back(operand->location, new VmOpUnaryNot());
  if (u->op == UNARY_NEG) collection->push_back(operand->location, new VmOpUnaryNeg());
}

void compile_binary_operator(const Operand* operand, bool, bool, CompiledCodeCollection* collection, CodePath& path,
                             compiler_type_info_st* type) {
  QZ_TRACE;
  const auto* b = static_cast<const BinaryOperator*>(operand);
  if (b->op >= kBinaryOps) throw RuntimeError(1001);
  binary_compilers[b->op](b, collection, path, type);
}

void compiletime_compact_constexpr(const Operand* operand, CompiledCodeCollection* destination, CodePath& path,
                                   compiler_type_info_st* type) {
  QZ_TRACE;
  CompiledCodeCollection scratch(destination->compiler);
  compiler_type_info_st record;
  compile_operand(operand, false, true, &scratch, path, &record);
  if (record.constant && scratch.size() > 1) {
    Variant value;
    compiletime_eval_constexpr(operand->location, &scratch, destination, path, type, path.compiler->stack, &value);
    value.release(path.compiler->stack);
    return;
  }
  *type = record;
  destination->splice_back(scratch);
}

bool compiletime_eval_constexpr(const document_location_st& location, CompiledCodeCollection* scratch,
                                CompiledCodeCollection* destination, CodePath& path, compiler_type_info_st* type,
                                VmStack* stack, Variant* result) {
  QZ_TRACE;
  const Module* module = constexpr_module();
  NullScreen quiet;
  ScreenRedirect redirect(stack->get_runtime(), &quiet);
  scratch->push_back(location, new VmOpReturnValue());
  std::unique_ptr<Program> program(
      Compiler::create_program(String("__constexpr"), scratch, local_offset_map(), 0, *type, nullptr));
  try {
    LinkerInfo linker(stack->get_runtime());
    link_program(linker, program.get(), module);
    execute_program(stack, 0, false, program.get(), result);
  } catch (const RuntimeError& e) {
    path.compiler->add_message(e.code, location);
    // The code went with the program: a null stands in for its value, so what follows still
    // passes as many values as it takes, and nothing around it is folded (and run) in turn.
    destination->push_back(location, new VmOpReadConstNull());
    type->constant = false;
    return false;
  }
  compile_const_generic(location, result, destination, path, type);
  return true;
}

}  // namespace qzbase
