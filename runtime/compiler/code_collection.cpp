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

// Appends one op's entry to out after *last_location and *last_statement.
void put_entry(std::deque<uint8_t>& out, document_location_st* last_location, int64_t* last_statement,
               const document_location_st& location, int64_t statement) {
  out.push_back(location.begin_line != 0 ? 1 : 0);
  put_varint(out, zigzag(static_cast<int64_t>(static_cast<uint64_t>(statement) - static_cast<uint64_t>(*last_statement))));
  *last_statement = statement;
  if (location.begin_line != 0) put_location(out, last_location, location);
}

// Reads one op's entry after *location and *statement, which become its own; the location read
// is returned in *at (all zero when the op has none).
template <class In>
void get_entry(In& p, document_location_st* location, int64_t* statement, document_location_st* at) {
  const bool located = *p != 0;
  ++p;
  *statement = static_cast<int64_t>(static_cast<uint64_t>(*statement) + static_cast<uint64_t>(unzigzag(get_varint(p))));
  *at = document_location_st{};
  if (located) {
    get_location(p, location);
    *at = *location;
  }
}

// Appends the entries of stream to out after *last_location and *last_statement.
void transcode(const std::deque<uint8_t>& stream, std::deque<uint8_t>& out, document_location_st* last_location,
               int64_t* last_statement) {
  auto p = stream.begin();
  const auto end = stream.end();
  document_location_st location{};
  int64_t statement = 0;
  while (p < end) {
    document_location_st at;
    get_entry(p, &location, &statement, &at);
    put_entry(out, last_location, last_statement, at, statement);
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
  last_statement_ = 0;
}

template <class F>
void CompiledCodeCollection::each_entry(F&& f) const {
  auto p = locations_.begin();
  document_location_st location{};
  int64_t statement = 0;
  for (size_t k = 0; k < elements_.size(); ++k) {
    if (is_label(elements_[k])) {
      if (!f(k, document_location_st{}, int64_t{0})) return;
      continue;
    }
    document_location_st at;
    get_entry(p, &location, &statement, &at);
    if (!f(k, at, statement)) return;
  }
}

document_location_st CompiledCodeCollection::location_at(size_t i) const {
  QZ_TRACE;
  if (i >= elements_.size()) throw_assert_failed();
  document_location_st found{};
  each_entry([&](size_t k, const document_location_st& at, int64_t) {
    if (k != i) return true;
    found = at;
    return false;
  });
  return found;
}

int64_t CompiledCodeCollection::statement_at(size_t i) const {
  QZ_TRACE;
  if (i >= elements_.size()) throw_assert_failed();
  int64_t found = 0;
  each_entry([&](size_t k, const document_location_st&, int64_t statement) {
    if (k != i) return true;
    found = statement;
    return false;
  });
  return found;
}

void CompiledCodeCollection::append_op(const document_location_st& location, int64_t statement, VmOp* op) {
  try {
    elements_.push_back(reinterpret_cast<uintptr_t>(op));
  } catch (...) {
    delete op;
    throw;
  }
  const size_t old_size = locations_.size();
  const document_location_st old_location = last_location_;
  const int64_t old_statement = last_statement_;
  try {
    put_entry(locations_, &last_location_, &last_statement_, location, statement);
  } catch (...) {
    locations_.resize(old_size);
    last_location_ = old_location;
    last_statement_ = old_statement;
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
  compiler->op_counter += 1;
  append_op(used, static_cast<int64_t>(compiler->statement_number), op);
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
  append_op(location, 0, op);
}

void CompiledCodeCollection::push_front_unnumbered(const document_location_st& location, VmOp* op) {
  QZ_TRACE;
  std::deque<uint8_t> stream;
  document_location_st last{};
  int64_t last_statement = 0;
  try {
    put_entry(stream, &last, &last_statement, location, 0);
    transcode(locations_, stream, &last, &last_statement);
    elements_.push_front(reinterpret_cast<uintptr_t>(op));
  } catch (...) {
    delete op;
    throw;
  }
  locations_.swap(stream);
  last_location_ = last;
  last_statement_ = last_statement;
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
  const int64_t old_statement = last_statement_;
  try {
    transcode(other.locations_, locations_, &last_location_, &last_statement_);
    elements_.insert(elements_.end(), other.elements_.begin(), other.elements_.end());
  } catch (...) {
    locations_.resize(old_size);  // only what was added goes
    last_location_ = old_last;
    last_statement_ = old_statement;
    throw;
  }
  other.elements_.clear();
  other.locations_.clear();
  other.locations_.shrink_to_fit();
  other.last_location_ = document_location_st{};
  other.last_statement_ = 0;
}

}  // namespace qzbase
