// code_collection.h - the records a unit is compiled into: ops with their source locations, and
// labels that jumps target until program assembly resolves them to code slots.
//
// Ownership: an op belongs to its op record from the moment it is appended, op records belong to
// the collection, label records belong to the Compiler (never to a collection). Assembly moves the
// ops into the Program and deletes the op records.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <deque>

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

class OpCodeRecord : public CompilerRecord {
 public:
  OpCodeRecord(VmOp* op, const document_location_st& location) noexcept
      : CompilerRecord(RECORD_OP), op(op), location(location) {}
  ~OpCodeRecord() override;  // deletes the op it still holds

  VmOp* op;  // null once assembly has taken it
  document_location_st location;
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

class CompiledCodeCollection {
 public:
  explicit CompiledCodeCollection(Compiler* compiler) noexcept : compiler(compiler) {}
  // Deletes the op records (with the ops they still hold); label records are the Compiler's.
  ~CompiledCodeCollection();
  CompiledCodeCollection(const CompiledCodeCollection&) = delete;
  CompiledCodeCollection& operator=(const CompiledCodeCollection&) = delete;

  // Stamps the op with the compiler's statement number, counts it, and appends it at location
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
  // Moves every record of other, in order, to the end; other is left empty.
  void splice_back(CompiledCodeCollection& other);
  size_t size() const { return records.size(); }
  // Deletes the op records and empties the list (labels stay with the compiler).
  void clear();

  std::deque<CompilerRecord*> records;  // a pointer each: a large unit holds millions
  Compiler* compiler;
};

// The opcodes push_jump accepts.
bool is_jump_op_kind(unsigned opcode);

}  // namespace qzbase
