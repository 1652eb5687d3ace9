// code_collection.cpp - appending ops and labels to a unit's code collection.
#include "compiler/code_collection.h"

#include <array>

#include "compiler/compiler_state.h"

namespace qzbase {

namespace {

// The ops a block emits without a source position: parameter set-up, block-closing jumps and the
// closing return.
constexpr std::array<bool, kVmOpCount> kJumpOpKinds = [] {
  std::array<bool, kVmOpCount> t{};
  t[OP_INIT_LOCAL_PARAMETERS] = true;
  t[OP_INIT_PARAMETER] = true;
  t[OP_JUMP] = true;
  t[OP_RETURN] = true;
  return t;
}();

constexpr document_location_st kNoLocation{};

}  // namespace

bool is_jump_op_kind(unsigned opcode) {
  QZ_TRACE;
  return opcode < kVmOpCount && kJumpOpKinds[opcode];
}

CompilerRecord::~CompilerRecord() = default;

OpCodeRecord::~OpCodeRecord() { delete op; }

AddressLabelRecord::~AddressLabelRecord() = default;

CompiledCodeCollection::~CompiledCodeCollection() { clear(); }

void CompiledCodeCollection::clear() {
  QZ_TRACE;
  for (CompilerRecord* r : records) {
    if (r->kind != RECORD_LABEL) delete r;
  }
  records.clear();
}

void CompiledCodeCollection::push_back(const document_location_st& location, VmOp* op) {
  QZ_TRACE;
  const document_location_st& used = compiler->location_override != nullptr ? *compiler->location_override : location;
  if (used.begin_line == 0) {
    delete op;
    throw_assert_failed();
  }
  op->statement = static_cast<int64_t>(compiler->statement_number);
  compiler->op_counter += 1;
  try {
    records.push_back(new OpCodeRecord(op, used));
  } catch (...) {
    delete op;
    throw;
  }
}

void CompiledCodeCollection::push_jump(VmOp* op) {
  QZ_TRACE;
  if (!is_jump_op_kind(op->opcode)) {
    delete op;
    throw_assert_failed();
  }
  push_back_unnumbered(kNoLocation, op);
}

void CompiledCodeCollection::push_back_unnumbered(const document_location_st& location, VmOp* op) {
  QZ_TRACE;
  op->statement = 0;
  try {
    records.push_back(new OpCodeRecord(op, location));
  } catch (...) {
    delete op;
    throw;
  }
}

void CompiledCodeCollection::push_front_unnumbered(const document_location_st& location, VmOp* op) {
  QZ_TRACE;
  op->statement = 0;
  try {
    records.push_front(new OpCodeRecord(op, location));
  } catch (...) {
    delete op;
    throw;
  }
}

void CompiledCodeCollection::place_label(AddressLabelRecord* label) {
  QZ_TRACE;
  records.push_back(label);
}

void CompiledCodeCollection::splice_back(CompiledCodeCollection& other) {
  QZ_TRACE;
  records.insert(records.end(), other.records.begin(), other.records.end());
  other.records.clear();
}

}  // namespace qzbase
