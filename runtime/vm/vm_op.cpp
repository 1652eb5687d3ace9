// vm_op.cpp - the operations' destructors and the opcode name table.
#include "vm/vm_op.h"

#include "vm/program.h"

namespace qzbase {

namespace {

// Indexed by opcode; null for 67.
constexpr const char* kClassNames[kVmOpCount] = {
    "VmOpUnwind",
    "VmOpUnwindContinue",
    "VmOpBinaryAdd",
    "VmOpBinarySub",
    "VmOpBinaryMul",
    "VmOpBinaryDiv",
    "VmOpBinaryPow",
    "VmOpBinaryMod",
    "VmOpBinaryEq",
    "VmOpBinaryLt",
    "VmOpBinaryLtEq",
    "VmOpBinaryGt",
    "VmOpBinaryGtEq",
    "VmOpBinaryLtGt",
    "VmOpBinaryEqEq",
    "VmOpCallSpecUser",
    "VmOpCallSpecDynamic",
    "VmOpCallSpecDo",
    "VmOpCallSpecVoid",
    "VmOpCastToBooleanImplicitly",
    "VmOpCastToIntegerImplicitly",
    "VmOpCastToNumericImplicitly",
    "VmOpCastToMoneyImplicitly",
    "VmOpCastToDateImplicitly",
    "VmOpCastToDatetimeImplicitly",
    "VmOpCastToStringImplicitly",
    "VmOpCastToObjectImplicitly",
    "VmOpCastToNotNull",
    "VmOpCheckArgument",
    "VmOpCondTrueJump",
    "VmOpCondTrueJumpKeepEsp",
    "VmOpCondFalseOrNullJump",
    "VmOpCondFalseOrNullJumpKeepEsp",
    "VmOpCondTrueOrNullMerge2P",
    "VmOpReadMemvarPointerByNameDefault",
    "VmOpDefLocal",
    "VmOpDefLocalOffset",
    "VmOpDefPrivateSymbol",
    "VmOpDefPublicOffset",
    "VmOpEspAlloc",
    "VmOpEspFree",
    "VmOpForCondFalseJump",
    "VmOpInitLocalParameters",
    "VmOpInitParameter",
    "VmOpJump",
    "VmOpMacro",
    "VmOpObjectCall",
    "VmOpObjectCallPointer",
    "VmOpReturnValue",
    "VmOpReturnPointer",
    "VmOpReturn",
    "VmOpReadByName",
    "VmOpReadMemvarByName",
    "VmOpReadMemvarByNameDefault",
    "VmOpReadFileObjectOrMemvarByName",
    "VmOpReadLocalMemvarByOffset",
    "VmOpReadArrayItemByName",
    "VmOpReadMemvarIndexLocal",
    "VmOpReadConstTrue",
    "VmOpReadConstFalse",
    "VmOpReadConstInteger",
    "VmOpReadConstNumeric",
    "VmOpReadConstMoney",
    "VmOpReadConstString",
    "VmOpReadConstDate",
    "VmOpReadConstDatetime",
    "VmOpReadConstNull",
    nullptr,
    "VmOpObjectReadProperty",
    "VmOpObjectReadPropertyPointer",
    "VmOpReadMemvarPointerByName",
    "VmOpReadLocalMemvarPointerByOffset",
    "VmOpReadAddWrite",
    "VmOpReadAddWriteLocal",
    "VmOpStore",
    "VmOpUnaryNot",
    "VmOpUnaryNeg",
    "VmOpTestTextmergeOn",
    "VmOpWriteMemarByName",
    "VmOpWriteMemvarByOffset",
    "VmOpWriteArrayByName",
    "VmOpWriteArrayByOffset",
    "VmOpObjectWriteProperty",
    "VmOpUnresolvedCall",
    "VmOpInstallErrorHandler",
    "VmOpReadFieldByFieldNum",
};

}  // namespace

const char* vmop_class_name(unsigned opcode) {
  QZ_TRACE;
  return opcode < kVmOpCount ? kClassNames[opcode] : nullptr;
}

bool vmop_is_jump(unsigned opcode) {
  switch (opcode) {
    case OP_COND_TRUE_JUMP:
    case OP_COND_TRUE_JUMP_KEEP_ESP:
    case OP_COND_FALSE_OR_NULL_JUMP:
    case OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP:
    case OP_FOR_COND_FALSE_JUMP:
    case OP_JUMP:
      return true;
    default:
      return false;
  }
}

VmOp::~VmOp() = default;
VmOpCallSpecUser::~VmOpCallSpecUser() = default;
VmOpCallSpecDo::~VmOpCallSpecDo() = default;
VmOpCallSpecVoid::~VmOpCallSpecVoid() = default;
VmOpUnresolvedCall::~VmOpUnresolvedCall() = default;
VmOpCheckArgument::~VmOpCheckArgument() = default;
VmOpInitLocalParameters::~VmOpInitLocalParameters() = default;
VmOpReadFieldByFieldNum::~VmOpReadFieldByFieldNum() = default;
VmOpReadConstInteger::~VmOpReadConstInteger() = default;
VmOpReadConstNumeric::~VmOpReadConstNumeric() = default;
VmOpReadConstMoney::~VmOpReadConstMoney() = default;
VmOpReadConstString::~VmOpReadConstString() = default;
VmOpReadConstDate::~VmOpReadConstDate() = default;
VmOpReadConstDatetime::~VmOpReadConstDatetime() = default;
VmOpMacro::~VmOpMacro() = default;

VmOpInstallErrorHandler::~VmOpInstallErrorHandler() {
  QZ_TRACE;
  for (catch_clause_st& clause : clauses) {
    delete clause.condition;
    clause.condition = nullptr;
  }
}

}  // namespace qzbase
