// code_collection.cpp - appending ops and labels to a unit's code collection.
#include "compiler/code_collection.h"

#include <array>
#include <deque>

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

AddressLabelRecord::~AddressLabelRecord() = default;

namespace {

// Appends one op's location entry to out after *last.
void put_entry(std::deque<uint8_t>& out, document_location_st* last, const document_location_st& location) {
  if (location.begin_line == 0) {
    out.push_back(0);
    return;
  }
  out.push_back(1);
  put_location(out, last, location);
}

// Appends the entries of stream to out after *last.
void transcode(const std::deque<uint8_t>& stream, std::deque<uint8_t>& out, document_location_st* last) {
  auto p = stream.begin();
  const auto end = stream.end();
  document_location_st location{};
  while (p < end) {
    if (*p++ == 0) {
      out.push_back(0);
      continue;
    }
    get_location(p, &location);
    put_entry(out, last, location);
  }
}

}  // namespace

CompiledCodeCollection::~CompiledCodeCollection() { clear(); }

void CompiledCodeCollection::clear() {
  QZ_TRACE;
  for (uintptr_t e : elements_) {
    if (!is_label(e)) delete reinterpret_cast<VmOp*>(e);
  }
  elements_.clear();
  locations_.clear();
  locations_.shrink_to_fit();
  last_location_ = document_location_st{};
}

document_location_st CompiledCodeCollection::location_at(size_t i) const {
  QZ_TRACE;
  auto p = locations_.begin();
  document_location_st location{};
  for (size_t k = 0; k <= i && k < elements_.size(); ++k) {
    if (is_label(elements_[k])) {
      if (k == i) return document_location_st{};
      continue;
    }
    const bool located = *p++ != 0;
    if (located) get_location(p, &location);
    if (k == i) return located ? location : document_location_st{};
  }
  throw_assert_failed();
}

void CompiledCodeCollection::append_op(const document_location_st& location, VmOp* op) {
  try {
    elements_.push_back(reinterpret_cast<uintptr_t>(op));
  } catch (...) {
    delete op;
    throw;
  }
  try {
    put_entry(locations_, &last_location_, location);
  } catch (...) {
    elements_.pop_back();
    delete op;
    throw;
  }
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
  append_op(used, op);
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
  append_op(location, op);
}

void CompiledCodeCollection::push_front_unnumbered(const document_location_st& location, VmOp* op) {
  QZ_TRACE;
  op->statement = 0;
  std::deque<uint8_t> stream;
  document_location_st last{};
  try {
    put_entry(stream, &last, location);
    transcode(locations_, stream, &last);
    elements_.push_front(reinterpret_cast<uintptr_t>(op));
  } catch (...) {
    delete op;
    throw;
  }
  locations_.swap(stream);
  last_location_ = last;
}

void CompiledCodeCollection::place_label(AddressLabelRecord* label) {
  QZ_TRACE;
  elements_.push_back(reinterpret_cast<uintptr_t>(label) | 1);
}

void CompiledCodeCollection::splice_back(CompiledCodeCollection& other) {
  QZ_TRACE;
  if (&other == this) return;
  const size_t old_size = locations_.size();
  const document_location_st old_last = last_location_;
  try {
    transcode(other.locations_, locations_, &last_location_);
    elements_.insert(elements_.end(), other.elements_.begin(), other.elements_.end());
  } catch (...) {
    locations_.resize(old_size);  // only what was added goes
    last_location_ = old_last;
    throw;
  }
  other.elements_.clear();
  other.locations_.clear();
  other.locations_.shrink_to_fit();
  other.last_location_ = document_location_st{};
}

}  // namespace qzbase
