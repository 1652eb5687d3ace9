// code_collection.h - what a unit is compiled into: ops with their source locations, and labels
// that jumps target until program assembly resolves them to code slots.
//
// Ownership: an op belongs to the collection from the moment it is appended, label records belong
// to the Compiler (never to a collection). Assembly moves the ops into the Program.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <deque>

#include "vm/location_codec.h"

#include "vm/vm_op.h"

namespace qzbase {

class Compiler;

enum CompilerRecordKind : uint32_t {
  RECORD_OP = 0,
  RECORD_LABEL = 1,
};

class CompilerRecord {
 public:
  explicit CompilerRecord(uint32_t kind) noexcept : kind(kind) {}
  virtual ~CompilerRecord();
  CompilerRecord(const CompilerRecord&) = delete;
  CompilerRecord& operator=(const CompilerRecord&) = delete;

  uint32_t kind;
};

class AddressLabelRecord : public CompilerRecord {
 public:
  explicit AddressLabelRecord(const String& name) : CompilerRecord(RECORD_LABEL), name(name) {}
  ~AddressLabelRecord() override;

  // What jump operands hold until assembly: the record's identity, so two labels of one name
  // never meet.
  uint64_t key() const { return reinterpret_cast<uint64_t>(this); }

  String name;  // UTF-8, descriptive only
};

// The ops and placed labels of a unit, in order. A large unit holds millions of ops: each element
// is one word (the op or the label, told apart by the lowest bit), and the ops' locations are
// kept apart as small differences from one to the next (vm/location_codec.h).
class CompiledCodeCollection {
 public:
  explicit CompiledCodeCollection(Compiler* compiler) noexcept : compiler(compiler) {}
  // Deletes the ops it still holds; labels are the Compiler's.
  ~CompiledCodeCollection();
  CompiledCodeCollection(const CompiledCodeCollection&) = delete;
  CompiledCodeCollection& operator=(const CompiledCodeCollection&) = delete;

  // Gives the op the compiler's statement number, counts it, and appends it at location
  // (or at the compiler's location override). A location with begin line 0 is a broken invariant;
  // the op is then deleted, not appended.
  void push_back(const document_location_st& location, VmOp* op);
  // A block-closing op (42, 43, 44 or 50) with statement number 0 and no location, so it lands in
  // neither debug map. Any other opcode is a broken invariant (the op is deleted).
  void push_jump(VmOp* op);
  // Statement number 0, no line check, not counted, no override.
  void push_back_unnumbered(const document_location_st& location, VmOp* op);
  // The same at the front: a method's THIS set-up is decided only after its body is compiled.
  void push_front_unnumbered(const document_location_st& location, VmOp* op);
  // The label stands for the position of the next op appended after it.
  void place_label(AddressLabelRecord* label);
  // Moves every element of other, in order, to the end; other is left empty.
  void splice_back(CompiledCodeCollection& other);
  // Ops and labels.
  size_t size() const { return elements_.size(); }
  bool empty() const { return elements_.empty(); }
  // Deletes the ops and empties the list (labels stay with the compiler).
  void clear();

  // Element i: its op (null for a label) or its label (null for an op).
  VmOp* op_at(size_t i) const { return is_label(elements_[i]) ? nullptr : reinterpret_cast<VmOp*>(elements_[i]); }
  AddressLabelRecord* label_at(size_t i) const {
    return is_label(elements_[i]) ? reinterpret_cast<AddressLabelRecord*>(elements_[i] & ~uintptr_t{1}) : nullptr;
  }
  // The location and the statement number element i was appended with (all zero for a label).
  // Read from the start: for checks, not for loops over a large unit.
  document_location_st location_at(size_t i) const;
  int64_t statement_at(size_t i) const;

  // Hands the elements over in order and empties the collection: for each, take(op, location,
  // statement, label) with either op (with its location and statement number) or label non-null. A call that throws leaves the elements not yet handed over,
  // without their locations (the unit is being abandoned).
  template <class Take>
  void take_all(Take&& take);

  Compiler* compiler;

 private:
  static bool is_label(uintptr_t e) { return (e & 1) != 0; }
  void append_op(const document_location_st& location, int64_t statement, VmOp* op);
  // Walks the entries of the ops: f(location or null, statement).
  template <class F>
  void each_entry(F&& f) const;

  std::deque<uintptr_t> elements_;
  // One entry per op: a byte (1: a location follows), the difference of its statement number from
  // the op before, the location's difference from the last one.
  std::deque<uint8_t> locations_;
  document_location_st last_location_{};  // of the last op with a location
  int64_t last_statement_ = 0;            // of the last op
};

template <class Take>
void CompiledCodeCollection::take_all(Take&& take) {
  document_location_st location{};
  int64_t statement = 0;
  try {
    while (!elements_.empty()) {
      const uintptr_t e = elements_.front();
      if (is_label(e)) {
        take(static_cast<VmOp*>(nullptr), document_location_st{}, int64_t{0},
             reinterpret_cast<AddressLabelRecord*>(e & ~uintptr_t{1}));
        elements_.pop_front();
        continue;
      }
      document_location_st at{};
      auto next = locations_.begin();
      const bool located = *next++ != 0;
      const int64_t number = static_cast<int64_t>(static_cast<uint64_t>(statement) +
                                                  static_cast<uint64_t>(unzigzag(get_varint(next))));
      document_location_st decoded = location;
      if (located) {
        get_location(next, &decoded);
        at = decoded;
      }
      take(reinterpret_cast<VmOp*>(e), at, number, static_cast<AddressLabelRecord*>(nullptr));
      elements_.pop_front();  // the op is the taker's now
      locations_.erase(locations_.begin(), next);
      location = decoded;
      statement = number;
    }
  } catch (...) {
    locations_.clear();
    for (uintptr_t e : elements_) {
      if (!is_label(e)) {
        locations_.push_back(0);
        locations_.push_back(0);
      }
    }
    last_location_ = document_location_st{};
    last_statement_ = 0;
    throw;
  }
  locations_.clear();
  locations_.shrink_to_fit();
  last_location_ = document_location_st{};
  last_statement_ = 0;
}

// The opcodes push_jump accepts.
bool is_jump_op_kind(unsigned opcode);

}  // namespace qzbase
