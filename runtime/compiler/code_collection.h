// code_collection.h - what a unit is compiled into: ops with their source locations, and labels
// that jumps target until program assembly resolves them to code slots.
//
// Ownership: an op belongs to the collection from the moment it is appended, label records belong
// to the Compiler (never to a collection). Assembly moves the ops into the Program.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

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

// The ops and placed labels of a unit, in order. A large unit holds millions of ops: they stand in
// one code array, which becomes the Program's code array as it is (no second copy at
// assembly); the labels stand apart with the position of the op they come before, and the ops'
// locations and statement numbers are kept as small differences from one op to the next
// (vm/location_codec.h).
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
  size_t size() const { return nops_ + labels_.size(); }
  bool empty() const { return size() == 0; }
  size_t op_count() const { return nops_; }
  // Deletes the ops and empties the list (labels stay with the compiler).
  void clear();

  // Element i (ops and labels in order): its op (null for a label) or its label (null for an op).
  VmOp* op_at(size_t i) const;
  AddressLabelRecord* label_at(size_t i) const;
  // The location and the statement number element i was appended with (all zero for a label).
  // Read from the start: for checks, not for loops over a large unit.
  document_location_st location_at(size_t i) const;
  int64_t statement_at(size_t i) const;

  // For assembly. The ops stand at ops()[0 .. op_count()); the array has room for a null after
  // them. labels(): (op position, label) in placement order.
  VmOp** ops() { return ops_; }
  const std::vector<std::pair<size_t, AddressLabelRecord*>>& labels() const { return labels_; }
  // f(op position, location, statement) for each op in order; each op's entry is given back as it
  // is read. Afterwards the ops have no entries left: take_code or clear must follow.
  template <class F>
  void consume_entries(F&& f);
  // Makes the code array exactly the ops and the null after them (the size a Program frees);
  // may move it, so it comes before any position is taken. Throws bad_alloc, nothing changed.
  void fit_code();
  // Hands over the code array, null-terminated, and empties the collection.
  VmOp** take_code() noexcept;

  Compiler* compiler;

 private:
  void append_op(const document_location_st& location, int64_t statement, VmOp* op);
  void reserve_ops(size_t n);
  // Element i as (op position, label index): exactly one is valid (the other ~0).
  void element(size_t i, size_t* op, size_t* label) const;
  // Walks the entries of the ops: f(op position, location, statement), false stops.
  template <class F>
  void each_entry(F&& f) const;

  VmOp** ops_ = nullptr;  // a code array (vm/code_array.h) of ops_capacity_ elements
  size_t nops_ = 0;
  size_t ops_capacity_ = 0;
  std::vector<std::pair<size_t, AddressLabelRecord*>> labels_;
  // One entry per op: a byte (1: a location follows), the difference of its statement number from
  // the op before, the location's difference from the last one.
  std::deque<uint8_t> locations_;
  document_location_st last_location_{};  // of the last op with a location
  int64_t last_statement_ = 0;            // of the last op
};

template <class F>
void CompiledCodeCollection::consume_entries(F&& f) {
  document_location_st location{};
  int64_t statement = 0;
  for (size_t i = 0; i < nops_; ++i) {
    auto next = locations_.begin();
    const bool located = *next++ != 0;
    statement = static_cast<int64_t>(static_cast<uint64_t>(statement) + static_cast<uint64_t>(unzigzag(get_varint(next))));
    document_location_st at{};
    if (located) {
      get_location(next, &location);
      at = location;
    }
    locations_.erase(locations_.begin(), next);
    f(i, at, statement);
  }
  std::deque<uint8_t>().swap(locations_);
  last_location_ = document_location_st{};
  last_statement_ = 0;
}

// The opcodes push_jump accepts.
bool is_jump_op_kind(unsigned opcode);

}  // namespace qzbase
