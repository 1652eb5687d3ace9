// vm_op.h - the operations of the virtual machine.
//
// A compiled code unit is an array of VmOp*. Each operation is a one-byte opcode and the operands
// of its class; the number of the statement that emitted it is kept by its Program (program.h).
// Execution dispatches on the opcode, never on the class: the destructors are the only virtual
// functions. Opcode numbers and operand layouts are fixed because the compiled-module file stores
// them.
//
// Operand kinds:
//   symbol  symbol_id_type, the id of a name in the runtime's Symtable
//   offset  offset_type, a local slot of the running frame (see vm_stack.h)
//   count   number of argument or index values on the stack
//   target  a jump target: 0 (or a label key) while the program is being assembled, afterwards the
//           address of the target element of the program's code array (a code_position)
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <vector>

namespace qzbase {

class VmOp;

// A position in a program's code array: the address of one of its elements.
using code_position = const VmOp* const*;

// The 86 opcodes. 67 has no class and never occurs in a program.
enum VmOpType : uint8_t {
  OP_UNWIND = 0,
  OP_UNWIND_CONTINUE = 1,
  OP_BINARY_ADD = 2,
  OP_BINARY_SUB = 3,
  OP_BINARY_MUL = 4,
  OP_BINARY_DIV = 5,
  OP_BINARY_POW = 6,
  OP_BINARY_MOD = 7,
  OP_BINARY_EQ = 8,
  OP_BINARY_LT = 9,
  OP_BINARY_LT_EQ = 10,
  OP_BINARY_GT = 11,
  OP_BINARY_GT_EQ = 12,
  OP_BINARY_LT_GT = 13,
  OP_BINARY_EQ_EQ = 14,
  OP_CALL_SPEC_USER = 15,
  OP_CALL_SPEC_DYNAMIC = 16,
  OP_CALL_SPEC_DO = 17,
  OP_CALL_SPEC_VOID = 18,
  OP_CAST_TO_BOOLEAN_IMPLICITLY = 19,
  OP_CAST_TO_INTEGER_IMPLICITLY = 20,
  OP_CAST_TO_NUMERIC_IMPLICITLY = 21,
  OP_CAST_TO_MONEY_IMPLICITLY = 22,
  OP_CAST_TO_DATE_IMPLICITLY = 23,
  OP_CAST_TO_DATETIME_IMPLICITLY = 24,
  OP_CAST_TO_STRING_IMPLICITLY = 25,
  OP_CAST_TO_OBJECT_IMPLICITLY = 26,
  OP_CAST_TO_NOT_NULL = 27,
  OP_CHECK_ARGUMENT = 28,
  OP_COND_TRUE_JUMP = 29,
  OP_COND_TRUE_JUMP_KEEP_ESP = 30,
  OP_COND_FALSE_OR_NULL_JUMP = 31,
  OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP = 32,
  OP_COND_TRUE_OR_NULL_MERGE_2P = 33,
  OP_READ_MEMVAR_POINTER_BY_NAME_DEFAULT = 34,
  OP_DEF_LOCAL = 35,
  OP_DEF_LOCAL_OFFSET = 36,
  OP_DEF_PRIVATE_SYMBOL = 37,
  OP_DEF_PUBLIC_OFFSET = 38,
  OP_ESP_ALLOC = 39,
  OP_ESP_FREE = 40,
  OP_FOR_COND_FALSE_JUMP = 41,
  OP_INIT_LOCAL_PARAMETERS = 42,
  OP_INIT_PARAMETER = 43,
  OP_JUMP = 44,
  OP_MACRO = 45,
  OP_OBJECT_CALL = 46,
  OP_OBJECT_CALL_POINTER = 47,
  OP_RETURN_VALUE = 48,
  OP_RETURN_POINTER = 49,
  OP_RETURN = 50,
  OP_READ_BY_NAME = 51,
  OP_READ_MEMVAR_BY_NAME = 52,
  OP_READ_MEMVAR_BY_NAME_DEFAULT = 53,
  OP_READ_FILE_OBJECT_OR_MEMVAR_BY_NAME = 54,
  OP_READ_LOCAL_MEMVAR_BY_OFFSET = 55,
  OP_READ_ARRAY_ITEM_BY_NAME = 56,
  OP_READ_MEMVAR_INDEX_LOCAL = 57,
  OP_READ_CONST_TRUE = 58,
  OP_READ_CONST_FALSE = 59,
  OP_READ_CONST_INTEGER = 60,
  OP_READ_CONST_NUMERIC = 61,
  OP_READ_CONST_MONEY = 62,
  OP_READ_CONST_STRING = 63,
  OP_READ_CONST_DATE = 64,
  OP_READ_CONST_DATETIME = 65,
  OP_READ_CONST_NULL = 66,
  OP_UNUSED_67 = 67,
  OP_OBJECT_READ_PROPERTY = 68,
  OP_OBJECT_READ_PROPERTY_POINTER = 69,
  OP_READ_MEMVAR_POINTER_BY_NAME = 70,
  OP_READ_LOCAL_MEMVAR_POINTER_BY_OFFSET = 71,
  OP_READ_ADD_WRITE = 72,
  OP_READ_ADD_WRITE_LOCAL = 73,
  OP_STORE = 74,
  OP_UNARY_NOT = 75,
  OP_UNARY_NEG = 76,
  OP_TEST_TEXTMERGE_ON = 77,
  OP_WRITE_MEMVAR_BY_NAME = 78,
  OP_WRITE_MEMVAR_BY_OFFSET = 79,
  OP_WRITE_ARRAY_BY_NAME = 80,
  OP_WRITE_ARRAY_BY_OFFSET = 81,
  OP_OBJECT_WRITE_PROPERTY = 82,
  OP_UNRESOLVED_CALL = 83,
  OP_INSTALL_ERROR_HANDLER = 84,
  OP_READ_FIELD_BY_FIELD_NUM = 85,
};

inline constexpr unsigned kVmOpCount = 86;  // opcodes 0 .. 85

// Operations fused in memory after linking (fuse_operations): the first operation of a common
// sequence takes one of these opcodes and does the work of the whole sequence, whose other
// operations stay in place (a jump into the middle still finds them). Never stored: a module file
// keeps the opcode the operation had, which stored_opcode gives.
enum VmOpFusedType : uint8_t {
  // Slots other than an operation's own are kept in aux in bytes below the frame's top, 16 bits
  // each.
  // On a 55 followed by 55, 55 and 41 (a FOR loop's test): the test on the three local slots.
  // aux: the limit's slot | the counter's << 16.
  OP_FUSED_FOR_TEST = 86,
  // On a 55 followed by 73 and 44 (a FOR loop's step): the increment and the jump. aux: the
  // counter's slot | the limit's << 16 when the jump leads to the fused test of the same step and
  // counter and the step's slot is the one past the limit's (0 otherwise).
  OP_FUSED_FOR_STEP = 87,
  // On a 51 whose name is a local slot of its program (aux: the slot): the slot, while no table is
  // selected or bound and the slot holds a LOCAL; 51 otherwise.
  OP_FUSED_READ_LOCAL_BY_NAME = 88,
  // On a 51 as in 88 followed by 73 (s = s + i): the integer sum into the slot of 73, while both
  // slots hold LOCALs, no table is selected or bound and the sum fits; 88 otherwise. aux: the slot
  // read | the slot of 73 << 16.
  OP_FUSED_ADD_LOCAL_BY_NAME = 89,
  // On a 60 followed by 2 or 3 (n - 1): the constant added to or taken from the integer on top,
  // where the result fits; 60 otherwise. aux: the opcode of the arithmetic.
  OP_FUSED_CONST_ADD_SUB = 90,
  // On a comparison (8..14) followed by 31 (IF a < b): the jump on two integers without pushing
  // the result; the comparison otherwise. aux: the comparison's opcode.
  OP_FUSED_CMP_JUMP = 91,
  // On a 60 followed by a comparison and 31 (IF n < 2): the integer on top compared with the
  // constant and the jump taken; 60 otherwise. aux: the comparison's opcode.
  OP_FUSED_CONST_CMP_JUMP = 92,
  // On a 39 followed by 88 and a 57 of one index (a[i], i a LOCAL read by name): the element
  // pushed, while no table is selected or bound, both slots hold LOCALs, the index is an integer
  // within the array; 39 otherwise. With 73 after it (s = s + a[i]): the integer element added
  // into that slot without a push, where both are integers and the sum fits. aux: the slots of
  // the index, the array and the sum (10 bits each), bit 30 when 73 follows.
  OP_FUSED_READ_ITEM_LOCAL_INDEX = 93,
  // On an 88 followed by an 81 of one index (a[i] = value, i a LOCAL read by name): the value on
  // top stored into the element and popped, while no table is selected or bound, the index is an
  // integer within the array, the array's block is its own and the element holds a plain value;
  // 88 otherwise. aux: the slots of the index and the array (10 bits each).
  OP_FUSED_WRITE_ITEM_LOCAL_INDEX = 94,
  // On an 88 followed by 94 (a[i] = v, v a LOCAL too): the plain value of v stored as in 94
  // without a push; 88 otherwise. aux: the slots of v, the index and the array (10 bits each).
  OP_FUSED_WRITE_LOCAL_ITEM_LOCAL_INDEX = 95,
};
inline constexpr unsigned kVmOpCountFused = 96;

class VmOp;
inline uint8_t stored_opcode(const VmOp* op);

// The class name of an opcode ("VmOpJump"); null for 67 and for values above 85.
const char* vmop_class_name(unsigned opcode);

// ----------------------------------------------------------------------------------------------
// The base

class VmOp {
 public:
  explicit VmOp(VmOpType type) noexcept : opcode(type) {}
  virtual ~VmOp();
  VmOp(const VmOp&) = delete;
  VmOp& operator=(const VmOp&) = delete;

  uint8_t opcode;      // a VmOpType (or a VmOpFusedType once fused)
  // 1: the operation stands at several positions and belongs to a SharedOps (shared_ops.h), not
  // to the code arrays it stands in; it is never changed.
  uint8_t shared = 0;
  uint32_t aux = 0;    // an operand of the fused operation (in what was padding)
};

// Deletes an operation a code array owns; a shared one stays with its SharedOps.
inline void release_op(VmOp* op) noexcept {
  if (op != nullptr && op->shared == 0) delete op;
}

// The opcode as compiled: a fused operation's original one.
inline uint8_t stored_opcode(const VmOp* op) {
  switch (op->opcode) {
    case OP_FUSED_FOR_TEST:
    case OP_FUSED_FOR_STEP: return OP_READ_LOCAL_MEMVAR_BY_OFFSET;
    case OP_FUSED_READ_LOCAL_BY_NAME:
    case OP_FUSED_ADD_LOCAL_BY_NAME:
    case OP_FUSED_WRITE_ITEM_LOCAL_INDEX:
    case OP_FUSED_WRITE_LOCAL_ITEM_LOCAL_INDEX: return OP_READ_BY_NAME;
    case OP_FUSED_READ_ITEM_LOCAL_INDEX: return OP_ESP_ALLOC;
    case OP_FUSED_CONST_ADD_SUB:
    case OP_FUSED_CONST_CMP_JUMP: return OP_READ_CONST_INTEGER;
    case OP_FUSED_CMP_JUMP: return static_cast<uint8_t>(op->aux);
    default: return op->opcode;
  }
}

// Operations without operands of their own are plain VmOps of a fixed opcode.
template <VmOpType T>
class VmOpPlain : public VmOp {
 public:
  VmOpPlain() noexcept : VmOp(T) {}
  ~VmOpPlain() override = default;
};

using VmOpUnwind = VmOpPlain<OP_UNWIND>;
using VmOpUnwindContinue = VmOpPlain<OP_UNWIND_CONTINUE>;
using VmOpBinaryAdd = VmOpPlain<OP_BINARY_ADD>;
using VmOpBinarySub = VmOpPlain<OP_BINARY_SUB>;
using VmOpBinaryMul = VmOpPlain<OP_BINARY_MUL>;
using VmOpBinaryDiv = VmOpPlain<OP_BINARY_DIV>;
using VmOpBinaryPow = VmOpPlain<OP_BINARY_POW>;
using VmOpBinaryMod = VmOpPlain<OP_BINARY_MOD>;
using VmOpBinaryEq = VmOpPlain<OP_BINARY_EQ>;
using VmOpBinaryLt = VmOpPlain<OP_BINARY_LT>;
using VmOpBinaryLtEq = VmOpPlain<OP_BINARY_LT_EQ>;
using VmOpBinaryGt = VmOpPlain<OP_BINARY_GT>;
using VmOpBinaryGtEq = VmOpPlain<OP_BINARY_GT_EQ>;
using VmOpBinaryLtGt = VmOpPlain<OP_BINARY_LT_GT>;
using VmOpBinaryEqEq = VmOpPlain<OP_BINARY_EQ_EQ>;
using VmOpCastToNotNull = VmOpPlain<OP_CAST_TO_NOT_NULL>;
using VmOpCondTrueOrNullMerge2P = VmOpPlain<OP_COND_TRUE_OR_NULL_MERGE_2P>;
using VmOpEspAlloc = VmOpPlain<OP_ESP_ALLOC>;
using VmOpEspFree = VmOpPlain<OP_ESP_FREE>;
using VmOpReturnValue = VmOpPlain<OP_RETURN_VALUE>;
using VmOpReturnPointer = VmOpPlain<OP_RETURN_POINTER>;
using VmOpReturn = VmOpPlain<OP_RETURN>;
using VmOpReadConstTrue = VmOpPlain<OP_READ_CONST_TRUE>;
using VmOpReadConstFalse = VmOpPlain<OP_READ_CONST_FALSE>;
using VmOpReadConstNull = VmOpPlain<OP_READ_CONST_NULL>;
using VmOpStore = VmOpPlain<OP_STORE>;
using VmOpUnaryNot = VmOpPlain<OP_UNARY_NOT>;
using VmOpUnaryNeg = VmOpPlain<OP_UNARY_NEG>;
using VmOpTestTextmergeOn = VmOpPlain<OP_TEST_TEXTMERGE_ON>;

// ----------------------------------------------------------------------------------------------
// Operand shapes shared by several opcodes

// One symbol.
template <VmOpType T>
class VmOpSymbol : public VmOp {
 public:
  explicit VmOpSymbol(symbol_id_type symbol) noexcept : VmOp(T), symbol(symbol) {}
  ~VmOpSymbol() override = default;
  symbol_id_type symbol;
};

// One local slot offset.
template <VmOpType T>
class VmOpOffset : public VmOp {
 public:
  explicit VmOpOffset(offset_type offset) noexcept : VmOp(T), offset(offset) {}
  ~VmOpOffset() override = default;
  offset_type offset;
};

// A local slot offset and a symbol.
template <VmOpType T>
class VmOpOffsetSymbol : public VmOp {
 public:
  VmOpOffsetSymbol(offset_type offset, symbol_id_type symbol) noexcept : VmOp(T), offset(offset), symbol(symbol) {}
  ~VmOpOffsetSymbol() override = default;
  offset_type offset;
  symbol_id_type symbol;
};

// A symbol and a count of argument or index values.
template <VmOpType T>
class VmOpSymbolCount : public VmOp {
 public:
  VmOpSymbolCount(symbol_id_type symbol, uint64_t count) noexcept : VmOp(T), symbol(symbol), count(count) {}
  ~VmOpSymbolCount() override = default;
  symbol_id_type symbol;
  uint64_t count;
};

// A local slot offset and a count of index values.
template <VmOpType T>
class VmOpOffsetCount : public VmOp {
 public:
  VmOpOffsetCount(offset_type offset, uint64_t count) noexcept : VmOp(T), offset(offset), count(count) {}
  ~VmOpOffsetCount() override = default;
  offset_type offset;
  uint64_t count;
};

// A jump target. Built without a target (0) and patched when the program is assembled.
template <VmOpType T>
class VmOpTarget : public VmOp {
 public:
  VmOpTarget() noexcept : VmOp(T), target(0) {}
  explicit VmOpTarget(uint64_t target) noexcept : VmOp(T), target(target) {}
  ~VmOpTarget() override = default;

  // The target element of the code array (valid once the program is assembled).
  code_position target_position() const { return reinterpret_cast<code_position>(target); }
  void set_target(code_position p) { target = reinterpret_cast<uint64_t>(p); }

  uint64_t target;
};

// An implicit cast: a non-zero allow_null lets a null value pass unchanged.
template <VmOpType T>
class VmOpCast : public VmOp {
 public:
  explicit VmOpCast(uint8_t allow_null) noexcept : VmOp(T), allow_null(allow_null) {}
  ~VmOpCast() override = default;
  uint8_t allow_null;
};

// ----------------------------------------------------------------------------------------------
// Calls

// 15: a direct call of a user function of the module.
class VmOpCallSpecUser : public VmOp {
 public:
  VmOpCallSpecUser(const UserFunction* function, uint64_t count) noexcept
      : VmOp(OP_CALL_SPEC_USER), function(function), count(count) {}
  ~VmOpCallSpecUser() override;
  const UserFunction* function;
  uint64_t count;
};

// 16: a call of a function looked up by name when the call runs.
using VmOpCallSpecDynamic = VmOpSymbolCount<OP_CALL_SPEC_DYNAMIC>;

// 17: a call of a built-in function with a result.
class VmOpCallSpecDo : public VmOp {
 public:
  VmOpCallSpecDo(native_function_type function, uint64_t count) noexcept
      : VmOp(OP_CALL_SPEC_DO), function(function), count(count) {}
  ~VmOpCallSpecDo() override;
  native_function_type function;
  uint64_t count;
};

// 18: a call of a built-in command.
class VmOpCallSpecVoid : public VmOp {
 public:
  VmOpCallSpecVoid(native_command_type function, uint64_t count) noexcept
      : VmOp(OP_CALL_SPEC_VOID), function(function), count(count) {}
  ~VmOpCallSpecVoid() override;
  native_command_type function;
  uint64_t count;
};

// 83: a call by name that the linker replaces by 15..18 before the program runs.
class VmOpUnresolvedCall : public VmOp {
 public:
  VmOpUnresolvedCall(const String& name, uint64_t count) : VmOp(OP_UNRESOLVED_CALL), name(name), count(count) {}
  ~VmOpUnresolvedCall() override;  // releases the name
  String name;  // the callee's name as written
  uint64_t count;
};

// ----------------------------------------------------------------------------------------------
// Casts and checks

using VmOpCastToBooleanImplicitly = VmOpCast<OP_CAST_TO_BOOLEAN_IMPLICITLY>;
using VmOpCastToIntegerImplicitly = VmOpCast<OP_CAST_TO_INTEGER_IMPLICITLY>;
using VmOpCastToNumericImplicitly = VmOpCast<OP_CAST_TO_NUMERIC_IMPLICITLY>;
using VmOpCastToMoneyImplicitly = VmOpCast<OP_CAST_TO_MONEY_IMPLICITLY>;
using VmOpCastToDateImplicitly = VmOpCast<OP_CAST_TO_DATE_IMPLICITLY>;
using VmOpCastToDatetimeImplicitly = VmOpCast<OP_CAST_TO_DATETIME_IMPLICITLY>;
using VmOpCastToStringImplicitly = VmOpCast<OP_CAST_TO_STRING_IMPLICITLY>;
using VmOpCastToObjectImplicitly = VmOpCast<OP_CAST_TO_OBJECT_IMPLICITLY>;

// Flags of VmOpCheckArgument.
enum CheckArgumentFlags : int32_t {
  CHECK_ARG_BY_REFERENCE = 1,      // the argument must be passed by reference
  CHECK_ARG_MAY_BE_REFERENCE = 2,  // it may be passed by reference
  CHECK_ARG_NULL_ALLOWED = 4,      // null is accepted
};

// 28: checks a declared parameter's type (a Variant tag) and passing mode.
class VmOpCheckArgument : public VmOp {
 public:
  VmOpCheckArgument(uint8_t expected_tag, int32_t flags) noexcept
      : VmOp(OP_CHECK_ARGUMENT), expected_tag(expected_tag), flags(flags) {}
  ~VmOpCheckArgument() override;
  uint8_t expected_tag;
  int32_t flags;
};

// ----------------------------------------------------------------------------------------------
// Jumps

using VmOpCondTrueJump = VmOpTarget<OP_COND_TRUE_JUMP>;
using VmOpCondTrueJumpKeepEsp = VmOpTarget<OP_COND_TRUE_JUMP_KEEP_ESP>;
using VmOpCondFalseOrNullJump = VmOpTarget<OP_COND_FALSE_OR_NULL_JUMP>;
using VmOpCondFalseOrNullJumpKeepEsp = VmOpTarget<OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP>;
using VmOpForCondFalseJump = VmOpTarget<OP_FOR_COND_FALSE_JUMP>;
using VmOpJump = VmOpTarget<OP_JUMP>;

// True for the six one-target jumps (29, 30, 31, 32, 41, 44).
bool vmop_is_jump(unsigned opcode);

// ----------------------------------------------------------------------------------------------
// Declarations and variables

using VmOpReadMemvarPointerByNameDefault = VmOpSymbol<OP_READ_MEMVAR_POINTER_BY_NAME_DEFAULT>;
using VmOpDefLocal = VmOpSymbol<OP_DEF_LOCAL>;
using VmOpDefLocalOffset = VmOpOffsetSymbol<OP_DEF_LOCAL_OFFSET>;
using VmOpDefPrivateSymbol = VmOpSymbol<OP_DEF_PRIVATE_SYMBOL>;
using VmOpDefPublicOffset = VmOpOffsetSymbol<OP_DEF_PUBLIC_OFFSET>;
using VmOpInitParameter = VmOpOffsetSymbol<OP_INIT_PARAMETER>;

// 42: marks the first count local slots as defined locals.
class VmOpInitLocalParameters : public VmOp {
 public:
  explicit VmOpInitLocalParameters(uint64_t count) noexcept : VmOp(OP_INIT_LOCAL_PARAMETERS), count(count) {}
  ~VmOpInitLocalParameters() override;
  uint64_t count;
};

using VmOpReadByName = VmOpSymbol<OP_READ_BY_NAME>;
using VmOpReadMemvarByName = VmOpSymbol<OP_READ_MEMVAR_BY_NAME>;
using VmOpReadMemvarByNameDefault = VmOpSymbol<OP_READ_MEMVAR_BY_NAME_DEFAULT>;
using VmOpReadFileObjectOrMemvarByName = VmOpSymbol<OP_READ_FILE_OBJECT_OR_MEMVAR_BY_NAME>;
using VmOpReadLocalMemvarByOffset = VmOpOffset<OP_READ_LOCAL_MEMVAR_BY_OFFSET>;
using VmOpReadArrayItemByName = VmOpSymbolCount<OP_READ_ARRAY_ITEM_BY_NAME>;
using VmOpReadMemvarIndexLocal = VmOpOffsetCount<OP_READ_MEMVAR_INDEX_LOCAL>;
using VmOpReadMemvarPointerByName = VmOpSymbol<OP_READ_MEMVAR_POINTER_BY_NAME>;
using VmOpReadLocalMemvarPointerByOffset = VmOpOffset<OP_READ_LOCAL_MEMVAR_POINTER_BY_OFFSET>;
using VmOpReadAddWrite = VmOpSymbol<OP_READ_ADD_WRITE>;
using VmOpReadAddWriteLocal = VmOpOffset<OP_READ_ADD_WRITE_LOCAL>;
using VmOpWriteMemarByName = VmOpSymbol<OP_WRITE_MEMVAR_BY_NAME>;
using VmOpWriteMemvarByOffset = VmOpOffset<OP_WRITE_MEMVAR_BY_OFFSET>;
using VmOpWriteArrayByName = VmOpSymbolCount<OP_WRITE_ARRAY_BY_NAME>;
using VmOpWriteArrayByOffset = VmOpOffsetCount<OP_WRITE_ARRAY_BY_OFFSET>;

// 85: pushes a field of the bound table by number (a u16 held in a 64-bit operand).
class VmOpReadFieldByFieldNum : public VmOp {
 public:
  explicit VmOpReadFieldByFieldNum(uint64_t field) noexcept : VmOp(OP_READ_FIELD_BY_FIELD_NUM), field(field) {}
  ~VmOpReadFieldByFieldNum() override;
  uint64_t field;
};

// ----------------------------------------------------------------------------------------------
// Objects

using VmOpObjectCall = VmOpSymbolCount<OP_OBJECT_CALL>;
using VmOpObjectCallPointer = VmOpSymbolCount<OP_OBJECT_CALL_POINTER>;
using VmOpObjectReadProperty = VmOpSymbolCount<OP_OBJECT_READ_PROPERTY>;
using VmOpObjectReadPropertyPointer = VmOpSymbolCount<OP_OBJECT_READ_PROPERTY_POINTER>;
using VmOpObjectWriteProperty = VmOpSymbolCount<OP_OBJECT_WRITE_PROPERTY>;

// ----------------------------------------------------------------------------------------------
// Constants

class VmOpReadConstInteger : public VmOp {
 public:
  explicit VmOpReadConstInteger(int64_t value) noexcept : VmOp(OP_READ_CONST_INTEGER), value(value) {}
  ~VmOpReadConstInteger() override;
  int64_t value;
};

class VmOpReadConstNumeric : public VmOp {
 public:
  explicit VmOpReadConstNumeric(const numeric_type_st& value) noexcept : VmOp(OP_READ_CONST_NUMERIC), value(value) {}
  ~VmOpReadConstNumeric() override;
  numeric_type_st value;
};

class VmOpReadConstMoney : public VmOp {
 public:
  explicit VmOpReadConstMoney(const money_type_st& value) noexcept : VmOp(OP_READ_CONST_MONEY), value(value) {}
  ~VmOpReadConstMoney() override;
  alignas(16) money_type_st value;
};

// Pushing it shares the constant's buffer.
class VmOpReadConstString : public VmOp {
 public:
  explicit VmOpReadConstString(const String& value) : VmOp(OP_READ_CONST_STRING), value(value) {}
  ~VmOpReadConstString() override;  // releases the string
  String value;
};

class VmOpReadConstDate : public VmOp {
 public:
  explicit VmOpReadConstDate(const date_st& value) noexcept : VmOp(OP_READ_CONST_DATE), value(value) {}
  ~VmOpReadConstDate() override;
  date_st value;
};

class VmOpReadConstDatetime : public VmOp {
 public:
  explicit VmOpReadConstDatetime(const datetime_st& value) noexcept : VmOp(OP_READ_CONST_DATETIME), value(value) {}
  ~VmOpReadConstDatetime() override;
  datetime_st value;
};

// ----------------------------------------------------------------------------------------------
// Macros and error handlers

// 45: compiles the top string as a command and runs it in the current frame. The compiler always
// stores 1; execution does not read it.
class VmOpMacro : public VmOp {
 public:
  explicit VmOpMacro(uint64_t mode) noexcept : VmOp(OP_MACRO), mode(mode) {}
  ~VmOpMacro() override;
  uint64_t mode;
};

// One CATCH clause of a TRY block.
struct catch_clause_st {
  uint64_t target;           // where the clause's body starts (a jump target)
  symbol_id_type variable;   // the CATCH TO variable, 0 for none
  Program* condition;        // owned; run with the error object as its argument; null: always taken

  code_position target_position() const { return reinterpret_cast<code_position>(target); }
};

// 84: registers a TRY block's handler on the current frame. A position p is protected when
// start <= p < end. start, end and the clause targets are jump targets (label keys until the
// program is assembled). The operation owns the clauses' condition programs.
class VmOpInstallErrorHandler : public VmOp {
 public:
  VmOpInstallErrorHandler() noexcept : VmOp(OP_INSTALL_ERROR_HANDLER), start(0), end(0) {}
  VmOpInstallErrorHandler(uint64_t start, uint64_t end, std::vector<catch_clause_st> clauses)
      : VmOp(OP_INSTALL_ERROR_HANDLER), start(start), end(end), clauses(static_cast<std::vector<catch_clause_st>&&>(clauses)) {}
  ~VmOpInstallErrorHandler() override;  // deletes the condition programs

  code_position start_position() const { return reinterpret_cast<code_position>(start); }
  code_position end_position() const { return reinterpret_cast<code_position>(end); }
  bool protects(code_position p) const { return start_position() <= p && p < end_position(); }

  uint64_t start;
  uint64_t end;
  std::vector<catch_clause_st> clauses;
};

}  // namespace qzbase
