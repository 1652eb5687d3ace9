// module_file_ops.cpp - how each operation of a program is stored in a compiled-module file: the
// table of file opcodes, the operand codec of each family of operations, the character-set table
// and the jump fix-ups. The record layout is in module_file.md.
#include <qzbase.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#include "values/charset_registry.h"
#include "vm/code_array.h"
#include "vm/module_file_codec.h"

namespace qzbase {

namespace {

// ---- Character sets -------------------------------------------------------------------------

// The charsets a string of the file may name, by id. Only these plain instances (and the binary
// one) have an id: text in any other charset cannot be stored unconverted.
struct file_charset_row_st {
  uint16_t id;
  const char* name;  // null: Charset::binary
};
constexpr file_charset_row_st kFileCharsets[] = {
    {0, nullptr},      {1, "utf8"},         {2, "utf16le"},      {3, "utf16be"},      {4, "utf32le"},
    {5, "ibm-437"},    {6, "ibm-850"},      {7, "windows-1250"}, {8, "windows-1252"},
};
constexpr size_t kFileCharsetCount = sizeof(kFileCharsets) / sizeof(kFileCharsets[0]);
static_assert(kFileCharsetCount == 9);

// ---- Operand families ----------------------------------------------------------------------

template <class Op>
const Op* as(const VmOp* op) {
  return static_cast<const Op*>(op);
}

// Operations without operands.
template <class Op>
void encode_generic(const VmOp* const&, module_writer&) {}
template <class Op>
void decode_generic(opcode_decoder_stack_t&, image_reader&, VmOp** out) {
  *out = new Op();
}

// Implicit casts: allow_null as one byte; any non-zero byte reads back as 1.
template <class Op>
void encode_cast_generic(const VmOp* const& op, module_writer& out) {
  out.u8(as<Op>(op)->allow_null);
}
template <class Op>
void decode_cast_generic(opcode_decoder_stack_t&, image_reader& in, VmOp** out) {
  *out = new Op(in.u8() != 0 ? 1 : 0);
}

// The argument check: the low 16 bits of the flags, then the expected tag.
void encode_check_argument(const VmOp* const& op, module_writer& out) {
  const auto* check = as<VmOpCheckArgument>(op);
  out.u16(static_cast<uint16_t>(check->flags));
  out.u8(check->expected_tag);
}
void decode_check_argument(opcode_decoder_stack_t&, image_reader& in, VmOp** out) {
  const auto flags = static_cast<int32_t>(static_cast<int16_t>(in.u16()));
  const uint8_t tag = in.u8();
  *out = new VmOpCheckArgument(tag, flags);
}

// The count of local parameters: its low 32 bits, sign-extended when read.
void encode_init_lparameters(const VmOp* const& op, module_writer& out) {
  out.u32(static_cast<uint32_t>(as<VmOpInitLocalParameters>(op)->count));
}
void decode_init_lparameters(opcode_decoder_stack_t&, image_reader& in, VmOp** out) {
  *out = new VmOpInitLocalParameters(sign_extend_32(in.u32()));
}

// One local slot offset, all 64 bits.
template <class Op>
void encode_generic_offset_action(const VmOp* const& op, module_writer& out) {
  out.u64(as<Op>(op)->offset);
}
template <class Op>
void decode_generic_offset_action(opcode_decoder_stack_t&, image_reader& in, VmOp** out) {
  *out = new Op(in.u64());
}

// One symbol, as its file index.
template <class Op>
void encode_generic_symbol_action(const VmOp* const& op, module_writer& out) {
  out.u64(out.symbol_index(as<Op>(op)->symbol));
}
template <class Op>
void decode_generic_symbol_action(opcode_decoder_stack_t& state, image_reader& in, VmOp** out) {
  *out = new Op(state.symbol(in.u64()));
}

// A local slot offset (low 32 bits, sign-extended when read) and a symbol.
template <class Op>
void encode_generic_offset_symbol_action(const VmOp* const& op, module_writer& out) {
  out.u32(static_cast<uint32_t>(as<Op>(op)->offset));
  out.u64(out.symbol_index(as<Op>(op)->symbol));
}
template <class Op>
void decode_generic_offset_symbol_action(opcode_decoder_stack_t& state, image_reader& in, VmOp** out) {
  const uint64_t offset = sign_extend_32(in.u32());
  const symbol_id_type symbol = state.symbol(in.u64());
  *out = new Op(offset, symbol);
}

// A jump target: a placeholder now, the target operation's position once the program is written.
void write_target(code_position target, module_writer& out) {
  out.pending_jumps.push_back(module_writer::pending_jump_st{target, out.position()});
  out.u64(0);
}
// The position stays in the operand until the program is read, then becomes a code position.
void read_target(uint64_t* field, opcode_decoder_stack_t& state, image_reader& in) {
  *field = in.u64();
  state.pending_targets.push_back(opcode_decoder_stack_st::pending_target_st{field, *field});
}

template <class Op>
void encode_generic_jump(const VmOp* const& op, module_writer& out) {
  write_target(as<Op>(op)->target_position(), out);
}
template <class Op>
void decode_generic_jump(opcode_decoder_stack_t& state, image_reader& in, VmOp** out) {
  auto op = std::make_unique<Op>();
  read_target(&op->target, state, in);
  *out = op.release();
}

// Constant values.
void write_const(int64_t v, module_writer& out) { out.u64(static_cast<uint64_t>(v)); }
void write_const(const numeric_type_st& v, module_writer& out) {
  out.bytes(&v.value, sizeof v.value);  // the writing machine's byte order
  out.u64(v.decimals);
}
void write_const(const money_type_st& v, module_writer& out) {
  if (v.value > INT64_MAX) throw std::overflow_error("positive overflow");
  if (v.value < INT64_MIN) throw std::overflow_error("negative overflow");
  out.u64(static_cast<uint64_t>(static_cast<int64_t>(v.value)));
}
void write_const(const date_st& v, module_writer& out) { out.u32(v.day); }
void write_const(const datetime_st& v, module_writer& out) {
  out.u32(v.day);
  out.u32(static_cast<uint32_t>(v.ms));
}
void write_const(const String& v, module_writer& out) { write_string(v, out); }

void read_const(image_reader& in, int64_t& v) { v = static_cast<int64_t>(in.u64()); }
void read_const(image_reader& in, numeric_type_st& v) {
  std::memcpy(&v.value, in.take(sizeof v.value), sizeof v.value);
  v.decimals = in.u64();
}
void read_const(image_reader& in, money_type_st& v) { v.value = static_cast<int64_t>(in.u64()); }
void read_const(image_reader& in, date_st& v) { v.day = in.u32(); }
void read_const(image_reader& in, datetime_st& v) {
  v.day = in.u32();
  v.ms = static_cast<int32_t>(in.u32());
}
void read_const(image_reader& in, String& v) { v = read_string(in); }

template <class Op, class Value>
void encode_read_const_generic(const VmOp* const& op, module_writer& out) {
  write_const(as<Op>(op)->value, out);
}
template <class Op, class Value>
void decode_read_const_generic(opcode_decoder_stack_t&, image_reader& in, VmOp** out) {
  Value value{};
  read_const(in, value);
  *out = new Op(value);
}

// A call still to be linked: the callee's name, then the argument count (low 32 bits).
void encode_call_unresolved(const VmOp* const& op, module_writer& out) {
  const auto* call = as<VmOpUnresolvedCall>(op);
  write_string(call->name, out);
  out.u32(static_cast<uint32_t>(call->count));
}
void decode_call_unresolved(opcode_decoder_stack_t&, image_reader& in, VmOp** out) {
  String name = read_string(in);
  const uint64_t count = sign_extend_32(in.u32());
  *out = new VmOpUnresolvedCall(name, count);
}

// A TRY handler: the protected range [start, end) as two targets, the clause count, then per
// clause its target and its variable (symbol index, 0 for none). A clause with a condition program
// cannot be stored (the compiler tests conditions in the TRY's own code and never makes one).
void encode_install_error_handler(const VmOp* const& op, module_writer& out) {
  const auto* handler = as<VmOpInstallErrorHandler>(op);
  write_target(handler->start_position(), out);
  write_target(handler->end_position(), out);
  if (handler->clauses.size() > UINT32_MAX) throw_assert_failed();
  out.u32(static_cast<uint32_t>(handler->clauses.size()));
  for (const catch_clause_st& clause : handler->clauses) {
    if (clause.condition != nullptr) throw_assert_failed();
    write_target(clause.target_position(), out);
    out.u64(clause.variable == 0 ? 0 : out.symbol_index(clause.variable));
  }
}
void decode_install_error_handler(opcode_decoder_stack_t& state, image_reader& in, VmOp** out) {
  auto handler = std::make_unique<VmOpInstallErrorHandler>();
  read_target(&handler->start, state, in);
  read_target(&handler->end, state, in);
  const size_t n = in.count(in.u32(), 16);
  handler->clauses.resize(n, catch_clause_st{0, 0, nullptr});
  for (catch_clause_st& clause : handler->clauses) {
    read_target(&clause.target, state, in);
    const uint64_t variable = in.u64();
    clause.variable = variable == 0 ? 0 : state.symbol(variable);
  }
  *out = handler.release();
}

// ---- The table -----------------------------------------------------------------------------

// Every operation, by file opcode. File opcodes 46 and 62 are not used. The rows without a codec
// hold operations only a linked or object-using program has; a program holding one cannot be
// stored. 82 and 83 are the two operations of TRY blocks.
const opcode_row_st kOpcodeTable[] = {
    {1, OP_BINARY_ADD, &encode_generic<VmOpBinaryAdd>, &decode_generic<VmOpBinaryAdd>},
    {2, OP_BINARY_DIV, &encode_generic<VmOpBinaryDiv>, &decode_generic<VmOpBinaryDiv>},
    {3, OP_BINARY_EQ, &encode_generic<VmOpBinaryEq>, &decode_generic<VmOpBinaryEq>},
    {4, OP_BINARY_EQ_EQ, &encode_generic<VmOpBinaryEqEq>, &decode_generic<VmOpBinaryEqEq>},
    {5, OP_BINARY_GT, &encode_generic<VmOpBinaryGt>, &decode_generic<VmOpBinaryGt>},
    {6, OP_BINARY_GT_EQ, &encode_generic<VmOpBinaryGtEq>, &decode_generic<VmOpBinaryGtEq>},
    {7, OP_BINARY_LT, &encode_generic<VmOpBinaryLt>, &decode_generic<VmOpBinaryLt>},
    {8, OP_BINARY_LT_EQ, &encode_generic<VmOpBinaryLtEq>, &decode_generic<VmOpBinaryLtEq>},
    {9, OP_BINARY_LT_GT, &encode_generic<VmOpBinaryLtGt>, &decode_generic<VmOpBinaryLtGt>},
    {10, OP_BINARY_MOD, &encode_generic<VmOpBinaryMod>, &decode_generic<VmOpBinaryMod>},
    {11, OP_BINARY_MUL, &encode_generic<VmOpBinaryMul>, &decode_generic<VmOpBinaryMul>},
    {12, OP_BINARY_POW, &encode_generic<VmOpBinaryPow>, &decode_generic<VmOpBinaryPow>},
    {13, OP_BINARY_SUB, &encode_generic<VmOpBinarySub>, &decode_generic<VmOpBinarySub>},
    {14, OP_CAST_TO_BOOLEAN_IMPLICITLY, &encode_cast_generic<VmOpCastToBooleanImplicitly>,
     &decode_cast_generic<VmOpCastToBooleanImplicitly>},
    {15, OP_CAST_TO_DATETIME_IMPLICITLY, &encode_cast_generic<VmOpCastToDatetimeImplicitly>,
     &decode_cast_generic<VmOpCastToDatetimeImplicitly>},
    {16, OP_CAST_TO_DATE_IMPLICITLY, &encode_cast_generic<VmOpCastToDateImplicitly>,
     &decode_cast_generic<VmOpCastToDateImplicitly>},
    {17, OP_CAST_TO_NUMERIC_IMPLICITLY, &encode_cast_generic<VmOpCastToNumericImplicitly>,
     &decode_cast_generic<VmOpCastToNumericImplicitly>},
    {18, OP_CAST_TO_INTEGER_IMPLICITLY, &encode_cast_generic<VmOpCastToIntegerImplicitly>,
     &decode_cast_generic<VmOpCastToIntegerImplicitly>},
    {19, OP_CAST_TO_MONEY_IMPLICITLY, &encode_cast_generic<VmOpCastToMoneyImplicitly>,
     &decode_cast_generic<VmOpCastToMoneyImplicitly>},
    {20, OP_CAST_TO_OBJECT_IMPLICITLY, &encode_cast_generic<VmOpCastToObjectImplicitly>,
     &decode_cast_generic<VmOpCastToObjectImplicitly>},
    {21, OP_CAST_TO_STRING_IMPLICITLY, &encode_cast_generic<VmOpCastToStringImplicitly>,
     &decode_cast_generic<VmOpCastToStringImplicitly>},
    {22, OP_CHECK_ARGUMENT, &encode_check_argument, &decode_check_argument},
    {23, OP_COND_FALSE_OR_NULL_JUMP, &encode_generic_jump<VmOpCondFalseOrNullJump>,
     &decode_generic_jump<VmOpCondFalseOrNullJump>},
    {24, OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP, &encode_generic_jump<VmOpCondFalseOrNullJumpKeepEsp>,
     &decode_generic_jump<VmOpCondFalseOrNullJumpKeepEsp>},
    {25, OP_COND_TRUE_JUMP, &encode_generic_jump<VmOpCondTrueJump>, &decode_generic_jump<VmOpCondTrueJump>},
    {26, OP_COND_TRUE_JUMP_KEEP_ESP, &encode_generic_jump<VmOpCondTrueJumpKeepEsp>,
     &decode_generic_jump<VmOpCondTrueJumpKeepEsp>},
    {27, OP_COND_TRUE_OR_NULL_MERGE_2P, &encode_generic<VmOpCondTrueOrNullMerge2P>,
     &decode_generic<VmOpCondTrueOrNullMerge2P>},
    {28, OP_READ_MEMVAR_POINTER_BY_NAME_DEFAULT, &encode_generic_symbol_action<VmOpReadMemvarPointerByNameDefault>,
     &decode_generic_symbol_action<VmOpReadMemvarPointerByNameDefault>},
    {29, OP_DEF_LOCAL, &encode_generic_symbol_action<VmOpDefLocal>, &decode_generic_symbol_action<VmOpDefLocal>},
    {30, OP_DEF_LOCAL_OFFSET, &encode_generic_offset_symbol_action<VmOpDefLocalOffset>,
     &decode_generic_offset_symbol_action<VmOpDefLocalOffset>},
    {31, OP_DEF_PRIVATE_SYMBOL, &encode_generic_symbol_action<VmOpDefPrivateSymbol>,
     &decode_generic_symbol_action<VmOpDefPrivateSymbol>},
    {32, OP_DEF_PUBLIC_OFFSET, &encode_generic_offset_symbol_action<VmOpDefPublicOffset>,
     &decode_generic_offset_symbol_action<VmOpDefPublicOffset>},
    {33, OP_ESP_ALLOC, &encode_generic<VmOpEspAlloc>, &decode_generic<VmOpEspAlloc>},
    {34, OP_ESP_FREE, &encode_generic<VmOpEspFree>, &decode_generic<VmOpEspFree>},
    {35, OP_FOR_COND_FALSE_JUMP, &encode_generic_jump<VmOpForCondFalseJump>,
     &decode_generic_jump<VmOpForCondFalseJump>},
    {36, OP_INIT_LOCAL_PARAMETERS, &encode_init_lparameters, &decode_init_lparameters},
    {37, OP_INIT_PARAMETER, &encode_generic_offset_symbol_action<VmOpInitParameter>,
     &decode_generic_offset_symbol_action<VmOpInitParameter>},
    {38, OP_JUMP, &encode_generic_jump<VmOpJump>, &decode_generic_jump<VmOpJump>},
    {39, OP_MACRO, nullptr, nullptr},
    {40, OP_OBJECT_CALL, nullptr, nullptr},
    {41, OP_OBJECT_CALL_POINTER, nullptr, nullptr},
    {42, OP_READ_ADD_WRITE, &encode_generic_symbol_action<VmOpReadAddWrite>,
     &decode_generic_symbol_action<VmOpReadAddWrite>},
    {43, OP_READ_ADD_WRITE_LOCAL, &encode_generic_offset_action<VmOpReadAddWriteLocal>,
     &decode_generic_offset_action<VmOpReadAddWriteLocal>},
    {44, OP_READ_CONST_DATE, &encode_read_const_generic<VmOpReadConstDate, date_st>,
     &decode_read_const_generic<VmOpReadConstDate, date_st>},
    {45, OP_READ_CONST_DATETIME, &encode_read_const_generic<VmOpReadConstDatetime, datetime_st>,
     &decode_read_const_generic<VmOpReadConstDatetime, datetime_st>},
    {47, OP_READ_CONST_FALSE, &encode_generic<VmOpReadConstFalse>, &decode_generic<VmOpReadConstFalse>},
    {48, OP_READ_CONST_NUMERIC, &encode_read_const_generic<VmOpReadConstNumeric, numeric_type_st>,
     &decode_read_const_generic<VmOpReadConstNumeric, numeric_type_st>},
    {49, OP_READ_CONST_INTEGER, &encode_read_const_generic<VmOpReadConstInteger, int64_t>,
     &decode_read_const_generic<VmOpReadConstInteger, int64_t>},
    {50, OP_READ_CONST_MONEY, &encode_read_const_generic<VmOpReadConstMoney, money_type_st>,
     &decode_read_const_generic<VmOpReadConstMoney, money_type_st>},
    {51, OP_READ_CONST_NULL, &encode_generic<VmOpReadConstNull>, &decode_generic<VmOpReadConstNull>},
    {52, OP_READ_CONST_STRING, &encode_read_const_generic<VmOpReadConstString, String>,
     &decode_read_const_generic<VmOpReadConstString, String>},
    {53, OP_READ_CONST_TRUE, &encode_generic<VmOpReadConstTrue>, &decode_generic<VmOpReadConstTrue>},
    {54, OP_READ_ARRAY_ITEM_BY_NAME, nullptr, nullptr},
    {55, OP_READ_MEMVAR_INDEX_LOCAL, nullptr, nullptr},
    {56, OP_READ_BY_NAME, &encode_generic_symbol_action<VmOpReadByName>, &decode_generic_symbol_action<VmOpReadByName>},
    {57, OP_READ_FILE_OBJECT_OR_MEMVAR_BY_NAME, &encode_generic_symbol_action<VmOpReadFileObjectOrMemvarByName>,
     &decode_generic_symbol_action<VmOpReadFileObjectOrMemvarByName>},
    {58, OP_READ_MEMVAR_POINTER_BY_NAME, &encode_generic_symbol_action<VmOpReadMemvarPointerByName>,
     &decode_generic_symbol_action<VmOpReadMemvarPointerByName>},
    {59, OP_READ_LOCAL_MEMVAR_POINTER_BY_OFFSET, &encode_generic_offset_action<VmOpReadLocalMemvarPointerByOffset>,
     &decode_generic_offset_action<VmOpReadLocalMemvarPointerByOffset>},
    {60, OP_OBJECT_READ_PROPERTY, nullptr, nullptr},
    {61, OP_OBJECT_READ_PROPERTY_POINTER, nullptr, nullptr},
    {63, OP_RETURN, &encode_generic<VmOpReturn>, &decode_generic<VmOpReturn>},
    {64, OP_RETURN_POINTER, &encode_generic<VmOpReturnPointer>, &decode_generic<VmOpReturnPointer>},
    {65, OP_RETURN_VALUE, &encode_generic<VmOpReturnValue>, &decode_generic<VmOpReturnValue>},
    {66, OP_STORE, &encode_generic<VmOpStore>, &decode_generic<VmOpStore>},
    {67, OP_TEST_TEXTMERGE_ON, &encode_generic<VmOpTestTextmergeOn>, &decode_generic<VmOpTestTextmergeOn>},
    {68, OP_UNARY_NEG, &encode_generic<VmOpUnaryNeg>, &decode_generic<VmOpUnaryNeg>},
    {69, OP_UNARY_NOT, &encode_generic<VmOpUnaryNot>, &decode_generic<VmOpUnaryNot>},
    {70, OP_WRITE_MEMVAR_BY_NAME, &encode_generic_symbol_action<VmOpWriteMemarByName>,
     &decode_generic_symbol_action<VmOpWriteMemarByName>},
    {71, OP_WRITE_ARRAY_BY_NAME, nullptr, nullptr},
    {72, OP_WRITE_ARRAY_BY_OFFSET, nullptr, nullptr},
    {73, OP_WRITE_MEMVAR_BY_OFFSET, &encode_generic_offset_action<VmOpWriteMemvarByOffset>,
     &decode_generic_offset_action<VmOpWriteMemvarByOffset>},
    {74, OP_OBJECT_WRITE_PROPERTY, nullptr, nullptr},
    {75, OP_READ_MEMVAR_BY_NAME, &encode_generic_symbol_action<VmOpReadMemvarByName>,
     &decode_generic_symbol_action<VmOpReadMemvarByName>},
    {76, OP_READ_LOCAL_MEMVAR_BY_OFFSET, &encode_generic_offset_action<VmOpReadLocalMemvarByOffset>,
     &decode_generic_offset_action<VmOpReadLocalMemvarByOffset>},
    {77, OP_CALL_SPEC_DO, nullptr, nullptr},
    {78, OP_CALL_SPEC_VOID, nullptr, nullptr},
    {79, OP_CALL_SPEC_DYNAMIC, nullptr, nullptr},
    {80, OP_CALL_SPEC_USER, nullptr, nullptr},
    {81, OP_UNRESOLVED_CALL, &encode_call_unresolved, &decode_call_unresolved},
    {82, OP_UNWIND_CONTINUE, &encode_generic<VmOpUnwindContinue>, &decode_generic<VmOpUnwindContinue>},
    {83, OP_INSTALL_ERROR_HANDLER, &encode_install_error_handler, &decode_install_error_handler},
};
static_assert(sizeof(kOpcodeTable) / sizeof(kOpcodeTable[0]) == 81);
constexpr size_t kFileOpcodeLimit = 84;  // file opcodes are below this

// The lookups, filled once from the tables.
struct lookups_st {
  std::array<const opcode_row_st*, kVmOpCount> by_type{};
  std::array<const opcode_row_st*, kFileOpcodeLimit> by_file_opcode{};
  std::array<const Charset*, kFileCharsetCount> charsets{};
};
lookups_st lookups;
std::once_flag lookups_filled;

void fill_lookups() {
  for (const opcode_row_st& row : kOpcodeTable) {
    if (row.type >= kVmOpCount || row.file_opcode >= kFileOpcodeLimit) throw_assert_failed();
    if (lookups.by_type[row.type] != nullptr || lookups.by_file_opcode[row.file_opcode] != nullptr) {
      throw_assert_failed();  // both columns are unique
    }
    if ((row.encode == nullptr) != (row.decode == nullptr)) throw_assert_failed();
    lookups.by_type[row.type] = &row;
    lookups.by_file_opcode[row.file_opcode] = &row;
  }
  for (const file_charset_row_st& row : kFileCharsets) {
    const Charset* cs = row.name == nullptr ? Charset::binary : get_charset_by_name(row.name);
    if (cs == nullptr) throw_assert_failed();
    lookups.charsets[row.id] = cs;
  }
}

// The position of every operation, relative to the first: positions[i] for operation i, and
// positions[count] for the end of the last one (a target may name the end of the code).
struct operation_positions {
  std::vector<uint64_t> positions;

  // The element of code the position names; false for a position between operations.
  bool element(uint64_t position, size_t* index) const {
    auto it = std::lower_bound(positions.begin(), positions.end(), position);
    if (it == positions.end() || *it != position) return false;
    *index = static_cast<size_t>(it - positions.begin());
    return true;
  }
};

}  // namespace

void init_opcache_module() {
  QZ_TRACE;
  std::call_once(lookups_filled, &fill_lookups);
}

const opcode_row_st* opcode_row_by_type(unsigned type) {
  QZ_TRACE;
  return type < kVmOpCount ? lookups.by_type[type] : nullptr;
}

const opcode_row_st* opcode_row_by_file_opcode(unsigned file_opcode) {
  QZ_TRACE;
  return file_opcode < kFileOpcodeLimit ? lookups.by_file_opcode[file_opcode] : nullptr;
}

bool file_charset_id(const Charset* cs, uint16_t* id) {
  QZ_TRACE;
  for (size_t i = 0; i < kFileCharsetCount; ++i) {
    if (lookups.charsets[i] == cs) {
      *id = static_cast<uint16_t>(i);
      return true;
    }
  }
  return false;
}

const Charset* file_charset(uint16_t id) {
  QZ_TRACE;
  return id < kFileCharsetCount ? lookups.charsets[id] : nullptr;
}

void write_string(const String& s, module_writer& out) {
  QZ_TRACE;
  uint16_t id = 0;
  if (!file_charset_id(s.get_charset(), &id)) throw_assert_failed();
  out.u16(id);
  out.u64(s.size());
  out.bytes(s.read(), s.size());
}

String read_string(image_reader& in) {
  QZ_TRACE;
  const Charset* cs = file_charset(in.u16());
  if (cs == nullptr) throw module_file_malformed();
  const uint64_t size = in.count(in.u64(), 1);
  const char* bytes = in.take(size);
  return String(bytes, size, cs);
}

void write_program_operations(const Program* program, module_writer& out) {
  QZ_TRACE;
  const size_t count = program->code_length();
  out.u64(count);
  const size_t base = out.position();
  operation_positions positions;
  positions.positions.reserve(count + 1);
  out.pending_jumps.clear();
  auto write_op = [&](size_t i, int64_t statement) {
    const VmOp* op = program->op(i);
    positions.positions.push_back(out.position() - base);
    const opcode_row_st* row = opcode_row_by_type(stored_opcode(op));
    if (row == nullptr || row->encode == nullptr) throw_assert_failed();  // not storable
    out.u16(row->file_opcode);
    if (statement < INT32_MIN || statement > INT32_MAX) throw RuntimeError(39);
    out.u32(static_cast<uint32_t>(static_cast<int32_t>(statement)));
    row->encode(op, out);
  };
  // The statement numbers come in code order, one per operation.
  size_t next = 0;
  program->statements().each([&](size_t i, int64_t statement) {
    if (i != next++ || i >= count) throw_assert_failed();
    write_op(i, statement);
  });
  if (next != count) throw_assert_failed();
  positions.positions.push_back(out.position() - base);
  // Every jump is patched, also when several share one target.
  const code_position first = program->code();
  for (const module_writer::pending_jump_st& jump : out.pending_jumps) {
    if (jump.target < first || jump.target > first + count) throw_assert_failed();
    out.patch_u64(jump.at, positions.positions[static_cast<size_t>(jump.target - first)]);
  }
  out.pending_jumps.clear();
}

VmOp** read_program_operations(opcode_decoder_stack_t& state, image_reader& in, size_t* count_out,
                               StatementTable* statements) {
  QZ_TRACE;
  // Every operation takes at least six bytes (file opcode and extra word).
  const size_t count = in.count(in.u64(), 6);
  const size_t base = in.position();
  struct code_guard {
    VmOp** code;
    size_t n = 0;
    size_t capacity = 0;
    ~code_guard() {
      if (code == nullptr) return;
      for (size_t i = 0; i < n; ++i) release_op(code[i]);
      delete_code_array(code, capacity);
    }
  } guard{new_code_array(count + 1), 0, count + 1};
  if (guard.code == nullptr) throw std::bad_alloc();
  operation_positions positions;
  positions.positions.reserve(count + 1);
  state.pending_targets.clear();
  for (size_t i = 0; i < count; ++i) {
    positions.positions.push_back(in.position() - base);
    const uint16_t file_opcode = in.u16();
    const auto statement = static_cast<int32_t>(in.u32());
    const opcode_row_st* row = opcode_row_by_file_opcode(file_opcode);
    if (row == nullptr || row->decode == nullptr) throw module_file_malformed();
    row->decode(state, in, &guard.code[i]);
    guard.n = i + 1;
    if (sharable_opcode(guard.code[i]->opcode)) {
      if (state.shared_ops == nullptr) state.shared_ops = std::make_shared<SharedOps>();
      guard.code[i] = state.shared_ops->intern(guard.code[i]);
    }
    statements->push_back(statement);
  }
  positions.positions.push_back(in.position() - base);
  for (const opcode_decoder_stack_st::pending_target_st& target : state.pending_targets) {
    size_t index = 0;
    if (!positions.element(target.position, &index)) throw module_file_malformed();
    *target.field = reinterpret_cast<uint64_t>(&guard.code[index]);
  }
  state.pending_targets.clear();
  *count_out = count;
  VmOp** code = guard.code;
  guard.code = nullptr;
  return code;
}

}  // namespace qzbase
