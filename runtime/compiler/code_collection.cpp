// code_collection.cpp - appending ops and labels to a unit's code collection.
#include "compiler/code_collection.h"

#include <algorithm>
#include <array>
#include <deque>
#include <new>

#include "compiler/compiler_state.h"
#include "vm/code_array.h"
#include "vm/shared_ops.h"

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

CompiledCodeCollection::~CompiledCodeCollection() {
  clear();
  delete_code_array(ops_, ops_capacity_);
}

void CompiledCodeCollection::clear() {
  QZ_TRACE;
  for (size_t i = 0; i < nops_; ++i) release_op(ops_[i]);
  nops_ = 0;
  labels_.clear();
  std::deque<uint8_t>().swap(locations_);
  last_location_ = document_location_st{};
  last_statement_ = 0;
}

void CompiledCodeCollection::reserve_ops(size_t n) {
  if (n <= ops_capacity_) return;
  // Doubles: a large array is a mapping whose pages past the last op are never touched, and which
  // grows without a copy.
  size_t capacity = std::max<size_t>({n, ops_capacity_ * 2, 16});
  VmOp** grown = resize_code_array(ops_, ops_capacity_, capacity);
  if (grown == nullptr) throw std::bad_alloc();
  ops_ = grown;
  ops_capacity_ = capacity;
}

void CompiledCodeCollection::fit_code() {
  if (ops_ == nullptr || ops_capacity_ == nops_ + 1) return;
  VmOp** fitted = resize_code_array(ops_, ops_capacity_, nops_ + 1);
  if (fitted == nullptr) throw std::bad_alloc();
  ops_ = fitted;
  ops_capacity_ = nops_ + 1;
}

VmOp** CompiledCodeCollection::take_code() noexcept {
  // Room for the null was made when the last op came (append_op keeps one element spare).
  VmOp** code = ops_;
  if (code != nullptr) code[nops_] = nullptr;
  ops_ = nullptr;
  nops_ = 0;
  ops_capacity_ = 0;
  labels_.clear();
  std::deque<uint8_t>().swap(locations_);
  last_location_ = document_location_st{};
  last_statement_ = 0;
  return code;
}

void CompiledCodeCollection::element(size_t i, size_t* op, size_t* label) const {
  constexpr size_t kNone = ~size_t{0};
  *op = kNone;
  *label = kNone;
  if (i >= size()) throw_assert_failed();
  // Labels at position p come before op p: element i is op j when j + (labels before it) == i.
  size_t l = 0;
  for (size_t j = 0;; ++j) {
    while (l < labels_.size() && labels_[l].first == j) {
      if (j + l == i) {
        *label = l;
        return;
      }
      ++l;
    }
    if (j + l == i) {
      *op = j;
      return;
    }
  }
}

VmOp* CompiledCodeCollection::op_at(size_t i) const {
  QZ_TRACE;
  size_t op, label;
  element(i, &op, &label);
  return label != ~size_t{0} ? nullptr : ops_[op];
}

AddressLabelRecord* CompiledCodeCollection::label_at(size_t i) const {
  QZ_TRACE;
  size_t op, label;
  element(i, &op, &label);
  return label != ~size_t{0} ? labels_[label].second : nullptr;
}

template <class F>
void CompiledCodeCollection::each_entry(F&& f) const {
  auto p = locations_.begin();
  document_location_st location{};
  int64_t statement = 0;
  for (size_t k = 0; k < nops_; ++k) {
    document_location_st at;
    get_entry(p, &location, &statement, &at);
    if (!f(k, at, statement)) return;
  }
}

document_location_st CompiledCodeCollection::location_at(size_t i) const {
  QZ_TRACE;
  size_t op, label;
  element(i, &op, &label);
  document_location_st found{};
  if (label != ~size_t{0}) return found;
  each_entry([&](size_t k, const document_location_st& at, int64_t) {
    if (k != op) return true;
    found = at;
    return false;
  });
  return found;
}

int64_t CompiledCodeCollection::statement_at(size_t i) const {
  QZ_TRACE;
  size_t op, label;
  element(i, &op, &label);
  int64_t found = 0;
  if (label != ~size_t{0}) return found;
  each_entry([&](size_t k, const document_location_st&, int64_t statement) {
    if (k != op) return true;
    found = statement;
    return false;
  });
  return found;
}

void CompiledCodeCollection::append_op(const document_location_st& location, int64_t statement, VmOp* op) {
  const size_t old_size = locations_.size();
  const document_location_st old_location = last_location_;
  const int64_t old_statement = last_statement_;
  try {
    reserve_ops(nops_ + 2);  // the op and the null a code array ends with
    put_entry(locations_, &last_location_, &last_statement_, location, statement);
  } catch (...) {
    locations_.resize(old_size);
    last_location_ = old_location;
    last_statement_ = old_statement;
    delete op;
    throw;
  }
  if (compiler != nullptr && sharable_opcode(op->opcode)) op = compiler->share(op);
  ops_[nops_++] = op;
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
    reserve_ops(nops_ + 2);
  } catch (...) {
    delete op;
    throw;
  }
  std::copy_backward(ops_, ops_ + nops_, ops_ + nops_ + 1);
  ops_[0] = op;
  ++nops_;
  for (auto& label : labels_) ++label.first;  // every label stays after the new op
  locations_.swap(stream);
  last_location_ = last;
  last_statement_ = last_statement;
}

void CompiledCodeCollection::place_label(AddressLabelRecord* label) {
  QZ_TRACE;
  labels_.emplace_back(nops_, label);
}

void CompiledCodeCollection::splice_back(CompiledCodeCollection& other) {
  QZ_TRACE;
  if (&other == this) return;
  const size_t old_size = locations_.size();
  const document_location_st old_last = last_location_;
  const int64_t old_statement = last_statement_;
  const size_t old_labels = labels_.size();
  try {
    reserve_ops(nops_ + other.nops_ + 1);
    labels_.reserve(labels_.size() + other.labels_.size());
    transcode(other.locations_, locations_, &last_location_, &last_statement_);
  } catch (...) {
    locations_.resize(old_size);  // only what was added goes
    last_location_ = old_last;
    last_statement_ = old_statement;
    labels_.resize(old_labels);
    throw;
  }
  for (const auto& [position, label] : other.labels_) labels_.emplace_back(nops_ + position, label);
  std::copy(other.ops_, other.ops_ + other.nops_, ops_ + nops_);
  nops_ += other.nops_;
  other.nops_ = 0;
  other.labels_.clear();
  std::deque<uint8_t>().swap(other.locations_);
  other.last_location_ = document_location_st{};
  other.last_statement_ = 0;
}

}  // namespace qzbase
